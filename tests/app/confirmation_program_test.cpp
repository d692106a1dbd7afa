// What the drive reports after an update, as a person or a script sees it
// from outside the program: emulated drives that take the image at once or
// only after a power cycle, a second start that finishes the record, and a
// closing command that failed with the old revision left.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/tool_run.h"

namespace tslflash {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::ToolRun;

constexpr std::string_view kDemo = TSLFLASH_SOURCE_DIR "/emulator/drives/demo.json";

class ConfirmationProgramTest : public testing::ToolRunTest {
 protected:
  ConfirmationProgramTest() : ToolRunTest(TSLFLASH_PATH) {}

  // The demo's drives, the first one described further by `more` (JSON
  // members), written beside the drives' received images and history.
  void Describe(std::string_view more) {
    std::string description = testing::Slurp(std::string(kDemo));
    const std::string first = "\"revision\": \"1.02\",";
    description.replace(description.find(first), first.size(), first + std::string(more));
    std::ofstream(Path("drives.json")) << description;
  }

  ToolRun Upgrade() {
    return Run({"--emulate", Path("drives.json"), "--select", "1", "--upgrade", "--yes",
                "--skip-waits", "--received-images", Dir().string()});
  }
  ToolRun History() {
    return Run(
        {"--history", "--emulate", Path("drives.json"), "--received-images", Dir().string()});
  }
};

TEST_F(ConfirmationProgramTest, ADriveThatRunsTheImageAtOnceIsConfirmed) {
  Describe(R"("activatesAs": "1.07", "activation": "atOnce",)");
  const ToolRun run = Upgrade();
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("\nThe drive now reports firmware 1.07.\n[Reboot Warning]\n"));
  EXPECT_THAT(History().out, HasSubstr("now running the new firmware"));
}

// Written, not active until a power cycle; the next start, with the drive
// come up on the image it took, finishes the record.
TEST_F(ConfirmationProgramTest, AnImageActiveAfterAPowerCycleIsConfirmedAtTheNextStart) {
  Describe(R"("activatesAs": "1.07", "poweredUpWith": "drive-1.bin",)");
  const ToolRun first = Upgrade();
  EXPECT_EQ(first.exitCode, 0) << first.out << first.err;
  EXPECT_THAT(first.out, HasSubstr("The drive still reports firmware 1.02: the new firmware takes "
                                   "effect after a restart or power cycle.\n"));
  EXPECT_THAT(History().out, HasSubstr("written, not yet active"));

  const ToolRun second = Run({"--emulate", Path("drives.json"), "--non-interactive", "--answer",
                              "ok", "--received-images", Dir().string()});
  EXPECT_EQ(second.exitCode, 0) << second.out << second.err;
  EXPECT_THAT(second.out, HasSubstr("  1. VARN    DVD RW LPX-650A 1.07  (emulated)\n"));
  EXPECT_THAT(second.out, HasSubstr("is now active: the drive reports firmware 1.07.\n"));
  EXPECT_THAT(History().out, HasSubstr("now running the new firmware"));

  // Said once: a third start has nothing left to finish.
  const ToolRun third = Run({"--emulate", Path("drives.json"), "--non-interactive", "--answer",
                             "ok", "--received-images", Dir().string()});
  EXPECT_THAT(third.out, Not(HasSubstr("is now active")));
}

// The commit that closes the transfer fails and the drive keeps its old
// revision: never shown as a completed update.
TEST_F(ConfirmationProgramTest, AFailedCommitWithTheOldRevisionIsNotConfirmed) {
  Describe(
      R"("activatesAs": "1.07", "activation": "atOnce", "faults": [{"kind": "fail", "opcode": "3B", "secondByte": "04", "times": "always"}],)");
  const ToolRun run = Upgrade();
  EXPECT_EQ(run.exitCode, 15) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("The drive still reports firmware 1.02: the new firmware takes "
                                 "effect after a restart or power cycle.\n"
                                 "The image commit failed and the drive still reports firmware "
                                 "1.02.\n"));
  EXPECT_THAT(run.out, Not(HasSubstr("Upgrade completed!")));
  EXPECT_THAT(run.out, Not(HasSubstr("SUCCEED")));
  const ToolRun history = History();
  EXPECT_THAT(history.out, HasSubstr("still the old firmware"));
  EXPECT_THAT(history.out, Not(HasSubstr("now running the new firmware")));
}

// The drive loses power in the middle of the transfer and comes back in its
// recovery state: the next start names it, and the recovery rules judge it.
TEST_F(ConfirmationProgramTest, AnInterruptedUpdateIsNamedAtTheNextStart) {
  Describe(
      R"("faults": [{"kind": "powerCut", "opcode": "3B", "secondByte": "07", "fromOccurrence": 3}],)");
  const ToolRun cut = Upgrade();
  EXPECT_EQ(cut.exitCode, 15) << cut.out << cut.err;
  EXPECT_THAT(History().out, HasSubstr("interrupted"));

  // After the power cycle the drive answers with a recovery revision.
  std::string description = testing::Slurp(Path("drives.json"));
  description.replace(description.find("\"1.02\""), 6, "\"FS12\"");
  description.replace(description.find("\"faults\""),
                      description.find("],") + 2 - description.find("\"faults\""), "");
  std::ofstream(Path("drives.json")) << description;
  const ToolRun next = Run({"--check", "--emulate", Path("drives.json"), "--select", "1",
                            "--received-images", Dir().string()});
  EXPECT_THAT(next.err, HasSubstr("was interrupted; the drive reports firmware FS12."));
  EXPECT_THAT(next.out, HasSubstr("  recovery-rules: "));
}

}  // namespace
}  // namespace tslflash
