// Linux transport: the kernel's SG_IO pass-through on the CD/DVD block
// devices /dev/sr<n>.
//
// Data buffers are handed to the kernel in place. The kernel also reports a
// residue (requested minus transferred bytes), which the reply passes on as
// the bytes transferred. Low-level drivers differ in how well they fill it:
// many report 0 for a short transfer, and a failed data-in command can leave
// the buffer holding stale bytes with a residue of 0. So a short reply is
// caught where the residue says so, and otherwise by the callers: every
// caller reads a reply only after Completed, and the read-backs compare
// against a buffer filled with bytes the drive would not send.
#pragma once

#include <scsi/sg.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "transport/drive_transport.h"
#include "transport/platform_transport.h"
#include "transport/sg_io_system.h"

namespace tslflash {

// Fixed-format sense carries the key, ASC and ASCQ in its first 14 bytes and
// descriptor format in its first 4; 32 bytes hold either with room to spare.
inline constexpr std::size_t kSgIoSenseLength = 32;

// The time-out in the kernel's unit, milliseconds. A zero or negative time-out
// gives 0 (the kernel's default); one too long for the field gives the
// largest value, which is about 49 days.
unsigned int SgIoTimeoutMilliseconds(std::chrono::seconds timeout);

// The SG_IO header for one command: the CDB, the caller's data buffer and the
// sense buffer are all used in place.
sg_io_hdr BuildSgIoHeader(const CommandRequest& request, std::span<std::uint8_t> sense);

struct SgIoOutcome {
  TransportReply reply;
  // The kernel refused the command for lack of raw SCSI rights.
  bool privilegeRefused = false;
};

// Maps what SG_IO returned (the call's result, the header it filled and the
// sense buffer) to the command's result.
SgIoOutcome ClassifySgIo(SysResult call, const sg_io_hdr& header,
                         std::span<const std::uint8_t> sense);

// Tells the user, once, how to give the tool the rights it lacks. Shared by the
// transport and the devices it opened.
class PrivilegeNotice {
 public:
  PrivilegeNotice(std::shared_ptr<SgIoSystem> system, TransportNotice notice);
  void Refused(std::string_view location);
  // Passes any other message on to the same receiver.
  void Tell(std::string_view text) const;
  void Redirect(TransportNotice notice) { notice_ = std::move(notice); }

 private:
  std::shared_ptr<SgIoSystem> system_;
  TransportNotice notice_;
  bool given_ = false;  // commands go to one drive at a time, never from two threads
};

class SgIoTransport final : public DriveTransport {
 public:
  SgIoTransport(std::shared_ptr<SgIoSystem> system, TransportNotice notice);

  // Nothing to load: SG_IO is part of the kernel.
  bool Init() override;
  // Offers /dev/sr0, /dev/sr1, ... in numeric order, each that opens and
  // reports CD/DVD capabilities; a node that does not open is named in a
  // notice with the reason.
  void ScanDrives(const CandidateSink& offer) override;
  // The writing commands need CAP_SYS_RAWIO; the kernel is asked, since a
  // user id says nothing about capabilities.
  std::optional<std::string> MissingWriteRights() override;
  void UseNotice(TransportNotice notice) override;

 private:
  std::unique_ptr<DriveDevice> OpenCandidate(const std::string& path);

  std::shared_ptr<SgIoSystem> system_;
  std::shared_ptr<PrivilegeNotice> privilegeNotice_;
};

}  // namespace tslflash
