// tslflash as a script runs it: a subprocess in the terminal with the demo's
// emulated drives, answers given in advance, and its output and exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "emulator/drive_description.h"
#include "package/embedded_package.h"
#include "package/firmware_package.h"
#include "package/package_layout.h"
#include "package/sha256.h"
#include "tests/support/bad_files.h"
#include "tests/support/tool_run.h"

namespace tslflash {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using testing::ToolRun;

constexpr std::string_view kDemo = TSLFLASH_SOURCE_DIR "/emulator/drives/demo.json";
constexpr std::string_view kDrive1 = "  1. VARN    DVD RW LPX-650A 1.02  (emulated)\n";
// A greyed drive says why.
constexpr std::string_view kDrive2 =
    "  2. OTHERCO CD-RW 52X       2.00  (emulated, not for this package: the package is for the "
    "drive \"VARN    DVD RW LPX-650A\" only)\n";
constexpr std::string_view kDrive3 =
    "  3. VARN    DVD RW LPX-412A 1.00  (emulated, not for this package: the package is for the "
    "drive \"VARN    DVD RW LPX-650A\" only)\n";

class TslflashProgramTest : public testing::ToolRunTest {
 protected:
  TslflashProgramTest() : ToolRunTest(TSLFLASH_PATH) {}

  static std::vector<std::string> Demo(std::vector<std::string> more) {
    std::vector<std::string> args = {"--terminal", "--emulate", std::string(kDemo)};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
};

TEST_F(TslflashProgramTest, TheDemoRunsFromStartUpToASelectedDrive) {
  const ToolRun run = Run(Demo({"--select", "1", "--answer", "ok", "--non-interactive"}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.err, IsEmpty());
  const std::string tree =
      "My Computer\n" + std::string(kDrive1) + std::string(kDrive2) + std::string(kDrive3);
  EXPECT_THAT(run.out, AllOf(HasSubstr("=== Flash Tool (ver. A-7.8) [emulated drives] ===\n"),
                             HasSubstr("[O]K/[C]ancel > ok\n"), HasSubstr(tree),
                             HasSubstr("\nVARN    DVD RW LPX-650A  Current firmware : 1.02\n")));
  // The title comes before the tree, the description after it.
  EXPECT_LT(run.out.find("=== Flash Tool"), run.out.find(tree));
  EXPECT_LT(run.out.find(tree), run.out.find("Current firmware"));
}

// A whole update from the command line: the drive the package is for takes
// the image, checked from outside the program through the file it writes.
TEST_F(TslflashProgramTest, UpgradeFlashesTheEmulatedDriveWithThePackagesImage) {
  const ToolRun run =
      Run(Demo({"--select", "1", "--upgrade", "--answer", "ok", "--answer", "ok", "--answer", "ok",
                "--non-interactive", "--skip-waits", "--received-images", Dir().string()}));
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_THAT(run.out, AllOf(HasSubstr("Check Sum match !!\n"), HasSubstr("Start to upgrade...\n"),
                             HasSubstr("\nDone\n"), HasSubstr("[Reboot Warning]\n"),
                             HasSubstr("Restart the computer\n"),
                             HasSubstr("an emulated run does not restart the computer")));
  const std::span<const std::uint8_t> package = EmbeddedPackage();
  const PackageHeader header = ParseFirmwarePackage(package).header;
  const std::vector<std::uint8_t> received = ReadFile("drive-1.bin");
  ASSERT_EQ(received.size(), header.imageLength);
  EXPECT_TRUE(std::ranges::equal(received, package.subspan(kHeaderSize, header.imageLength)));
  EXPECT_FALSE(fs::exists(Dir() / "drive-2.bin"));
}

// The restart after a completed update refused: the user is told, and the
// announcement of an emulated restart never shows.
TEST_F(TslflashProgramTest, ARefusedRestartIsReportedAfterTheUpdate) {
  const ToolRun run = Run(Demo({"--select", "1", "--upgrade", "--answer", "ok", "--answer", "ok",
                                "--answer", "ok", "--non-interactive", "--skip-waits",
                                "--restart-fails", "--received-images", Dir().string()}));
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("\nDone\n"));
  EXPECT_THAT(run.out, HasSubstr("Reboot Fail!!"));
  EXPECT_LT(run.out.find("Restart the computer"), run.out.find("Reboot Fail!!"));
  EXPECT_THAT(run.out, Not(HasSubstr("an emulated run does not restart the computer")));
  EXPECT_TRUE(fs::exists(Dir() / "drive-1.bin"));
}

TEST_F(TslflashProgramTest, ARefusedUpgradeExitsWithAStatusThatNamesTheRefusal) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    const char* says;
  };
  const Case cases[] = {
      {"a drive of another maker",
       {"--select", "2"},
       16,
       "The drive is not allowed to be updated."},
      {"the confirmation declined",
       {"--select", "1", "--answer", "ok", "--answer", "cancel"},
       12,
       "User cancelled."},
      {"the root selected: Upgrade stays disabled", {"--select", "0"}, 4, "No drive selected."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.args;
    for (const char* more : {"--upgrade", "--answer", "ok", "--non-interactive", "--skip-waits",
                             "--received-images"}) {
      args.emplace_back(more);
    }
    args.push_back(Dir().string());
    const ToolRun run = Run(Demo(args));
    EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr(c.says));
    EXPECT_FALSE(fs::exists(Dir() / "drive-1.bin"));
    EXPECT_FALSE(fs::exists(Dir() / "drive-2.bin"));
  }
}

