// The registry's own rules, over a scripted transport: which drives get a
// slot, which bytes reach the wire, and what the sense bytes say afterwards.
#include "transport/drive_registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "transport/cdb.h"

namespace tslflash {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct SentCommand {
  std::vector<std::uint8_t> cdb;
  DataDirection direction;
  std::uint32_t length;
  std::chrono::seconds timeout;
};

// A drive that answers INQUIRY with its identity (or not at all) and every
// other command with a scripted reply, logging what it was sent.
struct ScriptedDrive {
  std::string vendorProductRevision;  // 28 characters
  bool answersInquiry = true;
  std::optional<std::uint32_t> inquiryTransferred;  // as the transport reports it
  bool inquiryBringsData = true;  // false: completes, reported whole, buffer untouched
  TransportReply nextReply{CommandResult::Completed, std::nullopt};
  std::vector<SentCommand> sent;
  bool closed = false;
};

class ScriptedDevice final : public DriveDevice {
 public:
  explicit ScriptedDevice(std::shared_ptr<ScriptedDrive> drive) : drive_(std::move(drive)) {}
  ~ScriptedDevice() override { drive_->closed = true; }
  TransportReply Execute(const CommandRequest& request) override {
    drive_->sent.push_back({{request.cdb.begin(), request.cdb.end()},
                            request.direction,
                            request.length,
                            request.timeout});
    if (request.cdb[0] == opcode::kInquiry && request.length >= 36) {
      if (!drive_->answersInquiry) return {CommandResult::Failed, SenseBytes{5, 0x20, 0}};
      if (drive_->inquiryBringsData) {
        request.data[4] = 31;  // the bytes after byte 4 of the standard 36
        std::memcpy(request.data + 8, drive_->vendorProductRevision.data(), 28);
      }
      return {CommandResult::Completed, std::nullopt, drive_->inquiryTransferred};
    }
    return drive_->nextReply;
  }
  std::string Location() const override { return "scripted"; }
  HoldAttempt HoldExclusively() override {
    HoldAttempt attempt;
    attempt.hold = std::make_unique<DriveHold>();
    return attempt;
  }

 private:
  std::shared_ptr<ScriptedDrive> drive_;
};

class ScriptedTransport final : public DriveTransport {
 public:
  explicit ScriptedTransport(std::vector<std::shared_ptr<ScriptedDrive>> drives)
      : drives_(std::move(drives)) {}
  bool Init() override { return true; }
  std::optional<std::string> MissingWriteRights() override { return std::nullopt; }
  void ScanDrives(const CandidateSink& offer) override {
    for (const auto& drive : drives_) {
      ++offered;
      if (!offer(std::make_unique<ScriptedDevice>(drive))) return;
    }
  }
  int offered = 0;

