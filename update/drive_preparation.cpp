#include "update/drive_preparation.h"

#include "resources/texts.h"
#include "transport/command_text.h"

namespace tslflash {
namespace {

// Images this long never go to a small-buffer drive of code 0.
constexpr std::uint8_t kSmallBufferPageLimit = 128;

std::string BlockNames(const ChangedBlocks& changed) {
  std::string names;
  const auto& blocks = changed.List();
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    if (i > 0) names += i + 1 == blocks.size() ? " and " : ", ";
    names += HexByte(blocks[i].number) + "h";
  }
  return names;
}

}  // namespace

bool StoreModelCodeBlocks(DriveCommands& commands, std::uint8_t modelCode, bool marker,
                          ChangedBlocks& changed) {
  for (const std::uint8_t block : {kModelBlockPrimary, kModelBlockSecondary}) {
    if (commands.StoreModelCode(modelCode, block, marker, &changed) == kStoreModelCodeFailed) {
      return false;
    }
  }
  return true;
}

std::optional<std::uint8_t> ReadModelCodeReported(DriveCommands& commands, RunEvents& events) {
  const ModelCodeReading reading = commands.ReadModelCode();
  switch (reading.failure) {
    case ModelCodeFailure::HandshakeRefused:
      events.Outcome(OutcomeCode::ChecksumMismatch);
      break;
    case ModelCodeFailure::ReadFailed:
      events.Outcome(OutcomeCode::CommandFailed);
      break;
    case ModelCodeFailure::None:
      break;
  }
  return reading.code;
}

std::optional<bool> CheckHardwareClass(DriveCommands& commands, RunEvents& events,
                                       std::uint8_t modelCode, std::uint8_t pageCount) {
  switch (commands.ReadBufferSize()) {
    case BufferSizeAnswer::Unknown:
      events.Outcome(OutcomeCode::CommandFailed);
      return std::nullopt;
    case BufferSizeAnswer::Large:
      return modelCode == kModelCodeZero;
    case BufferSizeAnswer::Smaller:
      break;
  }
  switch (modelCode) {
    case kModelCodeZero: {
      if (pageCount >= kSmallBufferPageLimit) return false;
      // The read stays in the sequence the drives are used to; its answer
      // decides nothing, but a drive that cannot give it is not flashed.
      if (!ReadModelCodeReported(commands, events)) return std::nullopt;
      return true;
    }
    case kModelCodeFive:
    case kModelCodeDigitZero: {
      const std::optional<std::uint8_t> code = ReadModelCodeReported(commands, events);
      if (!code) return std::nullopt;
      return *code == modelCode;
    }
    default:
      return true;
  }
}

bool RestoreDriveSettings(DriveCommands& commands, std::uint8_t modelCode, ChangedBlocks& changed) {
  commands.WaitForDriveReady();
  for (const std::uint8_t block : {kModelBlockPrimary, kModelBlockSecondary}) {
    if (commands.StoreModelCode(modelCode, block, false) == kStoreModelCodeFailed) return false;
    changed.Forget(block);
  }
  return true;
}

bool RestoreChangedBlocks(DriveCommands& commands, ChangedBlocks& changed) {
  for (const ChangedBlocks::Block block : changed.List()) {
    if (commands.WriteParameterBlock(block.number, block.before)) changed.Forget(block.number);
  }
  return changed.Empty();
}

std::string ChangedBlocksLine(const ChangedBlocks& changed, BlocksLeft how) {
  const bool one = changed.List().size() == 1;
  const std::string_view left = how == BlocksLeft::NotRestored
                                    ? (one ? kBlockNotRestored : kBlocksNotRestored)
                                    : kBlocksRestoreFailed;
  return std::string(one ? kBlockChangedOne : kBlocksChangedMany) + BlockNames(changed) +
         std::string(one ? kBlockWasChanged : kBlocksWereChanged) + std::string(left);
}

}  // namespace tslflash
