// What eligibility decides for the run that follows: how the drive's
// model-code blocks are handled. The drive's model code itself lives in the
// tree's DriveSelection (the tree and eligibility both write it).
#pragma once

#include <cstdint>

#include "transport/drive_commands.h"

namespace tslflash {

struct UpdatePlan {
  std::uint32_t modelCodeByte = 0;   // 0, 5 or 48; only the low byte is sent
  bool storeModelCodeFlag = false;   // store the byte before the transfer, restore it after
  bool verifyModelCodeFlag = false;  // check the hardware class before the transfer
  // The blocks the TK530B preset wrote, with their bytes before: a run that
  // ends before the image is sent puts them back.
  ChangedBlocks presetBlocks;
};

}  // namespace tslflash
