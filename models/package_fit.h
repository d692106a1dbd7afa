// Whether the package is meant for a drive, as the drive list shows it: a
// drive it is not for is greyed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "package/firmware_package.h"

namespace tslflash {

// `driveText` is the drive's vendor and product (24 characters) and revision.
// A package for any drive of a model fits the drives the catalogue names as
// that model; any other package fits only the drive it names.
[[nodiscard]] bool PackageFitsDrive(std::string_view driveText, const FirmwarePackage& package);
// Why the package is not for the drive, one line; nothing when it is.
[[nodiscard]] std::optional<std::string> PackageMisfit(std::string_view driveText,
                                                       const FirmwarePackage& package);

}  // namespace tslflash
