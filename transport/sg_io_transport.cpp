#include "transport/sg_io_transport.h"

#include <fcntl.h>
#include <linux/cdrom.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <system_error>
#include <utility>
#include <vector>

#include "transport/fixed_sense.h"
#include "transport/sg_io_hold.h"

namespace tslflash {
namespace {

// Host adapter and driver codes that the kernel reports in the header.
constexpr unsigned kDidOk = 0x00;
constexpr unsigned kDidTimeOut = 0x03;
constexpr unsigned kDriverCodeMask = 0x0F;  // the high nibble holds retry suggestions
constexpr unsigned kDriverTimeout = 0x06;
constexpr unsigned kDriverSense = 0x08;

constexpr int SgIoDirection(DataDirection direction) {
  switch (direction) {
    case DataDirection::ToDrive:
      return SG_DXFER_TO_DEV;
    case DataDirection::FromDrive:
      return SG_DXFER_FROM_DEV;
    default:
      return SG_DXFER_NONE;
  }
}

std::optional<SenseBytes> ParseSense(std::span<const std::uint8_t> sense) {
  if (sense.empty()) return std::nullopt;
  // A short sense buffer leaves the bytes it does not reach at 0.
  std::array<std::uint8_t, kFixedSenseLength> padded{};
  std::ranges::copy(sense.first(std::min(sense.size(), padded.size())), padded.begin());
  switch (padded[0]) {
    case 0x70:  // fixed format, current or deferred error
    case 0x71:
    case 0xF0:  // the same with the valid bit set, as ATAPI drives send it
    case 0xF1:
      return FixedFormatSense(padded);
    case 0x72:  // descriptor format
    case 0x73:
      return SenseBytes{static_cast<std::uint8_t>(padded[1] & 0x0F), padded[2], padded[3]};
    default:
      return std::nullopt;
  }
}

// The residue is what the kernel says did not arrive.
std::uint32_t TransferredBytes(const sg_io_hdr& header) {
  if (header.resid <= 0) return header.dxfer_len;
  const auto missing = static_cast<unsigned>(header.resid);
  return missing < header.dxfer_len ? header.dxfer_len - missing : 0;
}

std::string PrivilegeText(std::string_view location) {
  std::string text = "Tessel Flash may not send firmware commands to ";
  text.append(location);
  text.append(
      ": it needs raw SCSI access (CAP_SYS_RAWIO). Run it as root: sudo tslflash, or the "
      "desktop menu's administrator entry.");
  return text;
}

// One opened /dev/sr<n>; owns its file descriptor.
class SgIoDevice final : public DriveDevice {
 public:
  SgIoDevice(std::shared_ptr<SgIoSystem> system, std::shared_ptr<PrivilegeNotice> notice, int fd,
             std::string path)
      : system_(std::move(system)), notice_(std::move(notice)), fd_(fd), path_(std::move(path)) {}
  ~SgIoDevice() override { system_->Close(fd_); }
  SgIoDevice(const SgIoDevice&) = delete;
  SgIoDevice& operator=(const SgIoDevice&) = delete;

  // The Linux counterpart of "the drive type is CD-ROM".
  bool IsOpticalDrive() { return system_->Ioctl(fd_, CDROM_GET_CAPABILITY, nullptr).value >= 0; }

  TransportReply Execute(const CommandRequest& request) override {
    std::array<std::uint8_t, kSgIoSenseLength> sense{};
    sg_io_hdr header = BuildSgIoHeader(request, sense);
    const SgIoOutcome outcome = ClassifySgIo(system_->Ioctl(fd_, SG_IO, &header), header, sense);
    if (outcome.privilegeRefused) notice_->Refused(path_);
    return outcome.reply;
  }

  std::string Location() const override { return path_; }

  HoldAttempt HoldExclusively() override { return HoldSgIoDevice(system_, path_); }

