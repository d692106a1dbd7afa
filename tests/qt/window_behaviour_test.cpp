// What the logic relies on when it drives the window: texts read back as
// set, the progress bar's steps, the tree's handles and navigation, timer 1,
// the About and Save report items and the Close command.
#include <gtest/gtest.h>

#include <QAction>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextDocument>
#include <QTreeWidget>
#include <chrono>

#include "qt_test_support.h"
#include "ui/qt/qt_dialog_window.h"

namespace tslflash {
namespace {

using namespace std::chrono_literals;

TEST(QtDialogWindowText, LogPaneGivesBackExactlyWhatWasSetAndShowsLineBreaks) {
  QtDialogWindow window;
  const std::string text = "\r\nVARN    DVD RW LPX-650A  Current firmware : 1.02\r\n\xA9 2.00";
  window.SetControlText(ControlId::Log, text);
  EXPECT_EQ(window.GetControlText(ControlId::Log), text);
  const auto* log = static_cast<QPlainTextEdit*>(window.Control(ControlId::Log));
  EXPECT_EQ(log->blockCount(), 3);
  EXPECT_EQ(log->document()->findBlockByNumber(2).text(), QString::fromUtf8("\u00A9 2.00"));
}

TEST(QtDialogWindowText, ButtonAndLabelCaptionsChange) {
  QtDialogWindow window;
  window.SetControlText(ControlId::Upgrade, "&Update");
  window.SetControlText(ControlId::Exit, "&Close");
  EXPECT_EQ(window.GetControlText(ControlId::Upgrade), "&Update");
  EXPECT_EQ(static_cast<QPushButton*>(window.Control(ControlId::Upgrade))->text(),
            QStringLiteral("&Update"));
  EXPECT_EQ(static_cast<QPushButton*>(window.Control(ControlId::Exit))->shortcut(),
            QKeySequence(Qt::ALT | Qt::Key_C));
  window.SetTitle("Other title");
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Other title"));
}

TEST(QtDialogWindowText, EnableControlGreysAndRestores) {
  QtDialogWindow window;
  window.EnableControl(ControlId::Upgrade, false);
  EXPECT_FALSE(window.Control(ControlId::Upgrade)->isEnabled());
  EXPECT_TRUE(window.Control(ControlId::Exit)->isEnabled());
  window.EnableControl(ControlId::Upgrade, true);
  EXPECT_TRUE(window.Control(ControlId::Upgrade)->isEnabled());
}

TEST(QtDialogWindowProgress, StepsByTheStepAndStartsOverPastTheEnd) {
  struct Case {
    int position;
    int step;
    int expected;
  };
  const Case cases[] = {{0, 1, 1}, {99, 1, 100}, {100, 1, 0}, {98, 5, 0}, {10, 10, 20}};
  QtDialogWindow window;
  const auto* bar = static_cast<QProgressBar*>(window.Control(ControlId::Progress));
  window.SetProgressRange(0, 100);
  for (const Case& c : cases) {
    window.SetProgressPosition(c.position);
    window.SetProgressStep(c.step);
    window.StepProgress();
    EXPECT_EQ(bar->value(), c.expected) << c.position << " + " << c.step;
  }
}

TEST(QtDialogWindowProgress, PositionIsHeldInsideTheRange) {
  QtDialogWindow window;
  const auto* bar = static_cast<QProgressBar*>(window.Control(ControlId::Progress));
  window.SetProgressRange(0, 100);
  window.SetProgressPosition(150);
  EXPECT_EQ(bar->value(), 100);
  window.SetProgressPosition(-3);
  EXPECT_EQ(bar->value(), 0);
}

TEST(QtDialogWindowTree, HandlesNavigateInInsertionOrder) {
  QtDialogWindow window;
  const TreeItem root = window.InsertTreeItem(kNoTreeItem, "My Computer", kRootImage);
  const TreeItem first = window.InsertTreeItem(root, "VARN    DVD RW LPX-650A 1.02", kDriveImage);
  const TreeItem second = window.InsertTreeItem(root, std::string("ODD\0\0 1.00", 11), kDriveImage);

  EXPECT_EQ(window.GetRootTreeItem(), root);
  EXPECT_EQ(window.GetChildTreeItem(root), first);
  EXPECT_EQ(window.GetNextSiblingTreeItem(first), second);
  EXPECT_EQ(window.GetNextSiblingTreeItem(second), kNoTreeItem);
  EXPECT_EQ(window.GetNextSiblingTreeItem(root), kNoTreeItem);
  EXPECT_EQ(window.GetChildTreeItem(first), kNoTreeItem);
  EXPECT_EQ(window.GetTreeItemCount(), 3U);
  // Texts come back byte for byte, zeros included.
  EXPECT_EQ(window.GetTreeItemText(second), std::string("ODD\0\0 1.00", 11));
  EXPECT_EQ(window.InsertTreeItem(12345, "orphan", kDriveImage), kNoTreeItem);
  EXPECT_EQ(window.GetTreeItemCount(), 3U);
}

TEST(QtDialogWindowTree, SelectionIsTheCurrentItemAndIsAnnounced) {
  QtDialogWindow window;
  const TreeItem root = window.InsertTreeItem(kNoTreeItem, "My Computer", kRootImage);
  const TreeItem drive = window.InsertTreeItem(root, "drive", kDriveImage);
  window.ExpandTreeItem(root);
  EXPECT_EQ(window.GetSelectedTreeItem(), kNoTreeItem);

  QSignalSpy changed(&window, &QtDialogWindow::DriveSelectionChanged);
  QTreeWidget& tree = window.Tree();
  tree.setCurrentItem(tree.topLevelItem(0)->child(0));
  EXPECT_EQ(changed.count(), 1);
  EXPECT_EQ(window.GetSelectedTreeItem(), drive);
  EXPECT_TRUE(tree.topLevelItem(0)->isExpanded());
  // The item the keyboard lands on without a selection becomes selected.
  tree.setCurrentItem(tree.topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
  EXPECT_TRUE(tree.topLevelItem(0)->isSelected());
  EXPECT_EQ(window.GetSelectedTreeItem(), root);
}

TEST(QtDialogWindowTree, ClearingEmptiesTheTreeQuietlyAndRetiresHandles) {
  QtDialogWindow window;
  const TreeItem old = window.InsertTreeItem(kNoTreeItem, "My Computer", kRootImage);
  window.Tree().setCurrentItem(window.Tree().topLevelItem(0));
  QSignalSpy changed(&window, &QtDialogWindow::DriveSelectionChanged);
  window.ClearTree();
  EXPECT_EQ(changed.count(), 0);
  EXPECT_EQ(window.GetTreeItemCount(), 0U);
  EXPECT_EQ(window.GetRootTreeItem(), kNoTreeItem);
  const TreeItem fresh = window.InsertTreeItem(kNoTreeItem, "My Computer", kRootImage);
  EXPECT_NE(fresh, old);
  EXPECT_EQ(window.GetTreeItemText(old), "");
}

TEST(QtDialogWindowTimer, TicksWithItsIdUntilStopped) {
  QtDialogWindow window;
  QSignalSpy ticks(&window, &QtDialogWindow::TimerTicked);
  window.StartTimer(kProgressTimer, 0ms);
  ASSERT_TRUE(qt_test::ProcessEventsUntil([&] { return ticks.count() >= 3; }));
  EXPECT_EQ(ticks.first().first().toInt(), kProgressTimer);
  window.StopTimer(kProgressTimer);
  const auto counted = ticks.count();
  QApplication::processEvents();
  QApplication::processEvents();
  EXPECT_EQ(ticks.count(), counted);
}

TEST(QtDialogWindowTimer, KeepsThePeriodItWasGiven) {
  QtDialogWindow window;
  window.StartTimer(kProgressTimer, 700ms);
  const auto* timer = window.findChild<QTimer*>();
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->intervalAsDuration(), 700ms);
  window.StopTimer(kProgressTimer);
  EXPECT_FALSE(timer->isActive());
}

// The context menu holds About, then Save report; each sends its command,
// from the menu or its shortcut.
TEST(QtDialogWindowMenu, ItemsSendTheirCommandsFromTheContextMenuAndTheirShortcuts) {
  QtDialogWindow window;
  window.AddAboutMenuItem("About flash(&A)...", kAboutCommand);
  window.AddSaveReportMenuItem("Save report...", kSaveReportCommand);
  ASSERT_NE(window.AboutAction(), nullptr);
  ASSERT_NE(window.SaveReportAction(), nullptr);
  EXPECT_EQ(window.contextMenuPolicy(), Qt::ActionsContextMenu);
  EXPECT_EQ(window.actions(), (QList<QAction*>{window.AboutAction(), window.SaveReportAction()}));
  struct Item {
    QAction* action;
    QString text;
    QKeySequence shortcut;
    int command;
  };
  for (const Item& item : {Item{window.AboutAction(), QStringLiteral("About flash(&A)..."),
                                QKeySequence(Qt::Key_F1), kAboutCommand},
                           Item{window.SaveReportAction(), QStringLiteral("Save report..."),
                                QKeySequence(QKeySequence::Save), kSaveReportCommand}}) {
    SCOPED_TRACE(item.text.toStdString());
    EXPECT_EQ(item.action->text(), item.text);
    EXPECT_EQ(item.action->shortcut(), item.shortcut);
    QSignalSpy chosen(&window, &QtDialogWindow::SysCommandChosen);
    item.action->trigger();
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.first().first().toInt(), item.command);
  }
}

TEST(QtDialogWindowClose, RefusesToCloseWhileTheCloseCommandIsGreyed) {
  QtDialogWindow window;
  window.show();
  window.EnableCloseCommand(false);
  EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(window.close());
  window.reject();  // Escape
  EXPECT_TRUE(window.isVisible());

  window.EnableCloseCommand(true);
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowCloseButtonHint));
  EXPECT_TRUE(window.close());
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.result(), QDialog::Rejected);
}

