// Nothing breaks into a run: tslflash in the terminal, over a slow emulated
// drive whose model-code blocks are marked before the transfer and restored
// after it, gets a signal (or loses the reader of its output) in each step of
// the run. Every time the run completes: the drive holds the whole image, the
// blocks are written back, and the exit status says the update completed.
// After the run every signal has its earlier handler again.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/tool_run.h"
#include "tools/package_builder.h"
#include "update/held_signals.h"

namespace tslflash {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;

constexpr std::size_t kPage = 16384;
constexpr std::string_view kHeldNotice =
    "tslflash: firmware is being written; the signal is held until the update has ended.\n";

// A VARN drive sold as TK530B, below its threshold revision: the Upgrade
// checks preset its model code, the run marks both blocks before the pages
// and restores them after "Done". Each command takes its time.
constexpr std::string_view kSlowTk530b = R"({"drives": [{
  "vendor": "VARN", "product": "CD-RW LCX-5240A", "revision": "1.05",
  "bufferSizeKiB": 2048,
  "parameterBlocks": { "02": [5, 81, 171, 205], "24": [5, 81, 171, 205] },
  "commandDelayMs": 60
}]})";

PackageRecipe Tk530bPackage() {
  PackageRecipe recipe;
  recipe.protocolDigit = '2';  // summed pages: the one that marks the blocks
  recipe.inquiryId = "*" + std::string(23, ' ') + "1.50";
  recipe.altProductName = "TK530B";
  recipe.altProductNameNulPadded = true;
  recipe.variantMark = "TW";
  recipe.revisionPattern = "1.**";
  recipe.image = SynthesizeImage(2 * kPage, 7);
  return recipe;
}

