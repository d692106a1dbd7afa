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

}  // namespace
}  // namespace tslflash::emu::test
