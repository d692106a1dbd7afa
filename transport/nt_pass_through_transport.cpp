#include "transport/nt_pass_through_transport.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <string>
#include <utility>

#include "transport/fixed_sense.h"
#include "transport/nt_volume_lock.h"

namespace tslflash {
namespace {

static_assert(kFixedSenseLength <= kPassThroughSenseLength);

constexpr UCHAR PassThroughDirection(DataDirection direction) {
  switch (direction) {
    case DataDirection::ToDrive:
      return SCSI_IOCTL_DATA_OUT;
    case DataDirection::FromDrive:
      return SCSI_IOCTL_DATA_IN;
    default:
      return SCSI_IOCTL_DATA_UNSPECIFIED;
  }
}

// The driver takes whole seconds; a negative time-out gives 0 and one too
// long for the field the largest value.
ULONG PassThroughSeconds(std::chrono::seconds timeout) {
  constexpr auto kLongest = std::numeric_limits<ULONG>::max();
  return static_cast<ULONG>(std::clamp<std::chrono::seconds::rep>(timeout.count(), 0, kLongest));
}

// One opened drive letter; owns its volume handle.
class NtPassThroughDevice final : public DriveDevice {
 public:
  NtPassThroughDevice(std::shared_ptr<NtPassThroughSystem> system, HANDLE handle, char letter)
      : system_(std::move(system)), handle_(handle), letter_(letter) {}
  ~NtPassThroughDevice() override { system_->Close(handle_); }
  NtPassThroughDevice(const NtPassThroughDevice&) = delete;
  NtPassThroughDevice& operator=(const NtPassThroughDevice&) = delete;

  TransportReply Execute(const CommandRequest& request) override {
    if (request.cdb.size() > sizeof(SCSI_PASS_THROUGH_DIRECT::Cdb)) {
      return {CommandResult::Failed, {}};
    }
    PassThroughRequest buffer = BuildPassThroughRequest(request);
    const IoControlResult call =
        system_->IoControl(handle_, IOCTL_SCSI_PASS_THROUGH_DIRECT, &buffer, sizeof(buffer.header),
                           &buffer, sizeof(buffer));
    return ClassifyPassThrough(call, buffer);
  }

  std::string Location() const override { return {static_cast<char>(letter_ - 'a' + 'A'), ':'}; }

  HoldAttempt HoldExclusively() override { return LockVolume(system_, handle_); }

 private:
  std::shared_ptr<NtPassThroughSystem> system_;
  HANDLE handle_;
  char letter_;
};

}  // namespace

PassThroughRequest BuildPassThroughRequest(const CommandRequest& request) {
  PassThroughRequest buffer{};
  SCSI_PASS_THROUGH_DIRECT& header = buffer.header;
  header.Length = sizeof(header);
  header.CdbLength = static_cast<UCHAR>(request.cdb.size());
  header.SenseInfoLength = kPassThroughSenseLength;
  header.DataIn = PassThroughDirection(request.direction);
  header.DataTransferLength = request.length;
  header.TimeOutValue = PassThroughSeconds(request.timeout);
  header.DataBuffer = request.data;
  header.SenseInfoOffset = offsetof(PassThroughRequest, sense);
  std::ranges::copy(request.cdb, std::begin(header.Cdb));
  return buffer;
}

TransportReply ClassifyPassThrough(IoControlResult call, const PassThroughRequest& request) {
  // A failed call fills nothing in: neither the status nor the sense is read.
  if (!call.succeeded) {
    return {call.error == ERROR_SEM_TIMEOUT ? CommandResult::TimedOut : CommandResult::Failed, {}};
  }
  const UCHAR status = request.header.ScsiStatus;
  if (scsi_status::IsCheckCondition(status)) {
    return {CommandResult::Failed,
            FixedFormatSense(std::span(request.sense).first<kFixedSenseLength>())};
  }
  // The driver leaves in DataTransferLength the bytes actually transferred.
  return {scsi_status::ResultOf(status), {}, request.header.DataTransferLength, status};
}

NtPassThroughTransport::NtPassThroughTransport(std::shared_ptr<NtPassThroughSystem> system)
    : system_(std::move(system)) {}

bool NtPassThroughTransport::Init() { return system_ != nullptr; }

std::optional<std::string> NtPassThroughTransport::MissingWriteRights() {
  if (system_->IsAdministrator()) return std::nullopt;
  return "Writing firmware needs administrator rights. Start TslFlash.exe as administrator.";
}

// A and B are floppy letters and never probed. A volume that is not a CD/DVD
// drive is closed again when its device goes out of scope. The drive type is
// asked of the root directory, "e:\", with the backslash the system requires.
void NtPassThroughTransport::ScanDrives(const CandidateSink& offer) {
  for (char letter = 'c'; letter <= 'z'; ++letter) {
    const HANDLE handle =
        system_->Open(std::string("\\\\.\\") + letter + ':', GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) continue;
    auto device = std::make_unique<NtPassThroughDevice>(system_, handle, letter);
    if (system_->DriveType(std::string{letter, ':', '\\'}) != DRIVE_CDROM) continue;
    if (!offer(std::move(device))) return;
  }
}

}  // namespace tslflash
