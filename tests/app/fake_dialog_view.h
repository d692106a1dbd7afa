// A window for tests: it keeps the state a real window would (texts, enabled
// controls, the tree, the progress bar), records every call in order with the
// thread it came on, and answers message boxes from a script. A box without a
// scripted answer fails the test instead of passing silently as OK.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ui/dialog_view.h"

namespace tslflash::testing {

struct FakeTreeItem {
  TreeItem parent = kNoTreeItem;
  std::string text;
  int image = 0;
  std::optional<Rgb> color;
  std::string tip;
};

class FakeDialogView final : public DialogView {
 public:
  // Answers for the coming message boxes, in order.
  void Answer(std::initializer_list<BoxAnswer> answers);
  void SelectTreeItem(TreeItem item) { selected_ = item; }

  void SetTitle(std::string_view title) override;
  void SetControlText(ControlId id, std::string_view text) override;
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
  TreeItem GetSelectedTreeItem();
  void AddAboutMenuItem(std::string_view text, int commandId) override;
  void AddSaveReportMenuItem(std::string_view text, int commandId) override;
  std::optional<std::string> AskSaveFileName(std::string_view suggestedName) override;
  void EnableCloseCommand(bool enable) override;
  void EndDialog(DialogResult result) override;
  // A run's worker, kept for the test to run.
  void QueueWorker(std::function<void()> entry);

  // What the window shows now.
  std::string title;
  std::map<ControlId, std::string> texts;
  std::map<ControlId, bool> enabled;
  std::vector<FakeTreeItem> items;  // handle = index + 1
  std::vector<TreeItem> expanded;
  std::vector<MessageBox> boxes;
  std::vector<std::pair<std::string, int>> menuItems;
  // What the next save-file dialog answers (none: cancelled), and the names
  // the dialogs suggested.
  std::optional<std::string> saveFileName;
  std::vector<std::string> suggestedNames;
  int aboutBoxes = 0;
  int progressLow = 0, progressHigh = 100, progressPosition = 0, progressStep = 10;
  std::vector<TransferProgress> transferProgress;
  std::map<int, std::chrono::milliseconds> timers;
  bool closeEnabled = true;
  std::optional<DialogResult> ended;
  std::vector<std::function<void()>> workers;

  // Every call, in order ("SetControlText 1014", "ShowMessageBox Warning"...),
  // and the thread each came on.
  std::vector<std::string> calls;
  std::vector<std::thread::id> callThreads;

 private:
  void Record(std::string call);
  const FakeTreeItem* Item(TreeItem item) const;

  std::deque<BoxAnswer> answers_;
  TreeItem selected_ = kNoTreeItem;
};

}  // namespace tslflash::testing
