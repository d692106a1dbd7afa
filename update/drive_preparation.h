// The model-code steps around a summed-pages transfer: the drive's two
// model-code blocks are marked before it and put back after it, and the
// drive's hardware class is checked against the model code eligibility chose.
#pragma once

#include <cstdint>

#include "transport/drive_commands.h"

namespace tslflash {

// Writes the code into block 02h, then 24h, with the run's marker or without
// it; false at the first block that was not stored.
[[nodiscard]] bool StoreModelCodeBlocks(DriveCommands& commands, std::uint8_t modelCode,
                                        bool marker);
// True when an image of pageCount pages may go to this drive's hardware. A
// drive that does not say what buffer it has is refused.
[[nodiscard]] bool CheckHardwareClass(DriveCommands& commands, std::uint8_t modelCode,
                                      std::uint8_t pageCount);
// Lets the drive settle after its firmware restart, then stores both blocks
// again without the marker.
[[nodiscard]] bool RestoreDriveSettings(DriveCommands& commands, std::uint8_t modelCode);

}  // namespace tslflash
