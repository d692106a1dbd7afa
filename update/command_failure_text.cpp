#include "update/command_failure_text.h"

#include "transport/command_text.h"

namespace tslflash {
namespace {

// A good reply here is one whose data did not match what was sent.
std::string FailureReplyText(const CommandReply& reply) {
  return reply.Good() ? "the drive reported no error" : ReplyText(reply);
}

}  // namespace

std::string FormatCommandFailure(const CommandFailure& failure) {
  return std::string(failure.command) + " failed on " + std::string(failure.unit) + " " +
         std::to_string(failure.index) + " of " + std::to_string(failure.count) + ": " +
         FailureReplyText(failure.reply);
}

}  // namespace tslflash
