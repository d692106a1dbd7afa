// The record of every command an emulated drive received and how it answered,
// for tests to inspect and for diagnostics.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "transport/command_result.h"
#include "transport/drive_transport.h"

namespace tslflash::emu {

struct TraceEntry {
  std::vector<std::uint8_t> cdb;  // as sent
  DataDirection direction = DataDirection::NoData;
  std::uint32_t length = 0;
  std::chrono::seconds timeout{0};
  CommandResult result = CommandResult::Completed;
  std::optional<SenseBytes> sense;
};

TraceEntry MakeTraceEntry(const CommandRequest& request, const TransportReply& reply);

// One line, e.g. "3B 07 01 00 40 00 00 40 00 00 ToDrive 16384 200s -> Completed"
// or "... NoData 0 15s -> Failed 05/20/00".
std::string FormatTraceEntry(const TraceEntry& entry);

}  // namespace tslflash::emu
