// Where fixed-format sense data keeps the three bytes the tool reports: the
// only format of the Windows transports, one of two on Linux.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "transport/command_result.h"

namespace tslflash {

// Bytes 0-13 of fixed-format sense: up to and including the ASCQ.
inline constexpr std::size_t kFixedSenseLength = 14;

constexpr SenseBytes FixedFormatSense(std::span<const std::uint8_t, kFixedSenseLength> sense) {
  return SenseBytes{static_cast<std::uint8_t>(sense[2] & 0x0F), sense[12], sense[13]};
}

}  // namespace tslflash
