// The five ways the firmware image travels to the drive. Each takes the image
// and the command set, sends the image in its units with its own closing
// command, and says how the transfer ended; the update run reports the result.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string_view>

#include "package/checksum.h"
#include "transport/clock.h"
#include "transport/drive_commands.h"
#include "update/run_events.h"

namespace tslflash {

enum class TransferProtocol : std::uint8_t {
  BufferPages,  // '0': 16 KiB pages by buffer id, read back, one commit
  SignedPages,  // '1': FDh 07h pages numbered from 1
  SummedPages,  // '2': FAh pages with the image checksums
  SmallBlocks,  // '3': 4 KiB blocks with their own sum, closed by F2h 04h
  BankedPages,  // '4': 16 KiB pages by offset in 64 KiB banks, read back, a commit per bank
};

// Nothing for a digit outside '0'..'4'.
std::optional<TransferProtocol> TransferProtocolFor(char protocolDigit);

enum class TransferResult : std::uint8_t {
  Failed = 0,  // some of the image may have reached the drive
  Done = 1,
  ClosingFailed = 2,  // every unit accepted, only the closing command failed
  NothingSent = 3,    // refused before the first unit: the drive's firmware is untouched
};

// A failed closing command still counts as a completed transfer: every unit
// was accepted and read back where the protocol verifies.
constexpr bool Completed(TransferResult result) {
  return result == TransferResult::Done || result == TransferResult::ClosingFailed;
}

// Why an image cannot travel by a protocol; found before anything is sent.
enum class TransferRefusal : std::uint8_t {
  None,
  NothingToSend,  // not one unit
  TooManyUnits,   // more pages or blocks than the protocol's 8-bit count holds
  NotTwoBanks,    // the two-bank drives take exactly two 64 KiB banks
};

// The drives whose banked transfer goes in two 64 KiB banks, bank 1 first.
[[nodiscard]] bool UsesTwoBanks(std::string_view modelCode);

// The command that closes a transfer by this protocol, as its failure names
// it; the vendor pages need none.
[[nodiscard]] std::string_view ClosingCommandOf(TransferProtocol protocol);

// What the protocol sends for an image of `transferLength` bytes: the unit
// and how many of them (`pageCount` is the vendor pages' own count).
[[nodiscard]] TransferProgress PlannedUnits(TransferProtocol protocol, std::uint32_t transferLength,
                                            std::uint8_t pageCount);

[[nodiscard]] TransferRefusal CheckTransferable(TransferProtocol protocol,
                                                std::uint32_t transferLength,
                                                std::string_view modelCode);

struct TransferContext {
  DriveCommands& commands;
  Clock& clock;
  std::ostream& diagnostics;  // the routines' progress and error lines
  // The image from its first byte, followed by whatever the package holds
  // after it; bytes past the end of this span are sent as zero.
  std::span<const std::uint8_t> image;
  std::uint32_t transferLength = 0;  // L
  std::string_view modelCode;        // the selected drive's model code
  RunEvents& events;                 // told which command failed the transfer
};

// What the vendor-page commands carry besides the pages.
struct VendorPagesPlan {
  std::uint8_t pageCount = 0;
  ChecksumPair imageSums;  // of the image as sent
  bool perPageSumMode = false;
};

// SignedPages or SummedPages: pageCount whole pages, one attempt each.
[[nodiscard]] TransferResult SendVendorPages(const TransferContext& context,
                                             TransferProtocol protocol,
                                             const VendorPagesPlan& plan);
// Pages by buffer id up to the drive's expected image size, each read back.
[[nodiscard]] TransferResult TransferBufferPages(const TransferContext& context);
// 4 KiB blocks; Failed, Done, or ClosingFailed when only F2h 04h failed.
[[nodiscard]] TransferResult TransferSmallBlocks(const TransferContext& context);
// Pages by offset, bank by bank from the highest down to 0, each read back.
[[nodiscard]] TransferResult TransferBankedPages(const TransferContext& context);

}  // namespace tslflash
