// The firmware package as the program holds it: its bytes and its header,
// read once, with the header's fields the drive list, the checks and the run
// read. How the rest is laid out depends on the drive (the layout the
// enclosure check picks), so the extension and the image are read per job.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "package/package_layout.h"

namespace tslflash {

struct FirmwarePackage {
  std::span<const std::uint8_t> bytes;
  // The first 64 bytes; what a package shorter than its header lacks reads
  // as zero.
  PackageHeaderCopy headerCopy{};
  PackageHeader header;

  // The bytes hold a whole header.
  bool HasWholeHeader() const { return bytes.size() >= kHeaderSize; }
  // True when the header starts with the maker's tag.
  bool HasMakerTag() const;
  // vendor, product and revision, as the drive's INQUIRY data gives them
  std::string_view InquiryId() const;
  // inquiryId without its revision: the drive the package is for, or a
  // leading '*' for a package made for any drive of a model.
  std::string_view PackageId() const;
  // The revision the package brings, the last 4 characters of inquiryId.
  std::string_view Revision() const;
  // 10 characters: a model code followed by NUL bytes, or an enclosure
  // product name padded with blanks.
  std::string_view AltProductName() const;
  // 2 letters that choose the tool variant.
  std::string_view VariantMark() const;
  // The drive revisions the package may replace, '*' for any character.
  std::string_view RevisionPattern() const;
  // '0'..'4': the transfer protocol.
  char ProtocolDigit() const { return header.protocolDigit; }
};

// The package's header read from its bytes; the value views `bytes`, which
// must outlive it.
[[nodiscard]] FirmwarePackage ParseFirmwarePackage(std::span<const std::uint8_t> bytes);

}  // namespace tslflash
