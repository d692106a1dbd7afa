#include "ui/qt/qt_dialog_window.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QWindow>
#include <algorithm>
#include <array>
#include <utility>

#include "app/update_dialog.h"
#include "ui/qt/about_box.h"
#include "ui/qt/artwork.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_text.h"
#include "ui/qt/tree_painting.h"

namespace tslflash {
namespace {

// A control of the dialog's template, in dialog units, with its first text.
struct ControlPlace {
  ControlId id;
  int x;
  int y;
  int width;
  int height;
  const char* text;
};

// In template order, which is also the tab order.
constexpr std::array kTemplate = {
    ControlPlace{ControlId::Exit, 51, 136, 76, 14, "E&xit"},
    ControlPlace{ControlId::DevicesLabel, 8, 3, 120, 9, "&Devices:"},
    ControlPlace{ControlId::DriveTree, 8, 13, 292, 41, ""},
    ControlPlace{ControlId::Progress, 8, 122, 292, 10, ""},
    ControlPlace{ControlId::Upgrade, 183, 136, 76, 14, "&Upgrade"},
    ControlPlace{ControlId::Log, 8, 56, 292, 62, ""},
};

constexpr int kHandleRole = Qt::UserRole;
constexpr int kTextRole = Qt::UserRole + 1;  // the text exactly as inserted

// The log pane's lines end in CR LF; the pane breaks lines at LF.
QString LogDisplay(std::string_view text) {
  return ToQt(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// The text as read aloud: mnemonic marks dropped, "&&" read as '&'.
QString WithoutMnemonic(const QString& text) {
  QString plain;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'&' && i + 1 < text.size()) ++i;
    plain += text[i];
  }
  return plain;
}

void ShowText(QWidget& control, std::string_view text) {
  if (auto* button = qobject_cast<QAbstractButton*>(&control)) {
    button->setText(ToQt(text));
  } else if (auto* label = qobject_cast<QLabel*>(&control)) {
    label->setText(ToQt(text));
  } else if (auto* edit = qobject_cast<QPlainTextEdit*>(&control)) {
    edit->setPlainText(LogDisplay(text));
  }
}

QMessageBox::Icon BoxIconFor(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Exclamation:
      return QMessageBox::Warning;
    case BoxIcon::Information:
      return QMessageBox::Information;
    case BoxIcon::Stop:
      return QMessageBox::Critical;
    case BoxIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

QIcon TreeIcon(int image) {
  const QPixmap picture = TreeImage(image);
  QIcon icon(picture);
  icon.addPixmap(picture, QIcon::Selected);  // the same picture when selected
  return icon;
}

QTreeWidget* MakeTree(QWidget& window) {
  auto* tree = new QTreeWidget(&window);
  tree->setColumnCount(1);
  tree->setHeaderHidden(true);
  tree->setRootIsDecorated(true);
  tree->setSelectionMode(QAbstractItemView::SingleSelection);
  tree->setDragDropMode(QAbstractItemView::NoDragDrop);
  tree->setIconSize(kTreeImageSize);
  tree->setUniformRowHeights(true);
  // Hot tracking: the style sees which item the mouse is over.
  tree->setMouseTracking(true);
  tree->viewport()->setAttribute(Qt::WA_Hover);
  tree->setItemDelegate(new TreeItemDelegate(tree));
  // The window owns the style, so it outlives the tree, which does not own it.
  auto* style = new TreeLinesStyle;
  style->setParent(&window);
  tree->setStyle(style);
  return tree;
}

QProgressBar* MakeProgress(QWidget& window) {
  auto* progress = new QProgressBar(&window);
  progress->setRange(0, 100);
  progress->setValue(0);
  progress->setTextVisible(false);
  progress->setAccessibleName(QStringLiteral("Update progress"));
  return progress;
}

QPlainTextEdit* MakeLog(QWidget& window) {
  auto* log = new QPlainTextEdit(&window);
  log->setReadOnly(true);
  log->setUndoRedoEnabled(false);
  log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // Readable and selectable from the keyboard; Tab moves on.
  log->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  log->setFocusPolicy(Qt::StrongFocus);
  log->setTabChangesFocus(true);
  log->setAccessibleName(QStringLiteral("Log"));
  return log;
}

}  // namespace

QtDialogWindow::QtDialogWindow(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(ToQt(kDialogTitle));
  setWindowIcon(WindowIcon());
  setFont(DialogFont());
  BuildControls();
  SetTabOrder();
}

void QtDialogWindow::BuildControls() {
  const DialogUnits units(font());
  setFixedSize(units.Size(kDialogSize.width(), kDialogSize.height()));
  for (const ControlPlace& place : kTemplate) {
    QWidget* control = MakeControl(place.id);
    control->setObjectName(QString::number(static_cast<int>(place.id)));
    control->setGeometry(units.Rect(place.x, place.y, place.width, place.height));
    controls_[place.id] = control;
  }
  static_cast<QLabel*>(Control(ControlId::DevicesLabel))->setBuddy(tree_);
  for (const ControlPlace& place : kTemplate) SetControlText(place.id, place.text);
  connect(static_cast<QPushButton*>(Control(ControlId::Exit)), &QPushButton::clicked, this,
          &QtDialogWindow::reject);
  connect(static_cast<QPushButton*>(Control(ControlId::Upgrade)), &QPushButton::clicked, this,
          &QtDialogWindow::UpgradeRequested);
  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { OnCurrentItemChanged(current); });
}

QWidget* QtDialogWindow::MakeControl(ControlId id) {
  switch (id) {
    case ControlId::Exit:
    case ControlId::Upgrade:
      return new QPushButton(this);
    case ControlId::DevicesLabel:
      return new QLabel(this);
    case ControlId::DriveTree:
      return tree_ = MakeTree(*this);
    case ControlId::Progress:
      return progress_ = MakeProgress(*this);
    case ControlId::Log:
      return log_ = MakeLog(*this);
    case ControlId::Ok:
      break;  // the About box's
  }
  return nullptr;
}

void QtDialogWindow::SetTabOrder() {
  for (std::size_t i = 1; i < kTemplate.size(); ++i) {
    setTabOrder(Control(kTemplate[i - 1].id), Control(kTemplate[i].id));
  }
}

QWidget* QtDialogWindow::Control(ControlId id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

void QtDialogWindow::SetTitle(std::string_view title) { setWindowTitle(ToQt(title)); }

void QtDialogWindow::SetControlText(ControlId id, std::string_view text) {
  QWidget* control = Control(id);
  if (control == nullptr) return;
  texts_[id] = std::string(text);
  ShowText(*control, text);
  // Screen readers name the tree by its label.
  if (id == ControlId::DevicesLabel) tree_->setAccessibleName(WithoutMnemonic(ToQt(text)));
}

std::string QtDialogWindow::GetControlText(ControlId id) {
  const auto found = texts_.find(id);
  return found == texts_.end() ? std::string() : found->second;
}

void QtDialogWindow::EnableControl(ControlId id, bool enable) {
  if (QWidget* control = Control(id)) control->setEnabled(enable);
}

void QtDialogWindow::ScrollLogToEnd() {
  log_->moveCursor(QTextCursor::End);
  log_->ensureCursorVisible();
}

BoxAnswer QtDialogWindow::ShowMessageBox(const MessageBox& box) {
  const QString caption =
      box.caption ? ToQt(*box.caption) : QGuiApplication::applicationDisplayName();
  const QMessageBox::StandardButtons buttons =
      box.buttons == BoxButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok;
  QMessageBox dialog(BoxIconFor(box.icon), caption, ToQt(box.text), buttons, this);
  dialog.setTextFormat(Qt::PlainText);
  dialog.setDefaultButton(QMessageBox::Ok);
  return dialog.exec() == QMessageBox::Cancel ? BoxAnswer::Cancel : BoxAnswer::Ok;
}

void QtDialogWindow::ShowAboutBox() {
  AboutBox box(this);
  box.exec();
}

void QtDialogWindow::SetProgressRange(int low, int high) { progress_->setRange(low, high); }

void QtDialogWindow::SetProgressPosition(int position) {
  progress_->setValue(std::clamp(position, progress_->minimum(), progress_->maximum()));
}

void QtDialogWindow::SetProgressStep(int step) { progressStep_ = step; }

// Past the end the bar starts over from the beginning.
void QtDialogWindow::StepProgress() {
  const int next = progress_->value() + progressStep_;
  progress_->setValue(next > progress_->maximum() ? progress_->minimum() : next);
}

// The bar shows the share of the time; its tip says how much the drive has
// accepted.
void QtDialogWindow::ShowTransferProgress(const TransferProgress& progress) {
  progress_->setToolTip(QStringLiteral("%1 of %2 %3")
                            .arg(progress.sent)
                            .arg(progress.total)
                            .arg(ToQt(progress.unit)));
}

void QtDialogWindow::StartTimer(int id, std::chrono::milliseconds period) {
  QTimer*& timer = timers_[id];
  if (timer == nullptr) {
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this, id] { emit TimerTicked(id); });
  }
  timer->start(period);
}

