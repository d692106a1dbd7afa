#include "models/internal_drives.h"

#include <algorithm>

namespace tslflash {
namespace {

bool Designates(const InternalDrive& drive, std::string_view altProductName) {
  return altProductName.starts_with(drive.modelCode) ||
         std::ranges::find(drive.enclosureNames, altProductName) != drive.enclosureNames.end();
}

}  // namespace

std::optional<InternalDrive> FindInternalDrive(std::string_view driveId) {
  const auto drive = std::ranges::find(kInternalDrives, driveId, &InternalDrive::driveId);
  if (drive == kInternalDrives.end()) return std::nullopt;
  return *drive;
}

std::optional<std::string_view> PackageDriveName(const FirmwarePackage& package) {
  const std::string_view altProductName = package.AltProductName();
  for (const InternalDrive& drive : kInternalDrives) {
    if (Designates(drive, altProductName)) return drive.displayName;
  }
  return std::nullopt;
}

}  // namespace tslflash
