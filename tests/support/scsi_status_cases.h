// The SCSI status bytes every transport that sees one must read alike: only
// GOOD and CONDITION MET complete, the reserved bit 0 and the vendor bit 7
// change nothing, and only CHECK CONDITION brings sense.
#pragma once

#include <array>
#include <cstdint>

#include "transport/command_result.h"

namespace tslflash::testing {

struct StatusCase {
  const char* name;
  std::uint8_t status;
  CommandResult result;
  bool takesSense;
};

inline constexpr std::array<StatusCase, 12> kStatusCases = {{
    {"GOOD", 0x00, CommandResult::Completed, false},
    {"CONDITION MET", 0x04, CommandResult::Completed, false},
    {"GOOD with the reserved and vendor bits", 0x81, CommandResult::Completed, false},
    {"CHECK CONDITION", 0x02, CommandResult::Failed, true},
    {"CHECK CONDITION with the vendor bit", 0x82, CommandResult::Failed, true},
    {"BUSY", 0x08, CommandResult::Failed, false},
    {"BUSY with the vendor bit", 0x88, CommandResult::Failed, false},
    {"RESERVATION CONFLICT", 0x18, CommandResult::Failed, false},
    {"TASK SET FULL", 0x28, CommandResult::Failed, false},
    {"ACA ACTIVE", 0x30, CommandResult::Failed, false},
    {"TASK ABORTED", 0x40, CommandResult::Failed, false},
    {"TASK ABORTED with the reserved bit", 0x41, CommandResult::Failed, false},
}};

}  // namespace tslflash::testing
