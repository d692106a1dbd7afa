#include "models/package_header_fields.h"

#include "models/model_catalogue.h"

namespace tslflash {
namespace {

constexpr std::string_view kPackageTag = "KOVA";

std::string_view TextAt(const PackageHeaderCopy& header, std::size_t offset, std::size_t width) {
  return {reinterpret_cast<const char*>(header.data()) + offset, width};
}

}  // namespace

std::string_view PackageIdOf(const PackageHeaderCopy& header) {
  return TextAt(header, layout::kInquiryId.offset, kDriveIdLength);
}

std::string_view AltProductNameOf(const PackageHeaderCopy& header) {
  return TextAt(header, layout::kAltProductId.offset + layout::kAltProductName.offset,
                layout::kAltProductName.width);
}

std::string_view VariantMarkOf(const PackageHeaderCopy& header) {
  return TextAt(header, layout::kAltProductId.offset + layout::kVariantMark.offset,
                layout::kVariantMark.width);
}

bool CheckPackageTag(const PackageHeaderCopy& header) {
  return TextAt(header, layout::kTag.offset, layout::kTag.width) == kPackageTag;
}

}  // namespace tslflash