// The program running with its standard output on a pipe the test reads
// line by line, its error output in a file.
class LiveRun {
 public:
  LiveRun(const std::vector<std::string>& args, const std::string& errPath) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> words{TSLFLASH_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    // A group of its own whose parent is outside it: a stop is not
    // discarded as it would be in an orphaned group.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    if (posix_spawn(&pid_, TSLFLASH_PATH, &actions, &attributes, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
  }
  ~LiveRun() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    CloseOutput();
  }
  LiveRun(const LiveRun&) = delete;
  LiveRun& operator=(const LiveRun&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  const std::string& Output() const { return output_; }

  // Reads until a whole line `line` has been printed; false at the end of
  // the output or after the limit.
  bool WaitForLine(std::string_view line, std::chrono::milliseconds limit = 60s) {
    const std::string wanted = "\n" + std::string(line) + "\n";
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (output_.find(wanted) == std::string::npos) {
      if (!ReadSome(deadline)) return false;
    }
    return true;
  }
  void CloseOutput() {
    if (out_ >= 0) close(out_);
    out_ = -1;
  }
  // True once the program has stopped (SIGTSTP), within the limit.
  bool WaitUntilStopped(std::chrono::milliseconds limit = 60s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG | WUNTRACED) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(10ms);
    }
    return WIFSTOPPED(status);
  }
  // The exit code once the program has ended (reading what is left of its
  // output); -1 when it ended otherwise or not within the limit.
  int Wait(std::chrono::milliseconds limit = 60s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (out_ >= 0 && ReadSome(deadline)) {
    }
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(10ms);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  bool ReadSome(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (out_ < 0 || left <= 0ms) return false;
    pollfd ready{out_, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[4096];
    const ssize_t got = read(out_, buffer, sizeof buffer);
    if (got <= 0) {
      CloseOutput();
      return false;
    }
    output_.append(buffer, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

class HeldSignalTest : public testing::ToolRunTest {
 protected:
  HeldSignalTest() : ToolRunTest(TSLFLASH_PATH) {}

  void SetUp() override {
    ToolRunTest::SetUp();
    std::ofstream(Path("drive.json")) << kSlowTk530b;
    const BuildResult built = BuildPackage(Tk530bPackage());
    ASSERT_TRUE(built.Ok()) << built.error;
    image_ = Tk530bPackage().image;
    std::ofstream(Path("package.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(built.package.data()),
               static_cast<std::streamsize>(built.package.size()));
  }

  std::vector<std::string> UpgradeArgs() const {
    return {"--terminal",   "--emulate", Path("drive.json"),  "--package",   Path("package.bin"),
            "--select",     "1",         "--upgrade",         "--answer",    "ok",
            "--answer",     "ok",        "--answer",          "cancel",      "--non-interactive",
            "--skip-waits", "--trace",   "--received-images", Dir().string()};
  }

  std::vector<std::uint8_t> image_;
};

// The trace lines of the commands that write a model-code block.
std::vector<std::string> BlockWrites(const std::string& trace) {
  std::vector<std::string> writes;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("ToDrive 4 ") != std::string::npos) writes.push_back(line);
  }
  return writes;
}

TEST_F(HeldSignalTest, ARunCompletesWhateverSignalArrivesInWhicheverStep) {
  struct Step {
    const char* name;
    const char* line;  // printed once the run is in this step
  };
  const Step steps[] = {
      {"the Upgrade checks", " ==> New firmware Version : 1.50"},
      {"the transfer", "Don't turn off the power!!"},
      {"between Done and the model-code restore", "Done"},
  };
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
  for (const Step& step : steps) {
    for (const int signal : signals) {
      SCOPED_TRACE(std::string(step.name) + ", " + strsignal(signal));
      std::filesystem::remove(Dir() / "drive-1.bin");
      LiveRun run(UpgradeArgs(), Path("stderr"));
      ASSERT_TRUE(run.Started());
      ASSERT_TRUE(run.WaitForLine(step.line)) << run.Output();
      if (signal == SIGPIPE) {
        run.CloseOutput();  // the reader goes away: every later line fails
      } else {
        kill(run.Pid(), signal);
      }
      EXPECT_EQ(run.Wait(), 0) << run.Output() << testing::Slurp(Path("stderr"));
      const std::string err = testing::Slurp(Path("stderr"));
      EXPECT_EQ(ReadFile("drive-1.bin"), image_);
      // Marked with code 30h before the pages, written back after them: the
      // two checks' presets, the two marks and the two restores.
      const std::vector<std::string> writes = BlockWrites(err);
      ASSERT_EQ(writes.size(), 6U) << err;
      EXPECT_THAT(writes[4], HasSubstr("-> Completed"));
      EXPECT_THAT(writes[5], HasSubstr("-> Completed"));
      EXPECT_GT(err.rfind(writes[5]), err.rfind("ToDrive 16384"));
      if (signal == SIGPIPE) {
        EXPECT_THAT(err, Not(HasSubstr(kHeldNotice)));
        continue;
      }
      EXPECT_THAT(run.Output(), HasSubstr("\nDone\n"));
      // Said once, and the end names the signal after the trace.
      EXPECT_EQ(err.find(kHeldNotice), err.rfind(kHeldNotice)) << err;
      const std::string ending = "tslflash: ending on SIG" + std::string(sigabbrev_np(signal)) +
                                 ", held until the update had ended; the update completed.\n";
      ASSERT_THAT(err, HasSubstr(kHeldNotice));
      EXPECT_TRUE(err.ends_with(ending)) << err;
    }
  }
}

// Ctrl-Z during the transfer stops the program only once the run has ended
// and its trace and images are written; continued, it exits as the run says.
TEST_F(HeldSignalTest, AStopIsHeldUntilTheRunHasEnded) {
  LiveRun run(UpgradeArgs(), Path("stderr"));
  ASSERT_TRUE(run.Started());
  ASSERT_TRUE(run.WaitForLine("Don't turn off the power!!")) << run.Output();
  kill(run.Pid(), SIGTSTP);
  ASSERT_TRUE(run.WaitUntilStopped());
  EXPECT_EQ(ReadFile("drive-1.bin"), image_);
  EXPECT_EQ(BlockWrites(testing::Slurp(Path("stderr"))).size(), 6U);
  kill(run.Pid(), SIGCONT);
  EXPECT_EQ(run.Wait(), 0);
  EXPECT_THAT(testing::Slurp(Path("stderr")), HasSubstr(kHeldNotice));
}

volatile std::sig_atomic_t reachedMine = 0;
extern "C" void Mine(int signal) { reachedMine = signal; }

// Once released, each signal reaches the handler it had before the hold (one
// of the test's own, which no default could pass for), and nothing is held.
TEST(HeldSignalsTest, ReleaseGivesEverySignalItsEarlierHandlerBack) {
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
  struct sigaction mine {};
  mine.sa_handler = Mine;
  sigemptyset(&mine.sa_mask);
  std::vector<struct sigaction> before(std::size(signals));
  for (std::size_t i = 0; i < std::size(signals); ++i) sigaction(signals[i], &mine, &before[i]);
  held_signals::Hold();
  held_signals::Release();
  for (const int signal : signals) {
    SCOPED_TRACE(strsignal(signal));
    reachedMine = 0;
    std::raise(signal);
    EXPECT_EQ(reachedMine, signal);
  }
  EXPECT_EQ(held_signals::TakeHeldEnd(), std::nullopt);
  EXPECT_FALSE(held_signals::TakeHeldStop());
  for (std::size_t i = 0; i < std::size(signals); ++i) sigaction(signals[i], &before[i], nullptr);
}

}  // namespace
}  // namespace tslflash
