// Results and directions shared by every transport and every drive command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tslflash {

// Result of one command sent to a drive. Callers test either for anything
// other than Completed, or for Failed alone (a time-out may still carry data).
enum class [[nodiscard]] CommandResult : std::uint8_t{
    Completed = 0,
    Failed = 1,
    TimedOut = 255,
};

// What a drive's answer to one command was, as far as anyone can tell.
enum class ReplyCategory : std::uint8_t {
  Good,            // carried out
  CheckCondition,  // refused, with sense data telling why
  OtherStatus,     // refused with another status: BUSY, a reservation conflict...
  ShortReply,      // carried out, but fewer bytes came back than the caller needs
  TransportError,  // the command never got a status from the drive
  TimedOut,        // no answer in time
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

// One command's reply with its facts: the category, the status byte when one
// came, the sense with a check condition, and the data bytes moved.
struct [[nodiscard]] CommandReply {
  ReplyCategory category = ReplyCategory::TransportError;
  std::optional<std::uint8_t> status{};
  SenseBytes sense{};
  std::uint32_t transferred = 0;

  bool Good() const { return category == ReplyCategory::Good; }
  explicit operator bool() const { return Good(); }
  // The reply as the three results the commands branch on.
  CommandResult Result() const {
    if (category == ReplyCategory::Good) return CommandResult::Completed;
    return category == ReplyCategory::TimedOut ? CommandResult::TimedOut : CommandResult::Failed;
  }
  friend bool operator==(const CommandReply& reply, CommandResult result) {
    return reply.Result() == result;
  }
};

// The SCSI status byte a drive ends a command with. Bit 0 is reserved and bit
// 7 vendor-specific: a bridge that sets either must not change what the status
// says, so both are masked off. Bit 6 stays: TASK ABORTED is 40h.
namespace scsi_status {
inline constexpr std::uint8_t kMask = 0x7E;
inline constexpr std::uint8_t kGood = 0x00;
inline constexpr std::uint8_t kCheckCondition = 0x02;
inline constexpr std::uint8_t kConditionMet = 0x04;

constexpr bool IsCheckCondition(std::uint8_t status) { return (status & kMask) == kCheckCondition; }

// Only GOOD and CONDITION MET say the command was carried out; BUSY, a
// reservation conflict, a full task set and the rest say it was not.
constexpr CommandResult ResultOf(std::uint8_t status) {
  const auto masked = static_cast<std::uint8_t>(status & kMask);
  return masked == kGood || masked == kConditionMet ? CommandResult::Completed
                                                    : CommandResult::Failed;
}
}  // namespace scsi_status

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
