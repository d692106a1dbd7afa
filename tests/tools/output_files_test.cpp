// Where the programs write: the support report (tslflash --report), the
// package tool's outputs (tslpkg build -o, synth -o) and the emulated drives'
// images (tslflash --received-images). Each goes only to a new file or over a
// regular one. Anything else at the path is refused with one line and exit
// status 2 before anything is done, and stays exactly as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/tool_run.h"

namespace tslflash {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::Slurp;
using ::testing::StartsWith;
using testing::ToolRun;

constexpr std::string_view kDemo = TSLFLASH_SOURCE_DIR "/emulator/drives/demo.json";
// Run as root, a read-only folder is read-only only without the capability
// that overrides it.
constexpr std::string_view kSetpriv = "/usr/bin/setpriv";

enum class Writer { Report, Build, Synth, ReceivedImages };
enum class Target { Device, Fifo, LinkToAFileOutside, LinkLoop, DanglingLink, Folder, ReadOnly };

std::string WriterName(Writer writer) {
  switch (writer) {
    case Writer::Report:
      return "Report";
    case Writer::Build:
      return "Build";
    case Writer::Synth:
      return "Synth";
    case Writer::ReceivedImages:
      return "ReceivedImages";
  }
  return {};
}

std::string TargetName(Target target) {
  switch (target) {
    case Target::Device:
      return "Device";
    case Target::Fifo:
      return "Fifo";
    case Target::LinkToAFileOutside:
      return "LinkToAFileOutside";
    case Target::LinkLoop:
      return "LinkLoop";
    case Target::DanglingLink:
      return "DanglingLink";
    case Target::Folder:
      return "Folder";
    case Target::ReadOnly:
      return "ReadOnlyFolder";
  }
  return {};
}

std::string Reason(Target target) {
  switch (target) {
    case Target::Device:
    case Target::Fifo:
      return "not a regular file";
    case Target::LinkToAFileOutside:
    case Target::LinkLoop:
    case Target::DanglingLink:
      return "a symbolic link, not followed";
    case Target::Folder:
      return "a folder, not a file";
    case Target::ReadOnly:
      return "permission denied";
  }
  return {};
}

struct BadOutput {
  Writer writer;
  Target target;
  friend void PrintTo(const BadOutput& row, std::ostream* os) {
    *os << WriterName(row.writer) << " " << TargetName(row.target);
  }
};

// Every writer against every kind of target.
std::vector<BadOutput> Table() {
  std::vector<BadOutput> rows;
  for (const Writer writer :
       {Writer::Report, Writer::Build, Writer::Synth, Writer::ReceivedImages}) {
    for (const Target target :
         {Target::Device, Target::Fifo, Target::LinkToAFileOutside, Target::LinkLoop,
          Target::DanglingLink, Target::Folder, Target::ReadOnly}) {
      rows.push_back({writer, target});
    }
  }
  return rows;
}

bool Root() { return geteuid() == 0; }

// Root runs the program under setpriv without the override, when it can.
bool DropsOverride(Target target) { return target == Target::ReadOnly && Root(); }

std::string Program(Writer writer) {
  return writer == Writer::Build || writer == Writer::Synth ? TSLPKG_PATH : TSLFLASH_PATH;
}

// What stands at a path, itself: its inode, its type and what it holds (a
// file's bytes, a link's target, a folder's names, a device's numbers).
struct Snapshot {
  ino_t inode = 0;
  mode_t type = 0;
  std::string content;
  bool operator==(const Snapshot&) const = default;
  friend void PrintTo(const Snapshot& s, std::ostream* os) {
    *os << "inode " << s.inode << ", type " << std::oct << s.type << std::dec << ", \"" << s.content
        << "\"";
  }
};

std::optional<Snapshot> SnapshotOf(const fs::path& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return std::nullopt;
  Snapshot snapshot{status.st_ino, status.st_mode & S_IFMT, {}};
  if (S_ISREG(status.st_mode)) snapshot.content = Slurp(path);
  if (S_ISLNK(status.st_mode)) snapshot.content = fs::read_symlink(path).string();
  if (S_ISCHR(status.st_mode)) snapshot.content = std::to_string(status.st_rdev);
  if (S_ISDIR(status.st_mode)) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(path)) {
      names.insert(entry.path().filename().string());
    }
    for (const std::string& name : names) snapshot.content += name + "\n";
  }
  return snapshot;
}

class BadOutputTest : public testing::ToolRunTest, public ::testing::WithParamInterface<BadOutput> {
 protected:
  BadOutputTest()
      : ToolRunTest(DropsOverride(GetParam().target) ? std::string(kSetpriv)
                                                     : Program(GetParam().writer)) {}