 private:
  std::vector<std::shared_ptr<ScriptedDrive>> drives_;
};

std::shared_ptr<ScriptedDrive> Drive(const std::string& product, bool answers = true) {
  auto drive = std::make_shared<ScriptedDrive>();
  drive->vendorProductRevision =
      "VARN    " + product + std::string(16 - product.size(), ' ') + "1.02";
  drive->answersInquiry = answers;
  return drive;
}

struct Fixture {
  explicit Fixture(std::vector<std::shared_ptr<ScriptedDrive>> drives) {
    auto owned = std::make_unique<ScriptedTransport>(std::move(drives));
    transport = owned.get();
    registry = std::make_unique<DriveRegistry>(std::move(owned));
    EXPECT_TRUE(registry->InitTransport());
  }
  ScriptedTransport* transport;
  std::unique_ptr<DriveRegistry> registry;
};

TEST(DriveRegistryTest, NoDriveLeavesNothingSelectedAndRefusesCommands) {
  Fixture f({});
  EXPECT_EQ(f.registry->EnumerateDrives(), 0);
  EXPECT_EQ(f.registry->GetSelectedSlot(), DriveRegistry::kNoSelection);
  EXPECT_FALSE(f.registry->SelectDrive(0));
  EXPECT_FALSE(f.registry->FormatDriveText().has_value());
  const Cdb tur = BuildTestUnitReady();
  EXPECT_EQ(
      f.registry->ExecuteCommand(tur, DataDirection::NoData, nullptr, 0, std::chrono::seconds(15)),
      CommandResult::Failed);
}

TEST(DriveRegistryTest, FailedInquiryLeavesNoGapAndClosesTheCandidate) {
  auto first = Drive("DVD RW LPX-650A");
  auto broken = Drive("BROKEN", false);
  auto third = Drive("DVD RW LPX-412A");
  Fixture f({first, broken, third});
  ASSERT_EQ(f.registry->EnumerateDrives(), 2);
  EXPECT_TRUE(broken->closed);
  EXPECT_FALSE(first->closed);
  EXPECT_EQ(f.registry->GetSelectedSlot(), 0);
  EXPECT_EQ(f.registry->FormatDriveText(), "VARN    DVD RW LPX-650A 1.02");
  ASSERT_TRUE(f.registry->SelectDrive(1));
  EXPECT_EQ(f.registry->FormatDriveText(), "VARN    DVD RW LPX-412A 1.02");
  // The enumeration INQUIRY: 6-byte CDB, 56 bytes in, 15 s.
  ASSERT_EQ(third->sent.size(), 1u);
  EXPECT_THAT(third->sent[0].cdb, ElementsAre(0x12, 0, 0, 0, 0x38, 0));
  EXPECT_EQ(third->sent[0].direction, DataDirection::FromDrive);
  EXPECT_EQ(third->sent[0].length, 56u);
  EXPECT_EQ(third->sent[0].timeout, std::chrono::seconds(15));
}

// Identification and revision end at byte 36: a reply the transport says is
// shorter did not bring them, whatever the buffer holds, and neither does one
// whose own length byte stops short (a read reported whole that brought
// nothing). A transport that cannot tell, or reports more than was asked, is
// taken at the whole reply.
TEST(DriveRegistryTest, AnInquiryReplyTooShortForTheRevisionRegistersNoDrive) {
  struct Case {
    const char* product;
    std::optional<std::uint32_t> transferred;
    bool registered;
    bool bringsData = true;
  };
  const Case cases[] = {
      {"EMPTY", 0, false},
      {"SHORT", 35, false},
      {"EXACT", 36, true},
      {"UNTOLD", std::nullopt, true},
      {"OVERLONG", 200, true},
      {"SILENT", std::nullopt, false, false},
      {"SILENT WHOLE", 56, false, false},
  };
  std::vector<std::shared_ptr<ScriptedDrive>> drives;
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    drives.push_back(Drive(c.product));
    drives.back()->inquiryTransferred = c.transferred;
    drives.back()->inquiryBringsData = c.bringsData;
    if (c.registered) expected.push_back(drives.back()->vendorProductRevision);
  }
  Fixture f(drives);
  ASSERT_EQ(f.registry->EnumerateDrives(), expected.size());
  for (std::uint8_t i = 0; i < expected.size(); ++i) {
    ASSERT_TRUE(f.registry->SelectDrive(i));
    EXPECT_EQ(f.registry->FormatDriveText(), expected[i]);
  }
}

TEST(DriveRegistryTest, ScanStopsAtEightDrives) {
  std::vector<std::shared_ptr<ScriptedDrive>> drives;
  for (int i = 0; i < 11; ++i) drives.push_back(Drive("DRIVE " + std::to_string(i)));
  Fixture f(drives);
  EXPECT_EQ(f.registry->EnumerateDrives(), 8);
  EXPECT_EQ(f.transport->offered, 8);
  EXPECT_TRUE(drives[8]->sent.empty());
  ASSERT_TRUE(f.registry->SelectDrive(7));
  EXPECT_EQ(f.registry->FormatDriveText(), "VARN    DRIVE 7         1.02");
}

TEST(DriveRegistryTest, SelectingPastTheCountKeepsTheSelection) {
  Fixture f({Drive("A"), Drive("B")});
  f.registry->EnumerateDrives();
  ASSERT_TRUE(f.registry->SelectDrive(1));
  EXPECT_FALSE(f.registry->SelectDrive(2));
  EXPECT_EQ(f.registry->GetSelectedSlot(), 1);
}

