#include "models/enclosure_identity.h"

#include <array>
#include <string_view>

#include "models/field_text.h"

namespace tslflash {
namespace {

// A drive sold under the VARN label reports the brand name instead of an
// enclosure product name.
constexpr std::string_view kVarnLabel = "VARN      VR";
constexpr std::string_view kEpx402Ux = "EPX-402UX VR";
constexpr std::string_view kEpx402Uxt = "EPX-402UXTVR";
constexpr std::string_view kEpx412Ux = "EPX-412UX VR";
constexpr std::size_t kEnclosureNameLength = 10;

// A package made for an enclosure carries its product name in altProductName.
bool NamesEnclosure(std::string_view altProductName, std::string_view identity) {
  return altProductName.substr(0, kEnclosureNameLength) == identity.substr(0, kEnclosureNameLength);
}

bool IsForDrive(const InternalDrive& drive, const FirmwarePackage& package) {
  const std::string_view packageId = package.PackageId();
  return packageId == drive.driveId || packageId.front() == '*';
}

// The bare drive and the VARN-labelled one take the extended package; which of
// its two images is sent depends on the label.
bool AcceptDriveA(std::string_view identity, const FirmwarePackage& package, PackageState& state) {
  const std::string_view altProductName = package.AltProductName();
  if (identity == kEpx402Ux || identity == kEpx402Uxt) {
    return NamesEnclosure(altProductName, identity);
  }
  if (!altProductName.starts_with(kInternalDriveA.modelCode)) return false;
  const auto extension = ExtensionCopyOf(package.bytes);
  if (!extension) return false;
  state.form = identity == kVarnLabel ? PackageForm::Varn2340 : PackageForm::Varn2300;
  state.extension = *extension;
  return true;
}

// Drive B is only sold under the VARN label.
bool AcceptDriveB(std::string_view identity, const FirmwarePackage& package) {
  return identity == kVarnLabel && package.AltProductName().starts_with(kInternalDriveB.modelCode);
}

bool AcceptDriveC(std::string_view identity, const FirmwarePackage& package) {
  const std::string_view altProductName = package.AltProductName();
  if (identity == kEpx412Ux) return NamesEnclosure(altProductName, identity);
  return altProductName.starts_with(kInternalDriveC.modelCode);
}

}  // namespace

bool CheckEnclosureIdentity(const InternalDrive& drive, DriveCommands& commands,
                            const FirmwarePackage& package, PackageState& state) {
  std::array<std::uint8_t, DriveCommands::kExtendedInquiryLength> reply{};
  if (commands.ReadExtendedInquiry(reply) != CommandResult::Completed) return false;
  const std::string_view identity(
      reinterpret_cast<const char*>(reply.data()) + kEnclosureIdentityOffset,
      kEnclosureIdentityLength);
  state.enclosureIdentity = UnpaddedField(identity);
  if (!IsForDrive(drive, package)) return false;
  switch (drive.letter) {
    case InternalDriveLetter::A:
      return AcceptDriveA(identity, package, state);
    case InternalDriveLetter::B:
      return AcceptDriveB(identity, package);
    case InternalDriveLetter::C:
      return AcceptDriveC(identity, package);
  }
  return false;
}

}  // namespace tslflash