  Writer writer() const { return GetParam().writer; }
  Target target() const { return GetParam().target; }

  // The folder the output goes to: the images folder, or the test's own.
  fs::path OutputFolder() const {
    return writer() == Writer::ReceivedImages ? Dir() / "images" : Dir() / "out";
  }
  fs::path TargetPath() const {
    return OutputFolder() / (writer() == Writer::ReceivedImages ? "drive-1.bin" : "output");
  }

  // Makes the target; false when this process cannot (a device without
  // root).
  bool MakeTarget() const {
    fs::create_directories(OutputFolder());
    const fs::path path = TargetPath();
    switch (target()) {
      case Target::Device:
        // /dev/full's numbers: harmless, and never opened by the test.
        return mknod(path.c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0;
      case Target::Fifo:
        return mkfifo(path.c_str(), 0600) == 0;
      case Target::LinkToAFileOutside:
        std::ofstream(Dir() / "outside.txt") << "a file of the user's\n";
        fs::create_symlink(Dir() / "outside.txt", path);
        return true;
      case Target::LinkLoop:
        fs::create_symlink(path, path);
        return true;
      case Target::DanglingLink:
        fs::create_symlink(Dir() / "nowhere", path);
        return true;
      case Target::Folder:
        fs::create_directory(path);
        std::ofstream(path / "kept") << "kept\n";
        return true;
      case Target::ReadOnly:
        std::ofstream(path) << "an earlier output\n";
        fs::permissions(OutputFolder(), fs::perms::owner_read | fs::perms::owner_exec);
        return true;
    }
    return false;
  }

  std::vector<std::string> Args() const {
    const std::string out = TargetPath().string();
    std::vector<std::string> args;
    if (DropsOverride(target())) {
      args = {"--bounding-set=-dac_override,-dac_read_search", "--", Program(writer())};
    }
    const std::vector<std::string> update = {"--terminal",
                                             "--emulate",
                                             std::string(kDemo),
                                             "--select",
                                             "1",
                                             "--upgrade",
                                             "--answer",
                                             "ok",
                                             "--answer",
                                             "ok",
                                             "--answer",
                                             "ok",
                                             "--non-interactive",
                                             "--skip-waits",
                                             "--trace"};
    switch (writer()) {
      case Writer::Report:
        args.insert(args.end(), update.begin(), update.end());
        args.insert(args.end(), {"--report", out});
        break;
      case Writer::ReceivedImages:
        args.insert(args.end(), update.begin(), update.end());
        args.insert(args.end(), {"--received-images", OutputFolder().string()});
        break;
      case Writer::Build:
        args.insert(args.end(), {"build", "-o", out, "--image", Path("image.bin"), "--inquiry-id",
                                 "VARN    DVD RW LPX-650A 1.07"});
        break;
      case Writer::Synth:
        args.insert(args.end(), {"synth", "--size", "4096", "--seed", "1", "-o", out});
        break;
    }
    return args;
  }

  std::string ExpectedLine() const {
    const std::string folder = OutputFolder().string();
    const std::string refusal = "cannot write " + TargetPath().string() + ": " + Reason(target());
    switch (writer()) {
      case Writer::Report:
        return "tslflash: --report: " + refusal + "\n";
      case Writer::Build:
      case Writer::Synth:
        return "tslpkg: " + refusal + "\n";
      case Writer::ReceivedImages:
        // A regular file in a folder that takes none: the folder is refused.
        return target() == Target::ReadOnly
                   ? "tslflash: --received-images: cannot create files in " + folder +
                         ": permission denied\n"
                   : "tslflash: --received-images: " + refusal + "\n";
    }
    return {};
  }

  void TearDown() override {
    // The test's folder is removed only when it can be.
    if (fs::exists(OutputFolder())) fs::permissions(OutputFolder(), fs::perms::owner_all);
    ToolRunTest::TearDown();
  }
};

TEST_P(BadOutputTest, IsRefusedWithOneLineBeforeAnythingAndLeftAsItWas) {
  if (DropsOverride(target()) && !fs::exists(kSetpriv)) {
    GTEST_SKIP() << "root writes into a read-only folder, and there is no setpriv to stop it";
  }
  std::ofstream(Path("image.bin")) << std::string(40000, 'I');
  if (!MakeTarget()) GTEST_SKIP() << "making a device node needs root";
  const std::optional<Snapshot> before = SnapshotOf(TargetPath());
  const std::optional<Snapshot> outside = SnapshotOf(Dir() / "outside.txt");
  const std::optional<Snapshot> folder = SnapshotOf(OutputFolder());

  const ToolRun run = Run(Args());

  EXPECT_EQ(run.exitCode, 2);
  // One line and nothing else: no session ran, no command reached a drive
  // (--trace would list each one), nothing was written to the terminal.
  EXPECT_EQ(run.err, ExpectedLine());
  EXPECT_THAT(run.out, IsEmpty());
  EXPECT_EQ(SnapshotOf(TargetPath()), before);
  EXPECT_EQ(SnapshotOf(Dir() / "outside.txt"), outside);
  EXPECT_EQ(SnapshotOf(OutputFolder()), folder) << "nothing added beside it, nothing left";
}

INSTANTIATE_TEST_SUITE_P(Table, BadOutputTest, ::testing::ValuesIn(Table()),
                         [](const auto& testInfo) {
                           return WriterName(testInfo.param.writer) + "_" +
                                  TargetName(testInfo.param.target);
                         });

class TslflashOutputTest : public testing::ToolRunTest {
 protected:
  TslflashOutputTest() : ToolRunTest(TSLFLASH_PATH) {}

