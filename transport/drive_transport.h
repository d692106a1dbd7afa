// The seam between the drive registry and an operating system's (or the
// emulator's) way of reaching drives. One implementation per platform, each in
// its own file; the registry never knows which one it talks to.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "transport/cdb.h"
#include "transport/command_result.h"

namespace tslflash {

// One command as handed to a transport. The CDB span holds exactly the bytes
// that go on the wire; the data buffer is the caller's and is used in place.
struct CommandRequest {
  std::span<const std::uint8_t> cdb;
  DataDirection direction = DataDirection::NoData;
  std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  std::chrono::seconds timeout{0};
};

// What a transport reports: the result and, when the drive returned sense
// data with a failure, its key, ASC and ASCQ; and, when the transport can
// tell, how many bytes of the data phase the drive actually transferred.
// Nothing there means the transport cannot tell (it is taken as the whole
// request).
struct TransportReply {
  CommandResult result = CommandResult::Failed;
  std::optional<SenseBytes> sense;
  std::optional<std::uint32_t> transferred{};
  // The status byte the drive ended the command with, when the transport saw one.
  std::optional<std::uint8_t> status{};
};

// Receives a message for the user about the transport itself (not about one
// command), such as a device that could not be opened or the rights the tool
// lacks.
using TransportNotice = std::function<void(std::string_view)>;

// A drive taken for this process alone; destroying it lets others have it.
class DriveHold {
 public:
  virtual ~DriveHold() = default;
};

// What asking for a drive alone gave: the hold, or why there is none.
struct HoldAttempt {
  std::unique_ptr<DriveHold> hold;  // set exactly when the drive is held
  bool inUse = false;               // another program has the drive
  std::string holder{};             // who, when it can be found ("tslflash, process 1234")
  std::string reason{};             // why the hold failed, when not because the drive is in use
};

// One opened drive. Destroying it closes the handle (or releases the address).
class DriveDevice {
 public:
  virtual ~DriveDevice() = default;
  virtual TransportReply Execute(const CommandRequest& request) = 0;
  // Takes the drive so that no other program writes to it while the hold
  // lives; a second copy of the tool is refused at once.
  virtual HoldAttempt HoldExclusively() = 0;
  // Where the drive was found ("/dev/sr0", "E:", "HA 1 target 3"), for messages.
  virtual std::string Location() const = 0;
};

// Finds candidate optical drives and opens them.
class DriveTransport {
 public:
  // Receives each candidate in discovery order; returns false to stop the scan.
  using CandidateSink = std::function<bool(std::unique_ptr<DriveDevice>)>;

  virtual ~DriveTransport() = default;
  // Makes the transport usable (loads libraries, checks privileges).
  [[nodiscard]] virtual bool Init() = 0;
  // Offers every candidate CD/DVD device, opened and ready for INQUIRY.
  virtual void ScanDrives(const CandidateSink& offer) = 0;
  // How many INQUIRY bytes the registry asks each candidate for.
  virtual std::uint8_t InquiryLength() const { return kInquiryLength; }
  // What stops this process from sending the writing commands, as a message
  // naming the remedy; nothing when it may send them.
  virtual std::optional<std::string> MissingWriteRights() = 0;
  // Where messages about the transport go from now on; a transport that has
  // its own way of telling the user keeps it.
  virtual void UseNotice(TransportNotice /*notice*/) {}
};

}  // namespace tslflash
