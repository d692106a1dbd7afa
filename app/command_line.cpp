#include "app/command_line.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace tslflash {
namespace {

using Apply = std::string (*)(CommandLine&, std::string_view value);

struct Option {
  std::string_view name;
  bool takesValue;
  bool repeatable;
  Apply apply;  // returns an error line, empty when the value was taken
};

// Appended rather than "\"" + text, whose insert at the front GCC 12 at -O3
// wrongly reports as an overlapping copy (-Wrestrict).
std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  quoted.append(text).push_back('"');
  return quoted;
}

template <std::optional<std::string> CommandLine::*Field>
std::string SetFile(CommandLine& line, std::string_view value) {
  line.*Field = std::string(value);
  return {};
}

template <bool CommandLine::*Flag>
std::string SetFlag(CommandLine& line, std::string_view /*value*/) {
  line.*Flag = true;
  return {};
}

std::string AddSelection(CommandLine& line, std::string_view value) {
  std::size_t number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (value == "root") {
    number = 0;
  } else if (value.empty() || error != std::errc{} || end != value.data() + value.size()) {
    return "--select expects a drive number, or root (0) for none, not " + Quoted(value);
  }
  line.selections.push_back(number);
  return {};
}

std::string AddAnswer(CommandLine& line, std::string_view value) {
  if (value == "ok") {
    line.answers.push_back(BoxAnswer::Ok);
  } else if (value == "cancel") {
    line.answers.push_back(BoxAnswer::Cancel);
  } else {
    return "--answer expects ok or cancel, not " + Quoted(value);
  }
  return {};
}

constexpr std::array<Option, 23> kOptions = {{
    {"--emulate", true, false, SetFile<&CommandLine::emulate>},
    {"--package", true, false, SetFile<&CommandLine::package>},
    {"--trace", false, false, SetFlag<&CommandLine::trace>},
    {"--terminal", false, false, SetFlag<&CommandLine::terminal>},
    {"--select", true, true, AddSelection},
    {"--answer", true, true, AddAnswer},
    {"--non-interactive", false, false, SetFlag<&CommandLine::nonInteractive>},
    {"--about", false, false, SetFlag<&CommandLine::about>},
    {"--upgrade", false, false, SetFlag<&CommandLine::upgrade>},
    {"--skip-waits", false, false, SetFlag<&CommandLine::skipWaits>},
    {"--restart-fails", false, false, SetFlag<&CommandLine::restartFails>},
    {"--received-images", true, false, SetFile<&CommandLine::receivedImages>},
    {"--help", false, true, SetFlag<&CommandLine::help>},
    {"-h", false, true, SetFlag<&CommandLine::help>},
    {"--version", false, true, SetFlag<&CommandLine::version>},
    {"--check", false, false, SetFlag<&CommandLine::check>},
    {"--history", false, false, SetFlag<&CommandLine::history>},
    {"--report", true, false, SetFile<&CommandLine::report>},
    {"--json", false, false, SetFlag<&CommandLine::json>},
    {"--yes", false, false, SetFlag<&CommandLine::yes>},
    {"--allow-reinstall", false, false, SetFlag<&CommandLine::allowReinstall>},
    {"--allow-older", false, false, SetFlag<&CommandLine::allowOlder>},
    {"--restart", false, false, SetFlag<&CommandLine::restart>},
}};

const Option* FindOption(std::string_view name) {
  const auto* option = std::find_if(kOptions.begin(), kOptions.end(),
                                    [name](const Option& known) { return known.name == name; });
  return option != kOptions.end() ? option : nullptr;
}

