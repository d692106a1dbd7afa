// The dialog's logic through the test window and emulated drives: start-up in
// its order, the drive tree and its greying, the log pane, outcome reporting,
// and the worker's hand-over to the UI thread.
#include "app/update_dialog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/emulated_dialog.h"
#include "tools/file_io.h"
#include "tools/package_builder.h"
#include "ui/ui_thread_view.h"

namespace tslflash {
namespace {

using testing::DriveNamed;
using ::testing::ElementsAre;
using testing::FakeDialogView;
using ::testing::IsEmpty;
using testing::RefusingTransport;

PackageRecipe Recipe(std::string inquiryId, std::string altName, std::string mark) {
  PackageRecipe recipe;
  recipe.inquiryId = std::move(inquiryId);
  recipe.altProductName = std::move(altName);
  recipe.altProductNameNulPadded = true;
  recipe.variantMark = std::move(mark);
  recipe.revisionPattern = "1.**";
  recipe.image = SynthesizeImage(0x20000, 7);
  return recipe;
}

const std::string kAnyDriveId = "*" + std::string(27, ' ');
const PackageRecipe kPlainRecipe = Recipe("VARN    DVD RW LPX-650A 1.07", "TK300B", "TW");

class UpdateDialogTest : public ::testing::Test, protected testing::EmulatedDialog {
 protected:
  // Builds the dialog with no drive and starts it, accepting both boxes.
  void StartWithoutDrives() {
    Make({}, kPlainRecipe);
    view.Answer({BoxAnswer::Ok, BoxAnswer::Ok});
    ASSERT_TRUE(dialog->OnInitDialog());
    view.texts[ControlId::Log].clear();
  }
  // Builds the dialog and starts it, accepting the start-up warning.
  void Start(const std::vector<emu::DriveDescription>& drives, const PackageRecipe& recipe) {
    Make(drives, recipe);
    view.Answer({BoxAnswer::Ok});
    ASSERT_TRUE(dialog->OnInitDialog());
  }
  std::vector<std::optional<Rgb>> DriveColors() const {
    std::vector<std::optional<Rgb>> colors;
    for (const auto& item : view.items) {
      if (item.parent != kNoTreeItem) colors.push_back(item.color);
    }
    return colors;
  }
  void Select(TreeItem item) {
    view.SelectTreeItem(item);
    dialog->OnDriveSelChanged(view.GetSelectedTreeItem());
  }
};

const std::optional<Rgb> kGrey = kGreyedDrive;
const std::optional<Rgb> kNormal = std::nullopt;

TEST_F(UpdateDialogTest, StartUpRunsInOrderAndFillsTheTree) {
  Start({DriveNamed("VARN", "DVD RW LPX-650A", "1.02")}, kPlainRecipe);
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].caption, "Warning");
  EXPECT_EQ(view.boxes[0].buttons, BoxButtons::OkCancel);
  EXPECT_EQ(view.boxes[0].icon, BoxIcon::Exclamation);
  EXPECT_THAT(view.boxes[0].text, ::testing::StartsWith("1.Please DO NOT turn off power"));
  EXPECT_THAT(view.menuItems, ElementsAre(std::pair<std::string, int>{"About flash(&A)...", 16}));
  EXPECT_EQ(view.title, "Flash Tool (ver. A-7.8)");
  EXPECT_FALSE(view.enabled.at(ControlId::Upgrade));
  ASSERT_EQ(view.items.size(), 2u);
  EXPECT_EQ(view.items[0].text, "My Computer");
  EXPECT_EQ(view.items[0].image, kRootImage);
  EXPECT_EQ(view.items[1].text, "VARN    DVD RW LPX-650A 1.02");
  EXPECT_EQ(view.items[1].image, kDriveImage);
  EXPECT_THAT(view.expanded, ElementsAre(1u));
  EXPECT_FALSE(view.ended.has_value());
  // The warning comes before the drives are touched.
  EXPECT_EQ(view.calls[1], "ShowMessageBox Warning");
}