void QtDialogWindow::StopTimer(int id) {
  if (const auto found = timers_.find(id); found != timers_.end()) found->second->stop();
}

void QtDialogWindow::ClearTree() {
  // Emptying the tree is no choice of the user's.
  const QSignalBlocker quiet(tree_);
  tree_->clear();
  items_.clear();
}

TreeItem QtDialogWindow::InsertTreeItem(TreeItem parent, std::string_view text, int image) {
  QTreeWidgetItem* parentItem = Item(parent);
  if (parent != kNoTreeItem && parentItem == nullptr) return kNoTreeItem;
  auto* item = parentItem == nullptr ? new QTreeWidgetItem(tree_) : new QTreeWidgetItem(parentItem);
  const TreeItem handle = ++lastHandle_;
  item->setText(0, ToQt(text));
  item->setData(0, kTextRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  item->setData(0, kHandleRole, handle);
  item->setIcon(0, TreeIcon(image));
  items_[handle] = item;
  return handle;
}

void QtDialogWindow::AssignItemColor(TreeItem item, Rgb color) {
  if (QTreeWidgetItem* node = Item(item)) {
    node->setForeground(0, QColor(color.red, color.green, color.blue));
  }
}

void QtDialogWindow::ExpandTreeItem(TreeItem item) {
  if (QTreeWidgetItem* node = Item(item)) node->setExpanded(true);
}

void QtDialogWindow::SetTreeItemTip(TreeItem item, std::string_view tip) {
  if (QTreeWidgetItem* node = Item(item)) node->setToolTip(0, ToQt(tip));
}

void QtDialogWindow::SetTreeItemText(TreeItem item, std::string_view text) {
  if (QTreeWidgetItem* node = Item(item)) {
    node->setText(0, ToQt(text));
    node->setData(0, kTextRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  }
}

TreeItem QtDialogWindow::GetRootTreeItem() { return Handle(tree_->topLevelItem(0)); }

TreeItem QtDialogWindow::GetSelectedTreeItem() { return Handle(tree_->currentItem()); }

TreeItem QtDialogWindow::GetChildTreeItem(TreeItem item) {
  if (item == kNoTreeItem) return GetRootTreeItem();
  const QTreeWidgetItem* node = Item(item);
  return node == nullptr ? kNoTreeItem : Handle(node->child(0));
}

TreeItem QtDialogWindow::GetNextSiblingTreeItem(TreeItem item) {
  QTreeWidgetItem* node = Item(item);
  if (node == nullptr) return kNoTreeItem;
  if (QTreeWidgetItem* parent = node->parent()) {
    return Handle(parent->child(parent->indexOfChild(node) + 1));
  }
  return Handle(tree_->topLevelItem(tree_->indexOfTopLevelItem(node) + 1));
}

std::size_t QtDialogWindow::GetTreeItemCount() {
  std::size_t count = 0;
  for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it) ++count;
  return count;
}

std::string QtDialogWindow::GetTreeItemText(TreeItem item) {
  const QTreeWidgetItem* node = Item(item);
  return node == nullptr ? std::string() : node->data(0, kTextRole).toByteArray().toStdString();
}

QTreeWidgetItem* QtDialogWindow::Item(TreeItem handle) const {
  const auto found = items_.find(handle);
  return found == items_.end() ? nullptr : found->second;
}

TreeItem QtDialogWindow::Handle(const QTreeWidgetItem* item) {
  return item == nullptr ? kNoTreeItem : item->data(0, kHandleRole).toUInt();
}

// The item the keyboard lands on when the tree gains the focus is made the
// selected one too, so the selection is always the item the user is on.
void QtDialogWindow::OnCurrentItemChanged(QTreeWidgetItem* current) {
  if (current != nullptr && !current->isSelected()) current->setSelected(true);
  emit DriveSelectionChanged();
}

// The window system offers no menu of ours: the items go into the dialog's
// context menu (right click, or the menu key), in the order they are added,
// and answer their shortcuts.
QAction* QtDialogWindow::AddMenuAction(std::string_view text, const QKeySequence& shortcut,
                                       int commandId) {
  auto* action = new QAction(ToQt(text), this);
  action->setShortcut(shortcut);
  connect(action, &QAction::triggered, this,
          [this, commandId] { emit SysCommandChosen(commandId); });
  addAction(action);
  setContextMenuPolicy(Qt::ActionsContextMenu);
  return action;
}

void QtDialogWindow::AddAboutMenuItem(std::string_view text, int commandId) {
  about_ = AddMenuAction(text, QKeySequence::HelpContents, commandId);
}

void QtDialogWindow::AddSaveReportMenuItem(std::string_view text, int commandId) {
  saveReport_ = AddMenuAction(text, QKeySequence::Save, commandId);
}

// Suggested in the home folder, as a plain-text file.
std::optional<std::string> QtDialogWindow::AskSaveFileName(std::string_view suggestedName) {
  if (askSaveFile_) return askSaveFile_(suggestedName);
  const QString path = QFileDialog::getSaveFileName(this, ToQt(kSaveReportCaption),
                                                    QDir::home().filePath(ToQt(suggestedName)),
                                                    ToQt(kSaveReportFileFilter));
  if (path.isEmpty()) return std::nullopt;
  return QFile::encodeName(path).toStdString();
}

// Also takes the close button off the title bar where the window manager
// honours it; the window is changed in place, never hidden and shown again.
void QtDialogWindow::EnableCloseCommand(bool enable) {
  closeEnabled_ = enable;
  Qt::WindowFlags flags = windowFlags();
  flags.setFlag(Qt::WindowCloseButtonHint, enable);
  overrideWindowFlags(flags);
  if (QWindow* window = windowHandle()) window->setFlags(flags);
}

void QtDialogWindow::reject() {
  if (!closeEnabled_ || !Control(ControlId::Exit)->isEnabled()) {
    QApplication::beep();
    return;
  }
  QDialog::reject();
}

void QtDialogWindow::EndDialog(DialogResult result) {
  done(result == DialogResult::Ok ? QDialog::Accepted : QDialog::Rejected);
}

}  // namespace tslflash
