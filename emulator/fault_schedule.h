// Faults the emulated drive shows on demand: what goes wrong, at which
// command, and how many times.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "transport/command_result.h"

namespace tslflash::emu {

enum class FaultKind : std::uint8_t {
  Fail,              // CHECK CONDITION with the fault's sense; the command is not carried out
  TimeOut,           // TimedOut, no sense; the command is not carried out
  Sense,             // like Fail, but the sense is always given explicitly
  CorruptReadBack,   // the command completes, one byte of the data it returns is flipped
  FailWithoutSense,  // the transport fails (Failed) without sense data
  Status,            // the drive answers with the fault's status byte, no sense; not carried out
  ShortReply,        // carried out, but at most `length` bytes of data return, and are reported
  NoData,            // carried out, GOOD, but no data arrives while the whole length is reported
  PowerCut,          // the drive loses power: this and every later command times out
  // The command is carried out, then the drive answers CHECK CONDITION with
  // the fault's sense, as one that resets while it acts on the command.
  FailAfter,
};

// The n-th command the drive receives, counting every command from 1.
struct AtCommand {
  std::uint32_t number = 1;
  friend bool operator==(const AtCommand&, const AtCommand&) = default;
};

// Commands with this opcode (and, when given, this byte 1: mode or
// subcommand), from the m-th such command on.
struct ForOpcode {
  std::uint8_t opcode = 0;
  std::optional<std::uint8_t> secondByte{};
  std::uint32_t fromOccurrence = 1;
  friend bool operator==(const ForOpcode&, const ForOpcode&) = default;
};

// A fault that strikes this many times in a row; kAlways never wears off.
inline constexpr std::uint32_t kAlways = 0;
inline constexpr SenseBytes kDefaultFaultSense{0x04, 0x44, 0x00};

struct Fault {
  FaultKind kind = FaultKind::Fail;
  std::variant<AtCommand, ForOpcode> when = AtCommand{};
  std::uint32_t times = 1;
  SenseBytes sense = kDefaultFaultSense;  // Fail, Sense and FailAfter only
  std::uint8_t status = 0;                // Status only
  std::uint32_t length = 0;               // ShortReply only
  std::uint32_t offset = 0;               // CorruptReadBack only: the byte inverted
  friend bool operator==(const Fault&, const Fault&) = default;
};

class FaultSchedule {
 public:
  void Add(const Fault& fault) { armed_.push_back({fault, 0}); }
  // The fault that strikes this command, if any (the earliest added wins).
  // Every fault counts the commands it watches, whether or not it strikes.
  std::optional<Fault> Strike(std::span<const std::uint8_t> cdb, std::uint32_t commandNumber);

 private:
  struct Armed {
    Fault fault;
    std::uint32_t occurrences = 0;
  };
  static bool Strikes(Armed& armed, std::span<const std::uint8_t> cdb, std::uint32_t commandNumber);

  std::vector<Armed> armed_;
};

}  // namespace tslflash::emu
