#include "transport/command_text.h"

#include <cstdio>

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
  if (!name.empty()) text.append(" (").append(name).append(")");
  return text;
}

std::string CheckConditionText(const SenseBytes& sense) {
  if (sense == SenseBytes{}) return "check condition, no sense data";
  return "check condition, sense " + SenseCodes(sense);
}

}  // namespace

std::string HexByte(std::uint8_t value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) {
    if (!text.empty()) text += ' ';
    text += HexByte(byte);
  }
  return text;
}

std::string SenseCodes(const SenseBytes& sense) {
  return HexByte(sense.key) + '/' + HexByte(sense.asc) + '/' + HexByte(sense.ascq);
}

std::string_view DirectionName(DataDirection direction) {
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

std::string RequestText(std::span<const std::uint8_t> cdb, DataDirection direction,
                        std::uint32_t length, std::chrono::seconds timeout) {
  std::string text = HexBytes(cdb);
  if (!text.empty()) text += ' ';
  text.append(DirectionName(direction));
  text.append(" ").append(std::to_string(length));
  text.append(" ").append(std::to_string(timeout.count())).append("s");
  return text;
}

std::string ReplyText(const CommandReply& reply) {
  switch (reply.category) {
    case ReplyCategory::Good:
      return "good";
    case ReplyCategory::CheckCondition:
      return CheckConditionText(reply.sense);
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

}  // namespace tslflash
