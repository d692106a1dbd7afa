// The dialog's string-table entries: resource id and text.
#pragma once

#include <cstdint>
#include <string_view>

namespace tslflash {

struct StringTableEntry {
  std::uint16_t id;
  std::string_view text;
};

// System-menu item that opens the About box.
inline constexpr StringTableEntry kStringAboutItem = {101, "About flash(&A)..."};
// The captions that variant 30 gives the main dialog.
inline constexpr StringTableEntry kStringSelectDrive = {102, "Please select target &Drive:"};
inline constexpr StringTableEntry kStringClose = {103, "&Close"};
inline constexpr StringTableEntry kStringUpdate = {104, "&Update"};

}  // namespace tslflash
