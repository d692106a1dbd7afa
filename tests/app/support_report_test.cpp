// The support report: built from a real failed run over emulated drives,
// what it says about that run, what it says when there is nothing to say,
// the names it leaves out, and the file it writes.
#include "app/support_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/package/package_fixture.h"
#include "tests/support/emulated_dialog.h"
#include "tools/file_io.h"

namespace tslflash {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Whether `word` stands in `text` as a word of its own, in any letter case.
bool ContainsWord(const std::string& text, const std::string& word) {
  const std::string escaped =
      std::regex_replace(word, std::regex(R"([.^$|()\[\]{}*+?\\/-])"), R"(\$&)");
  const std::regex pattern("(^|[^A-Za-z0-9_])" + escaped + "($|[^A-Za-z0-9_])", std::regex::icase);
  return std::regex_search(text, pattern);
}

#ifdef _WIN32
constexpr const char* kHomeVariable = "USERPROFILE";
#else
constexpr const char* kHomeVariable = "HOME";
#endif

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Who runs the test and where its home is, asked of the system, not of the
// code under test.
std::string HomeFolder() { return Environment(kHomeVariable); }
std::string UserName() {
#ifdef _WIN32
  return Environment("USERNAME");
#else
  const passwd* account = ::getpwuid(::getuid());
  return account != nullptr && account->pw_name != nullptr ? account->pw_name : Environment("USER");
#endif
}

constexpr BuildInfo kBuild{"1.0.0.7", "RelWithDebInfo", "GNU 12.2.0", "0123abc"};

class SupportReportTest : public ::testing::Test, protected testing::EmulatedDialog {
 protected:
  // The package's drive, whose second page write the drive refuses every
  // time, and a drive the package is not for; the run fails on that page.
  void RunUntilThePageIsRefused() {
    emu::DriveDescription refusing = testing::SampleDrive();
    refusing.faults.push_back({emu::FaultKind::Sense, emu::ForOpcode{0x3B, 0x07, 2}, emu::kAlways,
                               SenseBytes{0x05, 0x24, 0x00}});
    package = testing::BuiltPackage(testing::PlainRecipe(0x20000, 7));
    emulators = emu::MakeEmulators({refusing, testing::DriveNamed("OTHR", "CD-ROM 52X", "2.00")});
    MakeDialogOver(LogCommands(std::make_unique<emu::EmulatedTransport>(emulators), log),
                   {.emulatedDrives = true});
    view.Answer({BoxAnswer::Ok});
    ASSERT_TRUE(dialog->OnInitDialog());
    view.SelectTreeItem(2);  // the first drive, after the root
    dialog->OnDriveSelChanged(view.GetSelectedTreeItem());
    view.Answer({BoxAnswer::Ok, BoxAnswer::Ok, BoxAnswer::Ok});
    dialog->OnUpgrade();
    ASSERT_EQ(view.workers.size(), 1u);
    view.workers.front()();
    ASSERT_TRUE(dialog->LastFailure().has_value());
  }

  SupportReportInput InputOfTheRun() const {
    SupportReportInput input;
    input.build = kBuild;
    input.writtenAt = std::chrono::sys_days(std::chrono::year{2026} / 12 / 11);
    input.os = QueryOsFacts();
    input.drives = dialog->Drives();
    input.package = package;
    input.logPane = dialog->LogPane();
    input.lastFailure = dialog->LastFailure();
    input.commands = log->Read();
    input.history = "2026-12-10 update of VARN DVD RW LPX-650A failed\n";
    return input;
  }

