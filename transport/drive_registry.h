// The machine's optical drives: up to eight, found once, one of them selected;
// every drive command goes through ExecuteCommand.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "transport/command_result.h"
#include "transport/drive_transport.h"

namespace tslflash {

struct DriveSlot {
  std::unique_ptr<DriveDevice> device;    // null when the slot holds no drive
  std::array<char, 50> identification{};  // INQUIRY bytes 8-31, zero-terminated
  std::array<char, 12> revision{};        // INQUIRY bytes 32-35, zero-terminated
};

class DriveRegistry {
 public:
  static constexpr std::size_t kMaxDrives = 8;
  static constexpr std::uint8_t kNoSelection = 255;
  static constexpr std::chrono::seconds kEnumerationTimeout{15};

  explicit DriveRegistry(std::unique_ptr<DriveTransport> transport);
  virtual ~DriveRegistry();
  DriveRegistry(const DriveRegistry&) = delete;
  DriveRegistry& operator=(const DriveRegistry&) = delete;

  [[nodiscard]] bool InitTransport();
  std::uint8_t EnumerateDrives();
  std::uint8_t GetDriveCount() const { return count_; }
  [[nodiscard]] bool SelectDrive(std::uint8_t index);
  std::uint8_t GetSelectedSlot() const { return selected_; }
  // The selected drive's identification followed by its revision, or nothing
  // when no drive is registered.
  std::optional<std::string> FormatDriveText() const;
  // Where the selected drive was found, or nothing when no drive is selected.
  std::optional<std::string> SelectedLocation() const;

  // Takes the selected drive for this process alone (see
  // DriveDevice::HoldExclusively); a failed attempt without a selection.
  HoldAttempt HoldSelected();
  // What keeps this process from sending the writing commands, if anything.
  std::optional<std::string> MissingWriteRights();
  // Where the transport's messages go.
  void UseNotice(TransportNotice notice);

  // Sends the CDB's first CdbLengthFor(cdb[0]) bytes to the selected drive.
  CommandReply ExecuteCommand(std::span<const std::uint8_t> cdb, DataDirection direction,
                              std::uint8_t* data, std::uint32_t length,
                              std::chrono::seconds timeout);

  // A data-in command whose caller reads the reply's first `needed` bytes: a
  // reply that completes with fewer is a ShortReply, since the bytes it lacks
  // never arrived.
  CommandReply ExecuteRead(std::span<const std::uint8_t> cdb, std::uint8_t* data,
                           std::uint32_t length, std::uint32_t needed,
                           std::chrono::seconds timeout);

 private:
  bool RegisterCandidate(std::unique_ptr<DriveDevice> device);

  std::unique_ptr<DriveTransport> transport_;
  std::uint8_t count_ = 0;
  std::uint8_t selected_ = kNoSelection;
  std::array<DriveSlot, kMaxDrives> slots_;
};

}  // namespace tslflash