// What the options say together, once each is known.
std::string CheckCombination(const CommandLine& line) {
  if (line.package && !line.emulate) {
    return "--package needs --emulate: real drives only ever get the package built into "
           "tslflash";
  }
  if (line.trace && !line.emulate)
    return "--trace needs --emulate: only emulated drives keep a trace";
  if (line.receivedImages && !line.emulate)
    return "--received-images needs --emulate: only emulated drives keep what they received";
  if (line.upgrade && line.selections.empty()) {
    return "--upgrade needs --select: which drive to update";
  }
  if (line.check && line.upgrade) return "--check and --upgrade do not go together";
  if (line.history && (line.check || line.upgrade || line.report)) {
    return "--history only prints the history: it takes no --check, --upgrade or --report";
  }
  if (line.report == kReportToStandardOutput && (line.check || line.json)) {
    return "--report - takes standard output: it takes no --check or --json, which print there";
  }
  if (line.check && (line.Consents() || !line.answers.empty())) {
    return "--check asks nothing: it takes no --answer, --yes or --allow-... options";
  }
  if (line.Consents() && !line.answers.empty()) {
    return "--answer and --yes do not go together: answer the boxes in order or by name";
  }
  if ((line.allowReinstall || line.allowOlder || line.restart) && !line.yes) {
    return "--allow-reinstall, --allow-older and --restart need --yes";
  }
  if (line.skipWaits && !line.emulate) {
    return "--skip-waits needs --emulate: a real drive needs its time to restart";
  }
  if (line.restartFails && !line.emulate) {
    return "--restart-fails needs --emulate: only an emulated run can be told the restart fails";
  }
  return {};
}

struct Argument {
  std::string_view name;
  std::optional<std::string_view> value;  // given as --name=value
};

Argument SplitArgument(std::string_view text) {
  const std::size_t equals = text.find('=');
  if (!text.starts_with("--") || equals == text.npos) return {text, std::nullopt};
  return {text.substr(0, equals), text.substr(equals + 1)};
}

// Takes the argument at `next` (and its value), moving `next` past them.
// Returns an error line, empty when the argument was good.
std::string TakeArgument(std::span<const std::string_view> args, std::size_t& next,
                         std::vector<const Option*>& seen, CommandLine& line) {
  auto [name, value] = SplitArgument(args[next++]);
  const Option* option = FindOption(name);
  if (option == nullptr) {
    return name.starts_with("-") ? "unknown option " + std::string(name)
                                 : "unexpected argument " + Quoted(name);
  }
  if (!option->repeatable && std::find(seen.begin(), seen.end(), option) != seen.end()) {
    return std::string(name) + " is given twice";
  }
  seen.push_back(option);
  if (!option->takesValue && value) return std::string(name) + " takes no value";
  if (option->takesValue && !value) {
    if (next == args.size()) return std::string(name) + " needs a value";
    value = args[next++];
  }
  return option->apply(line, value.value_or(""));
}

}  // namespace

ParsedCommandLine ParseCommandLine(std::span<const std::string_view> args) {
  ParsedCommandLine parsed;
  std::vector<const Option*> seen;
  for (std::size_t next = 0; next < args.size() && parsed.error.empty();) {
    parsed.error = TakeArgument(args, next, seen, parsed.line);
  }
  if (parsed.error.empty() && !parsed.line.help && !parsed.line.version) {
    parsed.error = CheckCombination(parsed.line);
  }
  return parsed;
}

