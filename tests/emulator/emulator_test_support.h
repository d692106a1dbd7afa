// Helpers for driving an emulated drive by hand: CDBs are written out byte by
// byte in the tests, so the emulator is checked against the wire format and
// not against the tool's own builders.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "emulator/command_trace.h"
#include "emulator/drive_description.h"
#include "emulator/drive_emulator.h"

namespace tslflash::emu::test {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

inline DriveDescription VarnDrive() {
  DriveDescription d;
  d.vendor = "VARN";
  d.product = "DVD RW LPX-650A";
  d.revision = "1.02";
  d.parameterBlocks = {{0x02, {5, 0, 0x12, 0x34}}, {0x24, {5, 0, 0x12, 0x34}}};
  return d;
}

inline TransportReply Send(DriveEmulator& drive, const Bytes& cdb,
                           DataDirection direction = DataDirection::NoData,
                           std::span<std::uint8_t> data = {}, std::chrono::seconds timeout = 15s) {
  return drive.Execute(
      {cdb, direction, data.data(), static_cast<std::uint32_t>(data.size()), timeout});
}

// "Completed", "TimedOut", "Failed" or "Failed KK/AA/QQ", as the trace shows it.
inline std::string Outcome(const TransportReply& reply) {
  const std::string line =
      FormatTraceEntry({{}, DataDirection::NoData, 0, 0s, reply.result, reply.sense});
  return line.substr(line.find("-> ") + 3);
}

inline std::string SendOutcome(DriveEmulator& drive, const Bytes& cdb,
                               DataDirection direction = DataDirection::NoData,
                               std::span<std::uint8_t> data = {}) {
  return Outcome(Send(drive, cdb, direction, data));
}

// Deterministic, non-repeating image bytes.
inline Bytes PatternImage(std::size_t size, std::uint32_t seed = 1) {
  Bytes image(size);
  std::uint32_t state = seed;
  for (std::uint8_t& byte : image) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(state >> 16);
  }
  return image;
}

// Reference checksums, written independently of the drive's.
inline std::uint16_t RefLinear(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = 0;
  for (const std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint16_t>(sum & 0xFFFF);
}
inline std::uint16_t RefRotated(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = 0;
  for (const std::uint8_t b : bytes) sum = ((((sum & 1u) << 15) | (sum >> 1)) + b) & 0xFFFFu;
  return static_cast<std::uint16_t>(sum);
}

inline std::uint8_t Hi(std::size_t v) { return static_cast<std::uint8_t>(v >> 8); }
inline std::uint8_t Lo(std::size_t v) { return static_cast<std::uint8_t>(v); }

}  // namespace tslflash::emu::test
