// What the drive reports after an update, as a person or a script sees it
// from outside the program, for each transfer protocol: emulated drives that
// take the image at once or only after a power cycle, a second start that
// finishes the record, and a closing command that failed with the old
// revision left. Then the whole road of an update cut off by a power loss:
// the drive comes back in its recovery state and is flashed again.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "tests/app/history_killed_run.h"
#include "tests/support/tool_run.h"
#include "tools/package_builder.h"

namespace tslflash {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::ToolRun;

constexpr std::size_t kPage = 16384;
// The last line before the first page goes to the drive.
constexpr std::string_view kPowerLine = "Don't turn off the power!!";

// Drive B of the internal drives: every protocol's package fits it.
constexpr std::string_view kDriveB =
    R"("vendor": "VARN", "product": "DVD RW LPX-407A", "revision": "1.00", "medium": "absent",
       "enclosure": "VARN      VR", "activatesAs": "1.50")";

PackageRecipe RecipeFor(char digit, std::string_view modelCode, std::size_t imageSize) {
  PackageRecipe recipe;
  recipe.protocolDigit = digit;
  recipe.inquiryId = "*" + std::string(23, ' ') + "1.50";
  recipe.altProductName = std::string(modelCode);
  recipe.altProductNameNulPadded = true;
  recipe.variantMark = "VR";
  recipe.revisionPattern = "1.**";
  recipe.image = SynthesizeImage(imageSize, 7);
  return recipe;
}

class ConfirmationTest : public testing::ToolRunTest {
 protected:
  ConfirmationTest() : ToolRunTest(TSLFLASH_PATH) {}

  void WritePackage(const PackageRecipe& recipe) {
    const BuildResult built = BuildPackage(recipe);
    ASSERT_TRUE(built.Ok()) << built.error;
    std::ofstream(Path("package.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(built.package.data()),
               static_cast<std::streamsize>(built.package.size()));
  }
  // One drive: these JSON members.
  void Describe(std::string_view members) {
    std::ofstream(Path("drives.json")) << "{\"drives\": [{" << members << "}]}";
  }

  std::vector<std::string> Emulated(std::vector<std::string> args) const {
    args.insert(args.end(), {"--emulate", Path("drives.json"), "--package", Path("package.bin"),
                             "--received-images", Dir().string()});
    return args;
  }
  ToolRun Upgrade() const {
    return Run(Emulated({"--select", "1", "--upgrade", "--yes", "--skip-waits"}));
  }
  // The program started and left at once: what it says of earlier updates.
  ToolRun Start() const { return Run(Emulated({"--non-interactive", "--answer", "ok"})); }
  ToolRun History() const {
    return Run(
        {"--history", "--emulate", Path("drives.json"), "--received-images", Dir().string()});
  }
};

struct ProtocolCase {
  const char* name;
  char digit;
  std::string drive;  // JSON members beyond drive B's own
  // A fault that strikes the command closing the transfer, and the command
  // as its failure names it; the page protocols close with their last page,
  // a plain failure.
  std::string closingFault;
  std::string closingCommand;
};

void PrintTo(const ProtocolCase& c, std::ostream* os) { *os << c.name; }

// The banked drive's one bank holds the whole 128 KiB image: an image must
// fill the banks it is committed to.
const ProtocolCase kProtocols[] = {
    {"BufferPages", '0', "", R"({"kind": "fail", "opcode": "3B", "secondByte": "04"})",
     "image commit"},
    {"SignedPages", '1', "",
     R"({"kind": "fail", "opcode": "FD", "secondByte": "07", "fromOccurrence": 8})", ""},
    {"SummedPages", '2', R"("bufferSizeKiB": 2048,)",
     R"({"kind": "fail", "opcode": "FA", "fromOccurrence": 8})", ""},
    {"SmallBlocks", '3', "", R"({"kind": "fail", "opcode": "F2", "secondByte": "04"})",
     "download end"},
    {"BankedPages", '4', R"("bankSize": 131072,)",
     R"({"kind": "fail", "opcode": "3B", "secondByte": "07"})", "bank commit"},
};

const std::string kStillOld =
    "The drive still reports firmware 1.00: the new firmware takes effect after a restart or "
    "power cycle.\n";

// The line of a failed closing command, the run's one word on the revision.
std::string ClosingFailedLine(std::string_view command, std::string_view revision) {
  return "The " + std::string(command) + " failed and the drive still reports firmware " +
         std::string(revision) + ".\n";
}

class ConfirmationByProtocolTest : public ConfirmationTest,
                                   public ::testing::WithParamInterface<ProtocolCase> {
 protected:
  void SetUp() override {
    ConfirmationTest::SetUp();
    WritePackage(RecipeFor(GetParam().digit, "TX2350", 8 * kPage));
  }
  void DescribeDrive(std::string_view more) {
    Describe(GetParam().drive + std::string(kDriveB) + ", " + std::string(more));
  }
};

TEST_P(ConfirmationByProtocolTest, ADriveThatRunsTheImageAtOnceIsConfirmed) {
  DescribeDrive(R"("activation": "atOnce")");
  const ToolRun run = Upgrade();
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("======== SUCCEED ========\n"));
  EXPECT_THAT(run.out, HasSubstr("\nThe drive now reports firmware 1.50.\n"));
  EXPECT_THAT(History().out, HasSubstr("now running the new firmware"));
}

