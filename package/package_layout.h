// Byte layout of the embedded firmware package: the 64-byte header, the
// 14-byte extension of the extended layout, and the 4-byte trailer. All
// numbers inside the package are little-endian.
//
//   plain:     header | image (imageLength)                                  | trailer
//   extended:  header | extension | image | 40 unread bytes | second image | trailer
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tslflash {

inline constexpr std::size_t kHeaderSize = 64;
// The maker's tag that starts every package.
inline constexpr std::string_view kPackageTag = "KOVA";
// No image, as stored or inflated, is larger than this.
inline constexpr std::size_t kImageAreaSize = 2 * 1024 * 1024;
inline constexpr std::size_t kExtensionSize = 14;
inline constexpr std::size_t kTrailerSize = 4;

using PackageHeaderCopy = std::array<std::uint8_t, kHeaderSize>;
using PackageExtensionCopy = std::array<std::uint8_t, kExtensionSize>;

namespace layout {

struct Field {
  std::size_t offset;
  std::size_t width;
};

// True when the fields follow each other without gap or overlap and end at size.
template <std::size_t N>
constexpr bool Tiles(const std::array<Field, N>& fields, std::size_t size) {
  std::size_t next = 0;
  for (const Field& field : fields) {
    if (field.offset != next) return false;
    next += field.width;
  }
  return next == size;
}

// Header, package offsets 0..63.
inline constexpr Field kTag{0, 4};            // "KOVA"
inline constexpr Field kProtocolDigit{4, 1};  // '0'..'4'
inline constexpr Field kTagTerminator{5, 3};  // zero
inline constexpr Field kInquiryId{8, 28};     // vendor 8, product 16, revision 4
inline constexpr Field kInquiryTerminator{36, 2};
inline constexpr Field kAltProductId{38, 16};
inline constexpr Field kAltProductTerminator{54, 2};
inline constexpr Field kImageSumLinear{56, 2};
inline constexpr Field kImageSumRotated{58, 2};
inline constexpr Field kImageLength{60, 4};
static_assert(Tiles(std::array{kTag, kProtocolDigit, kTagTerminator, kInquiryId, kInquiryTerminator,
                               kAltProductId, kAltProductTerminator, kImageSumLinear,
                               kImageSumRotated, kImageLength},
                    kHeaderSize));

// Parts of inquiryId, offsets inside it: the drive the package is for
// (vendor 8, product 16), then the package's revision.
inline constexpr Field kPackageId{0, 24};
inline constexpr Field kPackageRevision{24, 4};
static_assert(Tiles(std::array{kPackageId, kPackageRevision}, kInquiryId.width));

// Parts of altProductId, offsets inside it.
inline constexpr Field kAltProductName{0, 10};
inline constexpr Field kVariantMark{10, 2};
inline constexpr Field kRevisionPattern{12, 4};
static_assert(Tiles(std::array{kAltProductName, kVariantMark, kRevisionPattern},
                    kAltProductId.width));

// Extension, offsets inside it (package offsets 64..77).
inline constexpr Field kExtRevision{0, 6};
inline constexpr Field kExtSumLinear{6, 2};
inline constexpr Field kExtSumRotated{8, 2};
inline constexpr Field kExtImageLength{10, 4};
static_assert(Tiles(std::array{kExtRevision, kExtSumLinear, kExtSumRotated, kExtImageLength},
                    kExtensionSize));

// Trailer, offsets from its start P.
inline constexpr Field kTrailerLinear{0, 2};
inline constexpr Field kTrailerRotated{2, 2};
static_assert(Tiles(std::array{kTrailerLinear, kTrailerRotated}, kTrailerSize));

inline constexpr std::size_t kPlainImageOffset = kHeaderSize;
inline constexpr std::size_t kExtendedImageOffset = kHeaderSize + kExtensionSize;
inline constexpr std::size_t kImageGap = 40;  // between the two images, never read
// The second image starts at imageLength + kSecondImageBase.
inline constexpr std::size_t kSecondImageBase = kExtendedImageOffset + kImageGap;
static_assert(kExtendedImageOffset == 78 && kSecondImageBase == 118);

}  // namespace layout

// No package is larger than the extended layout with both images filling
// their 2 MiB areas; a reader refuses larger files before holding them.
inline constexpr std::size_t kLargestPackage =
    layout::kSecondImageBase + 2 * kImageAreaSize + kTrailerSize;
// Nor smaller than a header and a trailer around an empty image.
inline constexpr std::size_t kSmallestPackage = kHeaderSize + kTrailerSize;

struct PackageHeader {
  std::array<char, layout::kTag.width> tag{};
  char protocolDigit = 0;
  std::array<char, layout::kInquiryId.width> inquiryId{};
  std::array<char, layout::kAltProductId.width> altProductId{};
  std::uint16_t imageSumLinear = 0;
  std::uint16_t imageSumRotated = 0;
  std::uint32_t imageLength = 0;
  friend bool operator==(const PackageHeader&, const PackageHeader&) = default;
};

struct PackageExtension {
  std::array<char, layout::kExtRevision.width> extRevision{};
  std::uint16_t extSumLinear = 0;
  std::uint16_t extSumRotated = 0;
  std::uint32_t extImageLength = 0;
  friend bool operator==(const PackageExtension&, const PackageExtension&) = default;
};

// The three parts of altProductId.
std::string_view AltProductName(const PackageHeader& header);
std::string_view VariantMark(const PackageHeader& header);
std::string_view RevisionPattern(const PackageHeader& header);

// The terminator bytes between fields are written as zero and not kept.
PackageHeader DecodeHeader(const PackageHeaderCopy& bytes);
PackageHeaderCopy EncodeHeader(const PackageHeader& header);
PackageExtension DecodeExtension(const PackageExtensionCopy& bytes);
PackageExtensionCopy EncodeExtension(const PackageExtension& extension);

// The 14 bytes after the header, or nothing when the package is shorter; the
// header itself is read by ParseFirmwarePackage.
std::optional<PackageExtensionCopy> ExtensionCopyOf(std::span<const std::uint8_t> package);

std::uint16_t ReadLe16(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint32_t ReadLe32(std::span<const std::uint8_t> bytes, std::size_t offset);
void WriteLe16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value);
void WriteLe32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value);

}  // namespace tslflash
