#include "update/command_failure_text.h"

#include <cstdint>
#include <string_view>

#include "update/hex_text.h"

namespace tslflash {
namespace {

// The statuses other than GOOD, CHECK CONDITION and CONDITION MET that a
// drive may refuse a command with, by their value with bits 0 and 7 masked.
std::string_view StatusName(std::uint8_t status) {
  switch (status & scsi_status::kMask) {
    case 0x08:
      return "busy";
    case 0x18:
      return "reservation conflict";
    case 0x28:
      return "task set full";
    case 0x30:
      return "ACA active";
    case 0x40:
      return "task aborted";
    default:
      return {};
  }
}

std::string StatusText(const CommandReply& reply) {
  if (!reply.status) return "refused without a status";
  std::string text = "status 0x" + HexByte(*reply.status);
  const std::string_view name = StatusName(*reply.status);
  if (!name.empty()) text += " (" + std::string(name) + ")";
  return text;
}

std::string SenseText(const SenseBytes& sense) {
  if (sense == SenseBytes{}) return "check condition, no sense data";
  return "check condition, sense " + HexByte(sense.key) + "/" + HexByte(sense.asc) + "/" +
         HexByte(sense.ascq);
}

std::string ReplyText(const CommandReply& reply) {
  switch (reply.category) {
    case ReplyCategory::Good:
      return "the drive reported no error";
    case ReplyCategory::CheckCondition:
      return SenseText(reply.sense);
    case ReplyCategory::OtherStatus:
      return StatusText(reply);
    case ReplyCategory::ShortReply:
      return "short reply (" + std::to_string(reply.transferred) + " bytes arrived)";
    case ReplyCategory::TransportError:
      return "no status from the drive";
    case ReplyCategory::TimedOut:
      return "timed out";
  }
  return "an unknown reply";
}

}  // namespace

std::string FormatCommandFailure(const CommandFailure& failure) {
  return std::string(failure.command) + " failed on " + std::string(failure.unit) + " " +
         std::to_string(failure.index) + " of " + std::to_string(failure.count) + ": " +
         ReplyText(failure.reply);
}

}  // namespace tslflash