// Written, not active until a power cycle; the next start, with the drive
// come up on the image it took, finishes the record, and says so once.
TEST_P(ConfirmationByProtocolTest, AnImageActiveAfterAPowerCycleIsConfirmedAtTheNextStart) {
  DescribeDrive(R"("poweredUpWith": "drive-1.bin")");
  const ToolRun first = Upgrade();
  EXPECT_EQ(first.exitCode, 0) << first.out << first.err;
  EXPECT_THAT(first.out, HasSubstr("\n" + kStillOld));
  EXPECT_THAT(History().out, HasSubstr("written, not yet active"));

  const ToolRun second = Start();
  EXPECT_EQ(second.exitCode, 0) << second.out << second.err;
  EXPECT_THAT(second.out, HasSubstr("  1. VARN    DVD RW LPX-407A 1.50  (emulated)\n"));
  EXPECT_THAT(second.out, HasSubstr("is now active: the drive reports firmware 1.50.\n"));
  EXPECT_THAT(History().out, HasSubstr("now running the new firmware"));

  EXPECT_THAT(Start().out, Not(HasSubstr("is now active")));
}

// The command that closes the transfer fails and the drive keeps its old
// revision: never shown as a completed update, then or at the next start.
TEST_P(ConfirmationByProtocolTest, AFailedClosingCommandWithTheOldRevisionIsNotConfirmed) {
  DescribeDrive(R"("activation": "atOnce", "faults": [)" + GetParam().closingFault + "]");
  const ToolRun run = Upgrade();
  EXPECT_EQ(run.exitCode, 15) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("======== FAIL ========\n"));
  if (!GetParam().closingCommand.empty()) {
    EXPECT_THAT(run.out, HasSubstr(ClosingFailedLine(GetParam().closingCommand, "1.00")));
  }
  EXPECT_THAT(run.out, Not(HasSubstr("SUCCEED")));
  EXPECT_THAT(run.out, Not(HasSubstr("now reports firmware")));
  EXPECT_THAT(run.out, Not(HasSubstr(kStillOld)));

  const ToolRun next = Start();
  EXPECT_THAT(next.out, HasSubstr("  1. VARN    DVD RW LPX-407A 1.00  (emulated)\n"));
  const ToolRun history = History();
  EXPECT_THAT(history.out, HasSubstr("still the old firmware"));
  EXPECT_THAT(history.out, Not(HasSubstr("now running the new firmware")));
}

