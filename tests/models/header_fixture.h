// Package headers for the identification tests, written through the
// package's own encoder so the field offsets are the package layout's, and
// packages that are that header alone.
#pragma once

#include <algorithm>
#include <string_view>

#include "package/firmware_package.h"
#include "package/package_layout.h"

namespace tslflash::testing {

// altProductName is copied as given and NUL padded to 10 bytes.
inline PackageHeaderCopy MakeHeader(std::string_view packageId, std::string_view altProductName,
                                    std::string_view variantMark = "VR",
                                    std::string_view tag = "KOVA") {
  PackageHeader header;
  std::ranges::copy(tag, header.tag.begin());
  std::ranges::copy(packageId, header.inquiryId.begin());
  std::ranges::copy(std::string_view("1.07"), header.inquiryId.begin() + 24);
  std::ranges::copy(altProductName, header.altProductId.begin());
  std::ranges::copy(variantMark, header.altProductId.begin() + layout::kVariantMark.offset);
  std::ranges::copy(std::string_view("1.**"),
                    header.altProductId.begin() + layout::kRevisionPattern.offset);
  return EncodeHeader(header);
}

// A package of a header alone, parsed as the dialog parses its package. It
// views its own bytes, so it is never copied.
struct HeaderOnlyPackage {
  explicit HeaderOnlyPackage(const PackageHeaderCopy& header)
      : bytes(header), package(ParseFirmwarePackage(bytes)) {}
  HeaderOnlyPackage(const HeaderOnlyPackage&) = delete;
  HeaderOnlyPackage& operator=(const HeaderOnlyPackage&) = delete;
  operator const FirmwarePackage&() const { return package; }  // NOLINT: read as the package
  const PackageHeaderCopy bytes;
  const FirmwarePackage package;
};

inline HeaderOnlyPackage MakePackage(std::string_view packageId, std::string_view altProductName,
                                     std::string_view variantMark = "VR",
                                     std::string_view tag = "KOVA") {
  return HeaderOnlyPackage(MakeHeader(packageId, altProductName, variantMark, tag));
}

}  // namespace tslflash::testing
