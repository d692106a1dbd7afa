// The main dialog is built from its template: ids, texts, mnemonics, tab
// order, enabled states and a layout in dialog units of the dialog font.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QFontInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <vector>

#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_dialog_window.h"

namespace tslflash {
namespace {

const std::vector<ControlId> kTemplateOrder = {ControlId::Exit,      ControlId::DevicesLabel,
                                               ControlId::DriveTree, ControlId::Progress,
                                               ControlId::Upgrade,   ControlId::Log};

QString AccessibleName(QWidget* widget) {
  return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
}

TEST(QtDialogWindowTemplate, HasEachControlWithItsIdClassAndText) {
  struct Case {
    ControlId id;
    const char* className;
    std::string text;
  };
  const Case cases[] = {
      {ControlId::Exit, "QPushButton", "E&xit"},
      {ControlId::DevicesLabel, "QLabel", "&Devices:"},
      {ControlId::DriveTree, "QTreeWidget", ""},
      {ControlId::Progress, "QProgressBar", ""},
      {ControlId::Upgrade, "QPushButton", "&Upgrade"},
      {ControlId::Log, "QPlainTextEdit", ""},
  };
  QtDialogWindow window;
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.id));
    QWidget* control = window.Control(c.id);
    ASSERT_NE(control, nullptr);
    EXPECT_STREQ(control->metaObject()->className(), c.className);
    EXPECT_EQ(control->objectName(), QString::number(static_cast<int>(c.id)));
    EXPECT_EQ(window.GetControlText(c.id), c.text);
    EXPECT_TRUE(control->isEnabled());
  }
  EXPECT_EQ(window.Control(ControlId::Ok), nullptr);
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Flash Tool (ver. A-7.8)"));
  EXPECT_FALSE(window.windowIcon().isNull());
}

