// The five transfer protocols against an emulated drive, without the dialog:
// the commands each puts on the wire, page and bank order, read-back and its
// failure count, closing commands, the units' limits and the last unit of an
// image that does not fill it.
#include "update/transfer_protocols.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>
#include <sstream>
#include <vector>

#include "emulator/drive_emulator.h"
#include "tests/support/emulated_drive_fixture.h"
#include "tools/package_builder.h"
#include "update/command_failure_text.h"

namespace tslflash {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using testing::SampleDrive;

Bytes Concat(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

class TransferTest : public testing::EmulatedDriveTest {
 protected:
  TransferContext Context(std::span<const std::uint8_t> image, std::uint32_t length,
                          std::string_view modelCode = "TK420B") {
    return {*commands, clock, diagnostics, image, length, modelCode, reporter};
  }
  // The CDBs sent with this opcode (and byte 1).
  std::vector<std::vector<std::uint8_t>> SentCdbs(std::uint8_t opcode, std::uint8_t mode) const {
    std::vector<std::vector<std::uint8_t>> cdbs;
    for (const auto& entry : Sent()) {
      if (entry.cdb[0] == opcode && entry.cdb[1] == mode) cdbs.push_back(entry.cdb);
    }
    return cdbs;
  }
};

TEST(TransferChoice, DigitsAndUnitLimits) {
  EXPECT_EQ(TransferProtocolFor('0'), TransferProtocol::BufferPages);
  EXPECT_EQ(TransferProtocolFor('1'), TransferProtocol::SignedPages);
  EXPECT_EQ(TransferProtocolFor('2'), TransferProtocol::SummedPages);
  EXPECT_EQ(TransferProtocolFor('3'), TransferProtocol::SmallBlocks);
  EXPECT_EQ(TransferProtocolFor('4'), TransferProtocol::BankedPages);
  EXPECT_EQ(TransferProtocolFor('5'), std::nullopt);
  EXPECT_EQ(TransferProtocolFor('\0'), std::nullopt);

  using enum TransferProtocol;
  using enum TransferRefusal;
  struct Case {
    TransferProtocol protocol;
    std::uint32_t length;
    const char* model;
    TransferRefusal refusal;
  };
  const Case cases[] = {
      // The vendor pages count in one byte, and only whole pages travel.
      {SignedPages, 16383, "", NothingToSend},
      {SignedPages, 255 * 16384 + 16383, "", None},
      {SignedPages, 256 * 16384, "", TooManyUnits},
      {SummedPages, 256 * 16384, "", TooManyUnits},
      // Blocks are indexed in one byte; the last may be partial.
      {SmallBlocks, 0, "", NothingToSend},
      {SmallBlocks, 256 * 4096, "", None},
      {SmallBlocks, 256 * 4096 + 1, "", TooManyUnits},
      {BufferPages, 0, "", NothingToSend},
      {BufferPages, 17408, "", None},
      {BankedPages, 3 * 16384 + 5, "TK420B", None},
      // The two-bank drives take exactly two 64 KiB banks.
      {BankedPages, 131072, "471K", None},
      {BankedPages, 131072 - 16384, "471K", NotTwoBanks},
      {BankedPages, 131073, "471KB", NotTwoBanks},
      {BankedPages, 3 * 16384, "T471K", None},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckTransferable(c.protocol, c.length, c.model), c.refusal)
        << static_cast<int>(c.protocol) << " " << c.length << " " << c.model;
  }
}

// The page at 1C000h is the eighth: buffer id 1, offset C000h.
TEST_F(TransferTest, BufferPagesRetriesAPageFourTimesAndGivesUpAtTheFifth) {
  const Bytes image = SynthesizeImage(0x20000, 3);
  struct Case {
    std::uint32_t corrupted;
    TransferResult result;
    const char* diagnosticsEnd;
  };
  const Case cases[] = {
      {4, TransferResult::Done, "Transfer of 8 page 16k bytes\n"},
      {5, TransferResult::Failed,
       "Transfer of 7 page 16k bytes\nError Happen in ID 1 OFFSET 0xC000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.corrupted);
    emu::DriveDescription d = SampleDrive();
    d.faults.push_back(
        {emu::FaultKind::CorruptReadBack, emu::ForOpcode{0x3C, 0x02, 8}, c.corrupted});
    Start(d);
    EXPECT_EQ(TransferBufferPages(Context(image, 0x20000)), c.result);
    EXPECT_THAT(diagnostics.str(), ::testing::StartsWith("\nFirmware will be upgraded!\n\n\n"
                                                         "Transferring firmware..."
                                                         "Transfer of 1 page 16k bytes\n"));
    EXPECT_THAT(diagnostics.str(), EndsWith(c.diagnosticsEnd));
    const auto writes = SentCdbs(0x3B, 0x07);
    ASSERT_EQ(writes.size(), 7u + std::min(c.corrupted + 1, 5u));
    EXPECT_THAT(writes.back(),
                ElementsAre(0x3B, 0x07, 0x01, 0x00, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x00));
    EXPECT_EQ(SentCdbs(0x3B, 0x04).size(), c.result == TransferResult::Done ? 1u : 0u);
    EXPECT_EQ(drive->ReceivedImage(),
              c.result == TransferResult::Done ? std::optional(image) : std::nullopt);
  }
}

// The read-back of both verified protocols: every byte of a page is
// compared, the last one too, and only consecutive failures end the
// transfer; failures on different pages, each under five, do not.
TEST_F(TransferTest, ReadBackComparesTheWholePageAndCountsFailuresPerPage) {
  struct Protocol {
    const char* name;
    TransferResult (*transfer)(const TransferContext&);
    std::uint32_t bankSize;
    const char* modelCode;
  };
  struct Case {
    const char* name;
    // Read-backs (from 1) whose data comes back with one byte inverted.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> corruptedRuns;  // first, count
    std::uint32_t offset;
    TransferResult result;
  };
  const Protocol protocols[] = {
      {"buffer pages", &TransferBufferPages, 0, "TK420B"},
      {"banked pages", &TransferBankedPages, 65536, "471K"},
  };
  const Case cases[] = {
      {"the last byte of the second page, five times", {{2, 5}}, 16383, TransferResult::Failed},
      {"the last byte of the second page, four times", {{2, 4}}, 16383, TransferResult::Done},
      // Page 1 fails four times (reads 1-4), page 3 four times (reads 7-10).
      {"four failures on two pages each", {{1, 4}, {7, 4}}, 0, TransferResult::Done},
  };
  const Bytes image = SynthesizeImage(0x20000, 7);
  for (const Protocol& p : protocols) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(p.name) + ": " + c.name);
      emu::DriveDescription d = SampleDrive();
      d.bankSize = p.bankSize;
      for (const auto& [first, count] : c.corruptedRuns) {
        emu::Fault corrupt{emu::FaultKind::CorruptReadBack, emu::ForOpcode{0x3C, 0x02, first},
                           count};
        corrupt.offset = c.offset;
        d.faults.push_back(corrupt);
      }
      Start(d);
      EXPECT_EQ(p.transfer(Context(image, 0x20000, p.modelCode)), c.result);
      EXPECT_EQ(drive->ReceivedImage(),
                c.result == TransferResult::Done ? std::optional(image) : std::nullopt);
    }
  }
}

