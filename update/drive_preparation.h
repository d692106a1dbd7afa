// The model-code steps around a summed-pages transfer: the drive's two
// model-code blocks are marked before it and put back after it, and the
// drive's hardware class is checked against the model code eligibility chose.
// Blocks changed by the tool are remembered with the bytes they held, so that
// a run that ends before sending the image can give them back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "transport/drive_commands.h"
#include "update/run_events.h"

namespace tslflash {

// Writes the code into block 02h, then 24h, with the run's marker or without
// it; false at the first block that was not stored. Every block written to
// is noted in `changed` with its bytes before.
[[nodiscard]] bool StoreModelCodeBlocks(DriveCommands& commands, std::uint8_t modelCode,
                                        bool marker, ChangedBlocks& changed);
// The drive's model code; nothing when it gave none, which has been reported:
// a refused handshake as outcome 3, a read that failed or timed out as 4.
[[nodiscard]] std::optional<std::uint8_t> ReadModelCodeReported(DriveCommands& commands,
                                                                RunEvents& events);

// True when an image of pageCount pages may go to this drive's hardware.
// Nothing when the drive did not answer what the decision needs; that has
// been reported (outcome 4, or the model-code read's own report).
[[nodiscard]] std::optional<bool> CheckHardwareClass(DriveCommands& commands, RunEvents& events,
                                                     std::uint8_t modelCode,
                                                     std::uint8_t pageCount);
// Lets the drive settle after its firmware restart, then stores both blocks
// again without the marker; each block stored is no longer `changed`.
[[nodiscard]] bool RestoreDriveSettings(DriveCommands& commands, std::uint8_t modelCode,
                                        ChangedBlocks& changed);
// Writes every changed block's old bytes back; the blocks that could not be
// written stay in `changed`. True when none is left.
[[nodiscard]] bool RestoreChangedBlocks(DriveCommands& commands, ChangedBlocks& changed);

enum class BlocksLeft : std::uint8_t {
  NotRestored,    // nothing was tried: the image was sent, or sending it failed
  RestoreFailed,  // putting them back failed
};
// The log line naming the blocks left changed, e.g. "The drive's model-code
// blocks 02h and 24h were changed and have not been restored."
[[nodiscard]] std::string ChangedBlocksLine(const ChangedBlocks& changed, BlocksLeft how);

}  // namespace tslflash
