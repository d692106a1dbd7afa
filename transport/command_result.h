// Results and directions shared by every transport and every drive command.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tslflash {

// Result of one command sent to a drive. Callers test either for anything
// other than Completed, or for Failed alone (a time-out may still carry data).
enum class [[nodiscard]] CommandResult : std::uint8_t{
    Completed = 0,
    Failed = 1,
    TimedOut = 255,
};

// Direction of the data phase. Any value other than ToDrive/FromDrive means no
// data phase; callers pass NoData.
enum class DataDirection : std::uint8_t {
  NoData = 0,
  ToDrive = 1,
  FromDrive = 2,
};

// Sense key, additional sense code and qualifier of a failed command.
struct SenseBytes {
  std::uint8_t key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
  friend bool operator==(const SenseBytes&, const SenseBytes&) = default;
};

// Length of a CDB on the wire, from its operation code's group (bits 5-7).
constexpr std::size_t CdbLengthFor(std::uint8_t opcode) {
  switch (opcode >> 5) {
    case 0:
      return 6;
    case 1:
    case 2:
      return 10;
    case 4:
      return 16;
    default:  // groups 3, 5, 6, 7 (vendor-specific included)
      return 12;
  }
}

static_assert(CdbLengthFor(0x12) == 6 && CdbLengthFor(0x3B) == 10 && CdbLengthFor(0x5A) == 10);
static_assert(CdbLengthFor(0x60) == 12 && CdbLengthFor(0x88) == 16 && CdbLengthFor(0xA8) == 12);
static_assert(CdbLengthFor(0xF5) == 12 && CdbLengthFor(0xFF) == 12);

}  // namespace tslflash