  std::shared_ptr<CommandLog> log = std::make_shared<CommandLog>();
};

TEST_F(SupportReportTest, AFailedRunNamesTheRefusedCommandItsSenseAndItsPage) {
  RunUntilThePageIsRefused();
  const std::string report = SupportReportText(InputOfTheRun());

  EXPECT_THAT(report,
              HasSubstr("\n== Failed command ==\n"
                        "page write failed on page 2 of 8: check condition, sense 05/24/00\n"));
  // The refused write itself, with the offset of page 2 in its CDB.
  EXPECT_TRUE(std::regex_search(
      report,
      std::regex(R"(\n\d\d:\d\d:\d\d\.\d{3} emulated:0 3B 07 00 00 40 00 00 40 00 00 )"
                 R"(ToDrive 16384 \d+s -> check condition, sense 05/24/00, 0 bytes, \d+ ms\n)")))
      << report;
  EXPECT_THAT(report, HasSubstr("\n== Program ==\ntslflash 1.0.0.7\nbuild: RelWithDebInfo, GNU "
                                "12.2.0, commit 0123abc\n"));
  EXPECT_THAT(report,
              HasSubstr("\n1. VARN    DVD RW LPX-650A 1.02\n"
                        "   vendor \"VARN\", product \"DVD RW LPX-650A\", revision \"1.02\"\n"
                        "   offered for the update\n"
                        "2. OTHR    CD-ROM 52X      2.00\n"));
  EXPECT_THAT(report, HasSubstr("\n   greyed: "));
  // Each drive's INQUIRY, in full.
  EXPECT_THAT(report, HasSubstr("\nemulated:1, 12 00 00 00 38 00, 56 bytes:\n"));
  EXPECT_THAT(report, HasSubstr("OTHR    CD-ROM 5"));
  EXPECT_THAT(report, HasSubstr("\n== Package ==\ntag word: \"KOVA\""));
  EXPECT_THAT(report, HasSubstr("result: every check matches\n"));
  // The log pane, its lines ended as the report's.
  EXPECT_THAT(report, HasSubstr("\n== Log ==\nVARN    DVD RW LPX-650A  Current firmware : 1.02\n"));
  EXPECT_THAT(report, HasSubstr("\n======== FAIL ========\n"));
  EXPECT_THAT(report, Not(HasSubstr("\r")));
  EXPECT_THAT(report, HasSubstr("\n== History ==\n2026-12-10 update of VARN"));
  EXPECT_THAT(report, HasSubstr("written 2026-12-11 00:00:00 UTC."));
}

TEST_F(SupportReportTest, NamesNoHomeUserOrComputerOfThisMachine) {
  RunUntilThePageIsRefused();
  SupportReportInput input = InputOfTheRun();
  const std::string home = HomeFolder();
  const std::string user = UserName();
  input.logPane += "\r\nImages saved in " + home + "/flashed for " + user + ".";
  input.history += "run by " + user + " from " + home + "\n";

  const std::string report = SupportReportText(input);
  if (home.size() > 1) {
    EXPECT_THAT(report, Not(HasSubstr(home)));
  }
  if (!user.empty()) {
    EXPECT_FALSE(ContainsWord(report, user)) << report;
  }
  for (const std::string& host : input.os.privateNames.hosts) {
    if (!host.empty()) {
      EXPECT_FALSE(ContainsWord(report, host)) << host;
    }
  }
  EXPECT_THAT(report, HasSubstr("\nImages saved in <home>/flashed for <user>.\n"));
}

TEST(SupportReport, SaysInEachSectionWhenThereIsNothingToReport) {
  SupportReportInput input;
  input.build = kBuild;
  input.os.system = "Linux 6.1.0 x86_64";
  input.commands.dropped = 4096;
  const std::string report = SupportReportText(input);
  EXPECT_THAT(report, HasSubstr("\n== System ==\nLinux 6.1.0 x86_64\n"));
  EXPECT_THAT(report, HasSubstr("\n== Drives ==\nNo drive was found.\n"));
  EXPECT_THAT(report,
              HasSubstr("\n== Package ==\npackage of 0 bytes is shorter than its header\n"));
  EXPECT_THAT(report, HasSubstr("\n== Failed command ==\nnone\n"));
  EXPECT_THAT(report, HasSubstr("\n== Log ==\n(empty)\n"));
  EXPECT_THAT(report, HasSubstr("\n== Commands ==\n0 commands, the last ones; 4096 earlier ones "
                                "were not kept."));
  EXPECT_TRUE(report.ends_with("\n== History ==\n(none)\n")) << report;
}

TEST(PrivateNames, AreReplacedWhereverTheyStandAsWords) {
  struct Case {
    const char* name;
    PrivateNames names;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"a home folder, and the user name after it",
       {{"/home/ann.lee/"}, {"ann.lee"}, {}},
       "/home/ann.lee/flashed/drive-1.bin, saved by ann.lee.",
       "<home>/flashed/drive-1.bin, saved by <user>."},
      {"a name inside a longer word stays",
       {{}, {"ann"}, {}},
       "annals of ann_x, ann",
       "annals of ann_x, <user>"},
      {"Windows ignores case",
       {{"C:\\Users\\Ann"}, {"Ann"}, {"WORKSTATION-7"}},
       "c:\\users\\ann\\x on workstation-7 by ANN",
       "<home>\\x on <host> by <user>"},
      {"a home of / and empty names change nothing",
       {{"/", "", "C:\\"}, {""}, {""}},
       "/dev/sr0 C:\\x",
       "/dev/sr0 C:\\x"},
      {"a user called user is replaced once", {{}, {"user"}, {}}, "user", "<user>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(WithoutPrivateNames(c.text, c.names), c.expected);
  }
}

TEST(SupportReport, IsWrittenWholeOrNotAtAll) {
  const std::filesystem::path folder =
      std::filesystem::path(::testing::TempDir()) / "support_report_test";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "report.txt").string();
  ASSERT_EQ(WriteFileAtomically(path, "first\n"), "");
  ASSERT_EQ(WriteFileAtomically(path, "second\n"), "");
  {
    // Closed before the folder goes: Windows keeps an open file's folder.
    std::ifstream in(path);
    std::stringstream written;
    written << in.rdbuf();
    EXPECT_EQ(written.str(), "second\n");
  }

  const std::string missing = (folder / "no such folder" / "report.txt").string();
  const std::string error = WriteFileAtomically(missing, "text\n");
  EXPECT_THAT(error, HasSubstr("no such folder"));
  EXPECT_EQ(error.find('\n'), std::string::npos) << "one line";
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tslflash
