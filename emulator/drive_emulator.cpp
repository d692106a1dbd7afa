#include "emulator/drive_emulator.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <thread>

namespace tslflash::emu {
namespace {

constexpr std::array<std::uint8_t, 4> kVendorSignature = {'K', 'O', 'V', 'A'};
constexpr std::uint8_t kParameterArea = 0xA2;
constexpr std::uint8_t kParameterBlockLength = 4;
constexpr std::uint8_t kCapabilitiesPage = 0x2A;

void PutText(std::span<std::uint8_t> field, std::string_view text) {
  std::fill(field.begin(), field.end(), std::uint8_t{' '});
  std::copy(text.begin(), text.end(), field.begin());
}

// Standard INQUIRY data of a CD/DVD drive with the identity at bytes 8-35 and
// the vendor-specific enclosure identity at 96-110.
std::array<std::uint8_t, DriveEmulator::kInquiryDataLength> BuildInquiryData(
    const DriveDescription& d) {
  std::array<std::uint8_t, DriveEmulator::kInquiryDataLength> data{};
  const std::span bytes(data);
  bytes[0] = 0x05;  // CD/DVD device
  bytes[1] = 0x80;  // removable medium
  bytes[2] = 0x00;
  bytes[3] = 0x02;  // response data format
  bytes[4] = DriveEmulator::kInquiryDataLength - 5;
  PutText(bytes.subspan(8, 8), d.vendor);
  PutText(bytes.subspan(16, 16), d.product);
  PutText(bytes.subspan(32, 4), d.revision);
  if (!d.enclosure.empty()) PutText(bytes.subspan(96, 12), d.enclosure);
  if (!d.enclosureTail.empty()) PutText(bytes.subspan(108, 3), d.enclosureTail);
  return data;
}

}  // namespace

// Each command the drive knows, with the CDB length it reads; vendor commands
// are refused by a drive without the maker's command set.
const std::array<DriveEmulator::Command, 10> DriveEmulator::kCommands = {{
    {0x00, 6, false, &DriveEmulator::TestUnitReady},
    {0x12, 6, false, &DriveEmulator::Inquiry},
    {0x1B, 6, false, &DriveEmulator::StartStopUnit},
    {0x3B, 10, false, &DriveEmulator::WriteBuffer},
    {0x3C, 10, false, &DriveEmulator::ReadBuffer},
    {0x5A, 10, false, &DriveEmulator::ModeSense},
    {0xF2, 12, true, &DriveEmulator::Download},
    {0xF5, 12, true, &DriveEmulator::ParameterBlockCommand},
    {0xFA, 12, true, &DriveEmulator::SummedPage},
    {0xFD, 12, true, &DriveEmulator::VendorControl},
}};

DriveEmulator::DriveEmulator(DriveDescription description)
    : description_(std::move(description)),
      inquiryData_(BuildInquiryData(description_)),
      mediumPresent_(description_.mediumPresent),
      unitAttentionPending_(description_.unitAttention),
      becomingReadyPolls_(description_.becomingReadyPolls),
      parameterBlocks_(description_.parameterBlocks),
      receiver_(ExpectedImageSize(description_), description_.bankSize) {
  for (const Fault& fault : description_.faults) faults_.Add(fault);
}

TransportReply DriveEmulator::Execute(const CommandRequest& request) {
  // Outside the lock: a test may look at the drive while a command takes
  // its time.
  std::this_thread::sleep_for(std::chrono::milliseconds(description_.commandDelayMs));
  const std::lock_guard lock(mutex_);
  ++commandCount_;
  const std::optional<Fault> fault =
      powered_ ? faults_.Strike(request.cdb, commandCount_) : std::nullopt;
  const TransportReply reply = !powered_ ? TransportReply{CommandResult::TimedOut, std::nullopt}
                               : fault   ? Inflict(*fault, request)
                                         : Dispatch(request);
  ActivateAccepted();
  trace_.push_back(MakeTraceEntry(request, reply));
  return reply;
}

void DriveEmulator::ActivateAccepted() {
  if (!description_.activatesAtOnce || description_.activatesAs.empty() || !receiver_.Received()) {
    return;
  }
  PutText(std::span(inquiryData_).subspan(32, 4), description_.activatesAs);
}

TransportReply DriveEmulator::Dispatch(const CommandRequest& request) {
  if (request.cdb.empty()) return CheckCondition(sense::kInvalidOpcode);
  const auto command = std::find_if(kCommands.begin(), kCommands.end(),
                                    [&](const Command& c) { return c.opcode == request.cdb[0]; });
  if (command == kCommands.end() || (command->vendor && !description_.vendorCommands)) {
    return CheckCondition(sense::kInvalidOpcode);
  }
  if (request.cdb.size() < command->cdbLength) return CheckCondition(sense::kInvalidField);
  return (this->*(command->handler))(request);
}

TransportReply DriveEmulator::Inflict(const Fault& fault, const CommandRequest& request) {
  switch (fault.kind) {
    case FaultKind::Fail:
    case FaultKind::Sense:
      return CheckCondition(fault.sense);
    case FaultKind::TimeOut:
      return {CommandResult::TimedOut, std::nullopt};
    case FaultKind::PowerCut:
      powered_ = false;
      return {CommandResult::TimedOut, std::nullopt};
    case FaultKind::FailWithoutSense:
      return {CommandResult::Failed, std::nullopt};
    case FaultKind::Status:
      // As a transport reads the status; nothing was carried out or transferred.
      return {scsi_status::ResultOf(fault.status), std::nullopt, 0, fault.status};
    case FaultKind::ShortReply:
      return DeliverOnly(request, fault.length, true);
    case FaultKind::NoData:
      return DeliverOnly(request, 0, false);
    case FaultKind::FailAfter:
      (void)Dispatch(request);
      return CheckCondition(fault.sense);
    case FaultKind::CorruptReadBack:
      break;
  }
  const TransportReply reply = Dispatch(request);
  const auto returned = DataInBuffer(request);
  const std::uint32_t reached = reply.transferred.value_or(0);
  if (reply.result == CommandResult::Completed && returned && fault.offset < reached) {
    (*returned)[fault.offset] ^= 0xFF;
  }
  return reply;
}

// Carries the command out, then puts back every byte of the host's buffer
// past the first `kept`, as if they never arrived. `reported` says whether
// the transport learns how many arrived, or is told the whole reply came.
TransportReply DriveEmulator::DeliverOnly(const CommandRequest& request, std::uint32_t kept,
                                          bool reported) {
  const auto buffer = DataInBuffer(request);
  if (!buffer) return Dispatch(request);
  const std::vector<std::uint8_t> before(buffer->begin(), buffer->end());
  TransportReply reply = Dispatch(request);
  if (reply.result != CommandResult::Completed) return reply;
  const std::uint32_t arrived = std::min(reply.transferred.value_or(0), kept);
  std::copy(before.begin() + arrived, before.end(), buffer->begin() + arrived);
  if (reported) reply.transferred = arrived;
  return reply;
}

void DriveEmulator::AddFault(const Fault& fault) {
  const std::lock_guard lock(mutex_);
  faults_.Add(fault);
}

TransportReply DriveEmulator::Inquiry(const CommandRequest& request) {
  if (!description_.answersInquiry) return CheckCondition(sense::kInternalFailure);
  // Vital product data pages are not offered.
  if ((request.cdb[1] & 0x01) != 0 || request.cdb[2] != 0) {
    return CheckCondition(sense::kInvalidField);
  }
  return ReturnData(request, inquiryData_, Be16(request.cdb, 3));
}

// A reset is reported once, then the drive becomes ready over a number of
// polls, then it reports whether a medium is in it.
TransportReply DriveEmulator::TestUnitReady(const CommandRequest&) {
  if (unitAttentionPending_) {
    unitAttentionPending_ = false;
    return CheckCondition(sense::kPowerOnReset);
  }
  if (becomingReadyPolls_ > 0) {
    --becomingReadyPolls_;
    return CheckCondition(sense::kBecomingReady);
  }
  if (!mediumPresent_) return CheckCondition(sense::kNoMedium);
  return Completed();
}

TransportReply DriveEmulator::StartStopUnit(const CommandRequest& request) {
  const bool loadEject = (request.cdb[4] & 0x02) != 0;
  const bool start = (request.cdb[4] & 0x01) != 0;
  if (loadEject && !start) {
    mediumPresent_ = false;
    ejected_ = true;
  }
  return Completed();
}

// MODE SENSE(10) of the capabilities page: an 8-byte header, then the page
// with the buffer size in KiB at page bytes 12-13.
TransportReply DriveEmulator::ModeSense(const CommandRequest& request) {
  if ((request.cdb[2] & 0x3F) != kCapabilitiesPage) return CheckCondition(sense::kInvalidField);
  std::array<std::uint8_t, 30> reply{};
  reply[1] = reply.size() - 2;  // mode data length
  reply[8] = kCapabilitiesPage;
  reply[9] = reply.size() - 10;  // page length
  reply[20] = static_cast<std::uint8_t>(description_.bufferSizeKiB >> 8);
  reply[21] = static_cast<std::uint8_t>(description_.bufferSizeKiB);
  return ReturnData(request, reply, Be16(request.cdb, 7));
}

TransportReply DriveEmulator::WriteBuffer(const CommandRequest& request) {
  return receiver_.WriteBuffer(request);
}

TransportReply DriveEmulator::ReadBuffer(const CommandRequest& request) {
  switch (request.cdb[1]) {
    case 0x01:
      return ImageSizeReply(request);
    case 0x02:
      return receiver_.ReadBack(request);
    default:
      return CheckCondition(sense::kInvalidOpcode);
  }
}

// Signature, then the image type code and size in KiB, little-endian.
TransportReply DriveEmulator::ImageSizeReply(const CommandRequest& request) {
  std::array<std::uint8_t, 16> reply{};
  reply[0] = description_.imageSignature[0];
  reply[1] = description_.imageSignature[1];
  reply[2] = static_cast<std::uint8_t>(description_.imageType);
  reply[3] = static_cast<std::uint8_t>(description_.imageType >> 8);
  reply[10] = static_cast<std::uint8_t>(description_.imageSizeKiB);
  reply[11] = static_cast<std::uint8_t>(description_.imageSizeKiB >> 8);
  return ReturnData(request, reply, Be24(request.cdb, 6));
}

TransportReply DriveEmulator::Download(const CommandRequest& request) {
  return receiver_.Download(request);
}

// F5h 01h reads and F5h 03h writes one 4-byte block of parameter area A2h.
TransportReply DriveEmulator::ParameterBlockCommand(const CommandRequest& request) {
  const CdbBytes cdb = request.cdb;
  if (cdb[1] != 0x01 && cdb[1] != 0x03) return CheckCondition(sense::kInvalidOpcode);
  const auto block = parameterBlocks_.find(cdb[5]);
  if (cdb[3] != kParameterArea || cdb[7] != kParameterBlockLength ||
      block == parameterBlocks_.end()) {
    return CheckCondition(sense::kInvalidField);
  }
  if (cdb[1] == 0x01) return ReturnData(request, block->second, kParameterBlockLength);
  const auto data = DataOutBytes(request, kParameterBlockLength);
  if (!data) return CheckCondition(sense::kInvalidField);
  std::copy(data->begin(), data->end(), block->second.begin());
  return Completed();
}

TransportReply DriveEmulator::SummedPage(const CommandRequest& request) {
  return receiver_.SummedPage(request);
}

// FDh F1h is the vendor handshake, FDh 07h a signed page; both carry the
// vendor signature in bytes 2-5.
TransportReply DriveEmulator::VendorControl(const CommandRequest& request) {
  const CdbBytes cdb = request.cdb;
  if (cdb[1] != 0xF1 && cdb[1] != 0x07) return CheckCondition(sense::kInvalidOpcode);
  if (!std::equal(kVendorSignature.begin(), kVendorSignature.end(), cdb.begin() + 2)) {
    return CheckCondition(sense::kInvalidField);
  }
  if (cdb[1] == 0x07) return receiver_.SignedPage(request);
  return Completed();
}

std::optional<std::vector<std::uint8_t>> DriveEmulator::ReceivedImage() const {
  const std::lock_guard lock(mutex_);
  if (!receiver_.Received()) return std::nullopt;
  return receiver_.Received()->image;
}

std::optional<Protocol> DriveEmulator::ReceivedProtocol() const {
  const std::lock_guard lock(mutex_);
  if (!receiver_.Received()) return std::nullopt;
  return receiver_.Received()->protocol;
}

std::optional<ParameterBlock> DriveEmulator::GetParameterBlock(std::uint8_t block) const {
  const std::lock_guard lock(mutex_);
  const auto found = parameterBlocks_.find(block);
  if (found == parameterBlocks_.end()) return std::nullopt;
  return found->second;
}

bool DriveEmulator::Ejected() const {
  const std::lock_guard lock(mutex_);
  return ejected_;
}

bool DriveEmulator::MediumPresent() const {
  const std::lock_guard lock(mutex_);
  return mediumPresent_;
}

std::vector<std::uint8_t> DriveEmulator::DownloadMemoryBytes(std::uint32_t address,
                                                             std::uint32_t length) const {
  const std::lock_guard lock(mutex_);
  std::vector<std::uint8_t> bytes(length);
  if (!receiver_.Memory().Read(address, bytes)) bytes.clear();
  return bytes;
}

std::vector<TraceEntry> DriveEmulator::Trace() const {
  const std::lock_guard lock(mutex_);
  return trace_;
}

bool DriveEmulator::TakeHold() {
  const std::lock_guard lock(mutex_);
  if (held_ || description_.inUse) return false;
  held_ = true;
  return true;
}

void DriveEmulator::ReleaseHold() {
  const std::lock_guard lock(mutex_);
  held_ = false;
}

bool DriveEmulator::Held() const {
  const std::lock_guard lock(mutex_);
  return held_;
}

}  // namespace tslflash::emu
