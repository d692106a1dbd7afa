// The tslflash program's command line, its exit statuses and the choice of
// front end.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "resources/texts.h"
#include "ui/dialog_view.h"

namespace tslflash {

// How a run of the program ended. 4 and up are kept for the outcome of an
// update.
namespace exit_status {
inline constexpr int kCompleted = 0;       // the dialog ran to its end
inline constexpr int kEndedAtStartup = 1;  // warning declined, drives not reachable
inline constexpr int kBadCommandLine = 2;  // or a file it names cannot be used
inline constexpr int kNoAnswer = 3;        // a box asking OK or Cancel had no answer
inline constexpr int kNotUpdated = 4;      // --upgrade: no update completed, no outcome says why
inline constexpr int kNoConsent = 5;       // a box that --yes and --allow-... do not answer
inline constexpr int kOutcomeBase = 10;    // --upgrade: 10 + the outcome code that ended it

// How a window's session ended: a signal held during its last run closes the
// program once the run is over, so the status says whether that run
// completed.
constexpr int OfWindowSession(bool signalHeld, bool lastRunCompleted) {
  return signalHeld && !lastRunCompleted ? kNotUpdated : kCompleted;
}
}  // namespace exit_status

// --report's name for standard output.
inline constexpr std::string_view kReportToStandardOutput = "-";

struct CommandLine {
  std::optional<std::string> emulate;  // drive description file
  std::optional<std::string> package;  // package file in place of the embedded one
  bool trace = false;
  bool terminal = false;
  std::vector<std::size_t> selections;  // 0: the tree's root
  std::vector<BoxAnswer> answers;
  bool nonInteractive = false;
  bool about = false;
  bool upgrade = false;                       // press Upgrade after the selection
  bool skipWaits = false;                     // emulated drives need no time to restart
  bool restartFails = false;                  // emulated runs: the restart request is refused
  std::optional<std::string> receivedImages;  // folder for each emulated drive's received image
  bool help = false;
  bool version = false;               // print the version, the build and the built-in package
  bool check = false;                 // only say whether each drive would be updated
  bool history = false;               // print the update history and end
  std::optional<std::string> report;  // write a support report here when the session ends
  bool json = false;                  // one JSON document on standard output
  // Consent by name, for scripts.
  bool yes = false;
  bool allowReinstall = false;
  bool allowOlder = false;
  bool restart = false;
  bool Consents() const { return yes || allowReinstall || allowOlder || restart; }
};

struct [[nodiscard]] ParsedCommandLine {
  CommandLine line;
  std::string error;  // one line; empty when the command line is good
};

// The arguments after the program's name.
ParsedCommandLine ParseCommandLine(std::span<const std::string_view> args);

std::string HelpText();

enum class FrontEnd : std::uint8_t { Terminal, Window };

// Where this build's window shows: on a display the environment must name
// (X11, Wayland), or on the Windows desktop, which is always there.
enum class WindowSystem : std::uint8_t { NeedsDisplay, Desktop };

// Reads an environment variable; nothing when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(std::string_view)>;

// The window when this build has one and there is a display to show it on,
// unless the command line asks for the terminal or for something only the
// terminal does (answers given in advance, a selection, the About text).
FrontEnd ChooseFrontEnd(const CommandLine& line, bool windowBuilt,
                        const EnvironmentLookup& environment,
                        WindowSystem system = WindowSystem::NeedsDisplay);

struct FrontEndChoice {
  FrontEnd frontEnd = FrontEnd::Terminal;
  bool windowRefused = false;  // the window was refused for raised privileges
};

// As ChooseFrontEnd, but a process started with raised privileges (set-id or
// file capabilities: the kernel's secure-execution flag) never gets the
// window, whose toolkit loads plugins that the environment names.
FrontEndChoice ChooseFrontEndFor(const CommandLine& line, bool windowBuilt,
                                 const EnvironmentLookup& environment, WindowSystem system,
                                 bool raisedPrivileges);

}  // namespace tslflash
