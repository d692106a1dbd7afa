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
// The window menu's item beside About that saves the support report, the
// file name it suggests, and the box when the file cannot be written (the
// text is followed by the reason).
inline constexpr std::string_view kSaveReportItem = "Save report...";
inline constexpr std::string_view kSaveReportFileName = "tslflash-report.txt";
inline constexpr std::string_view kSaveReportFileFilter = "Text files (*.txt)";
inline constexpr std::string_view kSaveReportCaption = "Save report";
inline constexpr std::string_view kSaveReportFailed = "The report could not be saved: ";

// ---- Drive commands and transports ---------------------------------------------------

inline constexpr std::string_view kUnitAttentionText =
    "The drive kept reporting a unit attention; the tray could not be checked.";
inline constexpr std::string_view kHandshakeRefusedText = "This Model is not support.";
inline constexpr std::string_view kAspiCannotLoad = "Can't load WNASPI32.DLL!!";
inline constexpr std::string_view kAspiUnexpectedFailure = "Unexpected ASPI Failure";

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

// ---- Update run --------------------------------------------------------------

inline constexpr std::string_view kConfirmText = "Do you really want to upgrade ?";
inline constexpr std::string_view kRestartText =
    "Upgrade completed! Do you want to Restart the computer Now ?";
inline constexpr std::string_view kExternalDriveNote =
    "\n\nIf your device is an external model (USB/1394), please also cycle power on your device "
    "to ensure it will function properly.";
inline constexpr std::string_view kUpdatedText = "\n Firmware has been updated successfully !   \n";
inline constexpr std::string_view kRebootText = "\n Your computer needs to be rebooted.    \n";
inline constexpr std::string_view kNotDecompressed =
    "The firmware image could not be decompressed.";
inline constexpr std::string_view kNothingSent =
    "Nothing was sent to the drive; its firmware is unchanged.";
inline constexpr std::string_view kUnknownProtocol =
    "The package names an unknown transfer protocol.";
inline constexpr std::string_view kImageTooShortLine = "The image is too short for this transfer.";
inline constexpr std::string_view kImageTooLongLine = "The image is too long for this transfer.";
inline constexpr std::string_view kNotTwoBanksLine =
    "The image does not fill this drive's two 64 KiB banks.";
inline constexpr std::string_view kLinearSumLine = "Linear CheckSum : ";
inline constexpr std::string_view kRotatedSumLine = "Rotated CheckSum : ";
inline constexpr std::string_view kSumsMatchLine = "Check Sum match !!";
inline constexpr std::string_view kPartialPageLineStart =
    "The inflated image does not end on a whole page (";
inline constexpr std::string_view kPartialPageLineEnd = " bytes left over); it is not sent.";
inline constexpr std::string_view kStartLine = "Start to upgrade...";
inline constexpr std::string_view kPowerLine = "Don't turn off the power!!";
inline constexpr std::string_view kSucceedLine = "======== SUCCEED ========";
inline constexpr std::string_view kDoneLine = "Done";
inline constexpr std::string_view kRebootCaption = "Reboot Warning";
inline constexpr std::string_view kInformationCaption = "Information";
inline constexpr std::string_view kRestartLine = "Restart the computer";
// What the drive reports once it answers again after the transfer.
inline constexpr std::string_view kNowReportsLine = "The drive now reports firmware ";
inline constexpr std::string_view kStillReportsLine = "The drive still reports firmware ";
inline constexpr std::string_view kTakesEffectLater =
    ": the new firmware takes effect after a restart or power cycle.";
inline constexpr std::string_view kNoAnswerAfterUpdate =
    "The drive did not answer after the update.";
// The transfer's last command failed; what the drive reports decides.
inline constexpr std::string_view kNotAcknowledgedStart = "The drive did not acknowledge the ";
inline constexpr std::string_view kNotAcknowledgedEnd = ", but it reports the new firmware.";
inline constexpr std::string_view kClosingFailedStart = "The ";
inline constexpr std::string_view kClosingFailedStill =
    " failed and the drive still reports firmware ";
inline constexpr std::string_view kClosingFailedSilent =
    " failed and the drive did not answer after it.";
inline constexpr std::string_view kRebootFailBox = "Reboot Fail!!";

// ---- Outcomes and the dialog ------------------------------------------------------

inline constexpr std::string_view kCurrentFirmware = " Current firmware : ";
inline constexpr std::string_view kNotAllowed = "The drive is not allowed to be updated.";
inline constexpr std::string_view kEmulatedTitleSuffix = " [emulated drives]";
inline constexpr std::string_view kEmulatedNotice =
    "Emulated drives: no command reaches a real device.";