TEST_F(UpdateDialogTest, DeclinedWarningEndsTheDialogBeforeAnyDriveIsTouched) {
  Make({DriveNamed("VARN", "DVD RW LPX-650A", "1.02")}, kPlainRecipe);
  view.Answer({BoxAnswer::Cancel, BoxAnswer::Ok});
  EXPECT_FALSE(dialog->OnInitDialog());
  EXPECT_EQ(view.ended, DialogResult::Cancel);
  ASSERT_EQ(view.boxes.size(), 2u);
  EXPECT_EQ(view.boxes[1],
            (MessageBox{"User cancelled.", std::nullopt, BoxButtons::Ok, BoxIcon::None}));
  EXPECT_EQ(view.texts[ControlId::Log], "\r\nUser cancelled.");
  EXPECT_THAT(emulators[0]->Trace(), IsEmpty());
  EXPECT_THAT(view.items, IsEmpty());
}

TEST_F(UpdateDialogTest, UnusableTransportSaysInitialFail) {
  const BuildResult built = BuildPackage(kPlainRecipe);
  dialog = std::make_unique<UpdateDialog>(view, std::make_unique<RefusingTransport>(),
                                          built.package, clock, diagnostics,
                                          std::make_unique<testing::RecordedWorker>(view));
  view.Answer({BoxAnswer::Ok, BoxAnswer::Ok});
  EXPECT_FALSE(dialog->OnInitDialog());
  ASSERT_EQ(view.boxes.size(), 2u);
  EXPECT_EQ(view.boxes[1].text, "Initial fail.");
  EXPECT_EQ(view.boxes[1].caption, std::nullopt);
  EXPECT_EQ(view.ended, DialogResult::Cancel);
}

TEST_F(UpdateDialogTest, NoDriveFoundLeavesTheRootAlone) {
  Make({}, kPlainRecipe);
  view.Answer({BoxAnswer::Ok, BoxAnswer::Ok});
  ASSERT_TRUE(dialog->OnInitDialog());
  ASSERT_EQ(view.boxes.size(), 2u);
  EXPECT_EQ(view.boxes[1].text, "No Device found!");
  EXPECT_EQ(view.items.size(), 1u);
  EXPECT_FALSE(view.enabled.at(ControlId::Upgrade));
}

