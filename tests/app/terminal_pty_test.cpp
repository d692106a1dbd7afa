// tslflash as a person uses it in a terminal: no options but the emulated
// drives (and where to leave what they received), a pseudo-terminal for its
// input and output, the drive chosen, Upgrade pressed and the boxes
// answered as they come. The terminal's own signals too: Ctrl-C, and the
// hang-up when the terminal is closed.
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
#include <optional>
#include <string>
#include <thread>
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
constexpr std::string_view kHeldNotice =
    "tslflash: firmware is being written; the signal is held until the update has ended.";

// The last line after a signal held during an update that completed.
std::string EndingOn(std::string_view signal) {
  return "tslflash: ending on " + std::string(signal) +
         ", held until the update had ended; the update completed.\n";
}

// The program on the far side of a pseudo-terminal, with no display to
// choose the window for; its error output goes to `errPath` when given, so
// that it can still be read once the terminal is gone.
class PtySession {
 public:
  explicit PtySession(const std::vector<std::string>& args,
                      const std::optional<std::string>& errPath = std::nullopt) {
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(name);
      if (errPath) {
        const int err = open(errPath->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err < 0 || dup2(err, STDERR_FILENO) < 0) _exit(127);
      }
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

  // Ctrl-C typed at the terminal.
  void Interrupt() { ASSERT_EQ(write(master_, "\x03", 1), 1); }

  // The terminal closed: its program gets the hang-up, and its input ends.
  void Hangup() {
    close(master_);
    master_ = -1;
  }

  // How the program ended (its wait status) once it ends by itself within
  // the patience; nothing when it does not.
  std::optional<int> End() {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (master_ >= 0 &&
           ReadSome(static_cast<int>(std::chrono::milliseconds(kPatience).count()))) {
    }
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) != pid_) {
      if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    reaped_ = true;
    return status;
  }

  // The exit status once the program ends by itself; -1 when it does not.
  int Wait() {
    const std::optional<int> status = End();
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
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
  // Without the settle waits an emulated drive does not need.
  std::vector<std::string> QuickArgs() const {
    std::vector<std::string> args = Args();
    args.emplace_back("--skip-waits");
    return args;
  }
  // The first drive updated, up to the restart question after "Done".
  static void UpdateUpToTheRestartQuestion(PtySession& session) {
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
  }
  // True once the error output file holds `text`, within the patience.
  bool ErrorOutputSays(std::string_view text) const {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (testing::Slurp(Path("stderr")).find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }
};

TEST_F(TerminalPtyTest, APersonChoosesTheDrivePressesUpgradeAndAnswersTheBoxes) {
  PtySession session(Args());
  ASSERT_NO_FATAL_FAILURE(UpdateUpToTheRestartQuestion(session));
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

// Once the run has ended the signals have their usual effect again: Ctrl-C
// at the menu ends the program, and nothing says firmware is being written.
TEST_F(TerminalPtyTest, CtrlCAtTheMenuAfterAnUpdateEndsTheProgram) {
  PtySession session(QuickArgs());
  ASSERT_NO_FATAL_FAILURE(UpdateUpToTheRestartQuestion(session));
  session.Type("n");
  ASSERT_TRUE(session.WaitFor(kMenu)) << session.Output();
  session.Interrupt();
  const std::optional<int> ended = session.End();
  ASSERT_TRUE(ended.has_value()) << "still running after Ctrl-C at the menu:\n" << session.Output();
  EXPECT_TRUE(WIFSIGNALED(*ended) && WTERMSIG(*ended) == SIGINT) << "wait status " << *ended << "\n"
                                                                 << session.Output();
  EXPECT_THAT(session.Output(), Not(HasSubstr(kHeldNotice)));
}

// Ctrl-C at the restart question, still in the run, is held: the question
// is answered, the run ends, and then the program ends instead of offering
// the menu again, saying how the update ended.
TEST_F(TerminalPtyTest, CtrlCInTheRunEndsTheProgramOnceTheRunHasEnded) {
  PtySession session(QuickArgs(), Path("stderr"));
  ASSERT_NO_FATAL_FAILURE(UpdateUpToTheRestartQuestion(session));
  session.Interrupt();
  ASSERT_TRUE(ErrorOutputSays(kHeldNotice)) << testing::Slurp(Path("stderr"));
  session.Type("n");
  EXPECT_EQ(session.Wait(), 0) << session.Output();
  EXPECT_FALSE(session.WaitFor(kMenu)) << session.Output();
  const std::string err = testing::Slurp(Path("stderr"));
  EXPECT_TRUE(err.ends_with(EndingOn("SIGINT"))) << err;
}

// The terminal closed at the restart question: the hang-up is held until the
// run has ended, the question without an answer counts as Cancel, and the
// update, which had completed, is said to have completed.
TEST_F(TerminalPtyTest, ClosingTheTerminalAtTheRestartQuestionLeavesTheUpdateCompleted) {
  PtySession session(QuickArgs(), Path("stderr"));
  ASSERT_NO_FATAL_FAILURE(UpdateUpToTheRestartQuestion(session));
  session.Hangup();
  const std::optional<int> ended = session.End();
  ASSERT_TRUE(ended.has_value()) << "still running after the hang-up";
  const std::string err = testing::Slurp(Path("stderr"));
  EXPECT_TRUE(WIFEXITED(*ended) && WEXITSTATUS(*ended) == 0) << "wait status " << *ended << "\n"
                                                             << err;
  EXPECT_THAT(err, HasSubstr("no answer given for the message box \"Reboot Warning\""));
  EXPECT_THAT(err, HasSubstr(kHeldNotice));
  EXPECT_TRUE(err.ends_with(EndingOn("SIGHUP"))) << err;
  EXPECT_FALSE(ReadFile("drive-1.bin").empty());
}

}  // namespace
}  // namespace tslflash