 private:
  std::shared_ptr<SgIoSystem> system_;
  std::shared_ptr<PrivilegeNotice> notice_;
  int fd_;
  std::string path_;
};

}  // namespace

unsigned int SgIoTimeoutMilliseconds(std::chrono::seconds timeout) {
  using Milliseconds = std::chrono::duration<unsigned int, std::milli>;
  constexpr auto kLongest = std::chrono::floor<std::chrono::seconds>(Milliseconds::max());
  if (timeout <= std::chrono::seconds::zero()) return 0;
  if (timeout > kLongest) return Milliseconds::max().count();
  return std::chrono::duration_cast<Milliseconds>(timeout).count();
}

sg_io_hdr BuildSgIoHeader(const CommandRequest& request, std::span<std::uint8_t> sense) {
  sg_io_hdr header{};
  header.interface_id = 'S';
  header.dxfer_direction = SgIoDirection(request.direction);
  header.cmd_len = static_cast<unsigned char>(request.cdb.size());
  // The kernel only reads the CDB; the header's field is not const.
  header.cmdp = const_cast<std::uint8_t*>(request.cdb.data());
  // Without a data phase the length must be 0 too: the kernel would map a
  // buffer of any length it is given, whatever the direction says.
  const bool hasData = header.dxfer_direction != SG_DXFER_NONE;
  header.dxferp = hasData ? request.data : nullptr;
  header.dxfer_len = hasData ? request.length : 0;
  header.sbp = sense.data();
  header.mx_sb_len = static_cast<unsigned char>(
      std::min<std::size_t>(sense.size(), std::numeric_limits<unsigned char>::max()));
  header.timeout = SgIoTimeoutMilliseconds(request.timeout);
  header.flags = 0;
  return header;
}

SgIoOutcome ClassifySgIo(SysResult call, const sg_io_hdr& header,
                         std::span<const std::uint8_t> sense) {
  // A refused or failed call fills nothing in: the header's status is not read.
  if (call.value < 0) {
    return {{CommandResult::Failed, std::nullopt}, call.error == EPERM || call.error == EACCES};
  }
  const unsigned driverCode = header.driver_status & kDriverCodeMask;
  if (header.host_status == kDidTimeOut || driverCode == kDriverTimeout) {
    return {{CommandResult::TimedOut, std::nullopt}};
  }
  if (scsi_status::IsCheckCondition(header.status) || (header.driver_status & kDriverSense) != 0) {
    const std::size_t written = std::min<std::size_t>(header.sb_len_wr, sense.size());
    return {{CommandResult::Failed, ParseSense(sense.first(written)), {}, header.status}};
  }
  if (header.host_status != kDidOk || driverCode != 0) {
    return {{CommandResult::Failed, std::nullopt}};
  }
  return {{scsi_status::ResultOf(header.status), std::nullopt, TransferredBytes(header),
           header.status}};
}

PrivilegeNotice::PrivilegeNotice(std::shared_ptr<SgIoSystem> system, TransportNotice notice)
    : system_(std::move(system)), notice_(std::move(notice)) {}

void PrivilegeNotice::Refused(std::string_view location) {
  if (given_) return;
  given_ = true;
  Tell(PrivilegeText(location));
}

void PrivilegeNotice::Tell(std::string_view text) const {
  if (notice_) notice_(text);
}

SgIoTransport::SgIoTransport(std::shared_ptr<SgIoSystem> system, TransportNotice notice)
    : system_(std::move(system)),
      privilegeNotice_(std::make_shared<PrivilegeNotice>(system_, std::move(notice))) {}

bool SgIoTransport::Init() { return system_ != nullptr; }

std::optional<std::string> SgIoTransport::MissingWriteRights() {
  if (system_->HasRawIoCapability()) return std::nullopt;
  return "Writing firmware needs raw SCSI access (CAP_SYS_RAWIO). Start the tool as root, for "
         "example from the desktop menu's administrator entry or with sudo.";
}

void SgIoTransport::UseNotice(TransportNotice notice) {
  privilegeNotice_->Redirect(std::move(notice));
}

void SgIoTransport::ScanDrives(const CandidateSink& offer) {
  std::vector<std::pair<unsigned, std::string>> devices;
  for (std::string& name : system_->ListOpticalDeviceNames()) {
    if (const auto number = OpticalDeviceNumber(name))
      devices.emplace_back(*number, std::move(name));
  }
  std::ranges::sort(devices);  // sr10 after sr9
  for (const auto& [number, name] : devices) {
    std::unique_ptr<DriveDevice> device = OpenCandidate("/dev/" + name);
    if (device != nullptr && !offer(std::move(device))) return;
  }
}

// Opened without blocking so that an empty tray opens too and the kernel sends
// no commands of its own; a device that is not a CD/DVD drive is closed again.
std::unique_ptr<DriveDevice> SgIoTransport::OpenCandidate(const std::string& path) {
  const SysResult opened = system_->Open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (opened.value < 0) {
    privilegeNotice_->Tell(
        path + " could not be opened: " + std::generic_category().message(opened.error));
    return nullptr;
  }
  auto device = std::make_unique<SgIoDevice>(system_, privilegeNotice_, opened.value, path);
  if (!device->IsOpticalDrive()) return nullptr;
  return device;
}

}  // namespace tslflash
