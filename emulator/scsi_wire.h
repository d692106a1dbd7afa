// How the emulated drive reads a command and answers it: big-endian CDB
// fields read byte by byte, the sense codes it reports, and the data phase as
// a drive behind a host adapter sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "transport/command_result.h"
#include "transport/drive_transport.h"

namespace tslflash::emu {

using CdbBytes = std::span<const std::uint8_t>;

constexpr std::uint16_t Be16(CdbBytes cdb, std::size_t at) {
  return static_cast<std::uint16_t>((cdb[at] << 8) | cdb[at + 1]);
}
constexpr std::uint32_t Be24(CdbBytes cdb, std::size_t at) {
  return (std::uint32_t{cdb[at]} << 16) | Be16(cdb, at + 1);
}
constexpr std::uint32_t Be32(CdbBytes cdb, std::size_t at) {
  return (std::uint32_t{cdb[at]} << 24) | Be24(cdb, at + 1);
}

namespace sense {
inline constexpr SenseBytes kInvalidOpcode{0x05, 0x20, 0x00};
inline constexpr SenseBytes kInvalidField{0x05, 0x24, 0x00};
inline constexpr SenseBytes kBadParameterData{0x05, 0x26, 0x00};  // checksum mismatch
inline constexpr SenseBytes kSequenceError{0x05, 0x2C, 0x00};     // commit before all data came
inline constexpr SenseBytes kBecomingReady{0x02, 0x04, 0x01};
inline constexpr SenseBytes kNoMedium{0x02, 0x3A, 0x00};
inline constexpr SenseBytes kPowerOnReset{0x06, 0x29, 0x00};
inline constexpr SenseBytes kInternalFailure{0x04, 0x44, 0x00};
}  // namespace sense

inline TransportReply Completed() { return {CommandResult::Completed, std::nullopt}; }
// A data-in command that completed having returned `count` bytes.
inline TransportReply Returned(std::size_t count) {
  return {CommandResult::Completed, std::nullopt, static_cast<std::uint32_t>(count)};
}
inline TransportReply CheckCondition(SenseBytes sense) { return {CommandResult::Failed, sense}; }

// The host's buffer for data the drive returns; nothing when the host offered
// none (wrong direction or no buffer).
std::optional<std::span<std::uint8_t>> DataInBuffer(const CommandRequest& request);

// The `announced` bytes the host sends; nothing when it offered fewer, so the
// drive never reads past the host's buffer.
std::optional<std::span<const std::uint8_t>> DataOutBytes(const CommandRequest& request,
                                                          std::uint32_t announced);

// Returns a reply of `content` to the host: as much as both the allocation
// length and the host's transfer length allow.
TransportReply ReturnData(const CommandRequest& request, std::span<const std::uint8_t> content,
                          std::uint32_t allocation);

}  // namespace tslflash::emu