// A read that completes without bringing any data, its transport telling
// nothing of it, must not pass for the page: here the two banks hold the
// same bytes, so what bank 1's read-backs left in the buffer would match
// every page of bank 0.
TEST_F(TransferTest, AReadBackThatBringsNoDataNeverPassesForThePage) {
  const Bytes bank = SynthesizeImage(0x10000, 8);
  const Bytes image = Concat(bank, bank);
  struct Case {
    const char* name;
    std::uint32_t times;  // reads of bank 0 that bring nothing
    TransferResult result;
  };
  const Case cases[] = {
      {"once: the page is sent again", 1, TransferResult::Done},
      {"always: the transfer fails", emu::kAlways, TransferResult::Failed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    emu::DriveDescription d = SampleDrive();
    d.bankSize = 65536;
    // Read-backs 1-4 are bank 1's; the fifth is bank 0's first page.
    d.faults.push_back({emu::FaultKind::NoData, emu::ForOpcode{0x3C, 0x02, 5}, c.times});
    Start(d);
    EXPECT_EQ(TransferBankedPages(Context(image, 0x20000, "471K")), c.result);
    // Bank 1 in four writes; bank 0 in five: a page sent twice, or its first five times.
    EXPECT_EQ(SentCdbs(0x3B, 0x06).size(), 9u);
    EXPECT_EQ(drive->ReceivedImage(),
              c.result == TransferResult::Done ? std::optional(image) : std::nullopt);
  }
}

TEST_F(TransferTest, BufferPagesSendsNothingUnlessTheDriveExpectsThisLength) {
  const Bytes image = SynthesizeImage(0x20000, 3);
  Start(SampleDrive());
  EXPECT_EQ(TransferBufferPages(Context(image, 0x20000 - 0x4000)), TransferResult::NothingSent);
  EXPECT_EQ(diagnostics.str(), "This file is not the correct bin file");
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0].cdb[0], 0x3C) << "only the image-size query";

  emu::DriveDescription silent = SampleDrive();
  silent.imageSignature = {0x11, 0x06};
  Start(silent);
  EXPECT_EQ(TransferBufferPages(Context(image, 0x20000)), TransferResult::NothingSent);
  EXPECT_EQ(Sent().size(), 1u);
}

