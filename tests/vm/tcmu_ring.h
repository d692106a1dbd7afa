// The device's side of the kernel's user-space SCSI backstore (TCM-User): its
// UIO device maps a mailbox, a ring of commands and a data area, and every
// command the kernel's target queues for the device is answered in place.
// Linux only; used by the guest program that serves an emulated drive.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "transport/command_result.h"

namespace tslflash::vm {

// One command as the kernel's target hands it over.
struct RingCommand {
  std::span<const std::uint8_t> cdb;  // the bytes the target copied
  // The data phase's pieces in the data area, in order: what the host sends,
  // or room for what the device returns. Empty for a command without data.
  std::vector<std::span<std::uint8_t>> buffers;
};

// The device's answer: a status byte, with a CHECK CONDITION its sense, and
// for a data-in command how many bytes it returned.
struct RingAnswer {
  std::uint8_t status = scsi_status::kGood;
  std::optional<SenseBytes> sense;
  std::optional<std::uint32_t> returned;
};

class TcmuRing {
 public:
  using Answerer = std::function<RingAnswer(const RingCommand&)>;

  // The guest's one TCM-User device, mapped; nothing, with `error` saying
  // why, when there is none or it cannot be used.
  static std::unique_ptr<TcmuRing> Open(std::string& error);
  ~TcmuRing();
  TcmuRing(const TcmuRing&) = delete;
  TcmuRing& operator=(const TcmuRing&) = delete;

  // Answers the commands queued so far, then those the kernel queues next,
  // until `stop` returns true (checked at least every 200 ms). False when the
  // device fails.
  bool Serve(const Answerer& answer, const std::function<bool()>& stop);

 private:
  TcmuRing(int fd, std::uint8_t* map, std::size_t size) : fd_(fd), map_(map), size_(size) {}
  bool AnswerQueued(const Answerer& answer);

  int fd_;
  std::uint8_t* map_;
  std::size_t size_;
};

}  // namespace tslflash::vm