TEST_F(UpdateDialogTest, GreysEveryDriveThePackageIsNotFor) {
  const std::vector<emu::DriveDescription> three = {
      DriveNamed("VARN", "DVD RW LPX-412A", "1.00"), DriveNamed("VARN", "DVD RW LPX-650A", "1.02"),
      DriveNamed("OTHERCO", "DVD RW LPX-650A", "1.02")};
  struct Case {
    const char* name;
    PackageRecipe recipe;
    std::vector<std::optional<Rgb>> colors;
  };
  PackageRecipe badTag = kPlainRecipe;
  badTag.tag = "KOVB";
  const Case cases[] = {
      {"only the second carries the package's id", kPlainRecipe, {kGrey, kNormal, kGrey}},
      {"a tag other than KOVA greys every drive", badTag, {kGrey, kGrey, kGrey}},
      // The first and second are catalogued (TX2370, TK300B); the third is not.
      {"a package for any drive of a model",
       Recipe(kAnyDriveId, "TK300B", "TW"),
       {kGrey, kNormal, kGrey}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    view = FakeDialogView{};
    Start(three, c.recipe);
    EXPECT_EQ(DriveColors(), c.colors);
  }
}

TEST_F(UpdateDialogTest, WildcardPackageGreysTheUncataloguedDrive) {
  Start({DriveNamed("VARN", "DVD RW LPX-650A", "1.02"),
         DriveNamed("OTHERCO", "NOT CATALOGUED", "1.00")},
        Recipe(kAnyDriveId, "TK300B", "TW"));
  EXPECT_EQ(DriveColors(), (std::vector<std::optional<Rgb>>{kNormal, kGrey}));
  ASSERT_EQ(dialog->Drives().size(), 2u);
  EXPECT_EQ(dialog->Drives()[1].text, "OTHERCO NOT CATALOGUED  1.00");
  EXPECT_TRUE(dialog->Drives()[1].greyed);
}

TEST_F(UpdateDialogTest, SelectingADriveDescribesItAndEnablesUpgrade) {
  Start({DriveNamed("VARN", "DVD RW LPX-412A", "1.00"),
         DriveNamed("VARN", "DVD RW LPX-650A", "1.02")},
        kPlainRecipe);
  Select(3);
  EXPECT_EQ(dialog->SelectedDriveIndex(), 1u);
  EXPECT_EQ(view.texts[ControlId::Log], "VARN    DVD RW LPX-650A  Current firmware : 1.02");
  EXPECT_TRUE(view.enabled.at(ControlId::Upgrade));

  // The root says so, and Upgrade stays enabled.
  Select(1);
  EXPECT_EQ(view.texts[ControlId::Log], "No drive selected.");
  EXPECT_EQ(dialog->SelectedDriveIndex(), 0u);
  EXPECT_TRUE(view.enabled.at(ControlId::Upgrade));
  EXPECT_EQ(dialog->SelectedDriveText(), "My Computer");
}

TEST_F(UpdateDialogTest, ShortIdentificationIsDescribedUpToItsEnd) {
  // A drive whose INQUIRY fields hold zeros after the vendor: its text stops
  // before the revision.
  emu::DriveDescription shortId = DriveNamed("VARN", std::string(16, '\0'), std::string(4, '\0'));
  Start({shortId}, kPlainRecipe);
  Select(2);
  EXPECT_EQ(view.texts[ControlId::Log], "VARN     Current firmware : ");
}

TEST_F(UpdateDialogTest, InternalDriveVariantRelabelsTheDialog) {
  struct Case {
    const char* altName;
    const char* title;
  };
  for (const Case c : {Case{"TX2370", "Flash Program for VARN DVD RW LPX-412A"},
                       Case{"TK300B", "Flash Program for "}}) {
    SCOPED_TRACE(c.altName);
    view = FakeDialogView{};
    Start({DriveNamed("VARN", "DVD RW LPX-650A", "1.02")},
          Recipe("VARN    DVD RW LPX-650A 1.07", c.altName, "vr"));
    EXPECT_EQ(view.title, c.title);
    EXPECT_EQ(view.texts[ControlId::DevicesLabel], "Please select target &Drive:");
    EXPECT_EQ(view.texts[ControlId::Exit], "&Close");
    EXPECT_EQ(view.texts[ControlId::Upgrade], "&Update");
    EXPECT_THAT(view.boxes[0].text, ::testing::StartsWith("This flash utility only supports "));
    // Its description leaves out the current firmware.
    Select(2);
    EXPECT_EQ(view.texts[ControlId::Log], "VARN    DVD RW LPX-650A ");
  }
}

TEST_F(UpdateDialogTest, LogPaneDropsOldTextBeforeALineThatWouldNotFit) {
  StartWithoutDrives();
  dialog->AppendLog("abc");
  EXPECT_EQ(view.texts[ControlId::Log], "\r\nabc");

  dialog->AppendLog(std::string(1988, 'x'));  // 1995 bytes
  dialog->AppendLog(std::string(20, 'y'));
  EXPECT_EQ(view.texts[ControlId::Log], "\r\n" + std::string(20, 'y'));

  // Exactly full still fits: 1975 + 2 + 22 bytes and the terminator.
  dialog->AppendLog(std::string(1997, 'w'));  // full: the next line clears it
  dialog->AppendLog(std::string(1973, 'x'));  // 1975 bytes
  EXPECT_EQ(view.texts[ControlId::Log].size(), 1975u);
  dialog->AppendLog(std::string(22, 'y'));
  EXPECT_EQ(view.texts[ControlId::Log].size(), 1999u);

  // A line longer than the pane is cut to fit it.
  dialog->AppendLog(std::string(5000, 'z'));
  EXPECT_EQ(view.texts[ControlId::Log].size(), 1999u);
  EXPECT_EQ(view.calls.back(), "ScrollLogToEnd");
}

TEST_F(UpdateDialogTest, EachOutcomeShowsItsLinesAndBox) {
  StartWithoutDrives();
  const std::string notAllowed = "The drive is not allowed to be updated.";
  struct Case {
    int code;
    std::string log;
    std::optional<MessageBox> box;
  };
  const std::string transferFailed =
      "Updating incomplete or interrupted! \n\nPlease retry after rebooting your computer and "
      "ensure the drive is\nproperly installed and detected by the operating system.\nAlso "
      "remove any media from the drive.\n\nIt is highly recommended to terminate all "
      "applications before updating.\n\nIf the problem persists, please contact product "
      "support.";
  const auto warning = [](std::string text) {
    return MessageBox{std::move(text), "Warning", BoxButtons::Ok, BoxIcon::Exclamation};
  };
  const std::string disc =
      "The update cannot proceed because there is a disc in the selected drive. Remove the disc "
      "and retry the operation.";
  const Case cases[] = {
      {1, "", std::nullopt},
      {2, "\r\nUser cancelled.",
       MessageBox{"User cancelled.", std::nullopt, BoxButtons::Ok, BoxIcon::None}},
      {3, "\r\nCheck Sum not match !!", warning("CheckSum not match !!")},
      {4, "\r\nOn Command Fail !!", warning("Command Fail.")},
      {5, "\r\n \r\n======== FAIL ========\r\n ", warning(transferFailed)},
      {6, "\r\n" + notAllowed, warning(notAllowed)},
      {7, "\r\n" + notAllowed, warning(notAllowed)},
      {8, "\r\nUPGRADE Only! Can't downgrade this drive.",
       warning("UPGRADE Only! Can't downgrade this drive.")},
      {9, "\r\n" + disc, warning(disc)},
      {10, "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const std::string before = view.texts[ControlId::Log];
    view.boxes.clear();
    view.progressPosition = 40;
    view.timers[kProgressTimer] = std::chrono::milliseconds(700);
    view.enabled[ControlId::Upgrade] = view.enabled[ControlId::Exit] = false;
    if (c.box) view.Answer({BoxAnswer::Ok});
    dialog->ReportOutcome(static_cast<OutcomeCode>(c.code));
    EXPECT_EQ(view.texts[ControlId::Log], before + c.log);
    if (c.box) {
      EXPECT_THAT(view.boxes, ElementsAre(*c.box));
    } else {
      EXPECT_THAT(view.boxes, IsEmpty());
    }
    EXPECT_EQ(view.progressPosition, 0);
    EXPECT_FALSE(view.timers.contains(kProgressTimer));
    EXPECT_TRUE(view.enabled[ControlId::Upgrade]);
    EXPECT_TRUE(view.enabled[ControlId::Exit]);
  }
}

TEST_F(UpdateDialogTest, SystemCommandsSixteenToThirtyOneOpenTheAboutBox) {
  StartWithoutDrives();
  EXPECT_TRUE(dialog->OnSysCommand(0x10));
  EXPECT_TRUE(dialog->OnSysCommand(0x1F));
  EXPECT_FALSE(dialog->OnSysCommand(0x20));
  EXPECT_FALSE(dialog->OnSysCommand(0xF060));  // close: the window's own
  EXPECT_EQ(view.aboutBoxes, 2);
  dialog->OnTimer(kProgressTimer);
  EXPECT_EQ(view.calls.back(), "StepProgress");
}

// Save report: the item follows About only when the dialog has a report; the
// file goes where the user says, and nowhere when the file dialog is
// cancelled.
class SaveReportTest : public UpdateDialogTest {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::path(::testing::TempDir()) /
              (std::string("save_report_") +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  // Starts the dialog over one drive the package is for, with a report that
  // holds the log pane and says whether a run was active.
  void StartWithReport() {
    Make({DriveNamed("VARN", "DVD RW LPX-650A", "1.02")}, kPlainRecipe);
    dialog->UseSupportReport([this] {
      ++reportsMade_;
      return std::string(dialog->RunActive() ? "during a run\n" : "no run\n") + dialog->LogPane();
    });
    view.Answer({BoxAnswer::Ok});
    ASSERT_TRUE(dialog->OnInitDialog());
  }
  std::string Path(std::string_view name) const { return (folder_ / name).string(); }
  static std::optional<std::string> Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::filesystem::path folder_;
  int reportsMade_ = 0;
};

TEST_F(SaveReportTest, ItemFollowsAboutOnlyWhenTheDialogHasAReport) {
  StartWithoutDrives();
  EXPECT_THAT(view.menuItems, ElementsAre(std::pair<std::string, int>{"About flash(&A)...", 0x10}));
  EXPECT_FALSE(dialog->OnSysCommand(kSaveReportCommand));  // the window's own
  EXPECT_THAT(view.suggestedNames, IsEmpty());

  view = FakeDialogView();
  StartWithReport();
  EXPECT_THAT(view.menuItems, ElementsAre(std::pair<std::string, int>{"About flash(&A)...", 0x10},
                                          std::pair<std::string, int>{"Save report...", 0x200}));
  EXPECT_EQ(view.calls[1], "AddSaveReportMenuItem");  // right after the About item
}

TEST_F(SaveReportTest, WritesTheReportWhereTheUserSaysAndNothingWhenCancelled) {
  StartWithReport();
  Select(2);
  const std::string logPane = dialog->LogPane();
  const std::size_t boxes = view.boxes.size();

  view.saveFileName = std::nullopt;  // cancelled
  EXPECT_TRUE(dialog->OnSysCommand(kSaveReportCommand));
  EXPECT_EQ(reportsMade_, 0);
  EXPECT_TRUE(std::filesystem::is_empty(folder_));

  view.saveFileName = Path("report.txt");
  EXPECT_FALSE(dialog->OnSysCommand(0x20));  // About's neighbour stays the window's
  EXPECT_TRUE(dialog->OnSysCommand(0x20F));  // the low 4 bits are the window system's
  EXPECT_EQ(Read(Path("report.txt")), "no run\n" + logPane);
  EXPECT_THAT(view.suggestedNames, ElementsAre("tslflash-report.txt", "tslflash-report.txt"));
  // Neither a box nor a log line: the file dialog closing says it is done.
  EXPECT_EQ(view.boxes.size(), boxes);
  EXPECT_EQ(dialog->LogPane(), logPane);
}

TEST_F(SaveReportTest, AFileThatCannotBeWrittenIsOneWarningBoxWithTheReason) {
  StartWithReport();
  const std::string path = Path("no such folder/report.txt");
  view.saveFileName = path;
  view.Answer({BoxAnswer::Ok});
  EXPECT_TRUE(dialog->OnSysCommand(kSaveReportCommand));
  const std::string reason = WriteFileAtomically(path, "");
  ASSERT_FALSE(reason.empty());
  EXPECT_THAT(view.boxes.back(), (MessageBox{"The report could not be saved: " + reason,
                                             "Save report", BoxButtons::Ok, BoxIcon::Exclamation}));
  EXPECT_EQ(view.boxes.size(), 2u);  // the start-up warning, and this one
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(SaveReportTest, IsSavedWhileAnUpdateRuns) {
  StartWithReport();
  Select(2);
  view.Answer({BoxAnswer::Ok});  // the drive already has the package's revision
  dialog->OnUpgrade();
  ASSERT_EQ(view.workers.size(), 1u);
  ASSERT_TRUE(dialog->RunActive());
  view.saveFileName = Path("report.txt");
  EXPECT_TRUE(dialog->OnSysCommand(kSaveReportCommand));
  const std::optional<std::string> report = Read(Path("report.txt"));
  ASSERT_TRUE(report.has_value());
  EXPECT_TRUE(report->starts_with("during a run\n")) << *report;

  view.Answer({BoxAnswer::Cancel, BoxAnswer::Ok});  // the run ends, declined
  view.workers.front()();
}

TEST_F(UpdateDialogTest, ARunningUpdateKeepsUpgradeDisabledAndTheDialogOpen) {
  Start({DriveNamed("VARN", "DVD RW LPX-650A", "1.02")}, kPlainRecipe);
  Select(2);
  view.Answer({BoxAnswer::Ok});  // the TX2300 drive already has the package's revision
  dialog->OnUpgrade();
  ASSERT_EQ(view.workers.size(), 1u);
  EXPECT_FALSE(dialog->CanClose());
  // Neither a new selection nor a failure report gives the buttons back.
  Select(2);
  EXPECT_FALSE(view.enabled.at(ControlId::Upgrade));
  dialog->ReportOutcome(static_cast<OutcomeCode>(1));
  EXPECT_FALSE(view.enabled.at(ControlId::Upgrade));
  EXPECT_FALSE(view.enabled.at(ControlId::Exit));
  // A second Upgrade is ignored: no check runs, no second worker starts.
  const std::size_t callsBefore = view.calls.size();
  dialog->OnUpgrade();
  EXPECT_EQ(view.calls.size(), callsBefore);
  EXPECT_EQ(view.workers.size(), 1u);

  // The run's end, declined at its confirmation, gives them back.
  view.Answer({BoxAnswer::Cancel, BoxAnswer::Ok});
  view.workers.front()();
  EXPECT_THAT(view.timers, IsEmpty());
  EXPECT_TRUE(dialog->CanClose());
  EXPECT_TRUE(view.enabled.at(ControlId::Upgrade));
  EXPECT_TRUE(view.enabled.at(ControlId::Exit));
}

// The shield is up from before the checks, which may already write the
// drive, to the run's end; a machine that cannot be kept from sleeping is
// said once, before the checks, and the update goes on.
TEST_F(UpdateDialogTest, TheRunShieldIsUpFromTheChecksToTheRunsEnd) {
  class SleeplessShield final : public RunShield {
   public:
    explicit SleeplessShield(std::vector<std::string>& calls) : calls_(calls) {}
    bool Raise() override {
      calls_.emplace_back("raise");
      return false;
    }
    void Lower() override { calls_.emplace_back("lower"); }

   private:
    std::vector<std::string>& calls_;
  };
  Start({DriveNamed("VARN", "DVD RW LPX-650A", "1.02")}, kPlainRecipe);
  std::vector<std::string> calls;
  dialog->UseRunShield(std::make_unique<SleeplessShield>(calls));
  Select(2);
  dialog->OnUpgrade();
  EXPECT_THAT(calls, ElementsAre("raise"));
  view.Answer({BoxAnswer::Ok, BoxAnswer::Cancel});  // the update, then no restart
  view.workers.front()();
  EXPECT_TRUE(dialog->LastRunCompleted());
  EXPECT_THAT(calls, ElementsAre("raise", "lower"));
  const std::vector<std::string> log = dialog->UpgradeLog();
  EXPECT_EQ(std::ranges::count(log, std::string(kSleepNotBlocked)), 1);
  EXPECT_LT(std::ranges::find(log, std::string(kSleepNotBlocked)),
            std::ranges::find(log, " ==> New firmware Version : 1.07"));
}

TEST_F(UpdateDialogTest, EmulatedDrivesAreSaidToBeEmulated) {
  Make({DriveNamed("VARN", "DVD RW LPX-650A", "1.02")}, kPlainRecipe, {.emulatedDrives = true});
  view.Answer({BoxAnswer::Ok});
  ASSERT_TRUE(dialog->OnInitDialog());
  EXPECT_EQ(view.title, "Flash Tool (ver. A-7.8) [emulated drives]");
  EXPECT_THAT(view.texts[ControlId::Log], ::testing::HasSubstr("Emulated drives"));
}

// The worker thread's log lines and boxes run on the UI thread, one at a time
// and in order, while the worker waits for each.
TEST(UiThreadViewTest, WorkerCallsAreHandedToTheUiThreadInOrder) {
  FakeDialogView window;
  EventLoopDispatcher dispatcher;
  UiThreadView view(window, dispatcher);
  NoWaitClock clock;
  std::ostringstream diagnostics;
  const std::vector<std::uint8_t> package(64);
  UpdateDialog dialog(view, std::make_unique<RefusingTransport>(), package, clock, diagnostics,
                      std::make_unique<ThreadRunWorker>(dispatcher));
  window.Answer({BoxAnswer::Ok});

  std::atomic<bool> workerDone{false};
  std::thread worker([&] {
    dialog.AppendLog("first");
    dialog.ReportOutcome(OutcomeCode::CommandFailed);
    dialog.AppendLog("last");
    workerDone = true;
    dispatcher.Wake();
  });
  dispatcher.ServeUntil([&] { return workerDone.load(); });
  worker.join();

  EXPECT_EQ(window.texts[ControlId::Log], "\r\nfirst\r\nOn Command Fail !!\r\nlast");
  ASSERT_FALSE(window.callThreads.empty());
  for (const std::thread::id id : window.callThreads) EXPECT_EQ(id, std::this_thread::get_id());
}

}  // namespace
}  // namespace tslflash