TEST(DriveRegistryTest, SendsAsManyCdbBytesAsTheOpcodeGroupDemands) {
  struct Case {
    std::uint8_t opcode;
    std::size_t length;
  };
  for (const Case c : {Case{0x12, 6}, Case{0x3B, 10}, Case{0x3C, 10}, Case{0x5A, 10},
                       Case{0xA8, 12}, Case{0xF5, 12}}) {
    auto drive = Drive("X");
    Fixture f({drive});
    f.registry->EnumerateDrives();
    Cdb cdb{};
    cdb.fill(0xEE);
    cdb[0] = c.opcode;
    (void)f.registry->ExecuteCommand(cdb, DataDirection::NoData, nullptr, 0,
                                     std::chrono::seconds(15));
    ASSERT_EQ(drive->sent.size(), 2u);
    EXPECT_EQ(drive->sent[1].cdb.size(), c.length) << std::hex << int{c.opcode};
  }
}

TEST(DriveRegistryTest, RefusesACdbShorterThanItsOpcodeDemands) {
  auto drive = Drive("X");
  Fixture f({drive});
  f.registry->EnumerateDrives();
  const std::array<std::uint8_t, 12> sixteenByteOpcode{0x88};
  EXPECT_EQ(f.registry->ExecuteCommand(sixteenByteOpcode, DataDirection::NoData, nullptr, 0,
                                       std::chrono::seconds(15)),
            CommandResult::Failed);
  const Cdb write = BuildWritePageById(0, 0, 16384);
  EXPECT_EQ(f.registry->ExecuteCommand(write, DataDirection::ToDrive, nullptr, 16384,
                                       std::chrono::seconds(200)),
            CommandResult::Failed);
  EXPECT_EQ(drive->sent.size(), 1u) << "only the enumeration INQUIRY reached the drive";
}

// Each reply says what it was, with the facts it came with and no others:
// sense only with a refusal, the status byte when the transport saw one.
TEST(DriveRegistryTest, EachReplyKeepsItsCategoryStatusAndSense) {
  struct Case {
    const char* name;
    TransportReply transport;
    ReplyCategory category;
    std::optional<std::uint8_t> status;
    SenseBytes sense;
  };
  const SenseBytes noDisc{0x02, 0x3A, 0x00};
  const Case cases[] = {
      {"good", {CommandResult::Completed, std::nullopt, {}, 0x00}, ReplyCategory::Good, 0x00, {}},
      {"good, stray sense ignored",
       {CommandResult::Completed, SenseBytes{0x01, 0x17, 0x00}},
       ReplyCategory::Good,
       std::nullopt,
       {}},
      {"check condition",
       {CommandResult::Failed, noDisc, {}, 0x02},
       ReplyCategory::CheckCondition,
       0x02,
       noDisc},
      {"sense without a status byte",
       {CommandResult::Failed, noDisc},
       ReplyCategory::CheckCondition,
       std::nullopt,
       noDisc},
      {"busy",
       {CommandResult::Failed, std::nullopt, {}, 0x08},
       ReplyCategory::OtherStatus,
       0x08,
       {}},
      {"no status at all",
       {CommandResult::Failed, std::nullopt},
       ReplyCategory::TransportError,
       std::nullopt,
       {}},
      {"time-out",
       {CommandResult::TimedOut, std::nullopt},
       ReplyCategory::TimedOut,
       std::nullopt,
       {}},
  };
  auto drive = Drive("X");
  Fixture f({drive});
  f.registry->EnumerateDrives();
  const Cdb tur = BuildTestUnitReady();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    drive->nextReply = c.transport;
    const CommandReply reply = f.registry->ExecuteCommand(tur, DataDirection::NoData, nullptr, 0,
                                                          std::chrono::seconds(15));
    EXPECT_EQ(reply.category, c.category);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.sense, c.sense);
  }
}

TEST(DriveRegistryTest, DestroyingTheRegistryClosesItsDrives) {
  auto drive = Drive("X");
  Fixture f({drive});
  EXPECT_EQ(f.registry->EnumerateDrives(), 1);
  EXPECT_EQ(f.registry->SelectedLocation(), "scripted");
  f.registry.reset();
  EXPECT_TRUE(drive->closed);
}

}  // namespace
}  // namespace tslflash
