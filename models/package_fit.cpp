#include "models/package_fit.h"

#include <string>

#include "models/model_catalogue.h"
#include "models/package_header_fields.h"

namespace tslflash {
namespace {

constexpr char kAnyDrive = '*';
// The model code field the catalogue's code is compared in.
constexpr std::size_t kModelCodeField = 9;

std::string_view UpToNul(std::string_view field) { return field.substr(0, field.find('\0')); }

}  // namespace

bool PackageFitsDrive(std::string_view driveText, const PackageHeaderCopy& header) {
  if (!CheckPackageTag(header)) return false;
  const std::string_view packageId = PackageIdOf(header);
  std::string driveId(driveText.substr(0, kDriveIdLength));
  driveId.resize(kDriveIdLength, '\0');  // INQUIRY fields that hold zeros compare as zeros
  if (packageId.front() != kAnyDrive) return driveId == packageId;
  const std::optional<std::string_view> code = LookUpModelCode(driveId);
  const std::string_view model = code ? UpToNul(code->substr(0, kModelCodeField)) : "";
  return model == UpToNul(AltProductNameOf(header));
}

}  // namespace tslflash
