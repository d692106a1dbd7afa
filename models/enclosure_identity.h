// Binds a package to one of the VARN internal drives by the enclosure
// identity the drive reports: the same drive is sold bare, under the VARN
// label, and inside external enclosures, and each takes its own firmware.
// Accepting drive A also picks the package layout to read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "models/internal_drives.h"
#include "package/firmware_package.h"
#include "package/package_form.h"
#include "package/package_layout.h"
#include "transport/drive_commands.h"

namespace tslflash {

// Extended INQUIRY bytes 96-107: a 10-character enclosure product name, then
// a 2-letter brand mark; zero bytes when the drive does not report one.
inline constexpr std::size_t kEnclosureIdentityOffset = 96;
inline constexpr std::size_t kEnclosureIdentityLength = 12;

// What the eligibility check decides about the embedded package for the rest
// of the process: the layout to read it with, and the copy of its extension;
// and the identity it was decided by, which the update's record keeps.
struct PackageState {
  PackageForm form = PackageForm::Plain;
  PackageExtensionCopy extension{};
  std::string enclosureIdentity;  // without its padding; empty until a drive reports one
};

// Sends one extended INQUIRY to the selected drive, which the caller found to
// be `drive`. True when the drive's enclosure identity and the package belong
// together. The identity the drive reports is kept in `state`; otherwise only
// an accepted drive A changes it. A failed INQUIRY or a package too short to
// hold an extension is a refusal.
[[nodiscard]] bool CheckEnclosureIdentity(const InternalDrive& drive, DriveCommands& commands,
                                          const FirmwarePackage& package, PackageState& state);

}  // namespace tslflash
