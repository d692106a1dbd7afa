// Numbers in hexadecimal as the log pane and the transfer diagnostics show
// them.
#pragma once

#include <cstdint>
#include <string>

namespace tslflash {

// Upper case, at least four digits: 00AB, 1F2C0.
std::string HexWord(std::uint32_t value);
// Lower case, as few digits as needed: 0, 1c.
std::string HexLower(std::uint32_t value);

}  // namespace tslflash
