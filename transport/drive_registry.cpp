#include "transport/drive_registry.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "transport/cdb.h"
#include "transport/reply_facts.h"

namespace tslflash {
namespace {

constexpr std::size_t kVendorProductOffset = 8;
constexpr std::size_t kVendorProductLength = 24;
constexpr std::size_t kRevisionOffset = 32;
constexpr std::size_t kRevisionLength = 4;
static_assert(kRevisionOffset + kRevisionLength <= kAspiInquiryLength);
static_assert(kAspiInquiryLength <= kInquiryLength);
static_assert(kVendorProductLength < sizeof(DriveSlot::identification));
static_assert(kRevisionLength < sizeof(DriveSlot::revision));

}  // namespace

DriveRegistry::DriveRegistry(std::unique_ptr<DriveTransport> transport)
    : transport_(std::move(transport)) {}

// Slots are destroyed before the transport, so every drive handle is closed
// while the layer that opened it still exists.
DriveRegistry::~DriveRegistry() {
  for (DriveSlot& slot : slots_) slot.device.reset();
}

bool DriveRegistry::InitTransport() { return transport_ != nullptr && transport_->Init(); }

std::uint8_t DriveRegistry::EnumerateDrives() {
  for (DriveSlot& slot : slots_) slot = DriveSlot{};
  count_ = 0;
  selected_ = kNoSelection;
  if (transport_ != nullptr) {
    transport_->ScanDrives([this](std::unique_ptr<DriveDevice> device) {
      return RegisterCandidate(std::move(device));
    });
  }
  selected_ = count_ != 0 ? 0 : kNoSelection;
  return count_;
}

// The candidate takes the first free slot and is selected while its INQUIRY
// runs; only a drive that answers it is counted. The scan stops once all
// slots are taken.
bool DriveRegistry::RegisterCandidate(std::unique_ptr<DriveDevice> device) {
  if (count_ >= kMaxDrives || device == nullptr) return count_ < kMaxDrives;
  DriveSlot& slot = slots_[count_];
  slot.device = std::move(device);
  selected_ = count_;

  std::array<std::uint8_t, kInquiryLength> reply{};
  const std::uint8_t length = std::min(transport_->InquiryLength(), kInquiryLength);
  const Cdb inquiry = BuildInquiry(length);
  if (ExecuteRead(inquiry, reply.data(), length, kRevisionOffset + kRevisionLength,
                  kEnumerationTimeout) == CommandResult::Completed &&
      InquiryReplyHolds(std::span(reply).first(length), kRevisionOffset + kRevisionLength)) {
    std::memcpy(slot.identification.data(), reply.data() + kVendorProductOffset,
                kVendorProductLength);
    std::memcpy(slot.revision.data(), reply.data() + kRevisionOffset, kRevisionLength);
    ++count_;
  } else {
    slot = DriveSlot{};
  }
  selected_ = kNoSelection;
  return count_ < kMaxDrives;
}

bool DriveRegistry::SelectDrive(std::uint8_t index) {
  if (count_ == 0 || index >= count_) return false;
  selected_ = index;
  return true;
}

std::optional<std::string> DriveRegistry::FormatDriveText() const {
  if (count_ == 0 || selected_ >= count_) return std::nullopt;
  const DriveSlot& slot = slots_[selected_];
  return std::string(slot.identification.data()) + std::string(slot.revision.data());
}

std::optional<std::string> DriveRegistry::SelectedLocation() const {
  if (selected_ >= kMaxDrives || slots_[selected_].device == nullptr) return std::nullopt;
  return slots_[selected_].device->Location();
}

HoldAttempt DriveRegistry::HoldSelected() {
  if (selected_ >= kMaxDrives || slots_[selected_].device == nullptr) {
    HoldAttempt none;
    none.reason = "no drive is selected";
    return none;
  }
  return slots_[selected_].device->HoldExclusively();
}

std::optional<std::string> DriveRegistry::MissingWriteRights() {
  if (transport_ == nullptr) return "No way to reach the drives.";
  return transport_->MissingWriteRights();
}

void DriveRegistry::UseNotice(TransportNotice notice) {
  if (transport_ != nullptr) transport_->UseNotice(std::move(notice));
}

CommandReply DriveRegistry::ExecuteCommand(std::span<const std::uint8_t> cdb,
                                           DataDirection direction, std::uint8_t* data,
                                           std::uint32_t length, std::chrono::seconds timeout) {
  if (selected_ >= kMaxDrives || slots_[selected_].device == nullptr) return {};
  if (cdb.empty()) return {};
  const std::size_t cdbLength = CdbLengthFor(cdb[0]);
  // A CDB shorter than its opcode demands, or a data phase without a buffer,
  // would make the transport read past the caller's memory.
  if (cdb.size() < cdbLength) return {};
  const bool hasDataPhase =
      direction == DataDirection::ToDrive || direction == DataDirection::FromDrive;
  if (hasDataPhase && length != 0 && data == nullptr) return {};

  const CommandRequest request{cdb.first(cdbLength),
                               hasDataPhase ? direction : DataDirection::NoData,
                               hasDataPhase ? data : nullptr, hasDataPhase ? length : 0, timeout};
  return ReplyFacts(slots_[selected_].device->Execute(request), request.length);
}

CommandReply DriveRegistry::ExecuteRead(std::span<const std::uint8_t> cdb, std::uint8_t* data,
                                        std::uint32_t length, std::uint32_t needed,
                                        std::chrono::seconds timeout) {
  CommandReply reply = ExecuteCommand(cdb, DataDirection::FromDrive, data, length, timeout);
  if (!reply.Good()) return reply;
  if (reply.transferred < needed) {
    reply.category = ReplyCategory::ShortReply;
    return reply;
  }
  // What did not arrive reads as zero, never as what the buffer held before.
  std::fill(data + reply.transferred, data + length, std::uint8_t{0});
  return reply;
}

}  // namespace tslflash
