#include "emulator/command_trace.h"

#include "transport/command_text.h"

namespace tslflash::emu {
namespace {

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
  std::string text = RequestText(entry.cdb, entry.direction, entry.length, entry.timeout);
  text.append(" -> ").append(ResultName(entry.result));
  if (entry.sense) text.append(" ").append(SenseCodes(*entry.sense));
  return text;
}

}  // namespace tslflash::emu
