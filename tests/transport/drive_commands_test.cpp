// Every drive command sent through the registry to an emulated drive: the
// exact bytes on the wire, and how each reply is read.
#include "transport/drive_commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "emulator/drive_emulator.h"
#include "resources/texts.h"
#include "tests/support/emulated_drive_fixture.h"

namespace tslflash {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using testing::MakerDrive;

using DriveCommandsTest = testing::EmulatedDriveTest;

struct WireCase {
  const char* name;
  std::function<void(DriveCommands&)> send;
  std::vector<std::uint8_t> cdb;  // the last command's bytes on the wire
  DataDirection direction;
  std::uint32_t length;
  seconds timeout;
};

TEST_F(DriveCommandsTest, EveryCommandPutsItsExactBlockOnTheWire) {
  std::vector<std::uint8_t> image(0x20000);
  const std::span<std::uint8_t> pageAt14000 = std::span(image).subspan(0x14000);
  const std::vector<WireCase> cases = {
      {"ReadExtendedInquiry",
       [](DriveCommands& c) {
         std::array<std::uint8_t, 125> reply{};
         (void)c.ReadExtendedInquiry(reply);
       },
       {0x12, 0, 0, 0, 0x7D, 0},
       DataDirection::FromDrive,
       125,
       seconds(200)},
      {"CheckNoDisc",
       [](DriveCommands& c) { (void)c.CheckNoDisc(); },
       {0, 0, 0, 0, 0, 0},
       DataDirection::NoData,
       0,
       seconds(15)},
      {"VendorHandshake",
       [](DriveCommands& c) { (void)c.VendorHandshake(); },
       {0xFD, 0xF1, 0x4B, 0x4F, 0x56, 0x41, 0, 0, 0, 0, 0, 0},
       DataDirection::NoData,
       0,
       seconds(15)},
      {"CheckBufferSize",
       [](DriveCommands& c) { (void)c.CheckBufferSize(); },
       {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 0x1E, 0},
       DataDirection::FromDrive,
       16384,
       seconds(200)},
      {"ReadModelCode",
       [](DriveCommands& c) { (void)c.ReadModelCode(); },
       {0xF5, 0x01, 0, 0xA2, 0, 0x24, 0, 0x04, 0, 0, 0, 0},
       DataDirection::FromDrive,
       4,
       seconds(200)},
      {"StoreModelCode",
       [](DriveCommands& c) { (void)c.StoreModelCode(0x30, 0x02, true); },
       {0xF5, 0x03, 0, 0xA2, 0, 0x02, 0, 0x04, 0, 0, 0, 0},
       DataDirection::ToDrive,
       4,
       seconds(200)},
      {"WaitForDriveReady",
       [](DriveCommands& c) { c.WaitForDriveReady(); },
       {0, 0, 0, 0, 0, 0},
       DataDirection::NoData,
       0,
       seconds(15)},
      {"EjectMedium",
       [](DriveCommands& c) { (void)c.EjectMedium(); },
       {0x1B, 0, 0, 0, 0x02, 0},
       DataDirection::NoData,
       0,
       seconds(15)},
      {"QueryImageSize",
       [](DriveCommands& c) { (void)c.QueryImageSize(); },
       {0x3C, 0x01, 0, 0, 0, 0, 0, 0, 0x64, 0},
       DataDirection::FromDrive,
       100,
       seconds(200)},
      {"WritePageById",
       [&](DriveCommands& c) { (void)c.WritePageById(pageAt14000, 0x01, 0x4000, 0x4000); },
       {0x3B, 0x07, 0x01, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x00},
       DataDirection::ToDrive,
       16384,
       seconds(200)},
      {"ReadPageById",
       [&](DriveCommands& c) { (void)c.ReadPageById(pageAt14000, 0x01, 0x4000, 0x4000); },
       {0x3C, 0x02, 0x01, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x00},
       DataDirection::FromDrive,
       16384,
       seconds(200)},
      {"CommitImage",
       [](DriveCommands& c) { (void)c.CommitImage(); },
       {0x3B, 0x04, 0, 0, 0, 0, 0, 0, 0, 0},
       DataDirection::NoData,
       0,
       seconds(15)},
      {"WritePageByOffset",
       [&](DriveCommands& c) { (void)c.WritePageByOffset(pageAt14000, 0x01, 0x4000, 0x4000); },
       {0x3B, 0x06, 0x00, 0x01, 0x40, 0x00, 0x00, 0x40, 0x00, 0x00},
       DataDirection::ToDrive,
       16384,
       seconds(200)},
      {"ReadPageByOffset",
       [&](DriveCommands& c) { (void)c.ReadPageByOffset(pageAt14000, 0x01, 0x4000, 0x4000); },
       {0x3C, 0x02, 0x00, 0x01, 0x40, 0x00, 0x00, 0x40, 0x00, 0x00},
       DataDirection::FromDrive,
       16384,
       seconds(200)},
      {"CommitBank",
       [](DriveCommands& c) { (void)c.CommitBank(1); },
       {0x3B, 0x07, 0x00, 0x01, 0, 0, 0, 0, 0, 0},
       DataDirection::NoData,
       0,
       seconds(200)},
      {"BeginDownload",
       [](DriveCommands& c) { (void)c.BeginDownload(); },
       {0xF2, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       DataDirection::NoData,
       0,
       seconds(15)},
      {"EndDownload",
       [](DriveCommands& c) { (void)c.EndDownload(0x20000C); },
       {0xF2, 0x04, 0, 0, 0, 0, 0, 0x20, 0x00, 0x0C, 0x00, 0x01},
       DataDirection::NoData,
       0,
       seconds(15)},
      {"SendSmallBlock",
       [&](DriveCommands& c) { (void)c.SendSmallBlock(pageAt14000, 0x1000); },
       {0xF2, 0x03, 0, 0, 0x10, 0x00, 0, 0, 0x10, 0x02, 0, 0},
       DataDirection::ToDrive,
       4098,
       seconds(15)},
      {"SendSummedPage",
       [&](DriveCommands& c) {
         (void)c.SendSummedPage(pageAt14000, {0x1234, 0x5678, 3, 0x9ABC, 4});
       },
       {0xFA, 0x12, 0x34, 0x56, 0x78, 0x03, 0x01, 0x12, 0x34, 0x9A, 0xBC, 0x04},
       DataDirection::ToDrive,
       16384,
       seconds(200)},
      {"SendSignedPage",
       [&](DriveCommands& c) {
         (void)c.SendSignedPage(pageAt14000, {0xBEEF, 0x1234, 1, 2});
       },
       {0xFD, 0x07, 0x4B, 0x4F, 0x56, 0x41, 0xBE, 0xEF, 0x12, 0x34, 0x01, 0x02},
       DataDirection::ToDrive,
       16384,
       seconds(200)},
  };
  for (const WireCase& c : cases) {
    SCOPED_TRACE(c.name);
    Start(MakerDrive());
    c.send(*commands);
    const auto sent = Sent();
    ASSERT_FALSE(sent.empty());
    const emu::TraceEntry& last = sent.back();
    EXPECT_THAT(last.cdb, ElementsAreArray(c.cdb));
    EXPECT_EQ(last.direction, c.direction);
    EXPECT_EQ(last.length, c.length);
    EXPECT_EQ(last.timeout, c.timeout);
  }
}

TEST_F(DriveCommandsTest, RefusedHandshakeLogsOnceAndReadModelCodeSendsNoParameterRead) {
  emu::DriveDescription other = MakerDrive();
  other.vendorCommands = false;
  Start(other);
  EXPECT_FALSE(commands->VendorHandshake());
  EXPECT_THAT(reporter.log, ElementsAre("This Model is not support."));

  reporter.log.clear();
  const ModelCodeReading reading = commands->ReadModelCode();
  EXPECT_EQ(reading.code, std::nullopt) << "no code, and no guess";
  EXPECT_EQ(reading.failure, ModelCodeFailure::HandshakeRefused);
  EXPECT_THAT(reporter.log, ElementsAre("This Model is not support."));
  EXPECT_THAT(SentOpcodes(), ElementsAre(0xFD, 0xFD));
}

TEST_F(DriveCommandsTest, ReadModelCodeKnowsThreeCodes) {
  struct Case {
    std::uint8_t stored;
    std::uint8_t expected;
  };
  for (const Case c :
       {Case{0x00, 0}, Case{0x05, 5}, Case{0x30, 0x30}, Case{0x31, 255}, Case{0xFF, 255}}) {
    SCOPED_TRACE(int{c.stored});
    emu::DriveDescription d = MakerDrive();
    d.parameterBlocks[0x24][0] = c.stored;
    Start(d);
    EXPECT_EQ(commands->ReadModelCode().code, c.expected);
  }
}

// A read that did not complete gives no code: its zero-filled reply would
// read as code 0, the base model.
TEST_F(DriveCommandsTest, ReadModelCodeThatDoesNotCompleteGivesNoCode) {
  struct Case {
    const char* name;
    emu::FaultKind kind;
    const char* diagnostics;
  };
  const Case cases[] = {
      {"failed", emu::FaultKind::Fail, "Check Model Command Fail!!\n"},
      {"timed out", emu::FaultKind::TimeOut, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    emu::DriveDescription d = MakerDrive();
    d.faults.push_back({c.kind, emu::ForOpcode{0xF5}, emu::kAlways});
    Start(d);
    const ModelCodeReading reading = commands->ReadModelCode();
    EXPECT_EQ(reading.code, std::nullopt);
    EXPECT_EQ(reading.failure, ModelCodeFailure::ReadFailed);
    EXPECT_EQ(diagnostics.str(), c.diagnostics);
  }
}

TEST_F(DriveCommandsTest, StoreModelCodeKeepsTheDrivesOwnBytes) {
  Start(MakerDrive());
  ChangedBlocks changed;
  EXPECT_EQ(commands->StoreModelCode(0x30, 0x24, true, &changed), kStoreModelCodeDone);
  EXPECT_THAT(*drive->GetParameterBlock(0x24), ElementsAre(0x30, 0x51, 0xAB, 0xCD));
  EXPECT_EQ(commands->StoreModelCode(0x05, 0x02, false), kStoreModelCodeDone);
  EXPECT_THAT(*drive->GetParameterBlock(0x02), ElementsAre(0x05, 0x00, 0x12, 0x34));
  // A second store keeps the bytes the block held before the first.
  EXPECT_EQ(commands->StoreModelCode(0x00, 0x24, false, &changed), kStoreModelCodeDone);
  ASSERT_EQ(changed.List().size(), 1u);
  EXPECT_EQ(changed.List()[0].number, 0x24);
  EXPECT_THAT(changed.List()[0].before, ElementsAre(0x05, 0x00, 0xAB, 0xCD));
  EXPECT_THAT(SentOpcodes(), ElementsAre(0xF5, 0xF5, 0xF5, 0xF5, 0xF5, 0xF5));
}

// Only a completed read is written back: a read that timed out holds no
// bytes 2-3 to preserve. A write that did not complete is not a stored block.
TEST_F(DriveCommandsTest, StoreModelCodeStopsAtAReadOrWriteThatDidNotComplete) {
  struct Case {
    const char* name;
    emu::FaultKind kind;
    std::uint8_t subcommand;  // 01h read, 03h write
    std::size_t sent;
    bool noted;  // a write was sent: the block may have changed
  };
  const Case cases[] = {
      {"failed read", emu::FaultKind::Fail, 0x01, 1, false},
      {"timed-out read", emu::FaultKind::TimeOut, 0x01, 1, false},
      {"read failed without sense", emu::FaultKind::FailWithoutSense, 0x01, 1, false},
      {"failed write", emu::FaultKind::Fail, 0x03, 2, true},
      {"timed-out write", emu::FaultKind::TimeOut, 0x03, 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    emu::DriveDescription d = MakerDrive();
    d.faults.push_back({c.kind, emu::ForOpcode{0xF5, c.subcommand}, emu::kAlways});
    Start(d);
    ChangedBlocks changed;
    EXPECT_EQ(commands->StoreModelCode(0x30, 0x24, true, &changed), kStoreModelCodeFailed);
    EXPECT_EQ(Sent().size(), c.sent);
    EXPECT_EQ(changed.Empty(), !c.noted);
    EXPECT_THAT(*drive->GetParameterBlock(0x24), ElementsAre(0x05, 0x00, 0xAB, 0xCD));
    EXPECT_EQ(diagnostics.str(), "Check Model Command Fail!!\n");
  }
}

TEST_F(DriveCommandsTest, QueryImageSizeReadsTypeAndSize) {
  struct Case {
    std::array<std::uint8_t, 2> signature;
    std::uint16_t type;
    std::uint16_t sizeKiB;
    bool accepted;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {{0x06, 0x11}, 0x3140, 0, true, 0x80000}, {{0x06, 0x11}, 0x3140, 0x200, true, 0x80000},
      {{0x06, 0x11}, 0x3120, 0, true, 0x20000}, {{0x06, 0x11}, 0x3180, 0, true, 0x40000},
      {{0x06, 0x11}, 0x3220, 0, true, 0x20000}, {{0x06, 0x11}, 0x3120, 3, true, 3 * 1024},
      {{0x11, 0x06}, 0x3140, 0, false, 0},      {{0x06, 0x11}, 0x1234, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.type << " " << c.sizeKiB);
    emu::DriveDescription d = MakerDrive();
    d.imageSignature = c.signature;
    d.imageType = c.type;
    d.imageSizeKiB = c.sizeKiB;
    Start(d);
    EXPECT_EQ(commands->QueryImageSize(), c.accepted);
    EXPECT_EQ(commands->ExpectedImageSize(), c.expected);
  }
}

TEST_F(DriveCommandsTest, RejectedImageSizeReplyKeepsThePreviousValue) {
  emu::DriveDescription d = MakerDrive();
  d.imageType = 0x3140;
  d.faults.push_back({emu::FaultKind::Fail, emu::ForOpcode{0x3C, 0x01, 2}, emu::kAlways});
  Start(d);
  ASSERT_TRUE(commands->QueryImageSize());
  EXPECT_FALSE(commands->QueryImageSize());
  EXPECT_EQ(commands->ExpectedImageSize(), 0x80000u);
}

TEST_F(DriveCommandsTest, BufferSizeWantsEightMebibytesAndTellsASilentDriveApart) {
  struct Case {
    std::uint16_t kib;
    std::optional<emu::FaultKind> fault;
    BufferSizeAnswer answer;
    const char* diagnostics;
  };
  const Case cases[] = {
      {0x2000, std::nullopt, BufferSizeAnswer::Large, ""},
      {0x1000, std::nullopt, BufferSizeAnswer::Smaller, ""},
      {0x2000, emu::FaultKind::Fail, BufferSizeAnswer::Unknown, "Read BufferSize Command Fail!!\n"},
      {0x2000, emu::FaultKind::TimeOut, BufferSizeAnswer::Unknown, ""},
      // Reported whole, but the buffer kept its zeros: never "smaller".
      {0x2000, emu::FaultKind::NoData, BufferSizeAnswer::Unknown,
       "Read BufferSize Command Fail!!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kib);
    emu::DriveDescription d = MakerDrive();
    d.bufferSizeKiB = c.kib;
    if (c.fault) d.faults.push_back({*c.fault, emu::ForOpcode{0x5A}, emu::kAlways});
    Start(d);
    EXPECT_EQ(commands->ReadBufferSize(), c.answer);
    EXPECT_EQ(diagnostics.str(), c.diagnostics);
    // Only a drive that says it has the large buffer has it.
    EXPECT_EQ(commands->CheckBufferSize(), c.answer == BufferSizeAnswer::Large);
  }
}

// Each read fails when the reply stops short of the last byte it reads, and
// is taken when the reply holds exactly that much: the missing bytes are
// never read as the zeros or stale bytes the buffer held.
TEST_F(DriveCommandsTest, AReplyShorterThanWhatTheCommandReadsFails) {
  struct Case {
    const char* name;
    emu::ForOpcode command;
    std::uint32_t needed;
    std::function<bool(DriveCommands&)> succeeds;
  };
  std::array<std::uint8_t, DriveCommands::kExtendedInquiryLength> inquiry{};
  std::vector<std::uint8_t> page(kPageSize);
  const std::vector<Case> cases = {
      // Occurrence 2: the first INQUIRY is the enumeration's.
      {"extended INQUIRY",
       {0x12, std::nullopt, 2},
       DriveCommands::kExtendedInquiryNeeded,
       [&](DriveCommands& c) {
         return c.ReadExtendedInquiry(inquiry) == CommandResult::Completed;
       }},
      {"buffer size",
       {0x5A},
       22,
       [](DriveCommands& c) { return c.ReadBufferSize() == BufferSizeAnswer::Large; }},
      {"image size", {0x3C, 0x01}, 12, [](DriveCommands& c) { return c.QueryImageSize(); }},
      {"model code",
       {0xF5, 0x01},
       4,
       [](DriveCommands& c) { return c.ReadModelCode().code == kModelCodeFive; }},
      {"stored model code",
       {0xF5, 0x01},
       4,
       [](DriveCommands& c) { return c.StoreModelCode(0x30, 0x24, true) == kStoreModelCodeDone; }},
      {"page by id",
       {0x3C, 0x02},
       kPageSize,
       [&](DriveCommands& c) { return c.ReadPageById(page, 1, 0, 0x4000).Good(); }},
      {"page by offset",
       {0x3C, 0x02},
       kPageSize,
       [&](DriveCommands& c) { return c.ReadPageByOffset(page, 0, 0, 0x4000).Good(); }},
  };
  for (const Case& c : cases) {
    for (const std::uint32_t length : {0u, c.needed - 1, c.needed}) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(length) + " bytes");
      emu::DriveDescription d = MakerDrive();
      d.bufferSizeKiB = 0x2000;
      d.imageType = 0x3140;
      emu::Fault shortReply{emu::FaultKind::ShortReply, c.command, emu::kAlways};
      shortReply.length = length;
      d.faults.push_back(shortReply);
      Start(d);
      EXPECT_EQ(c.succeeds(*commands), length == c.needed);
    }
  }
}

// A drive that leaves out the extended INQUIRY's vendor bytes is still read:
// what it did not send reads as zero, never as what the buffer held.
TEST_F(DriveCommandsTest, ExtendedInquiryBytesThatDidNotArriveReadAsZero) {
  emu::DriveDescription d = MakerDrive();
  emu::Fault shortReply{emu::FaultKind::ShortReply, emu::ForOpcode{0x12, std::nullopt, 2},
                        emu::kAlways};
  shortReply.length = DriveCommands::kExtendedInquiryNeeded;
  d.faults.push_back(shortReply);
  Start(d);
  std::array<std::uint8_t, DriveCommands::kExtendedInquiryLength> reply{};
  reply.fill(0xAA);
  ASSERT_EQ(commands->ReadExtendedInquiry(reply), CommandResult::Completed);
  EXPECT_EQ(reply[8], 'V');  // the vendor, as sent
  EXPECT_TRUE(std::all_of(reply.begin() + DriveCommands::kExtendedInquiryNeeded, reply.end(),
                          [](std::uint8_t byte) { return byte == 0; }));
}

TEST_F(DriveCommandsTest, WaitForDriveReadySequences) {
  struct Case {
    const char* name;
    bool mediumPresent;
    std::uint32_t becomingReadyPolls;
    std::optional<emu::FaultKind> fault;
    bool expected;
    std::size_t pauses;
  };
  const Case cases[] = {
      {"becoming ready twice, then ready", true, 2, std::nullopt, false, 2},
      {"no medium at once", false, 0, std::nullopt, true, 0},
      {"becoming ready, then no medium", false, 3, std::nullopt, true, 3},
      {"timed out", true, 0, emu::FaultKind::TimeOut, false, 0},
      {"never ready: the wait is bounded", true, 100000, std::nullopt, false,
       DriveCommands::kMaxReadyPolls},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    emu::DriveDescription d = MakerDrive();
    d.mediumPresent = c.mediumPresent;
    d.becomingReadyPolls = c.becomingReadyPolls;
    if (c.fault) d.faults.push_back({*c.fault, emu::ForOpcode{0x00}, emu::kAlways});
    Start(d);
    EXPECT_EQ(commands->WaitForDriveReady(), c.expected);
    EXPECT_EQ(clock.sleeps.size(), c.pauses);
    EXPECT_EQ(Sent().size(), c.pauses + 1);
    for (const milliseconds pause : clock.sleeps) EXPECT_EQ(pause, milliseconds(200));
  }
}

// Only "medium not present" is an empty tray. A drive spinning up a disc is
// waited for; whatever else it says leaves a disc possible; a reply without
// sense says nothing about the tray at all.
TEST_F(DriveCommandsTest, CheckNoDiscSequences) {
  using enum DiscCheck;
  const auto always = [](emu::FaultKind kind, SenseBytes sense) {
    return emu::Fault{kind, emu::ForOpcode{0x00}, emu::kAlways, sense};
  };
  emu::Fault busy = always(emu::FaultKind::Status, {});
  busy.status = 0x08;
  // Two polls answer "becoming ready", the third does not come back.
  const emu::Fault silentAfterSpinUp{emu::FaultKind::TimeOut,
                                     emu::ForOpcode{0x00, std::nullopt, 3}};
  const std::string attention(kUnitAttentionText);
  struct Case {
    const char* name;
    bool mediumPresent;
    std::uint32_t becomingReadyPolls;
    bool unitAttention;
    std::optional<emu::Fault> fault;
    DiscCheck tray;
    std::size_t pauses;
    std::vector<std::string> log = {};
  };
  const Case cases[] = {
      {"ready: a disc", true, 0, false, std::nullopt, DiscPossible, 0},
      {"medium not present (3Ah)", false, 0, false, std::nullopt, NoDisc, 0},
      {"becoming ready (04h/01h), then ready with a disc", true, 2, false, std::nullopt,
       DiscPossible, 2},
      {"becoming ready (04h/01h), then medium not present", false, 2, false, std::nullopt, NoDisc,
       2},
      {"never ready within the bound", true, 0, false,
       always(emu::FaultKind::Sense, {0x02, 0x04, 0x01}), DiscPossible,
       static_cast<std::size_t>(DriveCommands::kMaxReadyPolls)},
      {"not ready for another cause (04h/00h)", false, 0, false,
       always(emu::FaultKind::Sense, {0x02, 0x04, 0x00}), DiscPossible, 0},
      {"a command that timed out", false, 0, false, always(emu::FaultKind::TimeOut, {}), NoAnswer,
       0},
      {"a failure without sense", false, 0, false, always(emu::FaultKind::FailWithoutSense, {}),
       NoAnswer, 0},
      {"BUSY", false, 0, false, busy, NoAnswer, 0},
      {"becoming ready, then silent", false, 5, false, silentAfterSpinUp, NoAnswer, 2},
      {"unit attention, then a disc", true, 0, true, std::nullopt, DiscPossible, 1},
      {"unit attention, then medium not present", false, 0, true, std::nullopt, NoDisc, 1},
      {"unit attention repeated",
       false,
       0,
       false,
       always(emu::FaultKind::Sense, {0x06, 0x28, 0x00}),
       DiscPossible,
       static_cast<std::size_t>(DriveCommands::kMaxNoDiscPolls),
       {attention}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    emu::DriveDescription d = MakerDrive();
    d.mediumPresent = c.mediumPresent;
    d.becomingReadyPolls = c.becomingReadyPolls;
    d.unitAttention = c.unitAttention;
    if (c.fault) d.faults.push_back(*c.fault);
    Start(d);
    EXPECT_EQ(commands->CheckNoDisc(), c.tray);
    EXPECT_EQ(clock.sleeps.size(), c.pauses);
    EXPECT_EQ(reporter.log, c.log);
  }
}

// The revision is read only from a reply that holds it: a read that brought
// no data, or fewer bytes than the revision's end, is no revision, never an
// empty one.
TEST_F(DriveCommandsTest, ReadRevisionTakesOnlyAReplyThatHoldsIt) {
  // The INQUIRY after the enumeration's.
  const emu::ForOpcode second{0x12, std::nullopt, 2};
  const auto shortReply = [&](std::uint32_t length) {
    emu::Fault fault{emu::FaultKind::ShortReply, second};
    fault.length = length;
    return fault;
  };
  emu::Fault dropped{emu::FaultKind::Status, second};
  dropped.status = 0x00;  // GOOD, but the drive carried nothing out
  struct Case {
    const char* name;
    std::optional<emu::Fault> fault;
    std::optional<std::string> revision;
  };
  const Case cases[] = {
      {"a whole reply", std::nullopt, "1.02"},
      {"no data, reported whole", emu::Fault{emu::FaultKind::NoData, second}, std::nullopt},
      {"no data, and said so", shortReply(0), std::nullopt},
      {"one byte short of the revision's end", shortReply(35), std::nullopt},
      {"exactly up to the revision's end", shortReply(36), "1.02"},
      {"a dropped command", dropped, std::nullopt},
      {"a time-out", emu::Fault{emu::FaultKind::TimeOut, second}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    emu::DriveDescription d = MakerDrive();
    if (c.fault) d.faults.push_back(*c.fault);
    Start(d);
    EXPECT_EQ(commands->ReadRevision(), c.revision);
  }
}

TEST_F(DriveCommandsTest, PagesThatDoNotHoldTheTransferAreNeverSent) {
  Start(MakerDrive());
  std::vector<std::uint8_t> shortPage(100);
  EXPECT_FALSE(commands->WritePageById({}, 0, 0, 0x4000));
  EXPECT_FALSE(commands->ReadPageById({}, 0, 0, 0x4000));
  EXPECT_FALSE(commands->WritePageByOffset({}, 0, 0, 0x4000));
  EXPECT_FALSE(commands->ReadPageByOffset({}, 0, 0, 0x4000));
  EXPECT_FALSE(commands->WritePageById(shortPage, 0, 0, 0x4000));
  // Reads always ask for a whole page, whatever the count.
  EXPECT_FALSE(commands->ReadPageByOffset(shortPage, 0, 0, 100));
  EXPECT_FALSE(commands->EndDownload(0x1000000)) << "longer than 24 bits";
  std::vector<std::uint8_t> shortBlock(4097);
  EXPECT_FALSE(commands->SendSmallBlock(shortBlock, 0));
  EXPECT_FALSE(commands->SendSummedPage(shortPage, {}));
  EXPECT_FALSE(commands->SendSignedPage(shortPage, {}));
  EXPECT_THAT(Sent(), IsEmpty());
}

TEST_F(DriveCommandsTest, PageWrittenByIdReadsBackTheSameBytes) {
  Start(MakerDrive());
  std::vector<std::uint8_t> image(0x20000);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  std::vector<std::uint8_t> readBack(image.size());
  ASSERT_TRUE(commands->WritePageById(std::span(image).subspan(0x14000), 0x01, 0x4000, 0x4000));
  ASSERT_TRUE(commands->ReadPageById(std::span(readBack).subspan(0x14000), 0x01, 0x4000, 0x4000));
  EXPECT_TRUE(
      std::equal(image.begin() + 0x14000, image.begin() + 0x18000, readBack.begin() + 0x14000));
  EXPECT_THAT(drive->DownloadMemoryBytes(0x14000, 4),
              ElementsAre(image[0x14000], image[0x14001], image[0x14002], image[0x14003]));
}

}  // namespace
}  // namespace tslflash
