#include "transport/reply_facts.h"

#include <algorithm>

namespace tslflash {

bool InquiryReplyHolds(std::span<const std::uint8_t> reply, std::size_t bytes) {
  constexpr std::size_t kLengthByte = 4;
  return reply.size() > kLengthByte && kLengthByte + 1 + reply[kLengthByte] >= bytes;
}

CommandReply ReplyFacts(const TransportReply& reply, std::uint32_t requested) {
  CommandReply facts;
  facts.status = reply.status;
  facts.transferred = std::min(reply.transferred.value_or(requested), requested);
  // Sense with a failure or a time-out says why; with success it says nothing.
  if (reply.result != CommandResult::Completed && reply.sense) facts.sense = *reply.sense;
  switch (reply.result) {
    case CommandResult::Completed:
      facts.category = ReplyCategory::Good;
      return facts;
    case CommandResult::TimedOut:
      facts.category = ReplyCategory::TimedOut;
      return facts;
    default:
      break;
  }
  facts.transferred = 0;
  if (reply.sense || (reply.status && scsi_status::IsCheckCondition(*reply.status))) {
    facts.category = ReplyCategory::CheckCondition;
  } else if (reply.status) {
    facts.category = ReplyCategory::OtherStatus;
  } else {
    facts.category = ReplyCategory::TransportError;
  }
  return facts;
}

}  // namespace tslflash
