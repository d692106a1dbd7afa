// How the drive tree draws: items that were given a colour of their own are
// drawn in it, and the tree shows its branch lines.
#pragma once

#include <QProxyStyle>
#include <QStyledItemDelegate>

namespace tslflash {

// An item that carries its own text colour (its foreground) is drawn in that
// colour and its own font on the tree's background, also while it is
// selected, except when it is selected and the tree has the keyboard focus:
// then it keeps the normal highlight, so the user sees where the focus is.
// Items without a colour of their own are drawn exactly as the style draws
// them.
class TreeItemDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
};

// The application's style with dotted lines joining each item to its parent
// and siblings; selection highlights only the item, not its branch area.
class TreeLinesStyle final : public QProxyStyle {
 public:
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override;
};

}  // namespace tslflash
