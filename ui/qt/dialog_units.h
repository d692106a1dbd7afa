// The dialogs are laid out in dialog units, as their templates give them:
// horizontal units are a quarter of the dialog font's average character
// width, vertical units an eighth of its character height. Laying out from
// the font keeps every control's size in proportion with its text.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace tslflash {

// The dialogs' font: 9-point Arial, or Liberation Sans (same metrics) where
// Arial is not installed.
QFont DialogFont();

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  // From base units directly: a character `baseWidth` pixels wide on average
  // and `baseHeight` pixels high.
  DialogUnits(int baseWidth, int baseHeight) : baseWidth_(baseWidth), baseHeight_(baseHeight) {}

  int BaseWidth() const { return baseWidth_; }
  int BaseHeight() const { return baseHeight_; }

  int X(int units) const;
  int Y(int units) const;
  // Both corners are converted, so neighbouring controls stay flush.
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const;

 private:
  int baseWidth_;
  int baseHeight_;
};

}  // namespace tslflash
