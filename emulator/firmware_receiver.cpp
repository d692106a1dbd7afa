#include "emulator/firmware_receiver.h"

#include <algorithm>
#include <numeric>

namespace tslflash::emu {
namespace {

constexpr std::uint32_t kPageBytes = 16384;
constexpr std::uint32_t kBlockPayload = 4096;
constexpr std::uint32_t kBlockBytes = kBlockPayload + 2;

// 16-bit sum of the bytes.
std::uint16_t LinearSum(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint16_t>(std::accumulate(bytes.begin(), bytes.end(), 0u));
}

// 16-bit sum in which the running value is rotated right by one bit before
// each byte is added.
std::uint16_t RotatedSum(std::span<const std::uint8_t> bytes) {
  std::uint16_t sum = 0;
  for (const std::uint8_t byte : bytes) {
    sum = static_cast<std::uint16_t>(((sum >> 1) | (sum << 15)) + byte);
  }
  return sum;
}

// The 24-bit buffer address of WRITE BUFFER and READ BUFFER: the buffer id
// selects a 64 KiB window, bytes 3-5 the offset (byte 3 carries offset bits
// 16-23 or a bank number).
std::uint32_t BufferAddress(CdbBytes cdb) { return cdb[2] * 65536u + Be24(cdb, 3); }

}  // namespace

FirmwareReceiver::FirmwareReceiver(std::uint32_t expectedImageSize, std::uint32_t bankSize)
    : expectedImageSize_(expectedImageSize), bankSize_(bankSize) {}

TransportReply FirmwareReceiver::WriteBuffer(const CommandRequest& request) {
  const CdbBytes cdb = request.cdb;
  const std::uint32_t length = Be24(cdb, 6);
  switch (cdb[1]) {
    case 0x04:
      if (length != 0) return CheckCondition(sense::kInvalidField);
      return Accept(expectedImageSize_, Protocol::BufferPages);
    case 0x06:
      return WriteData(BufferAddress(cdb), length, request);
    case 0x07:
      if (length == 0) return CommitBank(cdb[3]);
      return WriteData(BufferAddress(cdb), length, request);
    default:
      return CheckCondition(sense::kInvalidOpcode);
  }
}

TransportReply FirmwareReceiver::WriteData(std::uint32_t address, std::uint32_t length,
                                           const CommandRequest& request) {
  const auto data = DataOutBytes(request, length);
  if (!data || !memory_.Write(address, *data)) return CheckCondition(sense::kInvalidField);
  return Completed();
}

TransportReply FirmwareReceiver::ReadBack(const CommandRequest& request) {
  const auto buffer = DataInBuffer(request);
  if (!buffer) return CheckCondition(sense::kInvalidField);
  const std::size_t count = std::min<std::size_t>(Be24(request.cdb, 6), buffer->size());
  if (!memory_.Read(BufferAddress(request.cdb), buffer->first(count))) {
    return CheckCondition(sense::kInvalidField);
  }
  return Returned(count);
}

// Banks arrive from the highest down to 0; committing bank 0 completes the
// image, which then spans every bank committed since the last image. A bank
// refused on the way leaves that image incomplete, so bank 0 is refused too,
// as it is when bytes were written past the banks committed: that image
// runs into a bank it was never committed to.
TransportReply FirmwareReceiver::CommitBank(std::uint8_t bank) {
  if (bankSize_ == 0) {
    if (bank != 0) return CheckCondition(sense::kInvalidField);
    return Accept(memory_.WrittenEnd(), Protocol::BankedPages);
  }
  const std::uint64_t begin = std::uint64_t{bank} * bankSize_;
  const bool complete = begin + bankSize_ <= DownloadMemory::kCapacity &&
                        memory_.IsWritten(static_cast<std::uint32_t>(begin),
                                          static_cast<std::uint32_t>(begin + bankSize_));
  if (complete) committedBanks_.insert(bank);
  bankRefused_ = bankRefused_ || !complete;
  if (bank != 0) return complete ? Completed() : CheckCondition(sense::kSequenceError);

  const std::size_t banks = committedBanks_.size();
  const bool whole = complete && !bankRefused_ && *committedBanks_.rbegin() + 1u == banks &&
                     memory_.WrittenEnd() <= std::uint64_t{banks} * bankSize_;
  committedBanks_.clear();
  bankRefused_ = false;
  if (!whole) return CheckCondition(sense::kSequenceError);
  return Accept(std::uint64_t{banks} * bankSize_, Protocol::BankedPages);
}

TransportReply FirmwareReceiver::Download(const CommandRequest& request) {
  switch (request.cdb[1]) {
    case 0x01:
      memory_.Clear();
      return Completed();
    case 0x03:
      return SmallBlock(request);
    case 0x04:
      return EndDownload(request.cdb);
    default:
      return CheckCondition(sense::kInvalidOpcode);
  }
}

// 4096 image bytes followed by the low 16 bits of their sum, big-endian.
TransportReply FirmwareReceiver::SmallBlock(const CommandRequest& request) {
  if (Be16(request.cdb, 8) != kBlockBytes) return CheckCondition(sense::kInvalidField);
  const auto block = DataOutBytes(request, kBlockBytes);
  if (!block) return CheckCondition(sense::kInvalidField);
  const auto payload = block->first(kBlockPayload);
  const std::uint16_t carried = Be16(*block, kBlockPayload);
  if (LinearSum(payload) != carried) return CheckCondition(sense::kBadParameterData);
  if (!memory_.Write(Be32(request.cdb, 2), payload)) return CheckCondition(sense::kInvalidField);
  return Completed();
}

TransportReply FirmwareReceiver::EndDownload(CdbBytes cdb) {
  if (cdb[11] != 0x01) return CheckCondition(sense::kInvalidField);
  return Accept(Be24(cdb, 7), Protocol::SmallBlocks);
}

// Page p of N (from 1) carries its own sum in bytes 6-7 and the image's linear
// sum in bytes 8-9, which the drive checks once the last page is in.
TransportReply FirmwareReceiver::SignedPage(const CommandRequest& request) {
  const CdbBytes cdb = request.cdb;
  const std::uint8_t page = cdb[10];
  const std::uint8_t pages = cdb[11];
  if (page == 0 || page > pages) return CheckCondition(sense::kInvalidField);
  const TransportReply stored = StorePage(page - 1u, Be16(cdb, 6), std::nullopt, request);
  if (stored.result != CommandResult::Completed || page != pages) return stored;
  return Accept(std::uint64_t{pages} * kPageBytes, Protocol::SignedPages,
                ImageSums{Be16(cdb, 8), std::nullopt});
}

// Page i of N (from 0) carries the image's linear sum twice (bytes 1-2 and
// 7-8), its rotated sum (9-10), and a page check (3-4) that is either the
// rotated sum or the page's own sum.
TransportReply FirmwareReceiver::SummedPage(const CommandRequest& request) {
  const CdbBytes cdb = request.cdb;
  const std::uint8_t index = cdb[5];
  const std::uint8_t pages = cdb[11];
  if (Be16(cdb, 1) != Be16(cdb, 7) || cdb[6] != 0x01 || index >= pages) {
    return CheckCondition(sense::kInvalidField);
  }
  const TransportReply stored = StorePage(index, Be16(cdb, 3), Be16(cdb, 9), request);
  if (stored.result != CommandResult::Completed || index + 1u != pages) return stored;
  return Accept(std::uint64_t{pages} * kPageBytes, Protocol::SummedPages,
                ImageSums{Be16(cdb, 7), Be16(cdb, 9)});
}

// A page is stored when its check equals its own sum or, where the protocol
// allows it, the alternative value.
TransportReply FirmwareReceiver::StorePage(std::uint32_t index, std::uint16_t pageCheck,
                                           std::optional<std::uint16_t> alternativeCheck,
                                           const CommandRequest& request) {
  const auto page = DataOutBytes(request, kPageBytes);
  if (!page) return CheckCondition(sense::kInvalidField);
  if (pageCheck != LinearSum(*page) && pageCheck != alternativeCheck) {
    return CheckCondition(sense::kBadParameterData);
  }
  if (!memory_.Write(index * kPageBytes, *page)) return CheckCondition(sense::kInvalidField);
  return Completed();
}

TransportReply FirmwareReceiver::Accept(std::uint64_t length, Protocol protocol,
                                        std::optional<ImageSums> sums) {
  if (length == 0 || length > DownloadMemory::kCapacity ||
      !memory_.IsWritten(0, static_cast<std::uint32_t>(length))) {
    return CheckCondition(sense::kSequenceError);
  }
  std::vector<std::uint8_t> image = memory_.Copy(0, static_cast<std::uint32_t>(length));
  if (sums && (LinearSum(image) != sums->linear ||
               (sums->rotated && RotatedSum(image) != *sums->rotated))) {
    return CheckCondition(sense::kBadParameterData);
  }
  received_ = ReceivedFirmware{std::move(image), protocol};
  return Completed();
}

}  // namespace tslflash::emu
