// A view that may be called from any thread: each call runs on the UI thread
// through the dispatcher while the caller waits, so the worker's log lines,
// message boxes and progress steps reach the window in order and one at a
// time. Front ends wrap their window in it.
#pragma once

#include <utility>

#include "ui/dialog_view.h"
#include "ui/ui_dispatcher.h"

namespace tslflash {

class UiThreadView final : public DialogView {
 public:
  UiThreadView(DialogView& window, UiDispatcher& dispatcher)
      : window_(window), dispatcher_(dispatcher) {}

  void SetTitle(std::string_view title) override {
    Call([&] { window_.SetTitle(title); });
  }
  void SetControlText(ControlId id, std::string_view text) override {
    Call([&] { window_.SetControlText(id, text); });
  }
  void EnableControl(ControlId id, bool enable) override {
    Call([&] { window_.EnableControl(id, enable); });
  }
  void ScrollLogToEnd() override {
    Call([&] { window_.ScrollLogToEnd(); });
  }
  BoxAnswer ShowMessageBox(const MessageBox& box) override {
    return Call([&] { return window_.ShowMessageBox(box); });
  }
  void ShowAboutBox() override {
    Call([&] { window_.ShowAboutBox(); });
  }
  void SetProgressRange(int low, int high) override {
    Call([&] { window_.SetProgressRange(low, high); });
  }
  void SetProgressPosition(int position) override {
    Call([&] { window_.SetProgressPosition(position); });
  }
  void SetProgressStep(int step) override {
    Call([&] { window_.SetProgressStep(step); });
  }
  void StepProgress() override {
    Call([&] { window_.StepProgress(); });
  }
  void ShowTransferProgress(const TransferProgress& progress) override {
    Call([&] { window_.ShowTransferProgress(progress); });
  }
  void StartTimer(int id, std::chrono::milliseconds period) override {
    Call([&] { window_.StartTimer(id, period); });
  }
  void StopTimer(int id) override {
    Call([&] { window_.StopTimer(id); });
  }
  void ClearTree() override {
    Call([&] { window_.ClearTree(); });
  }
  TreeItem InsertTreeItem(TreeItem parent, std::string_view text, int image) override {
    return Call([&] { return window_.InsertTreeItem(parent, text, image); });
  }
  void AssignItemColor(TreeItem item, Rgb color) override {
    Call([&] { window_.AssignItemColor(item, color); });
  }
  void ExpandTreeItem(TreeItem item) override {
    Call([&] { window_.ExpandTreeItem(item); });
  }
  void SetTreeItemTip(TreeItem item, std::string_view tip) override {
    Call([&] { window_.SetTreeItemTip(item, tip); });
  }
  void SetTreeItemText(TreeItem item, std::string_view text) override {
    Call([&] { window_.SetTreeItemText(item, text); });
  }
  void AddAboutMenuItem(std::string_view text, int commandId) override {
    Call([&] { window_.AddAboutMenuItem(text, commandId); });
  }
  void AddSaveReportMenuItem(std::string_view text, int commandId) override {
    Call([&] { window_.AddSaveReportMenuItem(text, commandId); });
  }
  std::optional<std::string> AskSaveFileName(std::string_view suggestedName) override {
    return Call([&] { return window_.AskSaveFileName(suggestedName); });
  }
  void EnableCloseCommand(bool enable) override {
    Call([&] { window_.EnableCloseCommand(enable); });
  }
  void EndDialog(DialogResult result) override {
    Call([&] { window_.EndDialog(result); });
  }

 private:
  template <typename F>
  std::invoke_result_t<F> Call(F&& call) {
    return InvokeOnUiThread(dispatcher_, std::forward<F>(call));
  }

  DialogView& window_;
  UiDispatcher& dispatcher_;
};

}  // namespace tslflash
