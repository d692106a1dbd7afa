#include "package/image_areas.h"

#include <algorithm>
#include <array>

namespace tslflash {
namespace {

struct ImageAreas {
  std::array<std::uint8_t, kImageAreaSize> staging{};
  std::array<std::uint8_t, kImageAreaSize> work{};
  std::size_t stagedLength = 0;
};

ImageAreas& Areas() {
  static ImageAreas areas;
  return areas;
}

}  // namespace

ImageArea StagingArea() { return ImageArea(Areas().staging); }
ImageArea WorkArea() { return ImageArea(Areas().work); }
std::size_t StagedLength() { return Areas().stagedLength; }
void SetStagedLength(std::size_t length) {
  Areas().stagedLength = std::min(length, kImageAreaSize);
}

}  // namespace tslflash