inline constexpr std::string_view kSamplePackageNotice =
    "This build carries a sample firmware package; it writes only to emulated drives.";
inline constexpr std::string_view kSamplePackageReason =
    "this build carries a sample package, which never goes to a real drive";
inline constexpr std::string_view kTransferFailedBox =
    "Updating incomplete or interrupted! \n\nPlease retry after rebooting your computer and "
    "ensure the drive is\nproperly installed and detected by the operating system.\nAlso remove "
    "any media from the drive.\n\nIt is highly recommended to terminate all applications before "
    "updating.\n\nIf the problem persists, please contact product support.";
inline constexpr std::string_view kUserCancelledLine = "User cancelled.";
inline constexpr std::string_view kSumsMismatchLine = "Check Sum not match !!";
inline constexpr std::string_view kSumsMismatchBox = "CheckSum not match !!";
inline constexpr std::string_view kCommandFailLine = "On Command Fail !!";
inline constexpr std::string_view kCommandFailBox = "Command Fail.";
inline constexpr std::string_view kFailLine = "======== FAIL ========";
inline constexpr std::string_view kNoDowngradeLine = "UPGRADE Only! Can't downgrade this drive.";
inline constexpr std::string_view kInitialFailBox = "Initial fail.";
inline constexpr std::string_view kNoDeviceBox = "No Device found!";
inline constexpr std::string_view kDiscInDriveText =
    "The update cannot proceed because there is a disc in the selected drive. Remove the "
    "disc and retry the operation.";

// ---- Run guard, restart and start-up ------------------------------------------------

inline constexpr std::string_view kRestartAnnouncement =
    "Restart requested: an emulated run does not restart the computer.";

inline constexpr std::string_view kHeldNotice =
    "tslflash: firmware is being written; the signal is held until the update has ended.\n";

// Logged once when the machine could not be kept awake for the run.
inline constexpr std::string_view kSleepNotBlocked =
    "Sleep and shutdown are not blocked during the update.";

inline constexpr std::string_view kRaisedPrivilegesLine =
    "tslflash: started with raised privileges; the window is not offered, using the terminal.";

inline constexpr std::string_view kDialogTitle = "Flash Tool (ver. A-7.8)";

inline constexpr std::string_view kVariantTitlePrefix = "Flash Program for ";

// ---- Start-up warning --------------------------------------------------------------

inline constexpr std::string_view kWarningNx =
    "1.Please remove any media from the device.\n\n2.Please DO NOT turn off power while "
    "upgrading.\n\n3.Please ensure the device is properly installed and DO NOT remove "
    "the device while upgrading.\n\n4.Please ensure all current applications are "
    "terminated before proceed upgrading.";
inline constexpr std::string_view kWarningKv =
    "1.Please DO NOT turn off power while upgrading.\n\n2.Please execute this program "
    "again if power has been turned off accidentally while upgrading.\n\n3.Please "
    "ensure the device is properly installed and DO NOT remove the device while "
    "upgrading.\n\n4.Please ensure all current applications are terminated before "
    "proceed upgrading.";
// The VARN tool's warning: start, the drive's name, end.
inline constexpr std::string_view kWarningVrStart = "This flash utility only supports ";
inline constexpr std::string_view kWarningVrEnd =
    " drive.\n\nNOTICE :\n\n1> Please REMOVE disc and close all applications before "
    "running this utility !   \n2> Don't turn off the system while flash is in "
    "porgress.\n\nDo you wish to continue ?";
inline constexpr std::string_view kWarningOther =
    "1.Please DO NOT turn off power while upgrading.\n\n2.Please ensure the device is "
    "properly installed and DO NOT remove the device while upgrading.\n\n3.Please "
    "ensure all current applications are terminated before proceed upgrading.";

// ---- Model-code blocks left changed --------------------------------------------------
// "The drive's model-code blocks 02h and 24h were changed and have not been restored."

inline constexpr std::string_view kBlockChangedOne = "The drive's model-code block ";
inline constexpr std::string_view kBlocksChangedMany = "The drive's model-code blocks ";
inline constexpr std::string_view kBlockWasChanged = " was changed and ";
inline constexpr std::string_view kBlocksWereChanged = " were changed and ";
inline constexpr std::string_view kBlockNotRestored = "has not been restored.";
inline constexpr std::string_view kBlocksNotRestored = "have not been restored.";
inline constexpr std::string_view kBlocksRestoreFailed = "could not be restored.";

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
