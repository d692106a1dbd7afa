#include "ui/qt/artwork.h"

#include <QImage>
#include <QString>

// The pictures live in a static library: nothing else pulls their registration
// into the program, so it is asked for by name. Outside any namespace, as the
// macro requires.
static void RegisterArtwork() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(tslflash);
    return true;
  }();
  (void)registered;
}

namespace tslflash {
namespace {

constexpr QRgb kStripTransparent = qRgb(255, 0, 0);

QPixmap LoadPicture(const char* name) {
  RegisterArtwork();
  return QPixmap(QStringLiteral(":/tslflash/") + QString::fromLatin1(name));
}

}  // namespace

QIcon WindowIcon() {
  QIcon icon;
  icon.addPixmap(LoadPicture("tslflash_32.png"));
  icon.addPixmap(LoadPicture("tslflash_16.png"));
  return icon;
}

QPixmap TreeImage(int index) {
  QImage cell =
      LoadPicture("tree_images.png")
          .toImage()
          .copy(index * kTreeImageSize.width(), 0, kTreeImageSize.width(), kTreeImageSize.height())
          .convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < cell.height(); ++y) {
    for (int x = 0; x < cell.width(); ++x) {
      if (cell.pixel(x, y) == kStripTransparent) cell.setPixel(x, y, qRgba(0, 0, 0, 0));
    }
  }
  return QPixmap::fromImage(cell);
}

}  // namespace tslflash
