#include "transport/drive_commands.h"

#include <algorithm>
#include <array>
#include <ostream>
#include <utility>

#include "resources/texts.h"
#include "transport/reply_facts.h"

namespace tslflash {
namespace {

constexpr std::uint8_t kAscNotReady = 0x04;
constexpr std::uint8_t kAscNotReadyToReady = 0x28;
constexpr std::uint8_t kAscPowerOnReset = 0x29;
constexpr std::uint8_t kAscMediumNotPresent = 0x3A;
constexpr std::uint8_t kAscqBecomingReady = 0x01;  // with ASC 04h
constexpr std::uint8_t kSenseKeyUnitAttention = 0x06;

constexpr std::uint8_t kBlockMarker = 0x51;  // "Q": written by the update run

// Mode page 2Ah: buffer size in KiB at reply bytes 20-21; 8192 KiB is wanted.
constexpr std::size_t kBufferSizeOffset = 20;
constexpr std::uint8_t kWantedBufferSizeHigh = 0x20;

// Image-size reply of READ BUFFER mode 1.
constexpr std::array<std::uint8_t, 2> kImageSizeSignature = {0x06, 0x11};
constexpr std::size_t kImageTypeOffset = 2;
constexpr std::size_t kImageSizeOffset = 10;

constexpr const char* kBufferSizeFailText = "Read BufferSize Command Fail!!\n";
constexpr const char* kModelCodeFailText = "Check Model Command Fail!!\n";

std::uint16_t ReadBe16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

std::uint16_t ReadLe16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// Image size a drive type expects when its reply leaves the size at 0.
std::uint32_t DefaultImageSize(std::uint16_t typeCode) {
  switch (typeCode) {
    case 0x3120:
    case 0x3220:
      return 0x20000;
    case 0x3140:
      return 0x80000;
    case 0x3180:
      return 0x40000;
    default:
      return 0;
  }
}

}  // namespace

void ChangedBlocks::Note(std::uint8_t number, const ParameterBlockBytes& before) {
  if (std::ranges::find(blocks_, number, &Block::number) == blocks_.end()) {
    blocks_.push_back({number, before});
  }
}

void ChangedBlocks::Forget(std::uint8_t number) {
  std::erase_if(blocks_, [number](const Block& b) { return b.number == number; });
}

DriveCommands::DriveCommands(DriveRegistry& registry, TransportNotice notice, Clock& clock,
                             std::ostream& diagnostics)
    : registry_(registry), notice_(std::move(notice)), clock_(clock), diagnostics_(diagnostics) {}

CommandReply DriveCommands::Send(const Cdb& cdb, DataDirection direction, std::uint8_t* data,
                                 std::uint32_t length, std::chrono::seconds timeout) {
  return registry_.ExecuteCommand(cdb, direction, data, length, timeout);
}

CommandReply DriveCommands::Read(const Cdb& cdb, std::uint8_t* data, std::uint32_t length,
                                 std::uint32_t needed) {
  return registry_.ExecuteRead(cdb, data, length, needed, kDataTimeout);
}

bool DriveCommands::SendNoData(const Cdb& cdb, std::chrono::seconds timeout) {
  return Send(cdb, DataDirection::NoData, nullptr, 0, timeout) == CommandResult::Completed;
}

CommandReply DriveCommands::TestUnitReady() {
  return Send(BuildTestUnitReady(), DataDirection::NoData, nullptr, 0, kControlTimeout);
}

CommandReply DriveCommands::ReadExtendedInquiry(
    std::span<std::uint8_t, kExtendedInquiryLength> reply) {
  return Read(BuildInquiry(kExtendedInquiryLength), reply.data(), kExtendedInquiryLength,
              kExtendedInquiryNeeded);
}

// Only "medium not present" says the tray is empty. Any other answer, and
// a drive that never settles, leaves a disc possible; a reply without sense
// (a time-out, a failure of the transport, BUSY) is no answer at all.
DiscCheck DriveCommands::CheckNoDisc() {
  int readyPolls = 0;
  int attentionPolls = 0;
  for (CommandReply reply = TestUnitReady(); !reply.Good(); reply = TestUnitReady()) {
    const SenseBytes& sense = reply.sense;
    if (sense == SenseBytes{}) return DiscCheck::NoAnswer;
    if (sense.asc == kAscMediumNotPresent) return DiscCheck::NoDisc;
    const bool becomingReady = sense.asc == kAscNotReady && sense.ascq == kAscqBecomingReady;
    const bool attention = sense.key == kSenseKeyUnitAttention;
    if (becomingReady && readyPolls < kMaxReadyPolls) {
      ++readyPolls;
    } else if (attention && attentionPolls < kMaxNoDiscPolls) {
      ++attentionPolls;
    } else {
      if (attention) notice_(kUnitAttentionText);
      return DiscCheck::DiscPossible;
    }
    clock_.Sleep(kRetryPause);
  }
  return DiscCheck::DiscPossible;
}

bool DriveCommands::VendorHandshake() {
  if (SendNoData(BuildVendorHandshake(), kControlTimeout)) return true;
  notice_(kHandshakeRefusedText);
  return false;
}

bool DriveCommands::CheckBufferSize() { return ReadBufferSize() == BufferSizeAnswer::Large; }

BufferSizeAnswer DriveCommands::ReadBufferSize() {
  std::array<std::uint8_t, kModeSenseBufferLength> reply{};
  CommandResult result = Read(BuildModeSenseCapabilities(), reply.data(), kModeSenseBufferLength,
                              kBufferSizeOffset + 2)
                             .Result();
  // The reply's own length (bytes 0-1 count the bytes after them) must reach
  // the buffer size too: a transport may report a read that brought nothing
  // as whole, and the untouched buffer would then say "smaller".
  if (result == CommandResult::Completed && 2u + ReadBe16(reply, 0) < kBufferSizeOffset + 2) {
    result = CommandResult::Failed;
  }
  if (result == CommandResult::Failed) diagnostics_ << kBufferSizeFailText;
  if (result != CommandResult::Completed) return BufferSizeAnswer::Unknown;
  const bool large =
      reply[kBufferSizeOffset] == kWantedBufferSizeHigh && reply[kBufferSizeOffset + 1] == 0;
  return large ? BufferSizeAnswer::Large : BufferSizeAnswer::Smaller;
}

ModelCodeReading DriveCommands::ReadModelCode() {
  if (!VendorHandshake()) return {std::nullopt, ModelCodeFailure::HandshakeRefused};
  std::array<std::uint8_t, kParameterBlockLength> block{};
  const CommandResult result = Read(BuildReadParameterBlock(kModelBlockSecondary), block.data(),
                                    kParameterBlockLength, kParameterBlockLength)
                                   .Result();
  // A timed-out read leaves the zeros it started with, which would read as
  // code 0: the base model.
  if (result != CommandResult::Completed) {
    if (result == CommandResult::Failed) diagnostics_ << kModelCodeFailText;
    return {std::nullopt, ModelCodeFailure::ReadFailed};
  }
  switch (block[0]) {
    case kModelCodeZero:
    case kModelCodeFive:
    case kModelCodeDigitZero:
      return {block[0]};
    default:
      return {kModelCodeUnknown};
  }
}

// A read that did not complete leaves bytes 2-3 unknown; writing the block
// then would overwrite the drive's own bytes with zeros.
std::uint8_t DriveCommands::StoreModelCode(std::uint8_t modelCode, std::uint8_t block, bool marker,
                                           ChangedBlocks* changed) {
  ParameterBlockBytes data{};
  if (Read(BuildReadParameterBlock(block), data.data(), kParameterBlockLength,
           kParameterBlockLength) != CommandResult::Completed) {
    diagnostics_ << kModelCodeFailText;
    return kStoreModelCodeFailed;
  }
  if (changed != nullptr) changed->Note(block, data);
  // Bytes 2-3 belong to the drive and go back as they were read.
  data[0] = modelCode;
  data[1] = marker ? kBlockMarker : 0x00;
  if (!WriteParameterBlock(block, data)) {
    diagnostics_ << kModelCodeFailText;
    return kStoreModelCodeFailed;
  }
  return kStoreModelCodeDone;
}

bool DriveCommands::WriteParameterBlock(std::uint8_t block, const ParameterBlockBytes& bytes) {
  ParameterBlockBytes data = bytes;
  return Send(BuildWriteParameterBlock(block), DataDirection::ToDrive, data.data(),
              kParameterBlockLength, kDataTimeout) == CommandResult::Completed;
}

bool DriveCommands::WaitForDriveReady() {
  CommandReply reply = TestUnitReady();
  if (reply.Good()) return false;
  for (int poll = 0; poll < kMaxReadyPolls; ++poll) {
    const std::uint8_t asc = reply.sense.asc;
    if (asc != kAscNotReady && asc != kAscNotReadyToReady && asc != kAscPowerOnReset) {
      return asc == kAscMediumNotPresent;
    }
    clock_.Sleep(kRetryPause);
    reply = TestUnitReady();
    if (reply.Good()) return false;
  }
  return reply.sense.asc == kAscMediumNotPresent;
}

std::optional<std::string> DriveCommands::ReadRevision() {
  constexpr std::size_t kRevisionOffset = 32;
  constexpr std::size_t kRevisionLength = 4;
  std::array<std::uint8_t, kAspiInquiryLength> reply{};
  if (!Read(BuildInquiry(kAspiInquiryLength), reply.data(), kAspiInquiryLength,
            kAspiInquiryLength) ||
      !InquiryReplyHolds(reply, kRevisionOffset + kRevisionLength)) {
    return std::nullopt;
  }
  return std::string(reply.begin() + kRevisionOffset,
                     reply.begin() + kRevisionOffset + kRevisionLength);
}

std::optional<std::string> DriveCommands::ReadRevisionWhenReady() {
  (void)WaitForDriveReady();
  return ReadRevision();
}

bool DriveCommands::EjectMedium() { return SendNoData(BuildEject(), kControlTimeout); }

bool DriveCommands::QueryImageSize() {
  std::array<std::uint8_t, kImageSizeReplyLength> reply{};
  if (Read(BuildQueryImageSize(), reply.data(), kImageSizeReplyLength, kImageSizeOffset + 2) !=
      CommandResult::Completed) {
    return false;
  }
  if (reply[0] != kImageSizeSignature[0] || reply[1] != kImageSizeSignature[1]) return false;
  const std::uint32_t defaultSize = DefaultImageSize(ReadLe16(reply, kImageTypeOffset));
  if (defaultSize == 0) return false;
  const std::uint32_t size = std::uint32_t{ReadLe16(reply, kImageSizeOffset)} * 1024u;
  expectedImageSize_ = size != 0 ? size : defaultSize;
  return true;
}

// A page that does not hold what the command announces is never sent: the
// transport would read past the caller's buffer.
CommandReply DriveCommands::WritePage(const Cdb& cdb, std::span<const std::uint8_t> page,
                                      std::uint32_t count, std::chrono::seconds timeout) {
  if (page.data() == nullptr || page.size() < count) return {};
  // Every transport only reads the buffer of a command that carries data to
  // the drive; the one data pointer of a command serves both directions.
  return Send(cdb, DataDirection::ToDrive, const_cast<std::uint8_t*>(page.data()), count, timeout);
}

CommandReply DriveCommands::ReadPage(const Cdb& cdb, std::span<std::uint8_t> page) {
  if (page.data() == nullptr || page.size() < kPageSize) return {};
  return Read(cdb, page.data(), kPageSize, kPageSize);
}

CommandReply DriveCommands::WritePageById(std::span<const std::uint8_t> page, std::uint8_t bufferId,
                                          std::uint16_t offset, std::uint16_t count) {
  return WritePage(BuildWritePageById(bufferId, offset, count), page, count, kDataTimeout);
}

CommandReply DriveCommands::ReadPageById(std::span<std::uint8_t> page, std::uint8_t bufferId,
                                         std::uint16_t offset, std::uint16_t count) {
  return ReadPage(BuildReadPageById(bufferId, offset, count), page);
}

CommandReply DriveCommands::CommitImage() {
  return Send(BuildCommitImage(), DataDirection::NoData, nullptr, 0, kControlTimeout);
}

CommandReply DriveCommands::WritePageByOffset(std::span<const std::uint8_t> page,
                                              std::uint8_t highByte, std::uint16_t offset,
                                              std::uint16_t count) {
  return WritePage(BuildWritePageByOffset(highByte, offset, count), page, count, kDataTimeout);
}

CommandReply DriveCommands::ReadPageByOffset(std::span<std::uint8_t> page, std::uint8_t highByte,
                                             std::uint16_t offset, std::uint16_t count) {
  return ReadPage(BuildReadPageByOffset(highByte, offset, count), page);
}

CommandReply DriveCommands::CommitBank(std::uint8_t bank) {
  return Send(BuildCommitBank(bank), DataDirection::NoData, nullptr, 0, kDataTimeout);
}

CommandReply DriveCommands::BeginDownload() {
  return Send(BuildBeginDownload(), DataDirection::NoData, nullptr, 0, kControlTimeout);
}

CommandReply DriveCommands::EndDownload(std::uint32_t imageLength) {
  const std::optional<Cdb> cdb = BuildEndDownload(imageLength);
  if (!cdb) return {};
  return Send(*cdb, DataDirection::NoData, nullptr, 0, kControlTimeout);
}

// Blocks are small enough for the short time-out.
CommandReply DriveCommands::SendSmallBlock(std::span<const std::uint8_t> block,
                                           std::uint32_t byteOffset) {
  return WritePage(BuildSmallBlock(byteOffset), block, kSmallBlockSize, kControlTimeout);
}

CommandReply DriveCommands::SendSummedPage(std::span<const std::uint8_t> page,
                                           const SummedPageFields& fields) {
  return WritePage(BuildSummedPage(fields), page, kPageSize, kDataTimeout);
}

CommandReply DriveCommands::SendSignedPage(std::span<const std::uint8_t> page,
                                           const SignedPageFields& fields) {
  return WritePage(BuildSignedPage(fields), page, kPageSize, kDataTimeout);
}

}  // namespace tslflash
