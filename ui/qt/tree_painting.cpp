#include "ui/qt/tree_painting.h"

#include <QPainter>
#include <QPen>
#include <QWidget>

namespace tslflash {
namespace {

bool HasOwnColour(const QModelIndex& index) { return index.data(Qt::ForegroundRole).isValid(); }

bool KeepsHighlight(const QStyleOptionViewItem& option) {
  return option.state.testFlag(QStyle::State_Selected) && option.widget != nullptr &&
         option.widget->hasFocus();
}

void DrawBranchLines(const QStyleOption& option, QPainter& painter) {
  const QRect& area = option.rect;
  const int midX = area.center().x();
  const int midY = area.center().y();
  painter.save();
  painter.setPen(QPen(option.palette.color(QPalette::Dark), 1, Qt::DotLine));
  if (option.state.testFlag(QStyle::State_Item)) {
    painter.drawLine(midX, midY, area.right(), midY);
    painter.drawLine(midX, area.top(), midX, midY);
  }
  if (option.state.testFlag(QStyle::State_Sibling)) {
    painter.drawLine(midX, area.top(), midX, area.bottom());
  }
  painter.restore();
}

}  // namespace

void TreeItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  QStyleOptionViewItem shown(option);
  // Without the selected state the style draws the item's own colour on the
  // tree's background.
  if (HasOwnColour(index) && !KeepsHighlight(option)) shown.state &= ~QStyle::State_Selected;
  QStyledItemDelegate::paint(painter, shown, index);
}

void TreeLinesStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                   QPainter* painter, const QWidget* widget) const {
  if (element == PE_IndicatorBranch) DrawBranchLines(*option, *painter);
  QProxyStyle::drawPrimitive(element, option, painter, widget);
}

int TreeLinesStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                              QStyleHintReturn* returnData) const {
  if (hint == SH_ItemView_ShowDecorationSelected) return 0;
  return QProxyStyle::styleHint(hint, option, widget, returnData);
}

}  // namespace tslflash