// A reinstall: the drive already runs the package's revision, so reporting it
// after a failed closing command shows nothing. It ends as any failed
// closing command does.
TEST_P(ConfirmationByProtocolTest, AReinstallWhoseClosingCommandFailedIsNotASuccess) {
  std::string drive = GetParam().drive + std::string(kDriveB);
  drive.replace(drive.find(R"("revision": "1.00")"), 18, R"("revision": "1.50")");
  Describe(drive + R"(, "activation": "atOnce", "faults": [)" + GetParam().closingFault + "]");
  const ToolRun run =
      Run(Emulated({"--select", "1", "--upgrade", "--yes", "--allow-reinstall", "--skip-waits"}));
  EXPECT_EQ(run.exitCode, 15) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("======== FAIL ========\n"));
  EXPECT_THAT(run.out, Not(HasSubstr("SUCCEED")));
  EXPECT_THAT(run.out, Not(HasSubstr("Done\n")));
  EXPECT_THAT(run.out, Not(HasSubstr("now reports firmware")));
  if (!GetParam().closingCommand.empty()) {
    EXPECT_THAT(run.out, HasSubstr(ClosingFailedLine(GetParam().closingCommand, "1.50")));
  }
  EXPECT_THAT(History().out, Not(HasSubstr("now running the new firmware")));
}

INSTANTIATE_TEST_SUITE_P(Protocols, ConfirmationByProtocolTest, ::testing::ValuesIn(kProtocols),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// How far the image got decides whether the next start judges the drive: a
// power loss on the first page or at the commit may have left part of the
// image in it; a refusal before anything was sent left nothing.
TEST_F(ConfirmationTest, AnUpdateThatMayHaveLeftPartOfTheImageIsJudgedAtTheNextStart) {
  const struct {
    const char* name;
    std::string drive;  // JSON members beyond drive B's own
    std::string fault;
    bool judged;
  } cases[] = {
      {"power lost on the first page", "",
       R"({"kind": "powerCut", "opcode": "3B", "secondByte": "07"})", true},
      {"power lost at the commit", "",
       R"({"kind": "powerCut", "opcode": "3B", "secondByte": "04"})", true},
      {"the drive expects another image size", R"("imageSizeKiB": 64,)", "", false},
  };
  WritePackage(RecipeFor('0', "TX2350", 8 * kPage));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(Path("history.jsonl"));
    Describe(c.drive + std::string(kDriveB) + R"(, "faults": [)" + c.fault + "]");
    const ToolRun run = Upgrade();
    EXPECT_EQ(run.exitCode, 15) << run.out << run.err;
    EXPECT_EQ(History().out.find("Confirmation: interrupted") != std::string::npos, c.judged);

    Describe(c.drive + std::string(kDriveB));  // powered up again
    const ToolRun next = Start();
    EXPECT_EQ(
        next.out.find("was interrupted; the drive reports firmware 1.00.\n") != std::string::npos,
        c.judged)
        << next.out;
  }
}

// A drive of each recovery stage: a first-stage rule holds drive B's id
// whatever follows "FS"; drive C in its enclosure falls to the second-stage
// rule of its revision key.
struct RecoveryCase {
  const char* name;
  std::string drive;
  std::string recoveryRevision;
  PackageRecipe package;
  std::string powerCut;  // a fault at the third page
  std::string enclosure;
};

void PrintTo(const RecoveryCase& c, std::ostream* os) { *os << c.name; }

class RecoveryRoadTest : public ConfirmationTest,
                         public ::testing::WithParamInterface<RecoveryCase> {
 protected:
  // The drive comes back in its recovery state: the next start names it
  // once, the recovery rules let the package go to it, and the re-flash is
  // confirmed like any other. The cut-off update's record ends with these
  // lines.
  void Recover(const std::string& cutOutcome, const std::string& cutConfirmation) {
    const RecoveryCase& c = GetParam();
    Describe(c.drive + R"(, "revision": ")" + c.recoveryRevision +
             R"(", "activatesAs": "1.50", "activation": "atOnce")");
    const ToolRun check = Run(Emulated({"--check", "--select", "1"}));
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_THAT(check.out, HasSubstr("  recovery-rules: passed\n"));
    EXPECT_THAT(check.err,
                HasSubstr("was interrupted; the drive reports firmware " + c.recoveryRevision +
                          ". It is in its recovery state; the recovery rules let this "
                          "package go to it.\n"));

    const ToolRun reflash = Upgrade();
    EXPECT_EQ(reflash.exitCode, 0) << reflash.out << reflash.err;
    EXPECT_THAT(reflash.out, Not(HasSubstr("was interrupted")));  // said once
    EXPECT_THAT(reflash.out, HasSubstr("\nThe drive now reports firmware 1.50.\n"));

    // Newest first: the re-flash, confirmed, then the update that was cut
    // off; each names the enclosure the drive reported.
    const std::string history = History().out;
    EXPECT_THAT(history, HasSubstr(" (enclosure " + c.enclosure + ") at emulated:0\n"));
    const std::size_t confirmed = history.find("Confirmation: now running the new firmware");
    // The update that was cut off: its outcome, and what the drive reported
    // at the start that judged it.
    const std::size_t cut = history.find(cutOutcome);
    EXPECT_THAT(history, HasSubstr(cutConfirmation + c.recoveryRevision + " (checked "));
    EXPECT_NE(confirmed, std::string::npos) << history;
    EXPECT_NE(cut, std::string::npos) << history;
    EXPECT_LT(confirmed, cut) << history;
  }
};

