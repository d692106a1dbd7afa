// The tool's pictures, drawn by resources/make_artwork.py and compiled into
// the program.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace tslflash {

// Each cell of the tree's image strip.
inline constexpr QSize kTreeImageSize{16, 17};

// The window icon, 32 and 16 pixels.
QIcon WindowIcon();
// Cell `index` of the tree's strip (kRootImage, kDriveImage of the view),
// transparent where the strip is pure red.
QPixmap TreeImage(int index);

}  // namespace tslflash
