// Commands and replies in words, as every trace and failure line shows them:
// the emulated drives' trace, the command log of real runs and the update's
// failure lines share these pieces so that they read alike.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "transport/command_result.h"

namespace tslflash {

// Upper case, two digits: 02, 3A.
std::string HexByte(std::uint8_t value);

// The bytes as hex pairs separated by blanks: "3B 07 01 00".
std::string HexBytes(std::span<const std::uint8_t> bytes);

// Key, ASC and ASCQ: "05/24/00".
std::string SenseCodes(const SenseBytes& sense);

std::string_view DirectionName(DataDirection direction);

// A command as sent: "3B 07 01 00 40 00 00 40 00 00 ToDrive 16384 200s".
std::string RequestText(std::span<const std::uint8_t> cdb, DataDirection direction,
                        std::uint32_t length, std::chrono::seconds timeout);

// What a refused reply said: "check condition, sense 05/24/00", "status 0x08
// (busy)", "short reply (12 bytes arrived)", "no status from the drive",
// "timed out"; a good reply reads "good".
std::string ReplyText(const CommandReply& reply);

}  // namespace tslflash
