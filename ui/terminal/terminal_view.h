// The main dialog in a terminal, for machines without a display and for
// scripts: the title and the drive tree as text, the log pane as lines,
// message boxes as prompts (or answers given in advance), the progress bar
// as a bar on a terminal and as plain lines elsewhere.
//
// Every DialogView call runs on the UI thread (the front end wraps the view
// in a UiThreadView); the timer thread and the update worker only hand work
// to it.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "resources/texts.h"
#include "ui/dialog_view.h"
#include "ui/terminal/terminal_text.h"
#include "ui/terminal/terminal_timer.h"
#include "ui/ui_dispatcher.h"

namespace tslflash::terminal {

struct TerminalSettings {
  // Answers to the boxes that ask OK or Cancel, used in order.
  std::vector<BoxAnswer> answers;
  // False: a box that asks OK or Cancel with no answer left is an error, not
  // a prompt, and boxes with only OK are acknowledged without reading input.
  bool interactive = true;
  // The input is no terminal: what is read is echoed, so the output reads
  // as the session did.
  bool echoInput = false;
  // The output is a terminal: one bar redrawn in place instead of lines.
  bool progressBar = false;
  // Every drive of the tree is an emulator.
  bool emulatedDrives = false;
  // Boxes asking OK or Cancel are answered by what they ask; `answers` and
  // prompts are not used for them.
  std::optional<Consent> consent{};
};

class TerminalView final : public DialogView {
 public:
  static constexpr std::size_t kBarWidth = 40;

  TerminalView(std::istream& in, std::ostream& out, std::ostream& err,
               EventLoopDispatcher& dispatcher, TerminalSettings settings);
  // Gives Ctrl-C back and stops the timers.
  ~TerminalView() override;
  TerminalView(const TerminalView&) = delete;
  TerminalView& operator=(const TerminalView&) = delete;

  // Receives the ticks of the running timers, on the UI thread.
  void SetTimerHandler(TimerThread::TickHandler handler);

  // The devices label, the root and its drives, numbered from 1.
  void PrintTree();
  std::size_t DriveCount() const;
  // Selects the root (0) or drive `number`, as a click in the tree would;
  // false when there is no such drive.
  bool SelectDrive(std::size_t number);
  // Asks for a drive number until one is valid; nothing at the end of input.
  std::optional<std::size_t> AskForDrive();
  // Offers the window's buttons until one is chosen; nothing at the end of
  // input.
  std::optional<MenuChoice> AskMenu();

  // One line of the session's own, between the dialog's lines.
  void PrintLine(std::string_view text);

  bool IsControlEnabled(ControlId id) const;
  // A box that asked OK or Cancel found no answer; it was taken as Cancel.
  bool AnswerMissing() const { return answerMissing_; }
  // A box the consent given does not answer; it was taken as Cancel.
  bool ConsentMissing() const { return consentMissing_; }

  void SetTitle(std::string_view title) override;
  void SetControlText(ControlId id, std::string_view text) override;
  std::string GetControlText(ControlId id);
  void EnableControl(ControlId id, bool enable) override;
  void ScrollLogToEnd() override;

  BoxAnswer ShowMessageBox(const MessageBox& box) override;
  void ShowAboutBox() override;

  void SetProgressRange(int low, int high) override;
  void SetProgressPosition(int position) override;
  void SetProgressStep(int step) override;
  void StepProgress() override;
  void ShowTransferProgress(const TransferProgress& progress) override;

  void StartTimer(int id, std::chrono::milliseconds period) override;
  void StopTimer(int id) override;

  void ClearTree() override;
  TreeItem InsertTreeItem(TreeItem parent, std::string_view text, int image) override;
  void AssignItemColor(TreeItem item, Rgb color) override;
  void ExpandTreeItem(TreeItem item) override;
  void SetTreeItemTip(TreeItem item, std::string_view tip) override;
  void SetTreeItemText(TreeItem item, std::string_view text) override;
  TreeItem GetRootTreeItem();
  TreeItem GetSelectedTreeItem();
  TreeItem GetChildTreeItem(TreeItem item);
  TreeItem GetNextSiblingTreeItem(TreeItem item);
  std::size_t GetTreeItemCount();
  std::string GetTreeItemText(TreeItem item);

  void AddAboutMenuItem(std::string_view text, int commandId) override;
  void AddSaveReportMenuItem(std::string_view text, int commandId) override;
  std::optional<std::string> AskSaveFileName(std::string_view suggestedName) override;
  void EnableCloseCommand(bool enable) override;

  void EndDialog(DialogResult result) override;

 private:
  struct Item {
    TreeItem parent = kNoTreeItem;
    std::string text;
    std::optional<Rgb> color;
    std::string tip;
  };

  // Starts a fresh line when the progress bar holds the current one.
  std::ostream& Line();
  // The root's children, in order.
  std::vector<TreeItem> Drives() const;
  std::string DriveMarks(const Item& item) const;
  const Item* Find(TreeItem item) const;
  // The handle of the item after `item` under the same parent.
  TreeItem NextUnder(TreeItem parent, TreeItem after) const;
  // The next answer given in advance, else the user's; nothing when neither.
  std::optional<BoxAnswer> AnswerFor(const MessageBox& box);
  std::optional<BoxAnswer> AnswerByConsent(const MessageBox& box, const Consent& consent);
  std::optional<BoxAnswer> Prompt(BoxButtons buttons);
  std::optional<std::string> ReadLine();
  void ShowProgress();
  void DrawProgress();

  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
  TerminalSettings settings_;
  std::deque<BoxAnswer> answers_;
  bool answerMissing_ = false;
  bool consentMissing_ = false;

  std::string title_;
  std::map<ControlId, std::string> texts_;
  std::map<ControlId, bool> enabled_;

  int low_ = 0;
  int high_ = 100;
  int position_ = 0;
  int step_ = 10;
  int shownPercent_ = 0;                      // the bar starts empty
  std::optional<TransferProgress> transfer_;  // the run's, once the drive accepts a unit
  bool barOnLine_ = false;

  std::vector<Item> items_;  // handle = index + 1, in insertion order
  TreeItem selected_ = kNoTreeItem;

  TimerThread::TickHandler onTick_;
  TimerThread timers_;
};

}  // namespace tslflash::terminal
