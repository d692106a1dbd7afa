#include "update/transfer_protocols.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>
#include <ostream>
#include <vector>

#include "models/model_traits.h"
#include "update/hex_text.h"

namespace tslflash {
namespace {

constexpr std::uint32_t kPage = kPageSize;
constexpr std::uint32_t kBlockPayload = kSmallBlockPayload;
constexpr std::uint32_t kBankSize = 65536;
constexpr std::uint32_t kTwoBankLength = 2 * kBankSize;
constexpr std::uint8_t kTwoBankFirst = 1;
// The vendor pages carry their count in one byte; blocks their index.
constexpr std::uint64_t kMaxVendorPages = 255;
constexpr std::uint64_t kMaxBlocks = 256;
// Pages by id or offset are addressed in 24 bits.
constexpr std::uint64_t kMaxAddressable = std::uint64_t{1} << 24;
constexpr int kMaxConsecutiveFailures = 5;
constexpr std::chrono::milliseconds kEndDownloadSettle{5000};

constexpr std::string_view kWillBeUpgraded = "\nFirmware will be upgraded!\n";
constexpr std::string_view kTransferringPages = "\n\nTransferring firmware...";
constexpr std::string_view kTransferringBlocks = "\nTransferring firmware...";
constexpr std::string_view kWrongImageSize = "This file is not the correct bin file";

std::uint32_t WholePages(std::uint32_t length) {
  return static_cast<std::uint32_t>((std::uint64_t{length} + kPage - 1) / kPage * kPage);
}

std::uint32_t BlockCount(std::uint32_t length) {
  return static_cast<std::uint32_t>((std::uint64_t{length} + kBlockPayload - 1) / kBlockPayload);
}

// Fills `out` with the image bytes from `offset` on; past the image, zeros.
void CopyImage(std::span<const std::uint8_t> image, std::size_t offset,
               std::span<std::uint8_t> out) {
  const std::size_t available = offset < image.size() ? image.size() - offset : 0;
  const std::size_t count = std::min(out.size(), available);
  std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), count, out.begin());
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(count), out.end(), std::uint8_t{0});
}

// The image's bytes [offset, offset + out.size()) where they lie in the image;
// only a unit that runs past the image's end is put together in `out`.
std::span<const std::uint8_t> UnitAt(std::span<const std::uint8_t> image, std::size_t offset,
                                     std::span<std::uint8_t> out) {
  if (offset <= image.size() && image.size() - offset >= out.size()) {
    return image.subspan(offset, out.size());
  }
  CopyImage(image, offset, out);
  return out;
}

std::uint16_t PageSum(std::span<const std::uint8_t> page) {
  return static_cast<std::uint16_t>(ByteSum(page.data(), kPage));
}

bool Refused(const TransferContext& context, TransferProtocol protocol) {
  return CheckTransferable(protocol, context.transferLength, context.modelCode) !=
         TransferRefusal::None;
}

TransferRefusal CountRefusal(std::uint64_t units, std::uint64_t most) {
  if (units == 0) return TransferRefusal::NothingToSend;
  return units > most ? TransferRefusal::TooManyUnits : TransferRefusal::None;
}

CommandReply SendVendorPage(DriveCommands& commands, TransferProtocol protocol,
                            const VendorPagesPlan& plan, std::uint8_t index,
                            std::span<const std::uint8_t> page) {
  const std::uint16_t pageSum = PageSum(page);
  if (protocol == TransferProtocol::SignedPages) {
    const auto number = static_cast<std::uint8_t>(index + 1);
    return commands.SendSignedPage(page, {pageSum, plan.imageSums.linear, number, plan.pageCount});
  }
  const std::uint16_t pageCheck = plan.perPageSumMode ? pageSum : plan.imageSums.rotated;
  return commands.SendSummedPage(
      page, {plan.imageSums.linear, pageCheck, index, plan.imageSums.rotated, plan.pageCount});
}

// Each byte of a whole page inverted into `to`. The pages never overlap;
// saying so lets the compiler invert whole vector registers at a time.
void InvertPage(const std::uint8_t* __restrict from, std::uint8_t* __restrict to) {
  for (std::uint32_t i = 0; i < kPage; ++i) to[i] = static_cast<std::uint8_t>(~from[i]);
}

