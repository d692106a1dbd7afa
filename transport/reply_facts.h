// How a transport's reply reads as the facts callers branch on: the one
// reading the registry acts on and the command log records.
#pragma once

#include <cstdint>

#include "transport/command_result.h"
#include "transport/drive_transport.h"

namespace tslflash {

// The reply to a command whose data phase asked for `requested` bytes. Sense
// data, or a CHECK CONDITION status, says the drive refused and why; another
// status byte says it refused without; neither says no status came at all.
CommandReply ReplyFacts(const TransportReply& reply, std::uint32_t requested);

}  // namespace tslflash
