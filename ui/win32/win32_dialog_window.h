// The main dialog's window in plain Win32 and the common controls: dialog
// template 102 run modally, its controls by id, message boxes owned by the
// dialog, timer 1, the system menu's About and Save report items and Close
// command, the save-file dialog, the
// custom-drawn drive tree and the update worker.
//
// Every DialogView call must come from the UI thread, the one that runs the
// dialog; the worker reaches the window through UiThreadView and the
// Win32Dispatcher. What the user does goes to the DialogEvents the front end
// connects.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <unordered_map>

#include "ui/dialog_view.h"
#include "ui/win32/win32_dispatcher.h"
#include "ui/win32/win32_tree_painting.h"
#include "ui/win32/windows_api.h"

namespace tslflash {

struct DialogEvents {
  std::function<bool()> initDialog;               // false: the dialog ended during start-up
  std::function<bool(int commandId)> sysCommand;  // true: the command was the dialog's own
  std::function<void(int timerId)> timer;
  std::function<void()> driveSelectionChanged;
  std::function<void()> upgrade;
  // Asked before the dialog ends; a finished run's worker has returned when
  // it says yes.
  std::function<bool()> canClose;
};

class Win32DialogWindow final : public DialogView {
 public:
  explicit Win32DialogWindow(Win32Dispatcher& dispatcher);
  ~Win32DialogWindow() override;
  Win32DialogWindow(const Win32DialogWindow&) = delete;
  Win32DialogWindow& operator=(const Win32DialogWindow&) = delete;

  void Connect(DialogEvents events) { events_ = std::move(events); }
  // Runs the dialog until it ends: how it ended, or nothing when the window
  // could not be made (no display, or no dialog template in the program).
  std::optional<DialogResult> Run();
  // The dialog's window while it runs, else null; any thread may ask.
  HWND Hwnd() const { return window_; }
  // Asks in place of the save-file dialog (tests); set before Run.
  void UseSaveFileAsker(SaveFileAsker ask) { askSaveFile_ = std::move(ask); }

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
  // The item the person selected, as the front end passes it on.
  TreeItem GetSelectedTreeItem() const;

  void AddAboutMenuItem(std::string_view text, int commandId) override;
  void AddSaveReportMenuItem(std::string_view text, int commandId) override;
  std::optional<std::string> AskSaveFileName(std::string_view suggestedName) override;
  void EnableCloseCommand(bool enable) override;

  void EndDialog(DialogResult result) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  BOOL OnInitDialog(HWND window);
  bool OnCommand(WPARAM wParam);
  bool OnNotify(NMHDR& header);
  bool PaintMinimised();
  void OnDestroy();
  // Exit, Escape, Enter and the window's Close: never while the logic says no.
  void TryToEnd(DialogResult result);

  HWND Control(ControlId id) const;
  LRESULT SendToControl(ControlId id, UINT message, WPARAM wParam, LPARAM lParam) const;
  HWND Tree() const { return Control(ControlId::DriveTree); }
  HTREEITEM ItemOf(TreeItem handle) const;
  // Fills the tree's request for an item's tip; false when it has none.
  bool GiveItemTip(NMTVGETINFOTIPA& request) const;
  TreeItem HandleOf(HTREEITEM item) const;

  Win32Dispatcher& dispatcher_;
  DialogEvents events_;
  HINSTANCE instance_;
  HICON icon_;
  HIMAGELIST images_ = nullptr;
  std::atomic<HWND> window_ = nullptr;
  CustomDrawnTree tree_;
  // Handles are never reused, so a handle of a deleted item finds nothing.
  std::unordered_map<TreeItem, HTREEITEM> items_;
  std::unordered_map<HTREEITEM, TreeItem> handles_;
  std::unordered_map<HTREEITEM, std::string> tips_;  // the tree asks for them (TVS_INFOTIP)
  TreeItem lastHandle_ = kNoTreeItem;
  bool clearingTree_ = false;
  SaveFileAsker askSaveFile_;
  bool closeEnabled_ = true;
};

}  // namespace tslflash
