// The terminal front end's pieces on their own: which log lines are new, how
// typed answers read, the tree as text, message boxes with answers given in
// advance or typed, the progress bar, its timer and the Close command.
#include "ui/terminal/terminal_view.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <sstream>
#include <thread>

#include "app/run_worker.h"
#include "resources/texts.h"
#include "ui/dialog_view.h"
#include "ui/terminal/terminal_diagnostics.h"
#include "ui/terminal/terminal_text.h"
#include "ui/terminal/terminal_timer.h"

namespace tslflash::terminal {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// A timer period of zero: every tick is due at once, so nothing waits for real.
constexpr std::chrono::milliseconds kNow{0};

// ---- log pane ----

struct LogChange {
  std::string_view name;
  std::string_view before;
  std::string_view after;
  std::vector<std::string> printed;
};

class NewLogLinesTest : public ::testing::TestWithParam<LogChange> {};

TEST_P(NewLogLinesTest, PrintsWhatTheChangeAdded) {
  EXPECT_THAT(NewLogLines(GetParam().before, GetParam().after),
              ElementsAreArray(GetParam().printed));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NewLogLinesTest,
    ::testing::Values(
        // The pane's first line is the empty one an append starts with.
        LogChange{"FirstAppend", "", "\r\nabc", {"abc"}},
        LogChange{"LaterAppend", "\r\nabc", "\r\nabc\r\ndef", {"def"}},
        LogChange{"AppendOfAnEmptyLine", "\r\nabc", "\r\nabc\r\n", {""}},
        LogChange{"ReplacedByADescription",
                  "\r\nabc",
                  "VARN  Current firmware : 1.02",
                  {"VARN  Current firmware : 1.02"}},
        // The pane overflowed: the old text went first, the new one is all new.
        LogChange{"ReplacedAfterOverflow", "\r\nabc\r\ndef", "\r\nxyz", {"", "xyz"}},
        // Growing the last line is no append: the whole text was set.
        LogChange{"LastLineGrown", "\r\nabc", "\r\nabcdef", {"", "abcdef"}},
        // Setting the same text again is a new replacement.
        LogChange{
            "SameTextSetAgain", "No drive selected.", "No drive selected.", {"No drive selected."}},
        LogChange{"Cleared", "\r\nabc", "", {}}),
    [](const auto& test) { return std::string(test.param.name); });

// ---- typed answers ----

TEST(ParseBoxAnswerTest, ReadsOkAndCancelOnlyWhereTheBoxOffersThem) {
  struct Case {
    std::string_view typed;
    BoxButtons buttons;
    std::optional<BoxAnswer> answer;
  };
  const Case cases[] = {
      {"o", BoxButtons::OkCancel, BoxAnswer::Ok},
      {" OK \r", BoxButtons::OkCancel, BoxAnswer::Ok},
      {"c", BoxButtons::OkCancel, BoxAnswer::Cancel},
      {"Cancel", BoxButtons::OkCancel, BoxAnswer::Cancel},
      {"cancel", BoxButtons::Ok, std::nullopt},  // the box has no Cancel
      {"", BoxButtons::OkCancel, std::nullopt},  // no default: the user must choose
      {"y", BoxButtons::OkCancel, BoxAnswer::Ok},
      {"Yes", BoxButtons::OkCancel, BoxAnswer::Ok},
      {"yes", BoxButtons::Ok, BoxAnswer::Ok},
      {"n", BoxButtons::OkCancel, BoxAnswer::Cancel},
      {" NO", BoxButtons::OkCancel, BoxAnswer::Cancel},
      {"no", BoxButtons::Ok, std::nullopt},  // the box has no Cancel
      {"yeah", BoxButtons::OkCancel, std::nullopt},
      {"okay", BoxButtons::OkCancel, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseBoxAnswer(c.typed, c.buttons), c.answer) << '"' << c.typed << '"';
  }
}

TEST(ParseDriveNumberTest, AcceptsZeroToTheDriveCount) {
  struct Case {
    std::string_view typed;
    std::optional<std::size_t> number;
  };
  const Case cases[] = {{"0", 0},  {" 3\n", 3}, {"1", 1},
                        {"4", {}}, {"-1", {}},  {"+1", {}},
                        {"", {}},  {"2x", {}},  {"99999999999999999999999", {}}};
  for (const Case& c : cases) {
    EXPECT_EQ(ParseDriveNumber(c.typed, 3), c.number) << '"' << c.typed << '"';
  }
}

TEST(ProgressTextTest, PercentOfTheRangeAndTheBar) {
  EXPECT_EQ(ProgressPercent(0, 100, 40), 40);
  EXPECT_EQ(ProgressPercent(50, 150, 75), 25);
  EXPECT_EQ(ProgressPercent(0, 100, 140), 100);
  EXPECT_EQ(ProgressPercent(0, 100, -5), 0);
  EXPECT_EQ(ProgressPercent(0, 0, 0), 0);
  EXPECT_EQ(ProgressBar(50, 10), "[#####     ]  50%");
  EXPECT_EQ(ProgressBar(100, 4), "[####] 100%");
  EXPECT_EQ(ProgressBar(0, 4), "[    ]   0%");
}

TEST(WithoutMnemonicsTest, DropsTheMarksOnly) {
  EXPECT_EQ(WithoutMnemonics("&Devices:"), "Devices:");
  EXPECT_EQ(WithoutMnemonics("Please select target &Drive:"), "Please select target Drive:");
  EXPECT_EQ(WithoutMnemonics("Save && quit&"), "Save & quit&");
}

// ---- the view ----

class TerminalViewTest : public ::testing::Test {
 protected:
  TerminalView& View(TerminalSettings settings = {}, std::string input = "") {
    in_.str(std::move(input));
    view_.emplace(in_, out_, err_, dispatcher_, std::move(settings));
    return *view_;
  }
  template <typename Change>
  static TerminalSettings With(Change change) {
    TerminalSettings settings;
    change(settings);
    return settings;
  }
  std::vector<std::string> OutLines() const { return SplitLines(out_.str()); }

