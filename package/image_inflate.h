// Decompression of a staged image for the summed-pages transfer: a zlib
// stream that starts at byte 4 of the image is inflated into a buffer the
// result owns, and the whole 16 KiB pages produced are sent.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace tslflash {

inline constexpr std::uint16_t kInflateError = 0xFFFF;

enum class InflateFeed {
  WholeInput,   // one call over all input, output bounded by the largest image
  BytePerCall,  // one byte of input and one byte of output space per call
};

// The inflated image, in a buffer of its own.
struct InflatedImage {
  std::uint16_t pages = kInflateError;  // whole pages produced, or kInflateError
  std::uint32_t length = 0;             // bytes produced, a final partial page included
  std::unique_ptr<std::uint8_t[]> bytes;

  bool Ok() const { return pages != kInflateError; }
  // The whole pages, ready to send.
  std::span<const std::uint8_t> Pages() const;
};

// Inflates n = pageCount * 16384 - 132 bytes of `image` from its byte 4 on
// (the 4 leading bytes and the last 128 bytes of its whole pages are not part
// of the stream, and are not read). Fails (kInflateError) when n is not
// positive, exceeds the image, the stream is broken, does not end within its n
// bytes (only its end proves, by its check value, that every byte came out
// right), or its output would be larger than the largest image; a partly
// inflated image is never reported as pages. Bytes after the stream's end are
// not read. Both feeds give the same pages.
[[nodiscard]] InflatedImage InflateImage(std::span<const std::uint8_t> image,
                                         std::uint8_t pageCount, InflateFeed feed);

}  // namespace tslflash
