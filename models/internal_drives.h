// The three OEM internal drives of the VARN brand. Each is also sold inside
// external enclosures whose product name the drive reports in its extended
// INQUIRY data, and a package may be made for the bare drive or for one
// enclosure.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string_view>

#include "package/firmware_package.h"

namespace tslflash {

enum class InternalDriveLetter : char { A = 'A', B = 'B', C = 'C' };

struct InternalDrive {
  InternalDriveLetter letter;
  std::string_view driveId;      // 24 characters
  std::string_view displayName;  // shown in the window title of variant 30
  std::string_view modelCode;    // 6 characters
  // 10-character enclosure product names, blank padded.
  std::span<const std::string_view> enclosureNames;
};

inline constexpr std::array<std::string_view, 2> kDriveAEnclosureNames = {"EPX-402UX ",
                                                                          "EPX-402UXT"};
inline constexpr std::array<std::string_view, 2> kDriveCEnclosureNames = {"EPX-412UX ",
                                                                          "EPX-412UXT"};

inline constexpr InternalDrive kInternalDriveA = {
    InternalDriveLetter::A, "VARN    DVD RW LPX-402A ", "VARN DVD RW LPX-402A", "TX2300",
    kDriveAEnclosureNames};
inline constexpr InternalDrive kInternalDriveB = {
    InternalDriveLetter::B, "VARN    DVD RW LPX-407A ", "VARN DVD RW LPX-407A", "TX2350", {}};
inline constexpr InternalDrive kInternalDriveC = {
    InternalDriveLetter::C, "VARN    DVD RW LPX-412A ", "VARN DVD RW LPX-412A", "TX2370",
    kDriveCEnclosureNames};

// In the order A, B, C.
inline constexpr std::array<InternalDrive, 3> kInternalDrives = {kInternalDriveA, kInternalDriveB,
                                                                 kInternalDriveC};

// The internal drive with this 24-character id, if it is one.
std::optional<InternalDrive> FindInternalDrive(std::string_view driveId);

// The display name of the internal drive that the package's altProductName
// designates, by its model code (first 6 characters) or an enclosure name
// (first 10); A is tried first, then B, then C.
std::optional<std::string_view> PackageDriveName(const FirmwarePackage& package);

}  // namespace tslflash