// A script gives its consent by name: each box is answered by what it asks,
// so a drive with newer firmware can never swallow an answer meant for
// another box. What --yes alone does not allow is refused at its box with
// exit status 5 and nothing sent; the restart is only ever asked for.
TEST_F(TslflashProgramTest, NamedConsentAnswersEachBoxByWhatItAsks) {
  struct Case {
    const char* name;
    const char* revision;  // the drive's; the package's is 1.07
    std::vector<std::string> consent;
    int exitCode;
    const char* says;  // on standard error, or in the output when updated
  };
  const Case cases[] = {
      {"an update", "1.02", {"--yes"}, 0, "[O]K/[C]ancel > cancel\n"},
      {"the same revision",
       "1.07",
       {"--yes"},
       5,
       "tslflash: the message box \"Warning\" needs --allow-reinstall: "},
      {"the same revision, allowed", "1.07", {"--yes", "--allow-reinstall"}, 0, "Done\n"},
      {"an older package",
       "1.09",
       {"--yes"},
       5,
       "tslflash: the message box \"Warning\" needs --allow-older: "},
      {"an older package, reinstall allowed",
       "1.09",
       {"--yes", "--allow-reinstall"},
       5,
       "needs --allow-older"},
      {"an older package, allowed", "1.09", {"--yes", "--allow-older"}, 0, "Done\n"},
      {"the restart asked for",
       "1.02",
       {"--yes", "--restart"},
       0,
       "an emulated run does not restart the computer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(Dir() / "images");
    fs::create_directories(Dir() / "images");
    std::string description = testing::Slurp(std::string(kDemo));
    description.replace(description.find("\"1.02\""), 6, "\"" + std::string(c.revision) + "\"");
    std::ofstream(Path("drives.json")) << description;
    std::vector<std::string> args = {
        "--emulate", Path("drives.json"), "--select",          "1",
        "--upgrade", "--skip-waits",      "--received-images", (Dir() / "images").string()};
    args.insert(args.end(), c.consent.begin(), c.consent.end());
    const ToolRun run = Run(args);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
    EXPECT_THAT(c.exitCode == 0 ? run.out : run.err, HasSubstr(c.says));
    EXPECT_EQ(fs::exists(Dir() / "images" / "drive-1.bin"), c.exitCode == 0);
  }
}

// A check reports every drive it was asked about on standard output, the
// dialog's own text going to standard error, and exits as an Upgrade of the
// first drive that would not be updated would.
TEST_F(TslflashProgramTest, CheckSaysPerDriveWhatAnUpgradeWouldDo) {
  struct Case {
    std::vector<std::string> select;
    int exitCode;
    std::vector<std::string_view> says;
  };
  const Case cases[] = {
      {{},
       16,
       {"Drive 1: ", "  would update: buffer-pages, 8 pages",
        "Drive 2: ", "  greyed: the package is for the drive", "  model: failed",
        "  refused: The drive is not allowed to be updated. (outcome 6)", "Drive 3: "}},
      {{"--select", "1"}, 0, {"Drive 1: ", "  asks: update\n"}},
      {{"--select", "3"}, 17, {"Drive 3: ", "  enclosure: failed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.select.empty() ? "every drive" : c.select.back());
    std::vector<std::string> args = {"--check", "--emulate", std::string(kDemo), "--trace"};
    args.insert(args.end(), c.select.begin(), c.select.end());
    const ToolRun run = Run(args);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
    for (const std::string_view line : c.says) EXPECT_THAT(run.out, HasSubstr(line));
    EXPECT_THAT(run.out, Not(HasSubstr("[Warning]")));
    EXPECT_THAT(run.err, HasSubstr("[Warning]"));
    EXPECT_THAT(run.err, Not(HasSubstr(": 3B ")));  // no WRITE BUFFER in the trace
  }
  const ToolRun missing = Run({"--check", "--emulate", std::string(kDemo), "--select", "4"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_THAT(missing.err, HasSubstr("tslflash: there is no drive 4 to select; the tree has 3\n"));
}

TEST_F(TslflashProgramTest, DecliningTheWarningEndsTheRunAtStartUp) {
  const ToolRun run = Run(Demo({"--answer", "cancel", "--non-interactive"}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.out, HasSubstr("[O]K/[C]ancel > cancel\nUser cancelled.\n"));
  EXPECT_THAT(run.out, Not(HasSubstr("My Computer")));
}

TEST_F(TslflashProgramTest, ABoxWithoutAnAnswerIsAnErrorNeverASilentOk) {
  const ToolRun run = Run(Demo({"--select", "1", "--non-interactive"}));
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.err,
            "tslflash: no answer given for the message box \"Warning\": 1.Please DO NOT turn off "
            "power while upgrading.\n");
  EXPECT_THAT(run.out, Not(HasSubstr("Current firmware")));
}

TEST_F(TslflashProgramTest, WithoutNonInteractiveTheEndOfInputIsNoAnswerEither) {
  const ToolRun run = Run(Demo({"--select", "1"}));
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_THAT(run.err, HasSubstr("no answer given for the message box \"Warning\""));
}

TEST_F(TslflashProgramTest, APackageFileIsRefusedForRealDrives) {
  const ToolRun run = Run({"--package", Path("pkg.bin"), "--non-interactive"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_THAT(run.err, HasSubstr("tslflash: --package needs --emulate"));
  EXPECT_THAT(run.out, IsEmpty());
}

TEST_F(TslflashProgramTest, APackageFileReplacesTheBuiltInOneForEmulatedDrives) {
  // The built-in package made for the demo's third drive instead of its first.
  std::vector<std::uint8_t> package(EmbeddedPackage().begin(), EmbeddedPackage().end());
  constexpr std::string_view kOtherId = "VARN    DVD RW LPX-412A 1.00";
  std::copy(kOtherId.begin(), kOtherId.end(), package.begin() + layout::kInquiryId.offset);
  std::ofstream(Path("pkg.bin"), std::ios::binary)
      .write(reinterpret_cast<const char*>(package.data()),
             static_cast<std::streamsize>(package.size()));

  const ToolRun run =
      Run(Demo({"--package", Path("pkg.bin"), "--answer", "ok", "--non-interactive"}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("  1. VARN    DVD RW LPX-650A 1.02  (emulated, not for this "
                                 "package: the package is for the drive \"VARN    DVD RW "
                                 "LPX-412A\" only)\n"));
  EXPECT_THAT(run.out, HasSubstr("  3. VARN    DVD RW LPX-412A 1.00  (emulated)\n"));
}

TEST_F(TslflashProgramTest, AFileThatCannotBeUsedIsOneClearLine) {
  std::ofstream(Path("bad.json")) << R"({"drives": [{"vendor": "VARN", "revision": "1.02"}]})";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--emulate", Path("bad.json")},
       "tslflash: --emulate: " + Path("bad.json") + ": drives[0]: missing key \"product\"\n"},
      {{"--emulate", Path("missing.json")},
       "tslflash: --emulate: cannot read " + Path("missing.json") + ": no such file\n"},
      {Demo({"--package", Path("missing.bin")}),
       "tslflash: --package: cannot read " + Path("missing.bin") + ": no such file\n"},
  };
  for (const auto& c : cases) {
    const ToolRun run = Run(c.args);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, c.err);
    EXPECT_THAT(run.out, IsEmpty());
  }
}

TEST_F(TslflashProgramTest, ABadCommandLineSaysWhereToLook) {
  const ToolRun run = Run({"--answer", "yes"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err,
            "tslflash: --answer expects ok or cancel, not \"yes\"\nTry 'tslflash --help'.\n");
}

TEST_F(TslflashProgramTest, SelectingADriveThatIsNotThereIsRefused) {
  const ToolRun run = Run(Demo({"--select", "4", "--answer", "ok", "--non-interactive"}));
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "tslflash: there is no drive 4 to select; the tree has 3\n");
}

TEST_F(TslflashProgramTest, TraceListsEveryCommandEachEmulatedDriveReceived) {
  const ToolRun run = Run(Demo({"--trace", "--answer", "ok", "--non-interactive"}));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err,
            "emulated:0: 12 00 00 00 38 00 FromDrive 56 15s -> Completed\n"
            "emulated:1: 12 00 00 00 38 00 FromDrive 56 15s -> Completed\n"
            "emulated:2: 12 00 00 00 38 00 FromDrive 56 15s -> Completed\n");
}

TEST_F(TslflashProgramTest, HelpAndAboutNeedNoDrives) {
  const ToolRun help = Run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_THAT(help.out, AllOf(HasSubstr("--emulate FILE"), HasSubstr("--version"),
                              HasSubstr("Exit status:")));
  const ToolRun about = Run({"--about"});
  EXPECT_EQ(about.exitCode, 0);
  EXPECT_THAT(about.out, HasSubstr("[About Tessel Flash Tool]\nTessel Flash Ver. A-7.8\n"));
}

// The digest is of the whole package the program carries, not of its header
// or image alone.
TEST_F(TslflashProgramTest, VersionNamesTheToolAndTheBuiltInPackage) {
  const ToolRun run = Run({"--version"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.err, IsEmpty());
  const PackageHeader header = ParseFirmwarePackage(EmbeddedPackage()).header;
  const std::string id(header.inquiryId.data(), header.inquiryId.size());
  EXPECT_THAT(run.out,
              AllOf(StartsWith("tslflash 1.0.0.7\nbuild: "),
                    HasSubstr("\npackage: \"" + id + "\", revision \"" + id.substr(24) + "\"\n"),
                    EndsWith("\npackage sha256: " + Sha256Hex(EmbeddedPackage()) + "\n")));
}

// A package file that is no package at all is refused before any drive is
// looked at, not reported as a drive the package does not fit.
class TslflashBadPackageFileTest : public TslflashProgramTest,
                                   public ::testing::WithParamInterface<testing::BadFile> {};

TEST_P(TslflashBadPackageFileTest, IsRefusedBeforeAnyDrive) {
  const std::optional<std::string> path = testing::MakeBadPackageFile(GetParam().kind, Dir());
  if (!path) GTEST_SKIP() << "root reads a file of mode 000; ThroughAFile is unreadable for all";
  const ToolRun run = Run(Demo({"--package", *path, "--select", "1", "--upgrade", "--answer", "ok",
                                "--non-interactive", "--skip-waits"}));
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "tslflash: --package: " + testing::Filled(GetParam().refusal, *path) + "\n");
  EXPECT_THAT(run.out, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Files, TslflashBadPackageFileTest,
                         ::testing::ValuesIn(testing::BadPackageFiles()),
                         [](const auto& testInfo) { return testInfo.param.name; });

class TslflashBadDescriptionTest : public TslflashProgramTest,
                                   public ::testing::WithParamInterface<testing::BadFile> {};

TEST_P(TslflashBadDescriptionTest, IsRefusedWithOneLine) {
  const std::optional<std::string> path =
      MakeBadFile(GetParam().kind, Dir(), testing::Slurp(kDemo), emu::kLargestDescription);
  if (!path) GTEST_SKIP() << "root reads a file of mode 000; ThroughAFile is unreadable for all";
  const ToolRun run =
      Run({"--terminal", "--emulate", *path, "--answer", "ok", "--non-interactive"});
  EXPECT_EQ(run.exitCode, 2);
  // The JSON reader's own words follow the refusal; the line is still one.
  EXPECT_THAT(run.err,
              StartsWith("tslflash: --emulate: " + testing::Filled(GetParam().refusal, *path)));
  EXPECT_EQ(std::ranges::count(run.err, '\n'), 1) << run.err;
  EXPECT_THAT(run.out, IsEmpty());
}

std::vector<testing::BadFile> BadDescriptions() {
  std::vector<testing::BadFile> files =
      testing::UnusableFiles(emu::kLargestDescription, "a description");
  files.push_back({"Empty", testing::BadFileKind::Empty, "{}: not valid JSON: "});
  files.push_back({"Truncated", testing::BadFileKind::Truncated, "{}: not valid JSON: "});
  return files;
}

INSTANTIATE_TEST_SUITE_P(Files, TslflashBadDescriptionTest, ::testing::ValuesIn(BadDescriptions()),
                         [](const auto& testInfo) { return testInfo.param.name; });

// Read as a package, but not a good one: the checks refuse it, as they would
// a corrupted built-in package.
TEST_F(TslflashProgramTest, APackageWithAWrongChecksumIsRefusedByTheChecks) {
  std::vector<std::uint8_t> package(EmbeddedPackage().begin(), EmbeddedPackage().end());
  package.back() ^= 0xFF;
  std::ofstream(Path("pkg.bin"), std::ios::binary)
      .write(reinterpret_cast<const char*>(package.data()),
             static_cast<std::streamsize>(package.size()));
  const ToolRun run =
      Run(Demo({"--package", Path("pkg.bin"), "--select", "1", "--upgrade", "--answer", "ok",
                "--non-interactive", "--skip-waits", "--received-images", Dir().string()}));
  EXPECT_EQ(run.exitCode, 17) << run.err;
  EXPECT_THAT(run.out, HasSubstr("The drive is not allowed to be updated."));
  EXPECT_FALSE(fs::exists(Dir() / "drive-1.bin"));
}

TEST_F(TslflashProgramTest, TheReceivedImagesFolderIsMadeBeforeTheUpdate) {
  const std::string folder = Path("not/yet/there");
  const ToolRun run =
      Run(Demo({"--select", "1", "--upgrade", "--answer", "ok", "--answer", "ok", "--answer", "ok",
                "--non-interactive", "--skip-waits", "--received-images", folder}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFile("not/yet/there/drive-1.bin").size(), 128u * 1024);
}

// A folder the images cannot go to is found before any drive is touched, not
// after one took its firmware.
TEST_F(TslflashProgramTest, AReceivedImagesFolderThatCannotTakeThemIsRefusedFirst) {
  std::ofstream(Path("file")) << "not a folder";
  const struct {
    std::string folder;
    std::string err;
  } cases[] = {
      {"", "tslflash: --received-images: the folder name is empty\n"},
      {Path("file"),
       "tslflash: --received-images: " + Path("file") + " exists and is not a folder\n"},
      {Path("file/below"),
       "tslflash: --received-images: cannot create " + Path("file/below") + ": not a directory\n"},
      // Refused even to root: the file system takes no new files.
      {"/proc",
       "tslflash: --received-images: cannot create files in /proc: the file system takes no new "
       "files\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    const ToolRun run =
        Run(Demo({"--select", "1", "--upgrade", "--answer", "ok", "--answer", "ok", "--answer",
                  "ok", "--non-interactive", "--skip-waits", "--received-images", c.folder}));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, c.err);
    EXPECT_THAT(run.out, IsEmpty());
  }
}

}  // namespace
}  // namespace tslflash
