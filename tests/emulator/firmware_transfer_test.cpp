// Each way the tool sends firmware, driven by hand with CDBs written out byte
// by byte: the drive assembles exactly the image that was sent, and refuses a
// transfer with a bad checksum or a missing part.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "emulator/drive_emulator.h"
#include "emulator_test_support.h"

namespace tslflash::emu::test {
namespace {

using ::testing::Contains;
using Outcomes = std::vector<std::string>;

constexpr std::uint32_t kPage = 16384;
constexpr std::uint32_t kBlock = 4096;

// A defect to put into an otherwise correct transfer.
struct Tamper {
  std::optional<std::size_t> skipUnit{};      // this page or block is never sent
  std::optional<std::size_t> badUnitCheck{};  // its own check is off by one
  bool badImageLinear = false;                // the image's linear sum is off by one
  bool badImageRotated = false;               // the image's rotated sum is off by one
};

Bytes Unit(const Bytes& source, std::size_t offset, std::size_t size) {
  Bytes unit(size, 0);
  std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(offset),
              std::min(size, source.size() - offset), unit.begin());
  return unit;
}

std::uint16_t OffByOne(std::uint16_t value, bool bad) {
  return static_cast<std::uint16_t>(value + (bad ? 1 : 0));
}

// Writes a page, then reads it back as the verifying protocols do.
Outcomes WriteAndReadBack(DriveEmulator& drive, Bytes writeCdb, Bytes page) {
  Bytes readCdb = writeCdb;
  readCdb[0] = 0x3C;
  readCdb[1] = 0x02;
  Outcomes out = {SendOutcome(drive, writeCdb, DataDirection::ToDrive, page)};
  Bytes back(kPage, 0);
  out.push_back(SendOutcome(drive, readCdb, DataDirection::FromDrive, back));
  EXPECT_EQ(back, page);
  return out;
}

void Append(Outcomes& to, const Outcomes& more) { to.insert(to.end(), more.begin(), more.end()); }

// WRITE BUFFER mode 7 by buffer id (offset bits 16-23) and 16-bit offset,
// then WRITE BUFFER mode 4 without data.
Outcomes SendBufferPages(DriveEmulator& drive, const Bytes& image, std::size_t length,
                         const Tamper& t = {}) {
  Outcomes out;
  for (std::size_t page = 0; page * kPage < length; ++page) {
    if (t.skipUnit == page) continue;
    const std::uint32_t offset = static_cast<std::uint32_t>(page * kPage);
    Append(out, WriteAndReadBack(drive,
                                 {0x3B, 0x07, Lo(offset >> 16), 0x00, Hi(offset), Lo(offset), 0x00,
                                  0x40, 0x00, 0x00},
                                 Unit(image, offset, kPage)));
  }
  out.push_back(SendOutcome(drive, {0x3B, 0x04, 0, 0, 0, 0, 0, 0, 0, 0}));
  return out;
}

// WRITE BUFFER mode 6 at 24-bit addresses, bank by bank from the highest,
// each closed by WRITE BUFFER mode 7 without data naming the bank.
Outcomes SendBankedPages(DriveEmulator& drive, const Bytes& image, std::size_t length,
                         std::size_t bankBytes, const Tamper& t = {}) {
  Outcomes out;
  const std::size_t banks = length / bankBytes;
  for (std::size_t bank = banks; bank-- > 0;) {
    for (std::size_t inBank = 0; inBank < bankBytes; inBank += kPage) {
      const std::uint32_t address = static_cast<std::uint32_t>(bank * bankBytes + inBank);
      if (t.skipUnit == address / kPage) continue;
      Append(out, WriteAndReadBack(drive,
                                   {0x3B, 0x06, 0x00, Lo(address >> 16), Hi(address), Lo(address),
                                    0x00, 0x40, 0x00, 0x00},
                                   Unit(image, address, kPage)));
    }
    out.push_back(SendOutcome(drive, {0x3B, 0x07, 0x00, Lo(bank), 0, 0, 0, 0, 0, 0}));
  }
  return out;
}

// F2h 01h twice, F2h 03h per 4 KiB block of `source` with its sum, then F2h
// 04h with the image length. The last block carries whatever follows the
// image in `source`.
Outcomes SendSmallBlocks(DriveEmulator& drive, const Bytes& source, std::size_t length,
                         const Tamper& t = {}) {
  const Bytes begin = {0xF2, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  Outcomes out = {SendOutcome(drive, begin), SendOutcome(drive, begin)};
  for (std::size_t k = 0; k * kBlock < length; ++k) {
    if (t.skipUnit == k) continue;
    const std::uint32_t offset = static_cast<std::uint32_t>(k * kBlock);
    Bytes block = Unit(source, offset, kBlock + 2);
    const std::uint16_t sum =
        OffByOne(RefLinear(std::span(block).first(kBlock)), t.badUnitCheck == k);
    block[kBlock] = Hi(sum);
    block[kBlock + 1] = Lo(sum);
    out.push_back(SendOutcome(drive,
                              {0xF2, 0x03, Lo(offset >> 24), Lo(offset >> 16), Hi(offset),
                               Lo(offset), 0x00, 0x00, 0x10, 0x02, 0x00, 0x00},
                              DataDirection::ToDrive, block));
  }
  out.push_back(SendOutcome(
      drive, {0xF2, 0x04, 0, 0, 0, 0, 0, Lo(length >> 16), Hi(length), Lo(length), 0x00, 0x01}));
  return out;
}

// FDh 07h "KOVA" per page, numbered from 1, with the page's sum and the
// image's linear sum.
Outcomes SendSignedPages(DriveEmulator& drive, const Bytes& image, std::size_t length,
                         const Tamper& t = {}) {
  const auto pages = static_cast<std::uint8_t>(length / kPage);
  const std::uint16_t linear =
      OffByOne(RefLinear(std::span(image).first(length)), t.badImageLinear);
  Outcomes out;
  for (std::uint8_t p = 1; p <= pages; ++p) {
    if (t.skipUnit == p - 1u) continue;
    Bytes page = Unit(image, (p - 1u) * kPage, kPage);
    const std::uint16_t sum = OffByOne(RefLinear(page), t.badUnitCheck == p - 1u);
    out.push_back(SendOutcome(
        drive, {0xFD, 0x07, 'K', 'O', 'V', 'A', Hi(sum), Lo(sum), Hi(linear), Lo(linear), p, pages},
        DataDirection::ToDrive, page));
  }
  return out;
}

// FAh per page, indexed from 0, with the image's sums and a page check that
// is the rotated sum or, per page, the page's own sum.
Outcomes SendSummedPages(DriveEmulator& drive, const Bytes& image, std::size_t length,
                         bool perPageSum, const Tamper& t = {}) {
  const auto pages = static_cast<std::uint8_t>(length / kPage);
  const std::uint16_t linear =
      OffByOne(RefLinear(std::span(image).first(length)), t.badImageLinear);
  const std::uint16_t rotated =
      OffByOne(RefRotated(std::span(image).first(length)), t.badImageRotated);
  Outcomes out;
  for (std::uint8_t i = 0; i < pages; ++i) {
    if (t.skipUnit == i) continue;
    Bytes page = Unit(image, i * kPage, kPage);
    const std::uint16_t check =
        OffByOne(perPageSum ? RefLinear(page) : rotated, t.badUnitCheck == i);
    out.push_back(SendOutcome(drive,
                              {0xFA, Hi(linear), Lo(linear), Hi(check), Lo(check), i, 0x01,
                               Hi(linear), Lo(linear), Hi(rotated), Lo(rotated), pages},
                              DataDirection::ToDrive, page));
  }
  return out;
}

TEST(ReferenceChecksums, MatchKnownValues) {
  const Bytes abc = {'a', 'b', 'c'};
  EXPECT_EQ(RefLinear(abc), 0x0126);
  EXPECT_EQ(RefRotated(abc), 0x40AC);
}

DriveDescription WithBanks(std::uint32_t bankSize) {
  DriveDescription d = VarnDrive();
  d.bankSize = bankSize;
  return d;
}

struct TransferCase {
  const char* name;
  DriveDescription drive;
  // Sends the first `length` bytes of a source as the image; a sender may
  // read past them where the tool would.
  std::function<Outcomes(DriveEmulator&, const Bytes&, std::size_t, const Tamper&)> send;
  std::size_t length;
  Protocol protocol;
};

// The drive's 128 KiB image type unless a case says otherwise.
std::vector<TransferCase> Transfers() {
  using T = const Tamper&;
  return {
      {"buffer pages", VarnDrive(), SendBufferPages, 0x20000, Protocol::BufferPages},
      {"banked pages, 64 KiB banks", WithBanks(0x10000),
       [](DriveEmulator& d, const Bytes& s, std::size_t n, T t) {
         return SendBankedPages(d, s, n, 0x10000, t);
       },
       0x20000, Protocol::BankedPages},
      {"banked pages, one bank", VarnDrive(),
       [](DriveEmulator& d, const Bytes& s, std::size_t n, T t) {
         return SendBankedPages(d, s, n, n, t);
       },
       0x20000, Protocol::BankedPages},
      {"small blocks, last one partial", VarnDrive(), SendSmallBlocks, 3 * kBlock + 1,
       Protocol::SmallBlocks},
      {"signed pages", VarnDrive(), SendSignedPages, 3 * kPage, Protocol::SignedPages},
      {"summed pages, rotated check", VarnDrive(),
       [](DriveEmulator& d, const Bytes& s, std::size_t n, T t) {
         return SendSummedPages(d, s, n, false, t);
       },
       3 * kPage, Protocol::SummedPages},
      {"summed pages, per-page check", VarnDrive(),
       [](DriveEmulator& d, const Bytes& s, std::size_t n, T t) {
         return SendSummedPages(d, s, n, true, t);
       },
       3 * kPage, Protocol::SummedPages},
  };
}

TEST(FirmwareTransfer, EachProtocolDeliversTheImageByteForByte) {
  std::uint32_t seed = 0;
  for (const TransferCase& c : Transfers()) {
    SCOPED_TRACE(c.name);
    DriveEmulator drive(c.drive);
    const Bytes source = PatternImage(c.length + kBlock, ++seed);
    const Bytes image(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(c.length));

    EXPECT_THAT(c.send(drive, source, c.length, {}), testing::Each(std::string("Completed")));
    ASSERT_TRUE(drive.ReceivedImage().has_value());
    EXPECT_TRUE(*drive.ReceivedImage() == image);
    EXPECT_EQ(drive.ReceivedProtocol(), c.protocol);
  }
}

TEST(FirmwareTransfer, RefusesADefectiveTransfer) {
  struct Case {
    std::size_t transfer;  // index into Transfers()
    const char* defect;
    Tamper tamper;
    const char* refusal;
  };
  const std::vector<Case> cases = {
      {0, "page 3 missing", {.skipUnit = 3}, "Failed 05/2C/00"},
      {1, "page 5 (bank 1) missing", {.skipUnit = 5}, "Failed 05/2C/00"},
      {1, "page 1 (bank 0) missing", {.skipUnit = 1}, "Failed 05/2C/00"},
      {3, "block 1 with a bad sum", {.badUnitCheck = 1}, "Failed 05/26/00"},
      {3, "block 2 missing", {.skipUnit = 2}, "Failed 05/2C/00"},
      {4, "page 2 with a bad sum", {.badUnitCheck = 1}, "Failed 05/26/00"},
      {4, "first page missing", {.skipUnit = 0}, "Failed 05/2C/00"},
      {4, "image sum wrong", {.badImageLinear = true}, "Failed 05/26/00"},
      {5, "page check wrong", {.badUnitCheck = 0}, "Failed 05/26/00"},
      {6, "page check wrong", {.badUnitCheck = 2}, "Failed 05/26/00"},
      {5, "rotated sum wrong", {.badImageRotated = true}, "Failed 05/26/00"},
      {6, "linear sum wrong", {.badImageLinear = true}, "Failed 05/26/00"},
  };
  const std::vector<TransferCase> transfers = Transfers();
  for (const Case& c : cases) {
    const TransferCase& transfer = transfers[c.transfer];
    SCOPED_TRACE(std::string(transfer.name) + ": " + c.defect);
    DriveEmulator drive(transfer.drive);
    const Bytes source = PatternImage(transfer.length + kBlock);
    EXPECT_THAT(transfer.send(drive, source, transfer.length, c.tamper),
                Contains(std::string(c.refusal)));
    EXPECT_FALSE(drive.ReceivedImage().has_value());
  }
}

// A mode 4 commit activates what the drive's image-size reply announces, so
// an image shorter than that is refused even when every page sent arrived.
TEST(FirmwareTransfer, CommitNeedsTheWholeAnnouncedImage) {
  DriveDescription d = VarnDrive();
  d.imageSizeKiB = 192;
  DriveEmulator drive(d);
  const Outcomes out = SendBufferPages(drive, PatternImage(0x20000), 0x20000);
  EXPECT_EQ(out.back(), "Failed 05/2C/00");
  EXPECT_FALSE(drive.ReceivedImage().has_value());
}

TEST(FirmwareTransfer, BanksMustCloseDownToZeroWithoutAGap) {
  DriveEmulator drive(WithBanks(0x10000));
  const Bytes image = PatternImage(3 * 0x10000);
  for (std::uint32_t address = 0; address < image.size(); address += kPage) {
    Bytes page = Unit(image, address, kPage);
    ASSERT_EQ(SendOutcome(drive,
                          {0x3B, 0x06, 0x00, Lo(address >> 16), Hi(address), Lo(address), 0x00,
                           0x40, 0x00, 0x00},
                          DataDirection::ToDrive, page),
              "Completed");
  }
  EXPECT_EQ(SendOutcome(drive, {0x3B, 0x07, 0, 2, 0, 0, 0, 0, 0, 0}), "Completed");
  EXPECT_EQ(SendOutcome(drive, {0x3B, 0x07, 0, 0, 0, 0, 0, 0, 0, 0}), "Failed 05/2C/00");
  EXPECT_FALSE(drive.ReceivedImage().has_value());

  for (const std::uint8_t bank : {std::uint8_t{2}, std::uint8_t{1}, std::uint8_t{0}}) {
    EXPECT_EQ(SendOutcome(drive, {0x3B, 0x07, 0, bank, 0, 0, 0, 0, 0, 0}), "Completed");
  }
  EXPECT_TRUE(drive.ReceivedImage() == image);
}

// A drive of 64 KiB banks given a 128 KiB image as one bank: every page
// arrives, but only bank 0 is committed, and the image's second half lies
// in a bank never committed. Taking bank 0 alone would flash half an image.
TEST(FirmwareTransfer, AnImageRunningPastTheBanksCommittedIsRefused) {
  DriveEmulator drive(WithBanks(0x10000));
  const Outcomes out = SendBankedPages(drive, PatternImage(0x20000), 0x20000, 0x20000);
  EXPECT_EQ(out.back(), "Failed 05/2C/00");
  EXPECT_FALSE(drive.ReceivedImage().has_value());
}

TEST(FirmwareTransfer, RefusesPageFieldsOutOfRange) {
  DriveEmulator drive(VarnDrive());
  Bytes page = PatternImage(kPage);
  const std::uint16_t sum = RefLinear(page);
  const auto signedPage = [&](std::uint8_t p, std::uint8_t n) {
    return SendOutcome(drive, {0xFD, 0x07, 'K', 'O', 'V', 'A', Hi(sum), Lo(sum), 0, 0, p, n},
                       DataDirection::ToDrive, page);
  };
  EXPECT_EQ(signedPage(0, 2), "Failed 05/24/00");
  EXPECT_EQ(signedPage(3, 2), "Failed 05/24/00");
  EXPECT_EQ(SendOutcome(drive, {0xFD, 0x07, 'K', 'O', 'V', 'X', Hi(sum), Lo(sum), 0, 0, 1, 2},
                        DataDirection::ToDrive, page),
            "Failed 05/24/00");
  // Summed page: the two copies of the image's linear sum differ; index past N.
  EXPECT_EQ(SendOutcome(drive, {0xFA, 0, 1, Hi(sum), Lo(sum), 0, 1, 0, 2, 0, 0, 1},
                        DataDirection::ToDrive, page),
            "Failed 05/24/00");
  EXPECT_EQ(SendOutcome(drive, {0xFA, 0, 1, Hi(sum), Lo(sum), 1, 1, 0, 1, 0, 0, 1},
                        DataDirection::ToDrive, page),
            "Failed 05/24/00");
  // Small block whose CDB announces another length; end without its flag.
  Bytes block(kBlock + 2, 0);
  EXPECT_EQ(SendOutcome(drive, {0xF2, 0x03, 0, 0, 0, 0, 0, 0, 0x10, 0x00, 0, 0},
                        DataDirection::ToDrive, block),
            "Failed 05/24/00");
  EXPECT_EQ(SendOutcome(drive, {0xF2, 0x04, 0, 0, 0, 0, 0, 0, 0x10, 0x00, 0, 0}),
            "Failed 05/24/00");
  // Bank other than 0 on a drive that keeps the image in one bank.
  EXPECT_EQ(SendOutcome(drive, {0x3B, 0x07, 0, 1, 0, 0, 0, 0, 0, 0}), "Failed 05/24/00");
  EXPECT_EQ(drive.DownloadMemoryBytes(0, kPage), Bytes(kPage, 0));
}

TEST(FirmwareTransfer, BeginDownloadForgetsEarlierBlocks) {
  DriveEmulator drive(VarnDrive());
  const Bytes image = PatternImage(kBlock);
  ASSERT_THAT(SendSmallBlocks(drive, image, kBlock), testing::Each(std::string("Completed")));
  EXPECT_EQ(SendOutcome(drive, {0xF2, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), "Completed");
  EXPECT_EQ(SendOutcome(drive, {0xF2, 0x04, 0, 0, 0, 0, 0, 0, 0x10, 0x00, 0, 0x01}),
            "Failed 05/2C/00");
  EXPECT_TRUE(drive.ReceivedImage() == image);  // the earlier image stays the last accepted
}

}  // namespace
}  // namespace tslflash::emu::test
