// A software CD/DVD drive of the maker the tool serves: it answers every
// command the tool sends as such a drive would, takes firmware through each
// transfer protocol and checks it, shows faults on demand and records every
// command it receives.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "emulator/command_trace.h"
#include "emulator/drive_description.h"
#include "emulator/fault_schedule.h"
#include "emulator/firmware_receiver.h"
#include "transport/drive_transport.h"

namespace tslflash::emu {

// Thread-safe: the tool sends commands from its worker thread while a test
// looks at the drive from another.
class DriveEmulator {
 public:
  static constexpr std::size_t kInquiryDataLength = 125;

  explicit DriveEmulator(DriveDescription description);

  TransportReply Execute(const CommandRequest& request);
  void AddFault(const Fault& fault);

  const DriveDescription& Description() const { return description_; }

  // The last image the drive accepted, and how it came.
  std::optional<std::vector<std::uint8_t>> ReceivedImage() const;
  std::optional<Protocol> ReceivedProtocol() const;
  // Nothing for a block the drive does not have.
  std::optional<ParameterBlock> GetParameterBlock(std::uint8_t block) const;
  bool Ejected() const;
  bool MediumPresent() const;
  // Bytes of the download memory; never-written bytes read as zero. Empty
  // when the range leaves the memory.
  std::vector<std::uint8_t> DownloadMemoryBytes(std::uint32_t address, std::uint32_t length) const;
  std::vector<TraceEntry> Trace() const;

  // One holder at a time, as a real drive opened exclusively: false while the
  // drive is held already or its description says another program has it.
  bool TakeHold();
  void ReleaseHold();
  bool Held() const;

 private:
  using Handler = TransportReply (DriveEmulator::*)(const CommandRequest&);
  struct Command {
    std::uint8_t opcode;
    std::size_t cdbLength;  // bytes the drive reads
    bool vendor;
    Handler handler;
  };
  static const std::array<Command, 10> kCommands;

  TransportReply Dispatch(const CommandRequest& request);
  // A complete image the drive accepted runs at once, when it is made to.
  void ActivateAccepted();
  TransportReply Inflict(const Fault& fault, const CommandRequest& request);
  TransportReply DeliverOnly(const CommandRequest& request, std::uint32_t kept, bool reported);

  TransportReply Inquiry(const CommandRequest& request);
  TransportReply TestUnitReady(const CommandRequest& request);
  TransportReply StartStopUnit(const CommandRequest& request);
  TransportReply ModeSense(const CommandRequest& request);
  TransportReply WriteBuffer(const CommandRequest& request);
  TransportReply ReadBuffer(const CommandRequest& request);
  TransportReply ImageSizeReply(const CommandRequest& request);
  TransportReply Download(const CommandRequest& request);
  TransportReply ParameterBlockCommand(const CommandRequest& request);
  TransportReply SummedPage(const CommandRequest& request);
  TransportReply VendorControl(const CommandRequest& request);

  mutable std::mutex mutex_;
  const DriveDescription description_;
  std::array<std::uint8_t, kInquiryDataLength> inquiryData_;
  bool mediumPresent_;
  bool ejected_ = false;
  bool held_ = false;
  bool unitAttentionPending_;
  std::uint32_t becomingReadyPolls_;
  std::map<std::uint8_t, ParameterBlock> parameterBlocks_;
  FaultSchedule faults_;
  FirmwareReceiver receiver_;
  std::uint32_t commandCount_ = 0;
  bool powered_ = true;  // a power cut ends every answer
  std::vector<TraceEntry> trace_;
};

}  // namespace tslflash::emu
