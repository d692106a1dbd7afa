#include "ui/qt/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QString>
#include <QStringList>

namespace tslflash {
namespace {

constexpr int kPointSize = 9;

// a * b / c rounded to the nearest integer, halves away from zero, for
// non-negative numbers.
int MulDiv(int a, int b, int c) { return (2 * a * b + c) / (2 * c); }

}  // namespace

QFont DialogFont() {
  const QString family = QFontDatabase::families().contains(QStringLiteral("Arial"))
                             ? QStringLiteral("Arial")
                             : QStringLiteral("Liberation Sans");
  return QFont(family, kPointSize);
}

// The average width is taken over the 52 Latin letters and rounded, the
// height is the font's full line height without leading.
DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseWidth_ = (letters / 26 + 1) / 2;
  baseHeight_ = metrics.height();
}

int DialogUnits::X(int units) const { return MulDiv(units, baseWidth_, 4); }

int DialogUnits::Y(int units) const { return MulDiv(units, baseHeight_, 8); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  const int left = X(x);
  const int top = Y(y);
  return {left, top, X(x + width) - left, Y(y + height) - top};
}

QSize DialogUnits::Size(int width, int height) const { return {X(width), Y(height)}; }

}  // namespace tslflash
