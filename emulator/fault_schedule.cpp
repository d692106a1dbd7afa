#include "emulator/fault_schedule.h"

namespace tslflash::emu {
namespace {

bool Watches(const ForOpcode& trigger, std::span<const std::uint8_t> cdb) {
  if (cdb.empty() || cdb[0] != trigger.opcode) return false;
  return !trigger.secondByte || (cdb.size() > 1 && cdb[1] == *trigger.secondByte);
}

bool InWindow(std::uint32_t position, std::uint32_t first, std::uint32_t times) {
  return position >= first && (times == kAlways || position - first < times);
}

}  // namespace

// A fault placed by command number looks at every command; one placed by
// opcode counts only the commands it watches.
bool FaultSchedule::Strikes(Armed& armed, std::span<const std::uint8_t> cdb,
                            std::uint32_t commandNumber) {
  if (const auto* at = std::get_if<AtCommand>(&armed.fault.when)) {
    return InWindow(commandNumber, at->number, armed.fault.times);
  }
  const auto& trigger = std::get<ForOpcode>(armed.fault.when);
  if (!Watches(trigger, cdb)) return false;
  ++armed.occurrences;
  return InWindow(armed.occurrences, trigger.fromOccurrence, armed.fault.times);
}

std::optional<Fault> FaultSchedule::Strike(std::span<const std::uint8_t> cdb,
                                           std::uint32_t commandNumber) {
  std::optional<Fault> strike;
  for (Armed& armed : armed_) {
    if (Strikes(armed, cdb, commandNumber) && !strike) strike = armed.fault;
  }
  return strike;
}

}  // namespace tslflash::emu