using WriteCommand = CommandReply (DriveCommands::*)(std::span<const std::uint8_t>, std::uint8_t,
                                                     std::uint16_t, std::uint16_t);
using ReadCommand = CommandReply (DriveCommands::*)(std::span<std::uint8_t>, std::uint8_t,
                                                    std::uint16_t, std::uint16_t);

// The two verified protocols: each page is written, read back and compared,
// and five consecutive failed attempts end the transfer. The failure count
// runs on across banks. Pages go straight from the image (only one that runs
// past its end is put together in a page of its own) and are read back into
// one page-sized buffer: the image is never copied.
class VerifiedPages {
 public:
  static std::optional<VerifiedPages> Allocate(const TransferContext& context, WriteCommand write,
                                               ReadCommand read) {
    try {
      return VerifiedPages(context, write, read);
    } catch (const std::bad_alloc&) {
      return std::nullopt;
    }
  }

  // Sends [0, end) of `source`, whole pages, zeros past its end; `bank`,
  // when given, addresses every page instead of the offset's bits 16-23.
  bool Send(std::span<const std::uint8_t> source, std::uint32_t end,
            std::optional<std::uint8_t> bank) {
    for (std::uint32_t offset = 0; offset < end;) {
      const std::span<const std::uint8_t> page = UnitAt(source, offset, LastPage());
      if (Attempt(page, offset, bank.value_or(static_cast<std::uint8_t>(offset >> 16)))) {
        failures_ = 0;
        context_.diagnostics << "Transfer of " << pageNumber_ << " page 16k bytes\n";
        context_.events.Progress({"pages", static_cast<std::uint32_t>(pageNumber_++), totalPages_});
        offset += kPage;
      } else if (++failures_ >= kMaxConsecutiveFailures) {
        context_.diagnostics << "Error Happen in ID " << HexLower((offset >> 16) & 0xFFu)
                             << " OFFSET 0x" << HexWord(offset & 0xFFFFu);
        lastFailure_.unit = "page";
        lastFailure_.index = static_cast<std::uint32_t>(pageNumber_);
        lastFailure_.count = totalPages_;
        context_.events.Failed(lastFailure_);
        return false;
      }
    }
    return true;
  }

 private:
  VerifiedPages(const TransferContext& context, WriteCommand write, ReadCommand read)
      : context_(context),
        write_(write),
        read_(read),
        totalPages_(PlannedUnits(TransferProtocol::BufferPages, context.transferLength, 0).total),
        // Not zeroed: each is filled before it is sent or compared.
        lastPage_(std::make_unique_for_overwrite<std::uint8_t[]>(kPage)),
        readBack_(std::make_unique_for_overwrite<std::uint8_t[]>(kPage)) {}

  std::span<std::uint8_t> LastPage() { return {lastPage_.get(), kPage}; }

  bool Attempt(std::span<const std::uint8_t> page, std::uint32_t offset, std::uint8_t high) {
    const auto readBack = std::span(readBack_.get(), kPage);
    const auto low = static_cast<std::uint16_t>(offset);
    // A read that completes without delivering the page must not compare
    // equal to what an earlier read left behind.
    InvertPage(page.data(), readBack.data());
    DriveCommands& commands = context_.commands;
    lastFailure_.reply = (commands.*write_)(page, high, low, kPage);
    if (!lastFailure_.reply) {
      lastFailure_.command = "page write";
      return false;
    }
    lastFailure_.reply = (commands.*read_)(readBack, high, low, kPage);
    if (!lastFailure_.reply) {
      lastFailure_.command = "page read-back";
      return false;
    }
    if (std::ranges::equal(page, readBack)) return true;
    lastFailure_.command = "page read-back compare";
    return false;
  }

