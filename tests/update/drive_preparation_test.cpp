// The model-code steps around a summed-pages transfer: the hardware class
// check and the restore of both model-code blocks.
#include "update/drive_preparation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "emulator/drive_emulator.h"
#include "tests/support/emulated_drive_fixture.h"

namespace tslflash {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

using DrivePreparationTest = testing::EmulatedDriveTest;

emu::DriveDescription Drive(std::uint16_t bufferKiB, std::uint8_t storedCode) {
  emu::DriveDescription d = testing::SampleDrive();
  d.bufferSizeKiB = bufferKiB;
  d.parameterBlocks = {{0x02, {storedCode, 0x51, 0x12, 0x34}},
                       {0x24, {storedCode, 0x51, 0xAB, 0xCD}}};
  return d;
}

TEST_F(DrivePreparationTest, HardwareClassFollowsBufferCodeAndLength) {
  constexpr std::uint16_t kLarge = 8192;
  constexpr std::uint16_t kSmall = 2048;
  struct Case {
    const char* name;
    std::uint16_t bufferKiB;
    bool bufferQueryFails;
    std::uint8_t code;
    std::uint8_t pageCount;
    std::uint8_t storedCode;
    std::optional<bool> expected;  // nothing: no answer, reported as outcome 4
    std::vector<std::uint8_t> sent;
  };
  const Case cases[] = {
      {"large buffer takes code 0 only", kLarge, false, 0x00, 8, 0x05, true, {0x5A}},
      {"large buffer refuses code 5", kLarge, false, 0x05, 8, 0x05, false, {0x5A}},
      {"a silent drive gives no answer", kLarge, true, 0x00, 8, 0x00, std::nullopt, {0x5A}},
      {"small buffer, code 0, short image",
       kSmall,
       false,
       0x00,
       127,
       0x05,
       true,
       {0x5A, 0xFD, 0xF5}},
      {"small buffer, code 0, long image", kSmall, false, 0x00, 128, 0x00, false, {0x5A}},
      {"code 5 on a drive of code 5", kSmall, false, 0x05, 8, 0x05, true, {0x5A, 0xFD, 0xF5}},
      {"code 5 on a drive of code 30h", kSmall, false, 0x05, 8, 0x30, false, {0x5A, 0xFD, 0xF5}},
      {"code 30h on a drive of code 30h", kSmall, false, 0x30, 8, 0x30, true, {0x5A, 0xFD, 0xF5}},
      {"any other code", kSmall, false, 0x07, 8, 0x00, true, {0x5A}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    emu::DriveDescription d = Drive(c.bufferKiB, c.storedCode);
    if (c.bufferQueryFails) d.faults.push_back({emu::FaultKind::TimeOut, emu::ForOpcode{0x5A}});
    Start(d);
    EXPECT_EQ(CheckHardwareClass(*commands, reporter, c.code, c.pageCount), c.expected);
    EXPECT_THAT(SentOpcodes(), ElementsAreArray(c.sent));
    EXPECT_EQ(reporter.outcomes, c.expected.has_value() ? std::vector<OutcomeCode>{}
                                                        : std::vector{OutcomeCode::CommandFailed});
  }
}

TEST_F(DrivePreparationTest, RestoreClearsTheMarkerOfBothBlocksAndStopsAtAFailure) {
  Start(Drive(2048, 0x30));
  ChangedBlocks changed;
  EXPECT_TRUE(RestoreDriveSettings(*commands, 0x05, changed));
  EXPECT_THAT(*drive->GetParameterBlock(0x02), ElementsAre(0x05, 0x00, 0x12, 0x34));
  EXPECT_THAT(*drive->GetParameterBlock(0x24), ElementsAre(0x05, 0x00, 0xAB, 0xCD));
  EXPECT_THAT(SentOpcodes(), ElementsAre(0x00, 0xF5, 0xF5, 0xF5, 0xF5));

  emu::DriveDescription refusing = Drive(2048, 0x30);
  refusing.faults.push_back({emu::FaultKind::Fail, emu::ForOpcode{0xF5, 0x03}});
  Start(refusing);
  EXPECT_FALSE(RestoreDriveSettings(*commands, 0x05, changed));
  EXPECT_THAT(SentOpcodes(), ElementsAre(0x00, 0xF5, 0xF5));
  EXPECT_THAT(*drive->GetParameterBlock(0x24), ElementsAre(0x30, 0x51, 0xAB, 0xCD));
}

// A run that ends before sending the image writes each block's old bytes
// back; what could not be written back is named.
TEST_F(DrivePreparationTest, ChangedBlocksGetTheirOldBytesBack) {
  Start(Drive(2048, 0x05));
  ChangedBlocks changed;
  ASSERT_TRUE(StoreModelCodeBlocks(*commands, 0x30, true, changed));
  EXPECT_EQ(ChangedBlocksLine(changed, BlocksLeft::NotRestored),
            "The drive's model-code blocks 02h and 24h were changed and have not been restored.");
  EXPECT_TRUE(RestoreChangedBlocks(*commands, changed));
  EXPECT_THAT(*drive->GetParameterBlock(0x02), ElementsAre(0x05, 0x51, 0x12, 0x34));
  EXPECT_THAT(*drive->GetParameterBlock(0x24), ElementsAre(0x05, 0x51, 0xAB, 0xCD));
  EXPECT_TRUE(changed.Empty());

  // The second write back is refused: that block stays changed and is named.
  emu::DriveDescription refusing = Drive(2048, 0x05);
  refusing.faults.push_back({emu::FaultKind::Fail, emu::ForOpcode{0xF5, 0x03, 4}});
  Start(refusing);
  ASSERT_TRUE(StoreModelCodeBlocks(*commands, 0x30, true, changed));
  EXPECT_FALSE(RestoreChangedBlocks(*commands, changed));
  EXPECT_THAT(*drive->GetParameterBlock(0x02), ElementsAre(0x05, 0x51, 0x12, 0x34));
  EXPECT_THAT(*drive->GetParameterBlock(0x24), ElementsAre(0x30, 0x51, 0xAB, 0xCD));
  EXPECT_EQ(ChangedBlocksLine(changed, BlocksLeft::RestoreFailed),
            "The drive's model-code block 24h was changed and could not be restored.");
}

}  // namespace
}  // namespace tslflash
