// Decompression of a staged image for the summed-pages transfer: a zlib
// stream that starts at byte 4 of the StagingArea is inflated into the
// WorkArea, and the whole 16 KiB pages produced are sent.
#pragma once

#include <cstdint>

namespace tslflash {

inline constexpr std::uint16_t kInflateError = 0xFFFF;

enum class InflateFeed {
  WholeInput,   // one call over all input, output bounded by the WorkArea
  BytePerCall,  // one byte of input and one byte of output space per call
};

// Inflates n = pageCount * 16384 - 132 staged bytes (the 4 leading bytes of the
// image and the last 128 bytes of its whole pages are not part of the stream;
// the 4 leading bytes are not read). Returns the number of whole pages
// produced, or kInflateError when n is not positive, exceeds the staged bytes,
// the stream is broken, does not end within its n bytes (only its end proves,
// by its check value, that every byte came out right), or its output would not
// fit the WorkArea; a partly inflated image is never reported as pages. Bytes
// after the stream's end are not read. `inflatedBytes`, when given, receives
// the length of the whole inflated image, of which a final partial page is not
// counted in the pages. Both feeds give the same pages.
[[nodiscard]] std::uint16_t InflateImage(std::uint8_t pageCount, InflateFeed feed,
                                         std::uint32_t* inflatedBytes = nullptr);

}  // namespace tslflash
