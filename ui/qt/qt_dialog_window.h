// The main dialog's window in Qt Widgets: the controls of the dialog's
// template (Exit, the "Devices:" label, the drive tree, the progress bar,
// Upgrade, the log pane) laid out in dialog units of the dialog font, the
// message and About boxes, timer 1, the About command and the update worker.
//
// Every DialogView call must come from the GUI thread; the worker reaches the
// window through UiThreadView. What the user does comes out as signals, which
// the front end connects to the dialog's logic.
#pragma once

#include <QDialog>
#include <QSize>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "resources/texts.h"
#include "ui/dialog_view.h"

class QAction;
class QKeySequence;
class QPlainTextEdit;
class QProgressBar;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace tslflash {

// The dialog's size in dialog units, as its template gives it.
inline constexpr QSize kDialogSize{310, 156};

class QtDialogWindow : public QDialog, public DialogView {
  Q_OBJECT

 public:
  explicit QtDialogWindow(QWidget* parent = nullptr);

  // The control with this id, or null.
  QWidget* Control(ControlId id) const;
  QTreeWidget& Tree() const { return *tree_; }
  // The About and Save report items, once AddAboutMenuItem and
  // AddSaveReportMenuItem have made them.
  QAction* AboutAction() const { return about_; }
  QAction* SaveReportAction() const { return saveReport_; }
  // Asks in place of the file dialog (tests).
  void UseSaveFileAsker(SaveFileAsker ask) { askSaveFile_ = std::move(ask); }

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

 public slots:
  // Escape, the window's close button and Exit end the dialog this way; not
  // while an update runs (Exit disabled or the Close command greyed).
  void reject() override;

 signals:
  // A menu item (context menu, F1 for About, Ctrl+S for Save report) with its
  // command id.
  void SysCommandChosen(int commandId);
  void TimerTicked(int timerId);
  // The tree's selected item changed.
  void DriveSelectionChanged();
  // Upgrade was pressed; the Upgrade handler connects here.
  void UpgradeRequested();

 private:
  void BuildControls();
  QWidget* MakeControl(ControlId id);
  void SetTabOrder();
  QAction* AddMenuAction(std::string_view text, const QKeySequence& shortcut, int commandId);
  void OnCurrentItemChanged(QTreeWidgetItem* current);
  QTreeWidgetItem* Item(TreeItem handle) const;
  static TreeItem Handle(const QTreeWidgetItem* item);

  std::map<ControlId, QWidget*> controls_;
  QTreeWidget* tree_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPlainTextEdit* log_ = nullptr;
  QAction* about_ = nullptr;
  QAction* saveReport_ = nullptr;
  SaveFileAsker askSaveFile_;

  // Each control's text exactly as last set, line breaks and '&' included.
  std::map<ControlId, std::string> texts_;
  int progressStep_ = 1;
  std::map<int, QTimer*> timers_;
  // Handles are never reused, so a handle of a deleted item finds nothing.
  std::unordered_map<TreeItem, QTreeWidgetItem*> items_;
  TreeItem lastHandle_ = kNoTreeItem;
  bool closeEnabled_ = true;
};

}  // namespace tslflash
