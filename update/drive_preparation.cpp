#include "update/drive_preparation.h"

namespace tslflash {
namespace {

// Images this long never go to a small-buffer drive of code 0.
constexpr std::uint8_t kSmallBufferPageLimit = 128;

}  // namespace

bool StoreModelCodeBlocks(DriveCommands& commands, std::uint8_t modelCode, bool marker) {
  return commands.StoreModelCode(modelCode, kModelBlockPrimary, marker) != kStoreModelCodeFailed &&
         commands.StoreModelCode(modelCode, kModelBlockSecondary, marker) != kStoreModelCodeFailed;
}

bool CheckHardwareClass(DriveCommands& commands, std::uint8_t modelCode, std::uint8_t pageCount) {
  switch (commands.ReadBufferSize()) {
    case BufferSizeAnswer::Unknown:
      return false;
    case BufferSizeAnswer::Large:
      return modelCode == kModelCodeZero;
    case BufferSizeAnswer::Smaller:
      break;
  }
  switch (modelCode) {
    case kModelCodeZero:
      if (pageCount >= kSmallBufferPageLimit) return false;
      // The read stays in the sequence the drives are used to; its answer
      // decides nothing.
      (void)commands.ReadModelCode();
      return true;
    case kModelCodeFive:
    case kModelCodeDigitZero:
      return commands.ReadModelCode() == modelCode;
    default:
      return true;
  }
}

bool RestoreDriveSettings(DriveCommands& commands, std::uint8_t modelCode) {
  commands.WaitForDriveReady();
  return StoreModelCodeBlocks(commands, modelCode, false);
}

}  // namespace tslflash