  static std::vector<std::string> Update(std::vector<std::string> more) {
    std::vector<std::string> args = {
        "--terminal",        "--emulate",   std::string(kDemo), "--select", "1",        "--upgrade",
        "--answer",          "ok",          "--answer",         "ok",       "--answer", "ok",
        "--non-interactive", "--skip-waits"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
};

// The images folder itself, and the history beside the images, are never
// reached through a link, wherever it points.
TEST_F(TslflashOutputTest, TheReceivedImagesFolderAndItsHistoryAreNeverReachedThroughALink) {
  fs::create_directory(Dir() / "elsewhere");
  fs::create_directory_symlink(Dir() / "elsewhere", Dir() / "linked");
  fs::create_directory(Dir() / "images");
  std::ofstream(Dir() / "outside.txt") << "a file of the user's\n";
  fs::create_symlink(Dir() / "outside.txt", Dir() / "images" / "history.jsonl");
  const struct {
    std::string folder;
    std::string err;
  } cases[] = {
      {Path("linked"), "tslflash: --received-images: cannot use " + Path("linked") +
                           ": a symbolic link, not followed\n"},
      {Path("linked/"), "tslflash: --received-images: cannot use " + Path("linked/") +
                            ": a symbolic link, not followed\n"},
      {Path("images"), "tslflash: --received-images: cannot write " + Path("images") +
                           "/history.jsonl: a symbolic link, not followed\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    const ToolRun run = Run(Update({"--received-images", c.folder}));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, c.err);
    EXPECT_THAT(run.out, IsEmpty());
  }
  EXPECT_TRUE(fs::is_empty(Dir() / "elsewhere"));
  EXPECT_EQ(Slurp(Dir() / "outside.txt"), "a file of the user's\n");
  EXPECT_TRUE(fs::is_symlink(Dir() / "images" / "history.jsonl"));
}

// A regular file is replaced whole (a new file renamed over it), and "-" is
// standard output, with the dialog's own text on standard error.
TEST_F(TslflashOutputTest, AReportReplacesARegularFileOrGoesToStandardOutput) {
  std::ofstream(Path("report.txt")) << "an earlier report\n";
  const ino_t earlier = SnapshotOf(Path("report.txt"))->inode;
  const ToolRun toFile = Run(Update({"--report", Path("report.txt")}));
  EXPECT_EQ(toFile.exitCode, 0) << toFile.err;
  const std::optional<Snapshot> written = SnapshotOf(Path("report.txt"));
  ASSERT_TRUE(written);
  EXPECT_THAT(written->content, StartsWith("Tessel Flash support report, written "));
  EXPECT_NE(written->inode, earlier) << "written beside it and renamed, not rewritten in place";

  const ToolRun toOutput = Run(Update({"--report", "-"}));
  EXPECT_EQ(toOutput.exitCode, 0) << toOutput.err;
  EXPECT_THAT(toOutput.out, StartsWith("Tessel Flash support report, written "));
  EXPECT_THAT(toOutput.err, HasSubstr("\nDone\n"));
  EXPECT_FALSE(fs::exists(Path("-")));

  const ToolRun withJson = Run(Update({"--report", "-", "--json"}));
  EXPECT_EQ(withJson.exitCode, 2);
  EXPECT_THAT(withJson.err, HasSubstr("--report - takes standard output"));
}

}  // namespace
}  // namespace tslflash