// Power lost in the middle of the transfer: the drive goes silent, the run
// ends on its own and says so.
TEST_P(RecoveryRoadTest, AnInterruptedUpdateIsRecoveredAndConfirmed) {
  const RecoveryCase& c = GetParam();
  WritePackage(c.package);
  Describe(c.drive + R"(, "revision": "1.00", "faults": [)" + c.powerCut + "]");
  const ToolRun cut = Upgrade();
  EXPECT_EQ(cut.exitCode, 15) << cut.out << cut.err;
  EXPECT_THAT(cut.out, Not(HasSubstr("SUCCEED")));
  EXPECT_THAT(History().out, HasSubstr("  Confirmation: interrupted\n"));
  Recover("  Outcome:      Updating incomplete or interrupted!",
          "  Confirmation: still the old firmware; the drive reported revision ");
}

// The computer loses power in the middle of the transfer, the program with
// it (kill -9 stands in): all that is left is the record it made before it
// changed the drive.
TEST_P(RecoveryRoadTest, AnUpdateCutOffWithTheProgramIsRecoveredAndConfirmed) {
  const RecoveryCase& c = GetParam();
  WritePackage(c.package);
  Describe(c.drive + R"(, "revision": "1.00", "commandDelayMs": 20)");
  const testing::KilledRun cut = testing::RunAndKill(
      TSLFLASH_PATH, Emulated({"--select", "1", "--upgrade", "--yes", "--skip-waits"}),
      Path("stdout"), Path("stderr"), {std::chrono::milliseconds(50), kPowerLine});
  ASSERT_TRUE(cut.killed) << cut.out << cut.err;
  EXPECT_THAT(History().out,
              HasSubstr("  Sent:         not recorded (8 pages to send)\n"
                        "  Outcome:      not recorded: the update is still running, or it was cut "
                        "off\n  Confirmation: not yet checked\n"));
  Recover("  Outcome:      did not complete",
          "  Confirmation: interrupted; the drive reported revision ");
}

// Drive C's model takes a check per page: its image counts 12 bytes that
// are not sent.
const RecoveryCase kRecoveryCases[] = {
    {"FirstStage",
     R"("vendor": "VARN", "product": "DVD RW LPX-407A", "medium": "absent",
        "enclosure": "VARN      VR")",
     "FS01", RecipeFor('0', "TX2350", 8 * kPage),
     R"({"kind": "powerCut", "opcode": "3B", "secondByte": "07", "fromOccurrence": 3})",
     "VARN      VR"},
    {"SecondStage",
     R"("vendor": "VARN", "product": "DVD RW LPX-412A", "medium": "absent",
        "enclosure": "VARN      VR")",
     "FSD1", RecipeFor('1', "TX2370", 8 * kPage + 12),
     R"({"kind": "powerCut", "opcode": "FD", "secondByte": "07", "fromOccurrence": 3})",
     "VARN      VR"},
};

INSTANTIATE_TEST_SUITE_P(Stages, RecoveryRoadTest, ::testing::ValuesIn(kRecoveryCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace tslflash
