// The display Qt would use is opened before Qt starts: which platforms Qt
// would try, how their failures make one line, the real openers, and the
// program falling back to the terminal on a display nobody serves.
#include "ui/qt/display_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/support/tool_run.h"

namespace tslflash {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

using Environment = std::map<std::string, std::string, std::less<>>;

EnvironmentLookup Lookup(const Environment& environment) {
  return [&environment](std::string_view name) -> std::optional<std::string> {
    const auto found = environment.find(name);
    if (found == environment.end()) return std::nullopt;
    return found->second;
  };
}

DisplayProbe X11(std::string name) { return {DisplayKind::X11, std::move(name), std::nullopt}; }
DisplayProbe Wayland(std::string name, std::optional<std::string> runtimeDir = std::nullopt,
                     bool socketGiven = false) {
  return {DisplayKind::Wayland, std::move(name), std::move(runtimeDir), socketGiven};
}
DisplayProbe NoDisplay(std::string platform) {
  return {DisplayKind::None, std::move(platform), std::nullopt};
}

TEST(DisplayCheck, FollowsThePlatformsQtWouldTryInItsOrder) {
  struct Case {
    const char* name;
    Environment environment;
    std::vector<DisplayProbe> probes;
  };
  const Case cases[] = {
      {"X11 by default", {{"DISPLAY", ":0"}}, {X11(":0")}},
      {"no display named at all", {}, {X11("")}},
      {"an empty DISPLAY is none", {{"DISPLAY", ""}}, {X11("")}},
      {"an X11 session", {{"DISPLAY", ":1"}, {"XDG_SESSION_TYPE", "x11"}}, {X11(":1")}},
      {"Wayland named: tried first, X11 after",
       {{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-1"}, {"XDG_RUNTIME_DIR", "/run/user/7"}},
       {Wayland("wayland-1", "/run/user/7"), X11(":0")}},
      {"a Wayland session without WAYLAND_DISPLAY: libwayland's default",
       {{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":0"}},
       {Wayland("wayland-0"), X11(":0")}},
      {"an empty WAYLAND_DISPLAY names nothing",
       {{"WAYLAND_DISPLAY", ""}, {"DISPLAY", ":0"}},
       {X11(":0")}},
      {"an inherited Wayland connection",
       {{"XDG_SESSION_TYPE", "wayland"}, {"WAYLAND_SOCKET", "5"}},
       {Wayland("wayland-0", std::nullopt, true), X11("")}},
      {"QT_QPA_PLATFORM wins over the session",
       {{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", "wayland-1"}, {"DISPLAY", ":2"}},
       {X11(":2")}},
      {"QT_QPA_PLATFORM needing no display",
       {{"QT_QPA_PLATFORM", "offscreen"}},
       {NoDisplay("offscreen")}},
      {"a list, tried in order, options and case dropped",
       {{"QT_QPA_PLATFORM", "Wayland-EGL;xcb:nograb;;vnc:size=800x600"},
        {"WAYLAND_DISPLAY", "/run/w"},
        {"DISPLAY", ":3"}},
       {Wayland("/run/w"), X11(":3"), NoDisplay("vnc")}},
      {"an empty QT_QPA_PLATFORM is Qt's default",
       {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ":0"}},
       {X11(":0")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PlanDisplayProbes(Lookup(c.environment)), c.probes);
  }
}

// Answers from a table, and remembers what it was asked to open.
class FakeOpener : public DisplayOpener {
 public:
  explicit FakeOpener(std::map<std::string, std::string> errors) : errors_(std::move(errors)) {}
  std::string TryOpen(const DisplayProbe& probe) override {
    tried.push_back(probe.name);
    const auto found = errors_.find(probe.name);
    return found == errors_.end() ? std::string() : found->second;
  }
  std::vector<std::string> tried;

 private:
  std::map<std::string, std::string> errors_;
};

TEST(DisplayCheck, TheWindowNeedsOnePlatformThatOpens) {
  struct Case {
    const char* name;
    std::vector<DisplayProbe> probes;
    std::map<std::string, std::string> errors;  // by display; the others open
    std::optional<std::string> line;
    std::vector<std::string> tried;
  };
  const Case cases[] = {
      {"the display opens", {X11(":0")}, {}, std::nullopt, {":0"}},
      {"the display does not open",
       {X11(":99")},
       {{":99", "refused"}},
       "tslflash: cannot open the display \":99\" (refused); running in the terminal",
       {":99"}},
      {"Wayland fails, X11 serves",
       {Wayland("w"), X11(":0")},
       {{"w", "gone"}},
       std::nullopt,
       {"w", ":0"}},
      {"Wayland serves: X11 is not tried",
       {Wayland("w"), X11(":0")},
       {{":0", "refused"}},
       std::nullopt,
       {"w"}},
      {"both fail: both are named",
       {Wayland("w"), X11(":9")},
       {{"w", "gone"}, {":9", "refused"}},
       "tslflash: cannot open the display \"w\" (gone) or the display \":9\" (refused); running "
       "in the terminal",
       {"w", ":9"}},
      {"a platform without a display after a failed one",
       {X11(":9"), NoDisplay("offscreen")},
       {{":9", "refused"}},
       std::nullopt,
       {":9"}},
      {"nothing to try leaves it to Qt", {}, {}, std::nullopt, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeOpener opener(c.errors);
    EXPECT_EQ(UnusableDisplayLine(c.probes, opener), c.line);
    EXPECT_EQ(opener.tried, c.tried);
  }
}

// A display number no X server serves: neither its socket file nor the
// abstract socket of the same name exists.
std::string UnservedX11Display() {
  std::ifstream unixSockets("/proc/net/unix");
  const std::string table{std::istreambuf_iterator<char>(unixSockets),
                          std::istreambuf_iterator<char>()};
  for (int number = 97; number < 1000; ++number) {
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    if (std::filesystem::exists(socket)) continue;
    if (table.find("@" + socket + "\n") != std::string::npos) continue;
    return ":" + std::to_string(number);
  }
  return {};
}

// A folder of its own, removed afterwards, for the Wayland sockets.
class SystemDisplayOpenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        std::filesystem::path(::testing::TempDir()) / ("tsl_display_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Dir() const { return dir_.string(); }
  // A socket that listens there, as a compositor's does.
  int Listen(const std::string& name) const {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (dir_ / name).string();
    std::ranges::copy(path, address.sun_path);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(listen(fd, 1), 0);
    return fd;
  }

 private:
  std::filesystem::path dir_;
};

TEST_F(SystemDisplayOpenerTest, ConnectsOrSaysWhyNot) {
  const int compositor = Listen("wayland-5");
  const std::string unserved = UnservedX11Display();
  ASSERT_FALSE(unserved.empty());
  struct Case {
    const char* name;
    DisplayProbe probe;
    std::string error;
  };
  const Case cases[] = {
      {"a listening compositor", Wayland("wayland-5", Dir()), ""},
      {"the same by its path", Wayland(Dir() + "/wayland-5"), ""},
      {"no compositor there", Wayland("wayland-6", Dir()), "No such file or directory"},
      {"no runtime folder", Wayland("wayland-5"), "XDG_RUNTIME_DIR is not set"},
      {"a path longer than a socket's", Wayland(std::string(200, 'w'), Dir()),
       "the socket's path is too long"},
      {"an inherited connection is not used up", Wayland("wayland-6", Dir(), true), ""},
      {"no X server", X11(unserved), "no X server answers there, or it refused the connection"},
      {"not a display name", X11("no-colon"), "not a display name"},
      {"DISPLAY not set", X11(""), "DISPLAY is not set"},
      {"a platform without a display", NoDisplay("offscreen"), ""},
  };
  SystemDisplayOpener opener;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(opener.TryOpen(c.probe), c.error);
  }
  close(compositor);
}

// The program on a display nobody serves: the terminal's dialog, one line
// saying why, and Qt never reaches its abort.
class DisplayFallbackProgram : public testing::ToolRunTest {
 protected:
  DisplayFallbackProgram() : ToolRunTest(TSLFLASH_PATH) {}
};

TEST_F(DisplayFallbackProgram, AnUnservedDisplayRunsTheTerminal) {
  const std::string display = UnservedX11Display();
  ASSERT_FALSE(display.empty());
  for (const char* name :
       {"WAYLAND_DISPLAY", "WAYLAND_SOCKET", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"}) {
    unsetenv(name);
  }
  setenv("DISPLAY", display.c_str(), 1);
  const testing::ToolRun run = Run({"--emulate", TSLFLASH_SOURCE_DIR "/emulator/drives/demo.json"});
  // The shell reports Qt's abort as 134.
  EXPECT_NE(run.exitCode, 134) << run.err;
  // Standard input is empty: the start-up warning has no answer.
  EXPECT_EQ(run.exitCode, 3) << run.err;
  const std::string line = "tslflash: cannot open the display \"" + display +
                           "\" (no X server answers there, or it refused the connection); "
                           "running in the terminal\n";
  EXPECT_THAT(run.err, StartsWith(line));
  EXPECT_EQ(run.err.find("cannot open the display", line.size()), std::string::npos) << "said once";
  EXPECT_THAT(run.out, StartsWith("=== Flash Tool (ver. A-7.8) ===\n[Warning]\n"));
  EXPECT_THAT(run.out, HasSubstr("[O]K/[C]ancel > "));
}

}  // namespace
}  // namespace tslflash