  const TransferContext& context_;
  WriteCommand write_;
  ReadCommand read_;
  std::uint32_t totalPages_;                  // of the whole transfer, every bank
  std::unique_ptr<std::uint8_t[]> lastPage_;  // a page that runs past the image's end
  std::unique_ptr<std::uint8_t[]> readBack_;
  int failures_ = 0;
  int pageNumber_ = 1;
  CommandFailure lastFailure_;  // the last attempt's, told when the page gives up
};

}  // namespace

std::optional<TransferProtocol> TransferProtocolFor(char protocolDigit) {
  switch (protocolDigit) {
    case '0':
      return TransferProtocol::BufferPages;
    case '1':
      return TransferProtocol::SignedPages;
    case '2':
      return TransferProtocol::SummedPages;
    case '3':
      return TransferProtocol::SmallBlocks;
    case '4':
      return TransferProtocol::BankedPages;
    default:
      return std::nullopt;
  }
}

bool UsesTwoBanks(std::string_view modelCode) { return TraitsOf(modelCode).twoBanks; }

std::string_view ClosingCommandOf(TransferProtocol protocol) {
  switch (protocol) {
    case TransferProtocol::BufferPages:
      return "image commit";
    case TransferProtocol::SmallBlocks:
      return "download end";
    case TransferProtocol::BankedPages:
      return "bank commit";
    case TransferProtocol::SignedPages:
    case TransferProtocol::SummedPages:
      break;
  }
  return "last command";
}

TransferProgress PlannedUnits(TransferProtocol protocol, std::uint32_t transferLength,
                              std::uint8_t pageCount) {
  switch (protocol) {
    case TransferProtocol::SignedPages:
    case TransferProtocol::SummedPages:
      return {"pages", 0, pageCount};
    case TransferProtocol::SmallBlocks:
      return {"blocks", 0, BlockCount(transferLength)};
    case TransferProtocol::BufferPages:
    case TransferProtocol::BankedPages:
      break;
  }
  return {"pages", 0, WholePages(transferLength) / kPage};
}

TransferRefusal CheckTransferable(TransferProtocol protocol, std::uint32_t transferLength,
                                  std::string_view modelCode) {
  const std::uint64_t length = transferLength;
  switch (protocol) {
    case TransferProtocol::SignedPages:
    case TransferProtocol::SummedPages:
      return CountRefusal(length / kPage, kMaxVendorPages);
    case TransferProtocol::SmallBlocks:
      return CountRefusal(BlockCount(transferLength), kMaxBlocks);
    case TransferProtocol::BankedPages:
      if (UsesTwoBanks(modelCode) && length != kTwoBankLength) return TransferRefusal::NotTwoBanks;
      break;
    case TransferProtocol::BufferPages:
      break;
  }
  return CountRefusal(length, kMaxAddressable);
}

TransferResult SendVendorPages(const TransferContext& context, TransferProtocol protocol,
                               const VendorPagesPlan& plan) {
  const bool vendorPages =
      protocol == TransferProtocol::SignedPages || protocol == TransferProtocol::SummedPages;
  if (!vendorPages || plan.pageCount == 0 || Refused(context, protocol)) {
    return TransferResult::NothingSent;
  }
  std::vector<std::uint8_t> lastPage(kPage);
  for (std::uint8_t index = 0; index < plan.pageCount; ++index) {
    const auto page = UnitAt(context.image, std::size_t{index} * kPage, lastPage);
    if (const CommandReply reply = SendVendorPage(context.commands, protocol, plan, index, page);
        !reply) {
      const std::string_view command =
          protocol == TransferProtocol::SignedPages ? "signed page" : "summed page";
      context.events.Failed({command, "page", index + 1u, plan.pageCount, reply});
      return TransferResult::Failed;
    }
    context.events.Progress({"pages", index + 1u, plan.pageCount});
  }
  return TransferResult::Done;
}

