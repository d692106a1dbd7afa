// A transfer command that failed, as one plain line for the log and the
// diagnostics: which command, what it carried and what the drive answered.
#pragma once

#include <string>

#include "update/run_events.h"

namespace tslflash {

// "page write failed on page 2 of 3: check condition, sense 05/24/00"; the
// reply reads "timed out", "status 0x08 (busy)", "short reply (12 bytes
// arrived)", "no status from the drive", or, for a reply that was good but
// whose data did not match, "the drive reported no error".
std::string FormatCommandFailure(const CommandFailure& failure);

}  // namespace tslflash
