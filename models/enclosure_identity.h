// Binds a package to one of the VARN internal drives by the enclosure
// identity the drive reports: the same drive is sold bare, under the VARN
// label, and inside external enclosures, and each takes its own firmware.
// Accepting drive A also picks the package layout to read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

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
// of the process: the layout to read it with, and the copy of its extension.
struct PackageState {
  PackageForm form = PackageForm::Plain;
  PackageExtensionCopy extension{};
};

// Sends one extended INQUIRY to the selected drive, which the caller found to
// be `drive`. True when the drive's enclosure identity and the package belong
// together. Only an accepted drive A changes `state`; a failed INQUIRY or a
// package too short to hold an extension is a refusal that leaves it as it was.
[[nodiscard]] bool CheckEnclosureIdentity(const InternalDrive& drive, DriveCommands& commands,
                                          const FirmwarePackage& package, PackageState& state);

}  // namespace tslflash
