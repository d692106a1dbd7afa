// The command log of real runs: a transport that sends every command through
// the transport it wraps, unchanged, and keeps what was sent, what came back
// and how long it took, so a support report can show what a drive was told.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transport/command_result.h"
#include "transport/drive_transport.h"

namespace tslflash {

struct LoggedCommand {
  std::chrono::system_clock::time_point sentAt;
  std::string device;  // the drive's location ("/dev/sr0", "E:")
  std::vector<std::uint8_t> cdb;
  DataDirection direction = DataDirection::NoData;
  std::uint32_t length = 0;
  std::chrono::seconds timeout{0};
  CommandReply reply;  // as the registry reads the transport's reply
  // The data a short reply carried (INQUIRY, MODE SENSE, parameter blocks);
  // page-sized replies are not kept.
  std::vector<std::uint8_t> replyData;
  std::chrono::microseconds duration{0};
};

// The last commands sent, safe to record from the run's worker while another
// thread reads.
class CommandLog {
 public:
  static constexpr std::size_t kDefaultCapacity = 4096;
  // Replies up to this size keep their data: INQUIRY's 125 bytes fit.
  static constexpr std::uint32_t kKeptReplyBytes = 256;

  struct Snapshot {
    std::vector<LoggedCommand> commands;  // oldest first
    std::uint64_t dropped = 0;            // older commands no longer kept
  };

  explicit CommandLog(std::size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

  void Record(LoggedCommand command);
  Snapshot Read() const;

 private:
  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::deque<LoggedCommand> commands_;
  std::uint64_t dropped_ = 0;
};

// `transport`, with every command of every drive it offers recorded in `log`.
std::unique_ptr<DriveTransport> LogCommands(std::unique_ptr<DriveTransport> transport,
                                            std::shared_ptr<CommandLog> log);

// One line, the time of day in UTC: "12:00:01.234 /dev/sr1 3B 06 00 00 40 00
// 00 40 00 00 ToDrive 16384 200s -> check condition, sense 05/24/00, 0 bytes,
// 3 ms".
std::string FormatLoggedCommand(const LoggedCommand& command);

}  // namespace tslflash
