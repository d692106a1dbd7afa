// Every text the tool shows: log lines, box texts and captions, in one place,
// so that the front ends and the Windows resources say the same thing.
#pragma once

#include <cstdint>
#include <string_view>

namespace tslflash {

// ---- Application and About box ----------------------------------------------

inline constexpr std::string_view kApplicationName = "TslFlash";
// The caption of every warning box.
inline constexpr std::string_view kWarningCaption = "Warning";
inline constexpr std::string_view kAboutCaption = "About Tessel Flash Tool";
inline constexpr std::string_view kAboutVersion = "Tessel Flash Ver. A-7.8";
inline constexpr std::string_view kAboutSecondLine = "Firmware update for CD/DVD drives";

// ---- Drive list ----------------------------------------------------------------

inline constexpr std::string_view kTreeRootText = "My Computer";
inline constexpr std::string_view kNoDriveSelectedText = "No drive selected.";

// ---- Upgrade checks ----------------------------------------------------------

inline constexpr std::string_view kNoDriveSelectedBox =
    "No drive selected.Please select a drive to flash!";
inline constexpr std::string_view kAlreadyUpdatedBox =
    "Your drive's firmware is already the most updated !    \n\nDo you wish to continue ?";
// The announcement before the model checks: " ==> New firmware Version : 1.07", or for
// the VARN tool "It will be updated from  1.02  To  1.07".
inline constexpr std::string_view kNewVersionLine = " ==> New firmware Version : ";
inline constexpr std::string_view kUpdatedFromLine = "It will be updated from  ";
inline constexpr std::string_view kUpdatedToLine = "  To  ";

// ---- String table: resource id and text ---------------------------------------

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
