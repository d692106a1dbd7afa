#include "package/firmware_package.h"

#include <algorithm>

namespace tslflash {
namespace {

std::string_view PartOf(std::string_view text, layout::Field part) {
  return text.substr(part.offset, part.width);
}

}  // namespace

bool FirmwarePackage::HasMakerTag() const {
  return std::string_view(header.tag.data(), header.tag.size()) == kPackageTag;
}

std::string_view FirmwarePackage::InquiryId() const {
  return {header.inquiryId.data(), header.inquiryId.size()};
}

std::string_view FirmwarePackage::PackageId() const {
  return PartOf(InquiryId(), layout::kPackageId);
}

std::string_view FirmwarePackage::Revision() const {
  return PartOf(InquiryId(), layout::kPackageRevision);
}

std::string_view FirmwarePackage::AltProductName() const {
  return tslflash::AltProductName(header);
}

std::string_view FirmwarePackage::VariantMark() const { return tslflash::VariantMark(header); }

std::string_view FirmwarePackage::RevisionPattern() const {
  return tslflash::RevisionPattern(header);
}

FirmwarePackage ParseFirmwarePackage(std::span<const std::uint8_t> bytes) {
  FirmwarePackage package;
  package.bytes = bytes;
  std::copy_n(bytes.begin(), std::min(bytes.size(), package.headerCopy.size()),
              package.headerCopy.begin());
  package.header = DecodeHeader(package.headerCopy);
  return package;
}

}  // namespace tslflash
