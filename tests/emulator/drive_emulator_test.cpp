// The emulated drive's answers to each command, its readiness sequences, the
// data phase as a host adapter would see it, faults on demand and the trace.
#include "emulator/drive_emulator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator_test_support.h"

namespace tslflash::emu::test {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const Bytes kInquiry125 = {0x12, 0, 0, 0, 0x7D, 0};
const Bytes kTestUnitReady = {0x00, 0, 0, 0, 0, 0};
const Bytes kReadBlock24 = {0xF5, 0x01, 0, 0xA2, 0, 0x24, 0, 0x04, 0, 0, 0, 0};
const Bytes kWriteBlock02 = {0xF5, 0x03, 0, 0xA2, 0, 0x02, 0, 0x04, 0, 0, 0, 0};
// WRITE BUFFER mode 7 / READ BUFFER mode 2 of 16 bytes at buffer id 1, offset 4000h.
const Bytes kWrite16 = {0x3B, 0x07, 0x01, 0x00, 0x40, 0x00, 0x00, 0x00, 0x10, 0x00};
const Bytes kRead16 = {0x3C, 0x02, 0x01, 0x00, 0x40, 0x00, 0x00, 0x00, 0x10, 0x00};

std::string Text(const Bytes& reply, std::size_t from, std::size_t length) {
  return {reply.begin() + static_cast<std::ptrdiff_t>(from),
          reply.begin() + static_cast<std::ptrdiff_t>(from + length)};
}

TEST(DriveEmulatorInquiry, CarriesIdentityAndEnclosurePadded) {
  DriveDescription d = VarnDrive();
  d.enclosure = "TK300B";
  d.enclosureTail = "X1";
  DriveEmulator drive(d);
  Bytes reply(125, 0xEE);
  ASSERT_EQ(SendOutcome(drive, kInquiry125, DataDirection::FromDrive, reply), "Completed");
  EXPECT_EQ(reply[0], 0x05);  // CD/DVD
  EXPECT_GE(reply[4] + 5, 125);
  EXPECT_EQ(Text(reply, 8, 28), "VARN    DVD RW LPX-650A 1.02");
  EXPECT_EQ(Text(reply, 96, 15), "TK300B      X1 ");
}

TEST(DriveEmulatorInquiry, NoEnclosureGivesZeroBytes) {
  DriveEmulator drive(VarnDrive());
  Bytes reply(125, 0xEE);
  ASSERT_EQ(SendOutcome(drive, kInquiry125, DataDirection::FromDrive, reply), "Completed");
  EXPECT_THAT(std::vector(reply.begin() + 96, reply.begin() + 111), Each(0));
}

// The drive returns no more than the allocation length nor the host's
// transfer length, so bytes past either stay as the host left them.
TEST(DriveEmulatorInquiry, CopiesTheSmallerOfAllocationAndTransferLength) {
  DriveEmulator reference(VarnDrive());
  Bytes full(125, 0);
  ASSERT_EQ(SendOutcome(reference, kInquiry125, DataDirection::FromDrive, full), "Completed");
  struct Case {
    std::uint8_t allocation;
    std::uint32_t transfer;
    std::ptrdiff_t expectWritten;
  };
  for (const Case c : {Case{36, 125, 36}, Case{56, 56, 56}, Case{125, 56, 56}, Case{125, 125, 125},
                       Case{0xFF, 200, 125}}) {
    SCOPED_TRACE(testing::Message()
                 << "allocation " << int{c.allocation} << ", transfer " << c.transfer);
    DriveEmulator drive(VarnDrive());
    Bytes buffer(256, 0xEE);
    ASSERT_EQ(SendOutcome(drive, {0x12, 0, 0, 0, c.allocation, 0}, DataDirection::FromDrive,
                          std::span(buffer).first(c.transfer)),
              "Completed");
    EXPECT_THAT(std::vector(buffer.begin(), buffer.begin() + c.expectWritten),
                ElementsAreArray(full.begin(), full.begin() + c.expectWritten));
    EXPECT_THAT(std::vector(buffer.begin() + c.expectWritten, buffer.end()), Each(0xEE));
  }
}

TEST(DriveEmulatorReplies, ModeSenseCarriesBufferSizeAtBytes20And21) {
  for (const std::uint16_t kib : {std::uint16_t{8192}, std::uint16_t{4096}}) {
    DriveDescription d = VarnDrive();
    d.bufferSizeKiB = kib;
    DriveEmulator drive(d);
    Bytes reply(16384, 0);
    ASSERT_EQ(SendOutcome(drive, {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 0x1E, 0}, DataDirection::FromDrive,
                          reply),
              "Completed");
    EXPECT_EQ(reply[8] & 0x3F, 0x2A);
    EXPECT_EQ(reply[20], Hi(kib));
    EXPECT_EQ(reply[21], Lo(kib));
    EXPECT_THAT(std::vector(reply.begin() + 30, reply.begin() + 64), Each(0));
  }
}

TEST(DriveEmulatorReplies, ImageSizeReplyIsLittleEndianAfterItsSignature) {
  DriveDescription d = VarnDrive();
  d.imageType = 0x3140;
  d.imageSizeKiB = 0x0200;
  DriveEmulator plain(d);
  d.imageSignature = {0x11, 0x06};
  DriveEmulator swapped(d);
  const Bytes query = {0x3C, 0x01, 0, 0, 0, 0, 0, 0, 0x64, 0};

  Bytes reply(100, 0);
  ASSERT_EQ(SendOutcome(plain, query, DataDirection::FromDrive, reply), "Completed");
  EXPECT_THAT(std::vector(reply.begin(), reply.begin() + 12),
              ElementsAre(0x06, 0x11, 0x40, 0x31, 0, 0, 0, 0, 0, 0, 0x00, 0x02));
  ASSERT_EQ(SendOutcome(swapped, query, DataDirection::FromDrive, reply), "Completed");
  EXPECT_THAT(std::vector(reply.begin(), reply.begin() + 2), ElementsAre(0x11, 0x06));
}

TEST(DriveEmulatorReplies, ParameterBlocksReadAndWrite) {
  DriveEmulator drive(VarnDrive());
  Bytes block(4, 0);
  ASSERT_EQ(SendOutcome(drive, kReadBlock24, DataDirection::FromDrive, block), "Completed");
  EXPECT_THAT(block, ElementsAre(5, 0, 0x12, 0x34));

  Bytes written = {0x30, 0x51, 0x12, 0x34};
  ASSERT_EQ(SendOutcome(drive, kWriteBlock02, DataDirection::ToDrive, written), "Completed");
  EXPECT_THAT(*drive.GetParameterBlock(0x02), ElementsAre(0x30, 0x51, 0x12, 0x34));
  EXPECT_THAT(*drive.GetParameterBlock(0x24), ElementsAre(5, 0, 0x12, 0x34));
  EXPECT_FALSE(drive.GetParameterBlock(0x25).has_value());
}

TEST(DriveEmulatorReplies, EjectEmptiesTheTrayAndIsRecorded) {
  DriveDescription d = VarnDrive();
  d.mediumPresent = true;
  DriveEmulator drive(d);
  EXPECT_EQ(SendOutcome(drive, kTestUnitReady), "Completed");
  EXPECT_EQ(SendOutcome(drive, {0x1B, 0, 0, 0, 0x01, 0}), "Completed");  // start: no eject
  EXPECT_FALSE(drive.Ejected());
  EXPECT_EQ(SendOutcome(drive, {0x1B, 0, 0, 0, 0x02, 0}), "Completed");
  EXPECT_TRUE(drive.Ejected());
  EXPECT_FALSE(drive.MediumPresent());
  EXPECT_EQ(SendOutcome(drive, kTestUnitReady), "Failed 02/3A/00");
}

// Commands the drive does not know, or knows with other fields, as a table of
// CDB, data direction and length, and the answer.
TEST(DriveEmulatorReplies, RefusesWhatItDoesNotKnow) {
  struct Case {
    const char* name;
    Bytes cdb;
    DataDirection direction;
    std::uint32_t length;
    bool vendorCommands;
    const char* outcome;
  };
  const auto in = DataDirection::FromDrive;
  const auto none = DataDirection::NoData;
  const std::vector<Case> cases = {
      {"READ(10)", {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, in, 2048, true, "Failed 05/20/00"},
      {"READ(12)", {0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, in, 2048, true, "Failed 05/20/00"},
      {"READ BUFFER mode 3", {0x3C, 0x03, 0, 0, 0, 0, 0, 0, 4, 0}, in, 4, true, "Failed 05/20/00"},
      {"WRITE BUFFER mode 5",
       {0x3B, 0x05, 0, 0, 0, 0, 0, 0, 0, 0},
       none,
       0,
       true,
       "Failed 05/20/00"},
      {"F2h 02h", {0xF2, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, none, 0, true, "Failed 05/20/00"},
      {"F5h 02h", {0xF5, 0x02, 0, 0xA2, 0, 0x24, 0, 4, 0, 0, 0, 0}, in, 4, true, "Failed 05/20/00"},
      {"FDh 08h",
       {0xFD, 0x08, 'K', 'O', 'V', 'A', 0, 0, 0, 0, 0, 0},
       none,
       0,
       true,
       "Failed 05/20/00"},
      {"handshake, wrong word",
       {0xFD, 0xF1, 'K', 'O', 'V', 'B', 0, 0, 0, 0, 0, 0},
       none,
       0,
       true,
       "Failed 05/24/00"},
      {"handshake", {0xFD, 0xF1, 'K', 'O', 'V', 'A', 0, 0, 0, 0, 0, 0}, none, 0, true, "Completed"},
      {"handshake, other maker",
       {0xFD, 0xF1, 'K', 'O', 'V', 'A', 0, 0, 0, 0, 0, 0},
       none,
       0,
       false,
       "Failed 05/20/00"},
      {"F5h read, other maker", kReadBlock24, in, 4, false, "Failed 05/20/00"},
      {"F2h begin, other maker",
       {0xF2, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       none,
       0,
       false,
       "Failed 05/20/00"},
      {"FAh, other maker",
       {0xFA, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1},
       none,
       0,
       false,
       "Failed 05/20/00"},
      {"INQUIRY, other maker", kInquiry125, in, 125, false, "Completed"},
      {"unknown area",
       {0xF5, 0x01, 0, 0xA1, 0, 0x24, 0, 4, 0, 0, 0, 0},
       in,
       4,
       true,
       "Failed 05/24/00"},
      {"unknown block",
       {0xF5, 0x01, 0, 0xA2, 0, 0x25, 0, 4, 0, 0, 0, 0},
       in,
       4,
       true,
       "Failed 05/24/00"},
      {"block length 8",
       {0xF5, 0x01, 0, 0xA2, 0, 0x24, 0, 8, 0, 0, 0, 0},
       in,
       8,
       true,
       "Failed 05/24/00"},
      {"MODE SENSE page 01h",
       {0x5A, 0, 0x01, 0, 0, 0, 0, 0, 0x1E, 0},
       in,
       30,
       true,
       "Failed 05/24/00"},
      {"INQUIRY vital product data",
       {0x12, 0x01, 0x80, 0, 0x7D, 0},
       in,
       125,
       true,
       "Failed 05/24/00"},
      {"WRITE BUFFER cut short", {0x3B, 0x07, 0, 0, 0, 0}, none, 0, true, "Failed 05/24/00"},
      {"empty CDB", {}, none, 0, true, "Failed 05/20/00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DriveDescription d = VarnDrive();
    d.vendorCommands = c.vendorCommands;
    DriveEmulator drive(d);
    Bytes buffer(c.length, 0);
    EXPECT_EQ(SendOutcome(drive, c.cdb, c.direction, buffer), c.outcome);
  }
}

// The host must offer at least what a ToDrive command announces, and a buffer
// for what a FromDrive command returns; otherwise nothing is taken or given.
TEST(DriveEmulatorDataPhase, RefusesATransferTheHostDidNotOffer) {
  DriveEmulator drive(VarnDrive());
  Bytes shortData(15, 0xAB);
  EXPECT_EQ(SendOutcome(drive, kWrite16, DataDirection::ToDrive, shortData), "Failed 05/24/00");
  Bytes data(16, 0xAB);
  EXPECT_EQ(SendOutcome(drive, kWrite16, DataDirection::NoData, data), "Failed 05/24/00");
  EXPECT_EQ(SendOutcome(drive, kWrite16, DataDirection::FromDrive, data), "Failed 05/24/00");
  EXPECT_THAT(drive.DownloadMemoryBytes(0x14000, 16), Each(0));

  Bytes three(3, 0);
  EXPECT_EQ(SendOutcome(drive, kWriteBlock02, DataDirection::ToDrive, three), "Failed 05/24/00");
  EXPECT_THAT(*drive.GetParameterBlock(0x02), ElementsAre(5, 0, 0x12, 0x34));

  EXPECT_EQ(Outcome(drive.Execute({kInquiry125, DataDirection::FromDrive, nullptr, 125, 15s})),
            "Failed 05/24/00");
  EXPECT_EQ(Outcome(drive.Execute({kRead16, DataDirection::FromDrive, nullptr, 16, 15s})),
            "Failed 05/24/00");
}

TEST(DriveEmulatorDataPhase, ReadBackStopsAtTheHostsTransferLength) {
  DriveEmulator drive(VarnDrive());
  Bytes data = PatternImage(16);
  ASSERT_EQ(SendOutcome(drive, kWrite16, DataDirection::ToDrive, data), "Completed");
  Bytes buffer(32, 0xEE);
  ASSERT_EQ(SendOutcome(drive, kRead16, DataDirection::FromDrive, std::span(buffer).first(8)),
            "Completed");
  EXPECT_THAT(std::vector(buffer.begin(), buffer.begin() + 8),
              ElementsAreArray(data.begin(), data.begin() + 8));
  EXPECT_THAT(std::vector(buffer.begin() + 8, buffer.end()), Each(0xEE));
}

// Each TEST UNIT READY answer in turn, for the states a drive can be found in.
TEST(DriveEmulatorReadiness, AnswersTestUnitReadyInSequence) {
  struct Case {
    const char* name;
    bool unitAttention;
    std::uint32_t becomingReadyPolls;
    bool medium;
    std::vector<std::string> answers;
  };
  const std::vector<Case> cases = {
      {"ready with a disc", false, 0, true, {"Completed", "Completed"}},
      {"no disc", false, 0, false, {"Failed 02/3A/00", "Failed 02/3A/00"}},
      {"becoming ready",
       false,
       2,
       true,
       {"Failed 02/04/01", "Failed 02/04/01", "Completed", "Completed"}},
      {"reset, then becoming ready, no disc",
       true,
       1,
       false,
       {"Failed 06/29/00", "Failed 02/04/01", "Failed 02/3A/00"}},
      {"reset once", true, 0, true, {"Failed 06/29/00", "Completed", "Completed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DriveDescription d = VarnDrive();
    d.unitAttention = c.unitAttention;
    d.becomingReadyPolls = c.becomingReadyPolls;
    d.mediumPresent = c.medium;
    DriveEmulator drive(d);
    std::vector<std::string> answers;
    for (std::size_t i = 0; i < c.answers.size(); ++i) {
      answers.push_back(SendOutcome(drive, kTestUnitReady));
    }
    EXPECT_EQ(answers, c.answers);
  }
}

Fault StatusFault(std::uint8_t status) {
  Fault fault{FaultKind::Status};
  fault.status = status;
  return fault;
}

// Each kind of fault, struck at the first command (a parameter block write):
// what the host sees, and that the write did not happen.
TEST(DriveEmulatorFaults, EachKindAnswersAsAFailingDriveWould) {
  struct Case {
    const char* name;
    Fault fault;
    const char* outcome;
  };
  const std::vector<Case> cases = {
      {"fail", {FaultKind::Fail}, "Failed 04/44/00"},
      {"fail with sense",
       {FaultKind::Fail, AtCommand{1}, 1, {0x03, 0x0C, 0x00}},
       "Failed 03/0C/00"},
      {"sense", {FaultKind::Sense, AtCommand{1}, 1, {0x02, 0x04, 0x01}}, "Failed 02/04/01"},
      {"time-out", {FaultKind::TimeOut}, "TimedOut"},
      {"transport failure", {FaultKind::FailWithoutSense}, "Failed"},
      {"BUSY", StatusFault(0x08), "Failed"},
      {"RESERVATION CONFLICT", StatusFault(0x18), "Failed"},
      {"GOOD, the command dropped", StatusFault(0x00), "Completed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DriveEmulator drive(VarnDrive());
    drive.AddFault(c.fault);
    Bytes data = {0x30, 0x51, 0, 0};
    EXPECT_EQ(SendOutcome(drive, kWriteBlock02, DataDirection::ToDrive, data), c.outcome);
    EXPECT_THAT(*drive.GetParameterBlock(0x02), ElementsAre(5, 0, 0x12, 0x34));
    EXPECT_EQ(SendOutcome(drive, kWriteBlock02, DataDirection::ToDrive, data), "Completed");
  }
}

// A drive that resets while it acts on a command: the command took effect,
// its answer says it failed.
TEST(DriveEmulatorFaults, FailAfterCarriesTheCommandOutThenFails) {
  DriveEmulator drive(VarnDrive());
  drive.AddFault({FaultKind::FailAfter, AtCommand{1}, 1, {0x06, 0x29, 0x00}});
  Bytes data = {0x30, 0x51, 0, 0};
  EXPECT_EQ(SendOutcome(drive, kWriteBlock02, DataDirection::ToDrive, data), "Failed 06/29/00");
  EXPECT_THAT(*drive.GetParameterBlock(0x02), ElementsAre(0x30, 0x51, 0, 0));
}

TEST(DriveEmulatorFaults, CorruptReadBackFlipsReturnedDataOnly) {
  DriveEmulator drive(VarnDrive());
  drive.AddFault({FaultKind::CorruptReadBack, ForOpcode{0x3C, 0x02}});
  Bytes data = PatternImage(16);
  ASSERT_EQ(SendOutcome(drive, kWrite16, DataDirection::ToDrive, data), "Completed");

  Bytes first(16, 0);
  EXPECT_EQ(SendOutcome(drive, kRead16, DataDirection::FromDrive, first), "Completed");
  EXPECT_NE(first, data);
  EXPECT_THAT(std::vector(first.begin() + 1, first.end()),
              ElementsAreArray(data.begin() + 1, data.end()));
  EXPECT_EQ(drive.DownloadMemoryBytes(0x14000, 16), data);

  Bytes second(16, 0);
  EXPECT_EQ(SendOutcome(drive, kRead16, DataDirection::FromDrive, second), "Completed");
  EXPECT_EQ(second, data);
}

// The faults that change what a read brings: the bytes that do not arrive
// keep what the host's buffer held, and the count the transport learns is
// the one a host adapter would report.
TEST(DriveEmulatorFaults, ReadFaultsChangeOnlyWhatArrives) {
  const Bytes data = PatternImage(16);
  const auto with = [](FaultKind kind, std::uint32_t length, std::uint32_t offset = 0,
                       std::uint8_t status = 0) {
    Fault fault{kind, ForOpcode{0x3C, 0x02}};
    fault.length = length;
    fault.offset = offset;
    fault.status = status;
    return fault;
  };
  const auto expect = [&data](std::size_t arrived, std::optional<std::size_t> inverted) {
    Bytes bytes(16, 0xEE);
    std::copy_n(data.begin(), arrived, bytes.begin());
    if (inverted) bytes[*inverted] ^= 0xFF;
    return bytes;
  };
  struct Case {
    const char* name;
    Fault fault;
    const char* outcome;
    std::optional<std::uint32_t> transferred;
    Bytes buffer;
  };
  const Case cases[] = {
      {"short reply", with(FaultKind::ShortReply, 5), "Completed", 5, expect(5, std::nullopt)},
      {"short reply of nothing", with(FaultKind::ShortReply, 0), "Completed", 0,
       expect(0, std::nullopt)},
      {"short reply longer than the reply", with(FaultKind::ShortReply, 40), "Completed", 16,
       expect(16, std::nullopt)},
      {"no data, the whole reply reported", with(FaultKind::NoData, 0), "Completed", 16,
       expect(0, std::nullopt)},
      {"last byte corrupted", with(FaultKind::CorruptReadBack, 0, 15), "Completed", 16,
       expect(16, 15)},
      {"corruption past the reply", with(FaultKind::CorruptReadBack, 0, 16), "Completed", 16,
       expect(16, std::nullopt)},
      {"BUSY", with(FaultKind::Status, 0, 0, 0x08), "Failed", 0, expect(0, std::nullopt)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DriveEmulator drive(VarnDrive());
    Bytes written = data;
    ASSERT_EQ(SendOutcome(drive, kWrite16, DataDirection::ToDrive, written), "Completed");
    drive.AddFault(c.fault);
    Bytes buffer(16, 0xEE);
    const TransportReply reply = Send(drive, kRead16, DataDirection::FromDrive, buffer);
    EXPECT_EQ(Outcome(reply), c.outcome);
    EXPECT_EQ(reply.transferred, c.transferred);
    EXPECT_EQ(buffer, c.buffer);
  }
}

// When a fault strikes: by command number, or by opcode (and byte 1) from its
// m-th occurrence; once, k times, or always. "x" marks a struck command.
TEST(DriveEmulatorFaults, StrikeWhereScheduled) {
  const Bytes tur = kTestUnitReady;
  const Bytes write7 = {0x3B, 0x07, 0, 0, 0, 0, 0, 0, 0, 0};  // bank 0 commit: refused, no data
  const Bytes write6 = {0x3B, 0x06, 0, 0, 0, 0, 0, 0, 0, 0};  // nothing to write: completes
  const Bytes hand = {0xFD, 0xF1, 'K', 'O', 'V', 'A', 0, 0, 0, 0, 0, 0};
  struct Case {
    const char* name;
    std::vector<Fault> faults;
    std::vector<Bytes> commands;
    std::string struck;
  };
  const std::vector<Case> cases = {
      {"at command 3, once",
       {{FaultKind::TimeOut, AtCommand{3}}},
       {hand, hand, hand, hand},
       "..x."},
      {"at command 2, twice",
       {{FaultKind::TimeOut, AtCommand{2}, 2}},
       {hand, hand, hand, hand, hand},
       ".xx.."},
      {"at command 4, always",
       {{FaultKind::TimeOut, AtCommand{4}, kAlways}},
       {hand, hand, hand, hand, hand, hand},
       "...xxx"},
      {"opcode and mode, from the 2nd, twice",
       {{FaultKind::TimeOut, ForOpcode{0x3B, 0x06, 2}, 2}},
       {write6, tur, write7, write6, hand, write6, write6, write6},
       "...x.x.."},
      {"opcode of any mode, first only",
       {{FaultKind::TimeOut, ForOpcode{.opcode = 0x3B}}},
       {hand, write7, write6, write6},
       ".x.."},
      {"opcode, always from the 3rd",
       {{FaultKind::TimeOut, ForOpcode{0xFD, std::nullopt, 3}, kAlways}},
       {hand, tur, hand, hand, tur, hand},
       "...x.x"},
      {"two faults count independently",
       {{FaultKind::TimeOut, ForOpcode{0xFD, 0xF1, 2}}, {FaultKind::TimeOut, AtCommand{3}}},
       {hand, hand, hand, hand},
       ".xx."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DriveDescription d = VarnDrive();
    d.mediumPresent = true;
    DriveEmulator drive(d);
    for (const Fault& f : c.faults) drive.AddFault(f);
    std::string struck;
    for (const Bytes& cdb : c.commands) struck += SendOutcome(drive, cdb) == "TimedOut" ? 'x' : '.';
    EXPECT_EQ(struck, c.struck);
  }
}

TEST(DriveEmulatorFaults, DescriptionFaultsAreArmedFromTheStart) {
  DriveDescription d = VarnDrive();
  d.faults = {{FaultKind::Sense, ForOpcode{.opcode = 0x12}, 1, {0x06, 0x29, 0x00}}};
  DriveEmulator drive(d);
  Bytes reply(125, 0);
  EXPECT_EQ(SendOutcome(drive, kInquiry125, DataDirection::FromDrive, reply), "Failed 06/29/00");
  EXPECT_EQ(SendOutcome(drive, kInquiry125, DataDirection::FromDrive, reply), "Completed");
}

TEST(DriveEmulatorTrace, RecordsEveryCommandAsSentAndAnswered) {
  DriveEmulator drive(VarnDrive());
  drive.AddFault({FaultKind::TimeOut, AtCommand{3}});
  Bytes page(16384, 0x5A);
  const Bytes write = {0x3B, 0x07, 0x01, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x00};
  ASSERT_EQ(Outcome(Send(drive, write, DataDirection::ToDrive, page, 200s)), "Completed");
  Bytes reply(56, 0);
  (void)Send(drive, {0x12, 0x01, 0, 0, 0x38, 0}, DataDirection::FromDrive, reply);
  (void)Send(drive, kTestUnitReady);

  const std::vector<TraceEntry> trace = drive.Trace();
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_EQ(trace[0].cdb, write);
  EXPECT_EQ(trace[0].direction, DataDirection::ToDrive);
  EXPECT_EQ(trace[0].length, 16384u);
  EXPECT_EQ(trace[0].timeout, 200s);
  EXPECT_EQ(trace[1].sense, (SenseBytes{0x05, 0x24, 0x00}));
  EXPECT_EQ(FormatTraceEntry(trace[0]),
            "3B 07 01 00 40 00 00 40 00 00 ToDrive 16384 200s -> Completed");
  EXPECT_EQ(FormatTraceEntry(trace[1]), "12 01 00 00 38 00 FromDrive 56 15s -> Failed 05/24/00");
  EXPECT_EQ(FormatTraceEntry(trace[2]), "00 00 00 00 00 00 NoData 0 15s -> TimedOut");
}

}  // namespace
}  // namespace tslflash::emu::test