TEST(QtDialogWindowTemplate, ControlsAreConfiguredAsTheTemplateSays) {
  QtDialogWindow window;
  const auto* tree = static_cast<QTreeWidget*>(window.Control(ControlId::DriveTree));
  EXPECT_TRUE(tree->isHeaderHidden());
  EXPECT_EQ(tree->columnCount(), 1);
  EXPECT_TRUE(tree->rootIsDecorated());
  EXPECT_EQ(tree->dragDropMode(), QAbstractItemView::NoDragDrop);
  EXPECT_TRUE(tree->hasMouseTracking());
  const auto* progress = static_cast<QProgressBar*>(window.Control(ControlId::Progress));
  EXPECT_FALSE(progress->isTextVisible());
  EXPECT_EQ(progress->minimum(), 0);
  EXPECT_EQ(progress->maximum(), 100);
  const auto* log = static_cast<QPlainTextEdit*>(window.Control(ControlId::Log));
  EXPECT_TRUE(log->isReadOnly());
  EXPECT_EQ(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_TRUE(log->tabChangesFocus());
}

TEST(QtDialogWindowTemplate, TabOrderIsTemplateOrderAndTabStopsTakeTheFocus) {
  QtDialogWindow window;
  std::vector<ControlId> chain;
  QWidget* widget = window.Control(ControlId::Exit);
  for (std::size_t step = 0; step < 100 && chain.size() < kTemplateOrder.size(); ++step) {
    for (const ControlId id : kTemplateOrder) {
      if (window.Control(id) == widget) chain.push_back(id);
    }
    widget = widget->nextInFocusChain();
  }
  EXPECT_EQ(chain, kTemplateOrder);
  for (const ControlId id :
       {ControlId::Exit, ControlId::DriveTree, ControlId::Upgrade, ControlId::Log}) {
    EXPECT_TRUE(window.Control(id)->focusPolicy() & Qt::TabFocus) << static_cast<int>(id);
  }
}

TEST(QtDialogWindowTemplate, MnemonicsReachTheirControls) {
  QtDialogWindow window;
  EXPECT_EQ(static_cast<QLabel*>(window.Control(ControlId::DevicesLabel))->buddy(),
            window.Control(ControlId::DriveTree));
  EXPECT_EQ(static_cast<QPushButton*>(window.Control(ControlId::Exit))->shortcut(),
            QKeySequence(Qt::ALT | Qt::Key_X));
  EXPECT_EQ(static_cast<QPushButton*>(window.Control(ControlId::Upgrade))->shortcut(),
            QKeySequence(Qt::ALT | Qt::Key_U));
}

TEST(QtDialogWindowTemplate, EveryControlHasAScreenReaderName) {
  QtDialogWindow window;
  for (const ControlId id : kTemplateOrder) {
    EXPECT_FALSE(AccessibleName(window.Control(id)).isEmpty()) << static_cast<int>(id);
  }
  EXPECT_EQ(AccessibleName(window.Control(ControlId::Exit)), QStringLiteral("Exit"));
  // The tree is named by its label, also after the label changes.
  EXPECT_EQ(AccessibleName(window.Control(ControlId::DriveTree)), QStringLiteral("Devices:"));
  window.SetControlText(ControlId::DevicesLabel, "Please select target &Drive:");
  EXPECT_EQ(AccessibleName(window.Control(ControlId::DriveTree)),
            QStringLiteral("Please select target Drive:"));
}

TEST(QtDialogWindowLayout, UsesTheNinePointDialogFont) {
  QtDialogWindow window;
  const QFontInfo shown(window.font());
  EXPECT_TRUE(shown.family() == QStringLiteral("Arial") ||
              shown.family() == QStringLiteral("Liberation Sans"))
      << shown.family().toStdString();
  EXPECT_EQ(window.font().pointSize(), 9);
}

// Positions relative to each other, as the template has them, and a size
// that follows the font's character size.
TEST(QtDialogWindowLayout, PlacesControlsAsTheTemplateDoes) {
  QtDialogWindow window;
  const QRect label = window.Control(ControlId::DevicesLabel)->geometry();
  const QRect tree = window.Control(ControlId::DriveTree)->geometry();
  const QRect log = window.Control(ControlId::Log)->geometry();
  const QRect progress = window.Control(ControlId::Progress)->geometry();
  const QRect exit = window.Control(ControlId::Exit)->geometry();
  const QRect upgrade = window.Control(ControlId::Upgrade)->geometry();

  for (const QRect& r : {tree, log, progress}) {
    EXPECT_EQ(r.left(), label.left());
    EXPECT_EQ(r.width(), tree.width());
  }
  EXPECT_LT(label.bottom(), tree.top());
  EXPECT_LT(tree.bottom(), log.top());
  EXPECT_LT(log.bottom(), progress.top());
  EXPECT_LT(progress.bottom(), exit.top());
  EXPECT_EQ(exit.top(), upgrade.top());
  EXPECT_EQ(exit.size(), upgrade.size());
  EXPECT_LT(exit.right(), upgrade.left());
  EXPECT_LT(upgrade.right(), window.width());
  EXPECT_LT(tree.right(), window.width());
  EXPECT_LT(exit.bottom(), window.height());
  // The log pane is 62 units high, the tree 41.
  EXPECT_NEAR(static_cast<double>(log.height()) / tree.height(), 62.0 / 41.0, 0.05);

  const DialogUnits units(window.font());
  EXPECT_NEAR(static_cast<double>(window.width()) / units.BaseWidth(), 310.0 / 4, 0.5);
  EXPECT_NEAR(static_cast<double>(window.height()) / units.BaseHeight(), 156.0 / 8, 0.5);
  EXPECT_EQ(window.minimumSize(), window.maximumSize());  // a fixed frame
}

TEST(DialogUnits, ConvertsWithTheFontsBaseUnitsRoundingToNearest) {
  const DialogUnits units(6, 15);
  struct Case {
    int units;
    int x;
    int y;
  };
  const Case cases[] = {{0, 0, 0}, {4, 6, 8},    {8, 12, 15},
                        {3, 5, 6}, {51, 77, 96}, {310, 465, 581}};
  for (const Case& c : cases) {
    EXPECT_EQ(units.X(c.units), c.x) << c.units;
    EXPECT_EQ(units.Y(c.units), c.y) << c.units;
  }
  // Both corners are converted: a control's far edge lands where the next
  // one's near edge does.
  EXPECT_EQ(units.Rect(8, 13, 292, 41), QRect(12, 24, 438, 77));
  EXPECT_EQ(units.Rect(8, 13, 292, 41).bottom() + 1, units.Y(54));
}

TEST(DialogUnits, FollowTheFontsSize) {
  QFont small = DialogFont();
  QFont large = small;
  large.setPointSize(small.pointSize() * 2);
  const DialogUnits smallUnits(small);
  const DialogUnits largeUnits(large);
  EXPECT_GT(smallUnits.BaseWidth(), 0);
  EXPECT_GT(smallUnits.BaseHeight(), smallUnits.BaseWidth());
  EXPECT_NEAR(static_cast<double>(largeUnits.BaseWidth()) / smallUnits.BaseWidth(), 2.0, 0.4);
  EXPECT_NEAR(static_cast<double>(largeUnits.BaseHeight()) / smallUnits.BaseHeight(), 2.0, 0.4);
}

}  // namespace
}  // namespace tslflash