// The last page of an image that is not whole pages is filled from what
// follows the image, and with zeros where nothing does; nothing is read past
// the image's bytes.
TEST_F(TransferTest, VerifiedPagesFillTheLastPageWithoutReadingPastTheImage) {
  struct Case {
    const char* name;
    TransferResult (*transfer)(const TransferContext&);
    std::uint16_t imageSizeKiB;
    std::uint32_t length;
  };
  const Case cases[] = {
      {"buffer pages", &TransferBufferPages, 17, 17408},
      {"banked pages", &TransferBankedPages, 0, 40000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    emu::DriveDescription d = SampleDrive();
    d.imageSizeKiB = c.imageSizeKiB;
    Start(d);
    const Bytes image = SynthesizeImage(c.length, 5);  // exactly L bytes: the package ends here
    EXPECT_EQ(c.transfer(Context(image, c.length)), TransferResult::Done);
    const std::uint32_t sent = (c.length + 16383) / 16384 * 16384;
    EXPECT_EQ(drive->DownloadMemoryBytes(0, sent), Concat(image, Bytes(sent - c.length, 0)));
    ASSERT_TRUE(drive->ReceivedImage().has_value());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), drive->ReceivedImage()->begin()));
  }
}

TEST_F(TransferTest, CommitImageThatFailsStillCompletesTheTransfer) {
  const Bytes image = SynthesizeImage(0x20000, 3);
  emu::DriveDescription d = SampleDrive();
  d.faults.push_back({emu::FaultKind::Fail, emu::ForOpcode{0x3B, 0x04}});
  Start(d);
  EXPECT_EQ(TransferBufferPages(Context(image, 0x20000)), TransferResult::ClosingFailed);
  EXPECT_TRUE(Completed(TransferResult::ClosingFailed));
  EXPECT_EQ(drive->DownloadMemoryBytes(0, 0x20000), image);
}

