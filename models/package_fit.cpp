#include "models/package_fit.h"

#include <string>

#include "models/field_text.h"
#include "models/model_catalogue.h"

namespace tslflash {
namespace {

constexpr char kAnyDrive = '*';
// A drive's id is compared with the package's whole.
static_assert(kDriveIdLength == layout::kPackageId.width);
// The model code field the catalogue's code is compared in.
constexpr std::size_t kModelCodeField = 9;

std::string_view UpToNul(std::string_view field) { return field.substr(0, field.find('\0')); }

}  // namespace

bool PackageFitsDrive(std::string_view driveText, const FirmwarePackage& package) {
  return !PackageMisfit(driveText, package);
}

std::optional<std::string> PackageMisfit(std::string_view driveText,
                                         const FirmwarePackage& package) {
  if (!package.HasMakerTag()) return "the package does not carry its tag";
  const std::string_view packageId = package.PackageId();
  std::string driveId(driveText.substr(0, kDriveIdLength));
  driveId.resize(kDriveIdLength, '\0');  // INQUIRY fields that hold zeros compare as zeros
  if (packageId.front() != kAnyDrive) {
    if (driveId == packageId) return std::nullopt;
    return "the package is for the drive \"" + std::string(UnpaddedField(packageId)) + "\" only";
  }
  const std::optional<std::string_view> code = LookUpModelCode(driveId);
  const std::string_view model = code ? UpToNul(code->substr(0, kModelCodeField)) : "";
  const std::string_view packageModel = UpToNul(package.AltProductName());
  if (model == packageModel) return std::nullopt;
  std::string reason = "the package is for model " + std::string(UnpaddedField(packageModel));
  if (model.empty()) return reason + "; the model catalogue does not know this drive";
  return reason + ", this drive is model " + std::string(model);
}

}  // namespace tslflash
