// The two process-wide areas that hold the image of the current update run.
// They are static so staging needs no allocation; each run overwrites them.
// One run at a time uses them: the caller ensures that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tslflash {

inline constexpr std::size_t kImageAreaSize = 2 * 1024 * 1024;

using ImageArea = std::span<std::uint8_t, kImageAreaSize>;

// The image range as staged; the source of decompression.
ImageArea StagingArea();
// A second copy of the image range, overwritten by the inflated image.
ImageArea WorkArea();

// How many leading bytes of both areas the last staging filled; 0 when the
// last staging was refused. Decompression never reads beyond them.
std::size_t StagedLength();
void SetStagedLength(std::size_t length);

}  // namespace tslflash
