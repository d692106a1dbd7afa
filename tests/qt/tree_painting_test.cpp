// The drive tree's colours as the user sees them: the tree is rendered into
// an image and the pixels of an item's row are looked at.
#include <gtest/gtest.h>

#include <QImage>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include "qt_test_support.h"
#include "resources/texts.h"
#include "ui/dialog_view.h"
#include "ui/qt/qt_dialog_window.h"

namespace tslflash {
namespace {

const QColor kGrey(0x7D, 0x7D, 0x7D);

class TreePaintingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Without antialiasing every text pixel has the text's colour exactly.
    QFont font = window_.font();
    font.setStyleStrategy(QFont::NoAntialias);
    tree_.setFont(font);
    root_ = window_.InsertTreeItem(kNoTreeItem, "My Computer", kRootImage);
    window_.InsertTreeItem(root_, "VARN    DVD RW LPX-650A 1.02", kDriveImage);
    greyed_ = window_.InsertTreeItem(root_, "OTHERCO CD-RW 52X       2.00", kDriveImage);
    window_.AssignItemColor(greyed_, kGreyedDrive);
    window_.ExpandTreeItem(root_);
    window_.show();
    window_.activateWindow();
    ASSERT_TRUE(qt_test::ProcessEventsUntil([this] { return window_.isActiveWindow(); }));
  }

  QTreeWidgetItem* Drive(int index) const { return tree_.topLevelItem(0)->child(index); }

  void Select(QTreeWidgetItem* item) { tree_.setCurrentItem(item); }

  void FocusTree(bool onTree) {
    QWidget* target = onTree ? static_cast<QWidget*>(&tree_) : window_.Control(ControlId::Exit);
    target->setFocus();
    ASSERT_TRUE(target->hasFocus());
  }

  // The item's row as the tree draws it now.
  QImage Row(QTreeWidgetItem* item) const {
    QRect row = tree_.visualItemRect(item);
    row.setLeft(0);
    row.setRight(tree_.viewport()->width() - 1);
    return tree_.viewport()->grab(row).toImage().convertToFormat(QImage::Format_RGB32);
  }

  static int Count(const QImage& image, const QColor& colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) count += image.pixel(x, y) == colour.rgb() ? 1 : 0;
    }
    return count;
  }

  QColor Highlight(QPalette::ColorGroup group) const {
    return tree_.palette().color(group, QPalette::Highlight);
  }

  QtDialogWindow window_;
  QTreeWidget& tree_ = window_.Tree();
  TreeItem root_ = kNoTreeItem;
  TreeItem greyed_ = kNoTreeItem;
};

TEST_F(TreePaintingTest, GreyedItemIsGreyUnlessSelectedInTheFocusedTree) {
  struct Case {
    const char* what;
    bool selected;
    bool treeFocused;
    bool grey;
  };
  const Case cases[] = {
      {"not selected, tree focused", false, true, true},
      {"not selected, focus elsewhere", false, false, true},
      {"selected, tree focused", true, true, false},
      {"selected, focus elsewhere", true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Select(c.selected ? Drive(1) : Drive(0));
    FocusTree(c.treeFocused);
    const QImage row = Row(Drive(1));
    EXPECT_EQ(Count(row, kGrey) > 0, c.grey);
    const bool highlighted = Count(row, Highlight(QPalette::Active)) > 0;
    EXPECT_EQ(highlighted, c.selected && c.treeFocused);
    if (c.grey) {
      // Grey text on the tree's own background: no highlight of any kind.
      EXPECT_EQ(Count(row, Highlight(QPalette::Inactive)), 0);
      EXPECT_GT(Count(row, tree_.palette().color(QPalette::Base)), 0);
    } else {
      EXPECT_GT(Count(row, tree_.palette().color(QPalette::Active, QPalette::HighlightedText)), 0);
    }
  }
}

// Items without a colour of their own are drawn by the style alone: the
// same pixels as with Qt's plain delegate, selected or not, focused or not.
TEST_F(TreePaintingTest, ItemsWithoutOwnColourLookAsQtDrawsThem) {
  struct Case {
    const char* what;
    bool selected;
    bool treeFocused;
  };
  const Case cases[] = {
      {"not selected", false, true},
      {"selected, tree focused", true, true},
      {"selected, focus elsewhere", true, false},
  };
  QStyledItemDelegate plain;
  QAbstractItemDelegate* ours = tree_.itemDelegate();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Select(c.selected ? Drive(0) : Drive(1));
    FocusTree(c.treeFocused);
    const QImage drawn = Row(Drive(0));
    tree_.setItemDelegate(&plain);
    const QImage plainly = Row(Drive(0));
    tree_.setItemDelegate(ours);
    EXPECT_EQ(drawn, plainly);
    EXPECT_EQ(Count(drawn, kGrey), 0);
  }
}

}  // namespace
}  // namespace tslflash
