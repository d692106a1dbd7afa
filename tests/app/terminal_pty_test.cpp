// tslflash as a person uses it in a terminal: no options but the emulated
// drives (and where to leave what they received), a pseudo-terminal for its
// input and output, the drive chosen, Upgrade pressed and the boxes
// answered as they come.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "package/embedded_package.h"
#include "package/firmware_package.h"
#include "package/package_layout.h"
#include "tests/support/tool_run.h"

namespace tslflash {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr std::string_view kDemo = TSLFLASH_SOURCE_DIR "/emulator/drives/demo.json";
constexpr std::chrono::seconds kPatience{30};

constexpr std::string_view kBoxPrompt = "[O]K/[C]ancel > ";
constexpr std::string_view kDrivePrompt = "Select a drive [1-3, 0 = none]: ";
constexpr std::string_view kMenu = "[U]pgrade / [S]elect another / E[x]it > ";

// The program on the far side of a pseudo-terminal, with no display to
// choose the window for.
class PtySession {
 public:
  explicit PtySession(const std::vector<std::string>& args) {
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(name);
      std::vector<char*> argv;
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~PtySession() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;

  bool Started() const { return pid_ > 0 && master_ >= 0; }

  // Reads until `text` shows after what was already waited for; false when
  // the program ends or the patience runs out first.
  bool WaitFor(std::string_view text) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (true) {
      if (const std::size_t at = output_.find(text, seen_); at != std::string::npos) {
        seen_ = at + text.size();
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
    }
  }

  void Type(std::string_view line) {
    const std::string typed = std::string(line) + "\n";
    ASSERT_EQ(write(master_, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  }

  // The exit status once the program ends by itself; -1 when it does not.
  int Wait() {
    while (ReadSome(static_cast<int>(std::chrono::milliseconds(kPatience).count()))) {
    }
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return -1;
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string& Output() const { return output_; }

 private:
  bool ReadSome(int timeoutMs) {
    pollfd ready{master_, POLLIN, 0};
    if (poll(&ready, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    const ssize_t count = read(master_, buffer, sizeof buffer);
    if (count <= 0) return false;  // EIO once the program has ended
    output_.append(buffer, static_cast<std::size_t>(count));
    return true;
  }

  pid_t pid_ = -1;
  int master_ = -1;
  bool reaped_ = false;
  std::string output_;
  std::size_t seen_ = 0;
};

class TerminalPtyTest : public testing::ToolRunTest {
 protected:
  TerminalPtyTest() : ToolRunTest(TSLFLASH_PATH) {}
  std::vector<std::string> Args() const {
    return {TSLFLASH_PATH, "--emulate", std::string(kDemo), "--received-images", Dir().string()};
  }
};

TEST_F(TerminalPtyTest, APersonChoosesTheDrivePressesUpgradeAndAnswersTheBoxes) {
  PtySession session(Args());
  ASSERT_TRUE(session.Started());
  ASSERT_TRUE(session.WaitFor("[Warning]")) << session.Output();
  ASSERT_TRUE(session.WaitFor(kBoxPrompt)) << session.Output();
  session.Type("y");
  ASSERT_TRUE(session.WaitFor(kDrivePrompt)) << session.Output();
  session.Type("1");
  ASSERT_TRUE(session.WaitFor("Current firmware : 1.02")) << session.Output();
  ASSERT_TRUE(session.WaitFor(kMenu)) << session.Output();
  session.Type("u");
  ASSERT_TRUE(session.WaitFor("Do you really want to upgrade ?")) << session.Output();
  ASSERT_TRUE(session.WaitFor(kBoxPrompt)) << session.Output();
  session.Type("yes");
  ASSERT_TRUE(session.WaitFor("8 of 8 pages sent")) << session.Output();
  ASSERT_TRUE(session.WaitFor("[Reboot Warning]")) << session.Output();
  ASSERT_TRUE(session.WaitFor(kBoxPrompt)) << session.Output();
  session.Type("perhaps");
  ASSERT_TRUE(session.WaitFor("Please answer ok (o, y, yes) or cancel (c, n, no).\r\n"))
      << session.Output();
  ASSERT_TRUE(session.WaitFor(kBoxPrompt)) << session.Output();
  session.Type("n");
  ASSERT_TRUE(session.WaitFor(kMenu)) << session.Output();
  session.Type("x");
  EXPECT_EQ(session.Wait(), 0) << session.Output();

  // The restart was declined.
  EXPECT_THAT(session.Output(), Not(HasSubstr("an emulated run does not restart the computer")));
  const std::span<const std::uint8_t> package = EmbeddedPackage();
  const PackageHeader header = ParseFirmwarePackage(package).header;
  const std::vector<std::uint8_t> received = ReadFile("drive-1.bin");
  ASSERT_EQ(received.size(), header.imageLength);
  EXPECT_TRUE(std::ranges::equal(received, package.subspan(kHeaderSize, header.imageLength)));
}

// A greyed drive, then another drive, then Exit: nothing is sent.
TEST_F(TerminalPtyTest, APersonSelectsAnotherDriveAndLeaves) {
  PtySession session(Args());
  ASSERT_TRUE(session.Started());
  ASSERT_TRUE(session.WaitFor(kBoxPrompt)) << session.Output();
  session.Type("ok");
  ASSERT_TRUE(session.WaitFor(kDrivePrompt)) << session.Output();
  session.Type("2");
  ASSERT_TRUE(session.WaitFor(kMenu)) << session.Output();
  session.Type("select");
  ASSERT_TRUE(session.WaitFor("My Computer")) << session.Output();
  ASSERT_TRUE(session.WaitFor(kDrivePrompt)) << session.Output();
  session.Type("1");
  ASSERT_TRUE(session.WaitFor(kMenu)) << session.Output();
  session.Type("later");
  ASSERT_TRUE(session.WaitFor("Please answer u (upgrade), s (select another) or x (exit)."))
      << session.Output();
  ASSERT_TRUE(session.WaitFor(kMenu)) << session.Output();
  session.Type("Exit");
  EXPECT_EQ(session.Wait(), 0) << session.Output();
  EXPECT_FALSE(fs::exists(Dir() / "drive-1.bin"));
  EXPECT_FALSE(fs::exists(Dir() / "drive-2.bin"));
}

}  // namespace
}  // namespace tslflash