std::string HelpText() {
  return R"(Usage: tslflash [OPTION]...
Updates the firmware of a CD/DVD drive with the package built into tslflash.
Shows its window when there is a display, else runs in the terminal.

Drives:
  --emulate FILE      use the emulated drives that FILE describes instead of
                      the machine's drives (nothing reaches a real device)
  --package FILE      with --emulate only: use this package file instead of the
                      one built in; real drives only ever get the built-in one
  --trace             with --emulate: when the program ends, print every
                      command each emulated drive received, one line each,
                      to standard error
  --received-images DIR
                      with --emulate: when the program ends, write the
                      firmware image each emulated drive accepted to
                      DIR/drive-N.bin (N as in the tree, from 1)
  --restart-fails     with --emulate: the request to restart the computer
                      after an update is refused, as a system may refuse it

Terminal:
  --terminal          run in the terminal even when there is a display
  --select N|root     select drive N of the tree (from 1), or the root (0) for
                      none; repeat it to select one after another, as clicks
                      in the tree would
  --answer ok|cancel  answer the next message box that asks OK or Cancel;
                      repeat it for later boxes, used in order (for tests;
                      scripts answer by name, below)
  --non-interactive   never read the input: a box asking OK or Cancel with no
                      --answer left is an error (exit status 3), boxes with
                      only OK are acknowledged, and without --select no drive
                      is selected
  --upgrade           after --select, press Upgrade: the checks, then the
                      update; every box is answered as above

Checks and scripts:
  --check             check every drive (or those --select names) as Upgrade
                      would and print each check's result and what the
                      update would do; asks nothing and changes nothing on
                      the drives
  --json              print one JSON document on standard output instead of
                      text (the drive list, --check, --upgrade, --history,
                      --version, --about, --help, or the error); the dialog's
                      text goes to standard error
  --yes               answer the start-up warning and the update's
                      confirmation OK; any other box asking OK or Cancel ends
                      the run with exit status 5
  --allow-reinstall   with --yes: rewrite the revision the drive already has
  --allow-older       with --yes: write a revision older than the drive's
  --restart           with --yes: restart the computer when the update asks;
                      without it the restart is declined

History and support:
  --history           print the update history, newest first, and end; with
                      --emulate and --received-images DIR, the emulated
                      drives' history in DIR
  --report FILE       when the session ends, write a support report to FILE:
                      the program, the system, every drive and what the tool
                      decided about it, the package, the log, the commands
                      sent and the history (no user, home or host names);
                      a regular file there is replaced whole, and a symbolic
                      link, folder, device or FIFO is refused before anything
                      starts; - writes it to standard output (and the
                      dialog's text to standard error)
  --skip-waits        with --emulate: do not wait for the drive to settle
                      after the transfer (emulated drives restart at once)
  --about             print the About box and end
  -h, --help          print this help and end
  --version           print the version, the build and the built-in
                      package (its id, revision and SHA-256) and end

Without --non-interactive, a box with no --answer left and the drive selection
without --select are prompts read from standard input, whether it is a
terminal or not; after the selection the terminal offers Upgrade, another
drive or Exit, as the window does, until Exit. At the end of the input a box
asking OK or Cancel counts as unanswered (exit status 3). Every option of
these two groups runs in the terminal.

Exit status:
  0  the dialog ran to its end (a drive selected, or left without one)
  1  start-up ended the dialog (warning declined, or the drives cannot be
     reached)
  2  bad command line, a file it names cannot be used, or --select names a
     drive that is not there
  3  a message box asking OK or Cancel had no answer: it counted as Cancel
     (the restart question after a completed update too, which stays 0)
  4  --upgrade: the update did not complete and no outcome says why (Upgrade
     was disabled, or the run stopped without a report)
  5  a box asked for consent that --yes, --allow-reinstall or --allow-older
     did not give: it counted as Cancel
 12  --upgrade: user cancelled
 13  --upgrade: checksum did not match (or the drive refused the handshake)
 14  --upgrade: a drive command failed
 15  --upgrade: the transfer failed
 16  --upgrade: the drive's model or revision does not fit the package
 17  --upgrade: the drive's identity, the package or the recovery rules refuse
 18  --upgrade: the package is older than the drive's firmware
 19  --upgrade: there is a disc in the drive
With --upgrade, 0 means the update completed; with --check, that every drive
checked would be updated, and 10 and up the first refusal's outcome.
)";
}

FrontEnd ChooseFrontEnd(const CommandLine& line, bool windowBuilt,
                        const EnvironmentLookup& environment, WindowSystem system) {
  const bool terminalOnly = line.terminal || !line.selections.empty() || !line.answers.empty() ||
                            line.nonInteractive || line.about || line.upgrade || line.skipWaits ||
                            line.check || line.json || line.Consents() || line.history ||
                            line.report.has_value();
  const auto set = [&environment](std::string_view name) {
    const std::optional<std::string> value = environment(name);
    return value && !value->empty();
  };
  const bool display = system == WindowSystem::Desktop || set("DISPLAY") ||
                       set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
  return windowBuilt && display && !terminalOnly ? FrontEnd::Window : FrontEnd::Terminal;
}

FrontEndChoice ChooseFrontEndFor(const CommandLine& line, bool windowBuilt,
                                 const EnvironmentLookup& environment, WindowSystem system,
                                 bool raisedPrivileges) {
  const FrontEnd wanted = ChooseFrontEnd(line, windowBuilt, environment, system);
  if (raisedPrivileges && wanted == FrontEnd::Window) return {FrontEnd::Terminal, true};
  return {wanted, false};
}

}  // namespace tslflash
