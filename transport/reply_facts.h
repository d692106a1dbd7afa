// How a transport's reply reads as the facts callers branch on: the one
// reading the registry acts on and the command log records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "transport/command_result.h"
#include "transport/drive_transport.h"

namespace tslflash {

// The reply to a command whose data phase asked for `requested` bytes. Sense
// data, or a CHECK CONDITION status, says the drive refused and why; another
// status byte says it refused without; neither says no status came at all.
CommandReply ReplyFacts(const TransportReply& reply, std::uint32_t requested);

// Whether an INQUIRY reply holds its first `bytes` bytes by its own count:
// byte 4 counts the bytes after it. A transport may report a read that
// brought nothing as whole, and the zeros the buffer started with would read
// as an empty identity.
bool InquiryReplyHolds(std::span<const std::uint8_t> reply, std::size_t bytes);

}  // namespace tslflash