TEST(QtDialogWindowClose, ExitDisabledMeansNoClosing) {
  QtDialogWindow window;
  window.show();
  window.EnableControl(ControlId::Exit, false);
  EXPECT_FALSE(window.close());
  EXPECT_TRUE(window.isVisible());
  window.EnableControl(ControlId::Exit, true);
  static_cast<QPushButton*>(window.Control(ControlId::Exit))->click();
  EXPECT_FALSE(window.isVisible());
}

TEST(QtDialogWindowClose, EndDialogEndsItEvenWhileCloseIsGreyed) {
  struct Case {
    DialogResult result;
    int expected;
  };
  for (const Case c :
       {Case{DialogResult::Ok, QDialog::Accepted}, Case{DialogResult::Cancel, QDialog::Rejected}}) {
    QtDialogWindow window;
    window.show();
    window.EnableCloseCommand(false);
    window.EndDialog(c.result);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), c.expected);
  }
}

TEST(QtDialogWindowButtons, UpgradeAsksForTheUpgradeHandler) {
  QtDialogWindow window;
  QSignalSpy upgrade(&window, &QtDialogWindow::UpgradeRequested);
  auto* button = static_cast<QPushButton*>(window.Control(ControlId::Upgrade));
  button->click();
  EXPECT_EQ(upgrade.count(), 1);
  window.EnableControl(ControlId::Upgrade, false);
  button->click();
  EXPECT_EQ(upgrade.count(), 1);
}

}  // namespace
}  // namespace tslflash