TransferResult TransferBufferPages(const TransferContext& context) {
  if (Refused(context, TransferProtocol::BufferPages)) return TransferResult::NothingSent;
  auto pages =
      VerifiedPages::Allocate(context, &DriveCommands::WritePageById, &DriveCommands::ReadPageById);
  if (!pages || !context.commands.QueryImageSize()) return TransferResult::NothingSent;
  if (context.transferLength != context.commands.ExpectedImageSize()) {
    context.diagnostics << kWrongImageSize;
    return TransferResult::NothingSent;
  }
  context.diagnostics << kWillBeUpgraded << kTransferringPages;
  if (!pages->Send(context.image, context.transferLength, std::nullopt)) {
    return TransferResult::Failed;
  }
  if (const CommandReply committed = context.commands.CommitImage(); !committed) {
    context.events.Failed(
        {ClosingCommandOf(TransferProtocol::BufferPages), "image", 1, 1, committed});
    return TransferResult::ClosingFailed;
  }
  return TransferResult::Done;
}

TransferResult TransferSmallBlocks(const TransferContext& context) {
  if (Refused(context, TransferProtocol::SmallBlocks)) return TransferResult::NothingSent;
  const std::uint32_t blocks = BlockCount(context.transferLength);
  context.diagnostics << kTransferringBlocks;
  // A refused start leaves nothing the blocks depend on: each carries its
  // own offset and sum.
  (void)context.commands.BeginDownload();
  (void)context.commands.BeginDownload();
  std::vector<std::uint8_t> block(kSmallBlockSize);
  std::uint32_t total = 0;
  for (std::uint32_t k = 0; k < blocks; ++k) {
    CopyImage(context.image, std::size_t{k} * kBlockPayload, std::span(block).first(kBlockPayload));
    block[kBlockPayload] = 0;
    block[kBlockPayload + 1] = 0;
    const std::uint32_t sum = ByteSum(block.data(), kSmallBlockSize);
    block[kBlockPayload] = static_cast<std::uint8_t>(sum >> 8);
    block[kBlockPayload + 1] = static_cast<std::uint8_t>(sum);
    total += sum;
    if (const CommandReply sent = context.commands.SendSmallBlock(block, k * kBlockPayload);
        !sent) {
      context.events.Failed({"small block", "block", k + 1, blocks, sent});
      return TransferResult::Failed;
    }
    context.events.Progress({"blocks", k + 1, blocks});
  }
  context.diagnostics << "\nFirmware checksum = " << HexWord(total) << "\n";
  const CommandReply closed = context.commands.EndDownload(context.transferLength);
  context.clock.Sleep(kEndDownloadSettle);
  if (closed) return TransferResult::Done;
  context.events.Failed({ClosingCommandOf(TransferProtocol::SmallBlocks), "image", 1, 1, closed});
  return TransferResult::ClosingFailed;
}

TransferResult TransferBankedPages(const TransferContext& context) {
  if (Refused(context, TransferProtocol::BankedPages)) return TransferResult::NothingSent;
  const bool twoBanks = UsesTwoBanks(context.modelCode);
  const std::uint32_t bankLength = twoBanks ? kBankSize : context.transferLength;
  auto pages = VerifiedPages::Allocate(context, &DriveCommands::WritePageByOffset,
                                       &DriveCommands::ReadPageByOffset);
  if (!pages) return TransferResult::NothingSent;
  context.diagnostics << kWillBeUpgraded << kTransferringPages;
  for (int bank = twoBanks ? kTwoBankFirst : 0; bank >= 0; --bank) {
    const auto bankNumber = static_cast<std::uint8_t>(bank);
    const std::size_t bankStart = std::size_t{bankNumber} * bankLength;
    const auto source = bankStart < context.image.size() ? context.image.subspan(bankStart)
                                                         : std::span<const std::uint8_t>{};
    const auto address = twoBanks ? std::optional(bankNumber) : std::nullopt;
    if (!pages->Send(source, bankLength, address)) return TransferResult::Failed;
    // Only the last commit closes the transfer; a bank refused before it
    // leaves the image incomplete.
    if (const CommandReply committed = context.commands.CommitBank(bankNumber); !committed) {
      const std::uint32_t banks = twoBanks ? 2 : 1;
      context.events.Failed({ClosingCommandOf(TransferProtocol::BankedPages), "bank",
                             banks - bankNumber, banks, committed});
      return bank == 0 ? TransferResult::ClosingFailed : TransferResult::Failed;
    }
  }
  return TransferResult::Done;
}

}  // namespace tslflash
