// Emulated drives found and used through the drive registry, as the tool
// finds and uses real ones.
#include "emulator/emulated_transport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "emulator_test_support.h"
#include "transport/drive_registry.h"

namespace tslflash::emu::test {
namespace {

DriveDescription Drive(const std::string& product, bool answersInquiry = true) {
  DriveDescription d = VarnDrive();
  d.product = product;
  d.answersInquiry = answersInquiry;
  return d;
}

struct Machine {
  std::vector<std::shared_ptr<DriveEmulator>> drives;
  DriveRegistry registry;

  explicit Machine(const std::vector<DriveDescription>& descriptions)
      : drives(MakeEmulators(descriptions)),
        registry(std::make_unique<EmulatedTransport>(drives)) {}

  std::vector<std::string> Registered() {
    std::vector<std::string> found;
    for (std::uint8_t i = 0; i < registry.GetDriveCount(); ++i) {
      EXPECT_TRUE(registry.SelectDrive(i));
      found.push_back(*registry.FormatDriveText() + " @" + *registry.SelectedLocation());
    }
    return found;
  }
};

TEST(EmulatedTransport, RegistersEachDriveWithItsIdentity) {
  Machine machine({Drive("DVD RW LPX-650A"), Drive("DVD RW EPX-412UX")});
  ASSERT_TRUE(machine.registry.InitTransport());
  EXPECT_EQ(machine.registry.EnumerateDrives(), 2);
  EXPECT_THAT(machine.Registered(),
              testing::ElementsAre("VARN    DVD RW LPX-650A 1.02 @emulated:0",
                                   "VARN    DVD RW EPX-412UX1.02 @emulated:1"));
}

TEST(EmulatedTransport, ADriveFailingInquiryLeavesNoGap) {
  Machine machine({Drive("FIRST"), Drive("SILENT", false), Drive("THIRD")});
  ASSERT_TRUE(machine.registry.InitTransport());
  EXPECT_EQ(machine.registry.EnumerateDrives(), 2);
  EXPECT_THAT(machine.Registered(),
              testing::ElementsAre("VARN    FIRST           1.02 @emulated:0",
                                   "VARN    THIRD           1.02 @emulated:2"));
}

TEST(EmulatedTransport, StopsOfferingOnceEightAreRegistered) {
  std::vector<DriveDescription> descriptions;
  for (int i = 0; i < 10; ++i) descriptions.push_back(Drive("DRIVE " + std::to_string(i)));
  Machine machine(descriptions);
  ASSERT_TRUE(machine.registry.InitTransport());
  EXPECT_EQ(machine.registry.EnumerateDrives(), 8);
  EXPECT_EQ(machine.Registered().back(), "VARN    DRIVE 7         1.02 @emulated:7");
  EXPECT_EQ(machine.drives[7]->Trace().size(), 1u);
  EXPECT_TRUE(machine.drives[8]->Trace().empty());
  EXPECT_TRUE(machine.drives[9]->Trace().empty());
}

TEST(EmulatedTransport, CommandsReachTheSelectedDriveAndSenseComesBack) {
  DriveDescription loaded = Drive("LOADED");
  loaded.mediumPresent = true;
  Machine machine({Drive("EMPTY"), loaded});
  ASSERT_TRUE(machine.registry.InitTransport());
  ASSERT_EQ(machine.registry.EnumerateDrives(), 2);
  const std::array<std::uint8_t, 12> testUnitReady{};

  const CommandReply noDisc =
      machine.registry.ExecuteCommand(testUnitReady, DataDirection::NoData, nullptr, 0, 15s);
  EXPECT_EQ(noDisc.category, ReplyCategory::CheckCondition);
  EXPECT_EQ(noDisc.sense, (SenseBytes{0x02, 0x3A, 0x00}));

  ASSERT_TRUE(machine.registry.SelectDrive(1));
  EXPECT_EQ(machine.registry.ExecuteCommand(testUnitReady, DataDirection::NoData, nullptr, 0, 15s),
            CommandResult::Completed);
  EXPECT_EQ(FormatTraceEntry(machine.drives[1]->Trace().back()),
            "00 00 00 00 00 00 NoData 0 15s -> Completed");
}

// The tool sends from its worker thread while the UI (here: the test) looks
// at the drive; the drive's state must stay consistent throughout.
TEST(EmulatedTransport, ToleratesInspectionWhileAWorkerSends) {
  auto drive = std::make_shared<DriveEmulator>(VarnDrive());
  constexpr int kPages = 64;
  std::atomic<bool> done = false;
  std::thread worker([&] {
    Bytes page = PatternImage(16384);
    for (int i = 0; i < kPages; ++i) {
      const auto offset = static_cast<std::uint32_t>(i % 8) * 16384;
      (void)Send(*drive, {0x3B, 0x07, Lo(offset >> 16), 0, Hi(offset), Lo(offset), 0, 0x40, 0, 0},
                 DataDirection::ToDrive, page, 200s);
    }
    (void)Send(*drive, {0x3B, 0x04, 0, 0, 0, 0, 0, 0, 0, 0});
    done = true;
  });
  while (!done) {
    (void)drive->Trace();
    (void)drive->ReceivedImage();
    (void)drive->DownloadMemoryBytes(0, 16);
  }
  worker.join();
  EXPECT_EQ(drive->Trace().size(), kPages + 1u);
  EXPECT_EQ(drive->ReceivedProtocol(), Protocol::BufferPages);
}

// Each fault the description format offers, as the tool sees it through the
// registry: a read of INQUIRY data (the second INQUIRY: enumeration sends the
// first) that needs all 36 bytes it asks for.
TEST(EmulatedTransport, EachDescribedFaultArrivesAsItsReplyCategory) {
  constexpr std::uint32_t kAsked = 36;
  struct Case {
    const char* fault;  // the fault's keys besides where it strikes
    ReplyCategory category;
    std::optional<std::uint8_t> status;
    SenseBytes sense;
    std::optional<std::uint32_t> transferred;  // nothing: what a time-out moved is unknown
  };
  const Case cases[] = {
      {R"("kind": "fail")", ReplyCategory::CheckCondition, std::nullopt, {0x04, 0x44, 0x00}, 0},
      {R"("kind": "fail", "sense": "03/0C/00")",
       ReplyCategory::CheckCondition,
       std::nullopt,
       {0x03, 0x0C, 0x00},
       0},
      {R"("kind": "sense", "sense": "02/04/01")",
       ReplyCategory::CheckCondition,
       std::nullopt,
       {0x02, 0x04, 0x01},
       0},
      {R"("kind": "timeout")", ReplyCategory::TimedOut, std::nullopt, {}, std::nullopt},
      {R"("kind": "failWithoutSense")", ReplyCategory::TransportError, std::nullopt, {}, 0},
      {R"("kind": "status", "status": "08")", ReplyCategory::OtherStatus, 0x08, {}, 0},
      {R"("kind": "status", "status": "18")", ReplyCategory::OtherStatus, 0x18, {}, 0},
      {R"("kind": "status", "status": "89")", ReplyCategory::OtherStatus, 0x89, {}, 0},
      // CHECK CONDITION without sense data is still a check condition.
      {R"("kind": "status", "status": "02")", ReplyCategory::CheckCondition, 0x02, {}, 0},
      // GOOD and CONDITION MET for a command not carried out: nothing arrived.
      {R"("kind": "status", "status": "00")", ReplyCategory::ShortReply, 0x00, {}, 0},
      {R"("kind": "status", "status": "04")", ReplyCategory::ShortReply, 0x04, {}, 0},
      {R"("kind": "shortReply", "length": 12)", ReplyCategory::ShortReply, std::nullopt, {}, 12},
      {R"("kind": "shortReply", "length": 0)", ReplyCategory::ShortReply, std::nullopt, {}, 0},
      // The transport is told the whole reply came: only the data can show
      // it did not, which is why read-backs are compared.
      {R"("kind": "noData")", ReplyCategory::Good, std::nullopt, {}, kAsked},
      {R"("kind": "corruptReadBack", "offset": 3)", ReplyCategory::Good, std::nullopt, {}, kAsked},
      {R"("kind": "failAfter", "sense": "06/29/00")",
       ReplyCategory::CheckCondition,
       std::nullopt,
       {0x06, 0x29, 0x00},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    const std::string description =
        R"({"drives": [{"vendor": "VARN", "product": "FAULTY", "revision": "1.02",
             "faults": [{)" +
        std::string(c.fault) + R"(, "opcode": "12", "fromOccurrence": 2}]}]})";
    const LoadedDrives loaded = LoadDriveDescriptions(description);
    ASSERT_TRUE(loaded.Ok()) << loaded.error;
    Machine machine(loaded.drives);
    ASSERT_TRUE(machine.registry.InitTransport());
    ASSERT_EQ(machine.registry.EnumerateDrives(), 1);
    const std::array<std::uint8_t, 6> inquiry{0x12, 0, 0, 0, kAsked, 0};
    std::array<std::uint8_t, kAsked> data{};
    const CommandReply reply =
        machine.registry.ExecuteRead(inquiry, data.data(), kAsked, kAsked, 15s);
    EXPECT_EQ(reply.category, c.category);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.sense, c.sense);
    if (c.transferred) {
      EXPECT_EQ(reply.transferred, *c.transferred);
    }
  }
}

}  // namespace
}  // namespace tslflash::emu::test