  // The demo's tree: the first drive is the package's, the others greyed.
  void FillTree(TerminalView& view) {
    const TreeItem root = view.InsertTreeItem(kNoTreeItem, "My Computer", kRootImage);
    view.InsertTreeItem(root, "VARN    DVD RW LPX-650A 1.02", kDriveImage);
    view.AssignItemColor(view.InsertTreeItem(root, "OTHERCO CD-RW 52X       2.00", kDriveImage),
                         kGreyedDrive);
    view.AssignItemColor(view.InsertTreeItem(root, "VARN    DVD RW LPX-412A 1.00", kDriveImage),
                         kGreyedDrive);
  }

  static MessageBox AskBox() {
    return {"Do you really want to upgrade ?\nSecond line", "Warning", BoxButtons::OkCancel,
            BoxIcon::Exclamation};
  }
  static MessageBox InfoBox() {
    return {"User cancelled.", std::nullopt, BoxButtons::Ok, BoxIcon::None};
  }

  EventLoopDispatcher dispatcher_;
  std::istringstream in_;
  std::ostringstream out_;
  std::ostringstream err_;
  std::optional<TerminalView> view_;
};

TEST_F(TerminalViewTest, PrintsTheTreeNumberedWithGreyedAndEmulatedDrivesMarked) {
  TerminalView& view = View(With([](TerminalSettings& s) { s.emulatedDrives = true; }));
  FillTree(view);
  view.PrintTree();
  EXPECT_THAT(OutLines(), ElementsAre("Devices:", "My Computer",
                                      "  1. VARN    DVD RW LPX-650A 1.02  (emulated)",
                                      "  2. OTHERCO CD-RW 52X       2.00  (emulated, not for "
                                      "this package)",
                                      "  3. VARN    DVD RW LPX-412A 1.00  (emulated, not for "
                                      "this package)",
                                      ""));
}

TEST_F(TerminalViewTest, RealDrivesCarryOnlyTheGreyMarkAndTheLabelFollowsTheDialog) {
  TerminalView& view = View();
  FillTree(view);
  view.SetControlText(ControlId::DevicesLabel, "Please select target &Drive:");
  view.PrintTree();
  EXPECT_THAT(
      OutLines(),
      ElementsAre("Please select target Drive:", "My Computer", "  1. VARN    DVD RW LPX-650A 1.02",
                  "  2. OTHERCO CD-RW 52X       2.00  (not for this package)",
                  "  3. VARN    DVD RW LPX-412A 1.00  (not for this package)", ""));
}

TEST_F(TerminalViewTest, SelectingByNumberWalksTheTreeAsTheDialogDoes) {
  TerminalView& view = View();
  FillTree(view);
  const TreeItem root = view.GetRootTreeItem();
  EXPECT_EQ(view.DriveCount(), 3U);

  ASSERT_TRUE(view.SelectDrive(2));
  const TreeItem second = view.GetNextSiblingTreeItem(view.GetChildTreeItem(root));
  EXPECT_EQ(view.GetSelectedTreeItem(), second);
  EXPECT_EQ(view.GetTreeItemText(second), "OTHERCO CD-RW 52X       2.00");

  ASSERT_TRUE(view.SelectDrive(0));
  EXPECT_EQ(view.GetSelectedTreeItem(), root);

  EXPECT_FALSE(view.SelectDrive(4));
  EXPECT_EQ(view.GetSelectedTreeItem(), root);  // unchanged
}

TEST_F(TerminalViewTest, AnEmptyTreeHasNothingToSelect) {
  TerminalView& view = View();
  view.InsertTreeItem(kNoTreeItem, "My Computer", kRootImage);
  EXPECT_EQ(view.DriveCount(), 0U);
  EXPECT_FALSE(view.SelectDrive(1));
  EXPECT_TRUE(view.SelectDrive(0));
}

TEST_F(TerminalViewTest, AsksForADriveUntilTheNumberIsInRange) {
  TerminalView& view = View(With([](TerminalSettings& s) { s.echoInput = true; }), "x\n4\n2\n");
  FillTree(view);
  EXPECT_EQ(view.AskForDrive(), 2U);
  EXPECT_THAT(out_.str(), HasSubstr("Select a drive [1-3, 0 = none]: x\n"
                                    "Select a drive [1-3, 0 = none]: 4\n"
                                    "Select a drive [1-3, 0 = none]: 2\n"));
  EXPECT_EQ(view.AskForDrive(), std::nullopt);  // end of input
}

TEST_F(TerminalViewTest, TheLogPanePrintsItsNewLinesAndReadsBackExactly) {
  TerminalView& view = View();
  view.SetControlText(ControlId::Log, "\r\nEmulated drives");
  view.SetControlText(ControlId::Log, "\r\nEmulated drives\r\nsecond");
  view.SetControlText(ControlId::Log, "VARN  Current firmware : 1.02");
  EXPECT_THAT(OutLines(),
              ElementsAre("Emulated drives", "second", "VARN  Current firmware : 1.02", ""));
  EXPECT_EQ(view.GetControlText(ControlId::Log), "VARN  Current firmware : 1.02");
}

TEST_F(TerminalViewTest, AnswersGivenInAdvanceGoToTheOkCancelBoxesInOrder) {
  TerminalView& view = View({.answers = {BoxAnswer::Cancel, BoxAnswer::Ok}, .interactive = false});
  EXPECT_EQ(view.ShowMessageBox(AskBox()), BoxAnswer::Cancel);
  EXPECT_EQ(view.ShowMessageBox(InfoBox()), BoxAnswer::Ok);  // takes no answer
  EXPECT_EQ(view.ShowMessageBox(AskBox()), BoxAnswer::Ok);
  EXPECT_FALSE(view.AnswerMissing());
  EXPECT_THAT(OutLines(), ElementsAre("[Warning]", "Do you really want to upgrade ?", "Second line",
                                      "[O]K/[C]ancel > cancel", "[TslFlash]", "User cancelled.",
                                      "[O]K", "[Warning]", "Do you really want to upgrade ?",
                                      "Second line", "[O]K/[C]ancel > ok", ""));
  EXPECT_THAT(err_.str(), IsEmpty());
}

TEST_F(TerminalViewTest, ABoxWithoutAnAnswerIsAnErrorAndCountsAsCancel) {
  TerminalView& view = View({.answers = {BoxAnswer::Ok}, .interactive = false});
  EXPECT_EQ(view.ShowMessageBox(AskBox()), BoxAnswer::Ok);
  EXPECT_FALSE(view.AnswerMissing());
  EXPECT_EQ(view.ShowMessageBox(AskBox()), BoxAnswer::Cancel);
  EXPECT_TRUE(view.AnswerMissing());
  EXPECT_EQ(err_.str(),
            "tslflash: no answer given for the message box \"Warning\": Do you really want to "
            "upgrade ?\n");
}

TEST_F(TerminalViewTest, TypedAnswersArePromptedForUntilOneFits) {
  TerminalView& view = View(With([](TerminalSettings& s) { s.echoInput = true; }), "sure\n\n C \n");
  EXPECT_EQ(view.ShowMessageBox(AskBox()), BoxAnswer::Cancel);
  // Each answer it does not take is followed by the answers it does.
  const std::string_view accepted = "Please answer ok (o, y, yes) or cancel (c, n, no).\n";
  EXPECT_THAT(out_.str(),
              HasSubstr("[O]K/[C]ancel > sure\n" + std::string(accepted) + "[O]K/[C]ancel > \n" +
                        std::string(accepted) + "[O]K/[C]ancel >  C \n"));
  EXPECT_FALSE(view.AnswerMissing());
}

TEST_F(TerminalViewTest, AnswersGivenInAdvanceComeBeforeTheInput) {
  TerminalView& view = View({.answers = {BoxAnswer::Cancel}}, "ok\n");
  EXPECT_EQ(view.ShowMessageBox(AskBox()), BoxAnswer::Cancel);
  EXPECT_EQ(view.ShowMessageBox(AskBox()), BoxAnswer::Ok);
}

TEST_F(TerminalViewTest, EndOfInputAnswersOnlyABoxThatOffersNothingButOk) {
  TerminalView& view = View({}, "");
  EXPECT_EQ(view.ShowMessageBox(InfoBox()), BoxAnswer::Ok);
  EXPECT_FALSE(view.AnswerMissing());
  EXPECT_EQ(view.ShowMessageBox(AskBox()), BoxAnswer::Cancel);
  EXPECT_TRUE(view.AnswerMissing());
  EXPECT_THAT(err_.str(), HasSubstr("no answer given for the message box \"Warning\""));
}

TEST_F(TerminalViewTest, ProgressPrintsAPlainLineForEachNewPercentage) {
  TerminalView& view = View();
  view.SetProgressRange(0, 100);
  view.SetProgressPosition(0);  // still empty: nothing new
  view.SetProgressStep(1);
  view.StepProgress();
  view.StepProgress();
  view.SetProgressPosition(100);
  view.StepProgress();  // past the end the bar starts over
  view.SetProgressPosition(0);
  EXPECT_THAT(OutLines(), ElementsAre("progress 1%", "progress 2%", "progress 100%", "progress 1%",
                                      "progress 0%", ""));
}

TEST_F(TerminalViewTest, OnATerminalTheBarIsRedrawnInPlaceAndOtherLinesStartFresh) {
  TerminalView& view = View(With([](TerminalSettings& s) { s.progressBar = true; }));
  view.SetProgressRange(0, 100);
  view.SetProgressPosition(50);
  view.SetProgressPosition(100);
  view.SetControlText(ControlId::Log, "\r\ndone");
  const std::string half = ProgressBar(50, TerminalView::kBarWidth);
  const std::string full = ProgressBar(100, TerminalView::kBarWidth);
  EXPECT_EQ(out_.str(), "\r" + half + "\r" + full + "\ndone\n");
}

TEST_F(TerminalViewTest, TimerTicksReachTheHandlerOnTheUiThreadWhileTheLoopRuns) {
  TerminalView& view = View();
  int ticks = 0;
  view.SetTimerHandler([&](int timerId) {
    EXPECT_EQ(timerId, kProgressTimer);
    EXPECT_TRUE(dispatcher_.IsUiThread());
    ++ticks;
    view.StepProgress();
  });
  view.StartTimer(kProgressTimer, kNow);
  dispatcher_.ServeUntil([&] { return ticks == 3; });
  view.StopTimer(kProgressTimer);
  EXPECT_THAT(OutLines(), ElementsAre("progress 10%", "progress 20%", "progress 30%", ""));
}

// Keeps the ticks a timer hands over, so a test decides when each one runs.
class HeldTicks final : public UiDispatcher {
 public:
  bool IsUiThread() const override { return true; }
  void ServeUntil(const std::function<bool()>& finished) override {
    while (!finished()) Next()();
  }
  void Post(std::function<void()> task) override {
    {
      const std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    posted_.notify_all();
  }
  // Waits until the timer thread has handed a tick over.
  std::function<void()> Next() {
    std::unique_lock lock(mutex_);
    posted_.wait(lock, [this] { return !tasks_.empty(); });
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    return task;
  }

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> tasks_;
};

TEST(TimerThreadTest, TicksComeOneAtATimeUntilTheTimerStops) {
  HeldTicks ui;
  std::vector<int> ticks;
  TimerThread timers(ui, [&](int timerId) { ticks.push_back(timerId); });
  timers.Start(7, kNow);
  ui.Next()();
  ui.Next()();  // running a tick lets the timer hand over the next
  const std::function<void()> late = ui.Next();
  timers.Stop(7);
  late();  // handed over before the stop: dropped
  EXPECT_THAT(ticks, ElementsAre(7, 7));
}

TEST(TimerThreadTest, ATickOfAnEarlierStartIsDropped) {
  HeldTicks ui;
  int ticks = 0;
  TimerThread timers(ui, [&](int) { ++ticks; });
  timers.Start(1, kNow);
  const std::function<void()> stale = ui.Next();
  timers.Start(1, std::chrono::hours(1));  // restarted: its first tick is an hour away
  stale();
  EXPECT_EQ(ticks, 0);
}

TEST_F(TerminalViewTest, TheWorkerRunsOnItsOwnThreadAndWakesTheLoopWhenDone) {
  std::thread::id workerThread;
  ThreadRunWorker worker(dispatcher_);
  worker.Start([&] { workerThread = std::this_thread::get_id(); });
  worker.Join();
  EXPECT_NE(workerThread, std::thread::id());
  EXPECT_NE(workerThread, std::this_thread::get_id());
}

TEST_F(TerminalViewTest, DiagnosticLinesFromTheWorkerArePrintedByTheUiThread) {
  TerminalView& view = View(With([](TerminalSettings& s) { s.progressBar = true; }));
  view.SetProgressPosition(50);
  {
    DiagnosticLines lines(view, dispatcher_);
    std::ostream diagnostics(&lines);
    ThreadRunWorker worker(dispatcher_);
    worker.Start([&diagnostics] { diagnostics << "Read buffer size fail\nunfinished"; });
    worker.Join();
  }
  EXPECT_EQ(out_.str(), "\r" + ProgressBar(50, TerminalView::kBarWidth) +
                            "\nRead buffer size fail\nunfinished\n");
}

}  // namespace
}  // namespace tslflash::terminal
