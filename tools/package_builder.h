// Makes firmware packages: the package tool's build command, and fixture
// packages for tests. Every checksum is computed with the same code the
// update tool checks them with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tslflash {

struct SecondImageRecipe {
  std::vector<std::uint8_t> image;
  std::string extRevision;  // at most 6 characters, space padded
};

// Texts shorter than their field are space padded. altProductName may be NUL
// padded instead, as the drive maker's internal model codes are.
struct PackageRecipe {
  std::string tag = "KOVA";
  char protocolDigit = '0';
  std::string inquiryId;  // vendor 8, product 16, revision 4
  std::string altProductName;
  bool altProductNameNulPadded = false;
  std::string variantMark;
  std::string revisionPattern;
  std::vector<std::uint8_t> image;
  std::optional<SecondImageRecipe> second;  // present: extended layout
  bool deflate = false;  // store each image compressed for the summed-pages protocol
};

struct [[nodiscard]] BuildResult {
  std::vector<std::uint8_t> package;
  std::string error;  // one line; empty when the package was built
  bool Ok() const { return error.empty(); }
};

// Header sums cover the image range of the plain form, or of VARN_2300 in the
// extended layout; extension sums cover the range of VARN_2340.
BuildResult BuildPackage(const PackageRecipe& recipe);

// The bare zlib stream of raw, at the best compression; empty when zlib fails.
std::vector<std::uint8_t> DeflateStream(std::span<const std::uint8_t> raw);

// An image for the decompressing summed-pages transfer: the inflated length
// (4 bytes, little-endian; the update tool skips them), the zlib stream, then
// zeros up to whole 16 KiB pages. The page count is the smallest whose input
// window (pages * 16384 - 132 bytes after the first 4) holds the whole stream.
std::vector<std::uint8_t> PackDeflated(std::span<const std::uint8_t> raw);

// Deterministic bytes that look like firmware to a compressor: random runs,
// filled runs and repeats of earlier bytes, so they compress partly.
std::vector<std::uint8_t> SynthesizeImage(std::size_t size, std::uint64_t seed);

}  // namespace tslflash
