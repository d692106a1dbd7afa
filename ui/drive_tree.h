// The drive tree: one root, one child per registered drive, drives the
// package is not meant for greyed; selecting a drive describes it in the log
// pane and enables Upgrade.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "package/package_layout.h"
#include "transport/drive_registry.h"
#include "ui/dialog_view.h"

namespace tslflash {

inline constexpr Rgb kGreyedDrive{125, 125, 125};
inline constexpr std::string_view kTreeRootText = "My Computer";
inline constexpr std::string_view kNoDriveSelectedText = "No drive selected.";

// What the tree leaves for the Upgrade handler.
struct DriveSelection {
  static constexpr std::size_t kTextCapacity = 59;  // a 60-byte buffer with its terminator
  std::string selectedDriveText;                    // vendor+product (24), revision (4)
  std::uint32_t selectedDriveIndex = 0;
  std::array<char, 10> selectedModelCode{};  // zero-terminated when shorter than 10
};

// With `greyEvery`, every drive is greyed whatever the package says: the
// build may not write to any of them.
void FillDriveTree(DialogView& view, DriveRegistry& registry, const PackageHeaderCopy& header,
                   DriveSelection& selection, bool greyEvery);
void OnDriveSelChanged(DialogView& view, const PackageHeaderCopy& header,
                       DriveSelection& selection);

}  // namespace tslflash