// Bank 1 (image bytes 64 KiB..128 KiB) goes first, then bank 0, each as four
// pages addressed by bank number and offset inside the bank.
TEST_F(TransferTest, TwoBankDriveTakesBankOneFirst) {
  const Bytes image = SynthesizeImage(0x20000, 9);
  struct Case {
    const char* name;
    std::uint32_t failingCommit;  // occurrence of the commit that fails; 0 none
    TransferResult result;
    std::size_t pages;
  };
  const Case cases[] = {
      {"both commits accepted", 0, TransferResult::Done, 8},
      {"bank 1 refused: the image is incomplete", 1, TransferResult::Failed, 4},
      {"only the last commit failed", 2, TransferResult::ClosingFailed, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    emu::DriveDescription d = SampleDrive();
    d.bankSize = 65536;
    if (c.failingCommit != 0) {
      // Commits are the writes of mode 7; pages go by mode 6.
      d.faults.push_back({emu::FaultKind::Fail, emu::ForOpcode{0x3B, 0x07, c.failingCommit}});
    }
    Start(d);
    EXPECT_EQ(TransferBankedPages(Context(image, 0x20000, "471K")), c.result);
    std::vector<std::pair<int, int>> addresses;  // (CDB byte 3, offset)
    for (const auto& cdb : SentCdbs(0x3B, 0x06)) {
      addresses.emplace_back(cdb[3], cdb[4] << 8 | cdb[5]);
    }
    const std::vector<std::pair<int, int>> order = {{1, 0x0000}, {1, 0x4000}, {1, 0x8000},
                                                    {1, 0xC000}, {0, 0x0000}, {0, 0x4000},
                                                    {0, 0x8000}, {0, 0xC000}};
    EXPECT_EQ(addresses, std::vector(order.begin(), order.begin() + static_cast<long>(c.pages)));
    EXPECT_EQ(drive->ReceivedImage(),
              c.result == TransferResult::Done ? std::optional(image) : std::nullopt);
  }
}

TEST_F(TransferTest, TwoBankDriveRefusesAnyOtherLengthBeforeSending) {
  const Bytes image = SynthesizeImage(0x30000, 9);
  Start(SampleDrive());
  EXPECT_EQ(TransferBankedPages(Context(image, 0x30000, "471K")), TransferResult::NothingSent);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(diagnostics.str(), "");
}

// L = 4097: two blocks, at 0 and 1000h; the second carries the last image
// byte and then the package's next 4095 bytes, or zeros past its end.
TEST_F(TransferTest, SmallBlocksLastBlockCarriesWhatFollowsTheImage) {
  const Bytes package = SynthesizeImage(4097 + 100, 11);
  struct Case {
    const char* name;
    std::size_t packageBytes;  // of the image and what follows it
  };
  for (const Case c : {Case{"package goes on", package.size()}, Case{"package ends", 4097}}) {
    SCOPED_TRACE(c.name);
    Start(SampleDrive());
    const std::span<const std::uint8_t> image(package.data(), c.packageBytes);
    EXPECT_EQ(TransferSmallBlocks(Context(image, 4097)), TransferResult::Done);

    Bytes secondBlock(image.begin() + 4096, image.end());
    secondBlock.resize(4096, 0);
    EXPECT_EQ(drive->DownloadMemoryBytes(0x1000, 4096), secondBlock);
    EXPECT_EQ(drive->ReceivedImage(), Bytes(package.begin(), package.begin() + 4097));

    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_THAT(sent[0].cdb, ElementsAre(0xF2, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_THAT(sent[1].cdb, ElementsAre(0xF2, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_THAT(sent[2].cdb, ElementsAre(0xF2, 0x03, 0, 0, 0, 0, 0, 0, 0x10, 0x02, 0, 0));
    EXPECT_THAT(sent[3].cdb, ElementsAre(0xF2, 0x03, 0, 0, 0x10, 0, 0, 0, 0x10, 0x02, 0, 0));
    EXPECT_THAT(sent[4].cdb, ElementsAre(0xF2, 0x04, 0, 0, 0, 0, 0, 0x00, 0x10, 0x01, 0, 0x01));
    const std::uint32_t total = std::accumulate(package.begin(), package.begin() + 4096, 0u) +
                                std::accumulate(secondBlock.begin(), secondBlock.end(), 0u);
    std::ostringstream expected;
    expected << "\nTransferring firmware...\nFirmware checksum = " << std::hex << std::uppercase
             << total << "\n";
    EXPECT_EQ(diagnostics.str(), expected.str());
    EXPECT_THAT(clock.sleeps, ElementsAre(std::chrono::milliseconds(5000)));
  }
}

TEST_F(TransferTest, SmallBlocksStopAtAFailedBlockAndReportAFailedClose) {
  const Bytes image = SynthesizeImage(3 * 4096, 11);
  emu::DriveDescription blockFails = SampleDrive();
  blockFails.faults.push_back({emu::FaultKind::TimeOut, emu::ForOpcode{0xF2, 0x03, 2}});
  Start(blockFails);
  EXPECT_EQ(TransferSmallBlocks(Context(image, 3 * 4096)), TransferResult::Failed);
  EXPECT_EQ(SentCdbs(0xF2, 0x03).size(), 2u);
  EXPECT_TRUE(SentCdbs(0xF2, 0x04).empty());

  emu::DriveDescription closeFails = SampleDrive();
  closeFails.faults.push_back({emu::FaultKind::Fail, emu::ForOpcode{0xF2, 0x04}});
  Start(closeFails);
  EXPECT_EQ(TransferSmallBlocks(Context(image, 3 * 4096)), TransferResult::ClosingFailed);
  EXPECT_EQ(drive->DownloadMemoryBytes(0, 3 * 4096), image);
}

std::uint16_t Be16(const std::vector<std::uint8_t>& cdb, std::size_t at) {
  return static_cast<std::uint16_t>(cdb[at] << 8 | cdb[at + 1]);
}

std::uint16_t Sum16(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint16_t>(std::accumulate(bytes.begin(), bytes.end(), 0u));
}

TEST_F(TransferTest, VendorPagesCarryTheirNumbersAndChecks) {
  const Bytes image = SynthesizeImage(2 * 16384 + 100, 13);  // the 100 bytes are not sent
  const std::span<const std::uint8_t> pages(image.data(), 2 * 16384);
  const ChecksumPair sums = ChecksumsOf(pages);
  const std::uint16_t pageSums[] = {Sum16(pages.first(16384)), Sum16(pages.last(16384))};
  struct Case {
    const char* name;
    TransferProtocol protocol;
    bool perPageSum;
  };
  const Case cases[] = {{"signed", TransferProtocol::SignedPages, false},
                        {"summed", TransferProtocol::SummedPages, false},
                        {"summed, a check per page", TransferProtocol::SummedPages, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(SampleDrive());
    EXPECT_EQ(SendVendorPages(Context(image, 2 * 16384 + 100), c.protocol, {2, sums, c.perPageSum}),
              TransferResult::Done);
    EXPECT_EQ(drive->ReceivedImage(), Bytes(pages.begin(), pages.end()));
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
      const auto& cdb = sent[i].cdb;
      EXPECT_EQ(sent[i].timeout, std::chrono::seconds(200));
      EXPECT_EQ(cdb[11], 2);
      if (c.protocol == TransferProtocol::SignedPages) {
        EXPECT_EQ(cdb[10], i + 1) << "numbered from 1";
        EXPECT_EQ(Be16(cdb, 6), pageSums[i]);
        EXPECT_EQ(Be16(cdb, 8), sums.linear);
      } else {
        EXPECT_EQ(cdb[5], i);
        EXPECT_EQ(Be16(cdb, 3), c.perPageSum ? pageSums[i] : sums.rotated);
        EXPECT_EQ(Be16(cdb, 9), sums.rotated);
      }
    }
  }
}

TEST_F(TransferTest, VendorPagesStopAtTheFirstFailedPage) {
  const Bytes image = SynthesizeImage(3 * 16384, 13);
  emu::DriveDescription d = SampleDrive();
  d.faults.push_back({emu::FaultKind::Fail, emu::ForOpcode{0xFD, 0x07, 2}});
  Start(d);
  EXPECT_EQ(SendVendorPages(Context(image, 3 * 16384), TransferProtocol::SignedPages,
                            {3, ChecksumsOf(image), false}),
            TransferResult::Failed);
  EXPECT_EQ(Sent().size(), 2u);
  EXPECT_FALSE(drive->ReceivedImage().has_value());
}

// The command that failed a transfer reaches the events with what it
// carried and the drive's reply: not only a diagnostics line.
TEST_F(TransferTest, TheFailedCommandTravelsWithItsUnitAndReply) {
  const Bytes image = SynthesizeImage(3 * 16384, 13);
  struct Case {
    const char* name;
    emu::Fault fault;
    std::uint32_t index;
    ReplyCategory category;
    SenseBytes sense;
  };
  const SenseBytes invalidField{0x05, 0x24, 0x00};
  const Case cases[] = {
      {"check condition on page 2",
       {emu::FaultKind::Sense, emu::ForOpcode{0xFD, 0x07, 2}, 1, invalidField},
       2,
       ReplyCategory::CheckCondition,
       invalidField},
      {"busy on page 3",
       {emu::FaultKind::Status, emu::ForOpcode{0xFD, 0x07, 3}, 1, {}, 0x08},
       3,
       ReplyCategory::OtherStatus,
       {}},
      {"no answer on page 1",
       {emu::FaultKind::TimeOut, emu::ForOpcode{0xFD, 0x07, 1}},
       1,
       ReplyCategory::TimedOut,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    emu::DriveDescription d = SampleDrive();
    d.faults.push_back(c.fault);
    Start(d);
    reporter.failures.clear();
    EXPECT_EQ(SendVendorPages(Context(image, 3 * 16384), TransferProtocol::SignedPages,
                              {3, ChecksumsOf(image), false}),
              TransferResult::Failed);
    ASSERT_EQ(reporter.failures.size(), 1u);
    const CommandFailure& failure = reporter.failures.front();
    EXPECT_EQ(failure.command, "signed page");
    EXPECT_EQ(failure.unit, "page");
    EXPECT_EQ(failure.index, c.index);
    EXPECT_EQ(failure.count, 3u);
    EXPECT_EQ(failure.reply.category, c.category);
    EXPECT_EQ(failure.reply.sense, c.sense);
  }
}

// Pages read back wrong five times give up on that page, named with the
// last attempt's reason.
TEST_F(TransferTest, AVerifiedPageThatNeverReadsBackRightIsNamed) {
  const Bytes image = SynthesizeImage(2 * 16384, 5);
  emu::DriveDescription d = SampleDrive();
  d.imageSizeKiB = 32;
  emu::Fault corrupt{emu::FaultKind::CorruptReadBack, emu::ForOpcode{0x3C, 0x02}, emu::kAlways};
  d.faults.push_back(corrupt);
  Start(d);
  EXPECT_EQ(TransferBufferPages(Context(image, 2 * 16384)), TransferResult::Failed);
  ASSERT_EQ(reporter.failures.size(), 1u);
  EXPECT_EQ(reporter.failures[0].command, "page read-back compare");
  EXPECT_EQ(reporter.failures[0].index, 1u);
  EXPECT_EQ(reporter.failures[0].count, 2u);
  EXPECT_TRUE(reporter.failures[0].reply.Good()) << "the read itself completed";
}

// A verified transfer of eight pages whose read-backs fail from one on.
struct ReadBackCase {
  const char* name;
  TransferResult (*transfer)(const TransferContext&);
  std::uint32_t bankSize;
  const char* modelCode;
  // The page (from 1, of 8) whose read-backs fail: its first is the page-th
  // read-back, as every page before it reads back at once.
  std::uint32_t page;
};

class ReadBackFailureTest : public TransferTest {
 protected:
  // Refused, or never answered, five times: the transfer gives up on that
  // page, and the events name it with the drive's last reply.
  void ExpectThePageNamed(std::span<const ReadBackCase> protocols);
};

void ReadBackFailureTest::ExpectThePageNamed(std::span<const ReadBackCase> protocols) {
  struct Fault {
    emu::Fault fault;
    ReplyCategory category;
    const char* says;
  };
  const Fault faults[] = {
      {{emu::FaultKind::Sense, {}, emu::kAlways, {0x02, 0x04, 0x00}},
       ReplyCategory::CheckCondition,
       "check condition, sense 02/04/00"},
      {{emu::FaultKind::TimeOut, {}, emu::kAlways}, ReplyCategory::TimedOut, "timed out"},
      {{emu::FaultKind::Status, {}, emu::kAlways, {}, 0x08},
       ReplyCategory::OtherStatus,
       "status 0x08 (busy)"},
      {{emu::FaultKind::ShortReply, {}, emu::kAlways, {}, 0, 100},
       ReplyCategory::ShortReply,
       "short reply (100 bytes arrived)"},
  };
  const Bytes image = SynthesizeImage(0x20000, 11);
  for (const ReadBackCase& p : protocols) {
    for (const Fault& f : faults) {
      SCOPED_TRACE(std::string(p.name) + ": " + f.says);
      emu::DriveDescription d = SampleDrive();
      d.bankSize = p.bankSize;
      emu::Fault fault = f.fault;
      fault.when = emu::ForOpcode{0x3C, 0x02, p.page};
      d.faults.push_back(fault);
      Start(d);
      reporter.failures.clear();
      EXPECT_EQ(p.transfer(Context(image, 0x20000, p.modelCode)), TransferResult::Failed);
      EXPECT_FALSE(drive->ReceivedImage().has_value());
      ASSERT_EQ(reporter.failures.size(), 1u);
      const CommandFailure& failure = reporter.failures.front();
      EXPECT_EQ(failure.reply.category, f.category);
      EXPECT_EQ(FormatCommandFailure(failure),
                "page read-back failed on page " + std::to_string(p.page) + " of 8: " + f.says);
    }
  }
}

TEST_F(ReadBackFailureTest, ARefusedOrSilentReadBackNamesThePage) {
  const ReadBackCase protocols[] = {
      {"buffer pages", &TransferBufferPages, 0, "TK420B", 2},
      {"banked pages, the last page", &TransferBankedPages, 0, "TK420B", 8},
  };
  ExpectThePageNamed(protocols);
}

// Pages are numbered on across the two banks, bank 1's first; the count is
// of both banks' pages too, never "page 6 of 4".
TEST_F(ReadBackFailureTest, TwoBanksCountThePagesOfBoth) {
  const ReadBackCase protocols[] = {
      {"bank 1's second page", &TransferBankedPages, 65536, "471K", 2},
      {"bank 0's second page", &TransferBankedPages, 65536, "471K", 6},
  };
  ExpectThePageNamed(protocols);
}

}  // namespace
}  // namespace tslflash
