// NT-family transport: the system's SCSI pass-through request on the volume
// handle of each CD/DVD drive letter. Data buffers are handed over in place.
#pragma once

#include <windows.h>
// The pass-through definitions need the base types above.
#include <ntddscsi.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "transport/drive_transport.h"
#include "transport/nt_pass_through_system.h"

namespace tslflash {

// Room for fixed-format sense with its additional bytes.
inline constexpr std::size_t kPassThroughSenseLength = 32;

// The one buffer the driver reads the request from and writes the status and
// sense into: the request, then its sense area.
struct PassThroughRequest {
  SCSI_PASS_THROUGH_DIRECT header;
  std::array<std::uint8_t, kPassThroughSenseLength> sense;
};

static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == 0x4D014);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == (sizeof(void*) == 8 ? 56 : 44));
static_assert(offsetof(PassThroughRequest, sense) == sizeof(SCSI_PASS_THROUGH_DIRECT));
static_assert(sizeof(PassThroughRequest) ==
              sizeof(SCSI_PASS_THROUGH_DIRECT) + kPassThroughSenseLength);

// The request for one command; its CDB must fit the request's 16 bytes.
PassThroughRequest BuildPassThroughRequest(const CommandRequest& request);

// Maps what DeviceIoControl returned, and the request it filled, to the
// command's result.
TransportReply ClassifyPassThrough(IoControlResult call, const PassThroughRequest& request);

class NtPassThroughTransport final : public DriveTransport {
 public:
  explicit NtPassThroughTransport(std::shared_ptr<NtPassThroughSystem> system);

  // Nothing to load: pass-through is part of the system.
  bool Init() override;
  // Offers the volumes C: to Z:, in letter order, that open and are CD/DVD drives.
  void ScanDrives(const CandidateSink& offer) override;
  // Pass-through writes need a token in the Administrators group.
  std::optional<std::string> MissingWriteRights() override;

 private:
  std::shared_ptr<NtPassThroughSystem> system_;
};

}  // namespace tslflash
