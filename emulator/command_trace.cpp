#include "emulator/command_trace.h"

#include <cstdio>

namespace tslflash::emu {
namespace {

std::string Hex2(std::uint8_t value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

const char* DirectionName(DataDirection direction) {
  switch (direction) {
    case DataDirection::ToDrive:
      return "ToDrive";
    case DataDirection::FromDrive:
      return "FromDrive";
    case DataDirection::NoData:
      break;
  }
  return "NoData";
}

const char* ResultName(CommandResult result) {
  switch (result) {
    case CommandResult::Completed:
      return "Completed";
    case CommandResult::TimedOut:
      return "TimedOut";
    case CommandResult::Failed:
      break;
  }
  return "Failed";
}

}  // namespace

TraceEntry MakeTraceEntry(const CommandRequest& request, const TransportReply& reply) {
  return {{request.cdb.begin(), request.cdb.end()},
          request.direction,
          request.length,
          request.timeout,
          reply.result,
          reply.sense};
}

std::string FormatTraceEntry(const TraceEntry& entry) {
  std::string text;
  for (const std::uint8_t byte : entry.cdb) text += Hex2(byte) + ' ';
  text += DirectionName(entry.direction);
  text +=
      ' ' + std::to_string(entry.length) + ' ' + std::to_string(entry.timeout.count()) + "s -> ";
  text += ResultName(entry.result);
  if (entry.sense) {
    text +=
        ' ' + Hex2(entry.sense->key) + '/' + Hex2(entry.sense->asc) + '/' + Hex2(entry.sense->ascq);
  }
  return text;
}

}  // namespace tslflash::emu
