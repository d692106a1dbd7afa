// tslflash: reads the command line, decides where the drives and the package
// come from, and hands the main dialog to the window or to the terminal.
#include <unistd.h>
#ifdef __linux__
#include <sys/auxv.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/check_report.h"
#include "app/command_line.h"
#include "app/dialog_setup.h"
#include "app/history_file.h"
#include "app/history_keeper.h"
#include "app/history_text.h"
#include "app/json_report.h"
#include "app/support_report.h"
#include "app/version_text.h"
#include "emulator/command_trace.h"
#include "emulator/drive_description.h"
#include "emulator/emulated_transport.h"
#include "package/embedded_package.h"
#include "tools/file_io.h"
#include "transport/command_log.h"
#include "transport/platform_transport.h"
#include "ui/terminal/terminal_front_end.h"
#include "update/held_signals.h"
#include "update/refusing_restarter.h"
#include "update/run_shield.h"
#include "update/system_restarter.h"

#ifdef TSLFLASH_WITH_QT
#include "ui/qt/display_check.h"
#include "ui/qt/qt_front_end.h"
#endif
#ifdef TSLFLASH_WITH_WIN32
#include <cstdio>

#include "ui/win32/win32_front_end.h"
#include "ui/win32/windows_api.h"
#endif

namespace tslflash {
namespace {

#if defined(TSLFLASH_WITH_QT) || defined(TSLFLASH_WITH_WIN32)
constexpr bool kWindowBuilt = true;
#else
constexpr bool kWindowBuilt = false;
#endif
// Decided where the package to embed is chosen (package/CMakeLists.txt).
#ifdef TSLFLASH_SAMPLE_PACKAGE
constexpr bool kSamplePackage = true;
#else
constexpr bool kSamplePackage = false;
#endif
#ifdef TSLFLASH_WITH_WIN32
constexpr WindowSystem kWindowSystem = WindowSystem::Desktop;
#else
constexpr WindowSystem kWindowSystem = WindowSystem::NeedsDisplay;
#endif

// What the dialog's setup points into; it outlives the front end.
struct Sources {
  std::vector<std::shared_ptr<emu::DriveEmulator>> emulators;
  std::vector<std::uint8_t> packageFile;
  std::optional<std::string> historyPath;  // none: runs are not remembered
  // Every command sent, for the support report (--report, or the window's
  // Save report).
  std::shared_ptr<CommandLog> commandLog = std::make_shared<CommandLog>();
};

std::optional<std::string> ReadEnvironment(std::string_view name);

// What --received-images writes into its folder: each drive's image and the
// emulated drives' history.
constexpr std::string_view kEmulatedHistoryName = "history.jsonl";
std::string ReceivedImageName(std::size_t drive) {
  return "drive-" + std::to_string(drive + 1) + ".bin";
}

// Where runs are remembered: the user's state folder for real drives; for
// emulated drives beside their received images, and nowhere without them.
void KeepHistory(const CommandLine& line, Sources& sources, DialogSetup& setup) {
  if (line.emulate) {
    if (line.receivedImages) {
      sources.historyPath = *line.receivedImages + "/" + std::string(kEmulatedHistoryName);
    }
  } else {
    sources.historyPath = HistoryPath(ReadEnvironment, kThisHistoryPlatform).path;
  }
  if (!sources.historyPath) return;
  setup.makeRunHistory = [path = *sources.historyPath] {
    return std::make_unique<FileRunHistory>(path, std::cerr);
  };
}

// The history as text or as one JSON document; its exit status.
int PrintHistory(const CommandLine& line, const Sources& sources) {
  if (!sources.historyPath) {
    const std::string error = line.emulate
                                  ? "--history with --emulate needs --received-images: "
                                    "emulated drives keep their history there"
                                  : "no folder for the history: " +
                                        HistoryPath(ReadEnvironment, kThisHistoryPlatform).reason;
    std::cerr << "tslflash: " << error << '\n';
    if (line.json) std::cout << ErrorJson(error, exit_status::kBadCommandLine);
    return exit_status::kBadCommandLine;
  }
  const HistoryRead read = ReadHistory(*sources.historyPath);
  for (const std::string& warning : read.warnings) std::cerr << "tslflash: " << warning << '\n';
  if (!read.error.empty()) {
    std::cerr << "tslflash: " << read.error << '\n';
    if (line.json) std::cout << ErrorJson(read.error, exit_status::kBadCommandLine);
    return exit_status::kBadCommandLine;
  }
  std::cout << (line.json ? HistoryJson(read.records, exit_status::kCompleted)
                          : HistoryText(read.records));
  return exit_status::kCompleted;
}

// The support report as the dialog stands now; an update may be running,
// whose failure, written by its worker, is only read once it has ended.
std::string SupportReportOf(const UpdateDialog& dialog, const Sources& sources) {
  std::string history;
  if (sources.historyPath) history = HistoryText(ReadHistory(*sources.historyPath).records);
  const SupportReportInput input{ThisBuild(),
                                 std::chrono::system_clock::now(),
                                 QueryOsFacts(),
                                 dialog.Drives(),
                                 dialog.Package().bytes,
                                 dialog.LogPane(),
                                 dialog.RunActive() ? std::nullopt : dialog.LastFailure(),
                                 sources.commandLog->Read(),
                                 history};
  return SupportReportText(input);
}

// The support report of the session that has just ended, on standard output
// for "-".
void WriteReport(const std::string& path, const UpdateDialog& dialog, const Sources& sources) {
  const std::string report = SupportReportOf(dialog, sources);
  if (path == kReportToStandardOutput) {
    std::cout << report << std::flush;
    return;
  }
  if (const std::string error = WriteFileAtomically(path, report); !error.empty()) {
    std::cerr << "tslflash: --report: " << error << '\n';
  }
}

// Points the setup at the emulated drives and package the command line
// names. Returns an error line, empty when every file could be used.
std::string UseEmulation(const CommandLine& line, Sources& sources, DialogSetup& setup) {
  const emu::LoadedDrives loaded = emu::LoadDriveDescriptionFile(*line.emulate);
  if (!loaded.Ok()) return "--emulate: " + loaded.error;
  sources.emulators = emu::MakeEmulators(loaded.drives);
  setup.makeTransport = [emulators = sources.emulators] {
    return std::make_unique<emu::EmulatedTransport>(emulators);
  };
  setup.options.emulatedDrives = true;
  // An emulated run only says it would restart, unless told the request fails.
  setup.makeRestarter = nullptr;
  if (line.restartFails) {
    setup.makeRestarter = [] { return std::make_unique<RefusingRestarter>(); };
  }
  setup.makeRunShield = [] { return MakeSystemRunShield(SleepLock::None); };
  setup.skipWaits = line.skipWaits;
  if (line.package) {
    FileRead read = ReadPackageFile(*line.package);
    if (!read.error.empty()) return "--package: " + read.error;
    sources.packageFile = std::move(read.bytes);
    setup.package = sources.packageFile;
  }
  // Known before the update, not found out after the drive took the image.
  if (line.receivedImages) {
    std::vector<std::string> names = {std::string(kEmulatedHistoryName)};
    for (std::size_t drive = 0; drive < sources.emulators.size(); ++drive) {
      names.push_back(ReceivedImageName(drive));
    }
    if (const std::string error = PrepareOutputFolder(*line.receivedImages, names);
        !error.empty()) {
      return "--received-images: " + error;
    }
  }
  return {};
}

// Real drives, and only ever the package built into the program.
DialogSetup RealDrives() {
  DialogSetup setup;
  setup.makeTransport = [] { return MakePlatformTransport(); };
  setup.package = EmbeddedPackage();
  setup.options.samplePackage = kSamplePackage;
  setup.makeRestarter = [] { return std::make_unique<SystemRestarter>(); };
  setup.makeRunShield = [] { return MakeSystemRunShield(SleepLock::Take); };
  return setup;
}

// Each emulated drive's accepted image as DIR/drive-N.bin; an error line, or
// empty.
std::string WriteReceivedImages(const Sources& sources, const std::string& folder) {
  for (std::size_t drive = 0; drive < sources.emulators.size(); ++drive) {
    const auto image = sources.emulators[drive]->ReceivedImage();
    if (!image) continue;
    if (const std::string error = WriteFileInFolder(folder, ReceivedImageName(drive), *image);
        !error.empty()) {
      return "--received-images: " + error;
    }
  }
  return {};
}

void PrintTrace(const Sources& sources, std::ostream& out) {
  for (std::size_t drive = 0; drive < sources.emulators.size(); ++drive) {
    for (const emu::TraceEntry& entry : sources.emulators[drive]->Trace()) {
      out << "emulated:" << drive << ": " << emu::FormatTraceEntry(entry) << '\n';
    }
  }
}

std::optional<std::string> ReadEnvironment(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

int ExitStatusFor(const TerminalResult& result) {
  switch (result.end) {
    case TerminalEnd::Completed:
      return exit_status::kCompleted;
    case TerminalEnd::EndedAtStartup:
      return exit_status::kEndedAtStartup;
    case TerminalEnd::NoAnswer:
      return exit_status::kNoAnswer;
    case TerminalEnd::NoSuchDrive:
      return exit_status::kBadCommandLine;
    case TerminalEnd::Updated:
      return exit_status::kCompleted;
    case TerminalEnd::NotUpdated:
      return result.outcome ? exit_status::kOutcomeBase + static_cast<int>(*result.outcome)
                            : exit_status::kNotUpdated;
    case TerminalEnd::NoConsent:
      return exit_status::kNoConsent;
  }
  return exit_status::kBadCommandLine;
}

// Only listing the drives as JSON, which changes nothing.
bool JsonListing(const CommandLine& line) { return line.json && !line.upgrade && !line.check; }

std::optional<terminal::Consent> ConsentOf(const CommandLine& line) {
  // A check or a listing changes nothing: its start-up warning needs no
  // consent, unless the command line answers it.
  if (line.check || (JsonListing(line) && line.answers.empty() && !line.Consents())) {
    return terminal::Consent{.yes = true};
  }
  if (!line.Consents()) return std::nullopt;
  return terminal::Consent{line.yes, line.allowReinstall, line.allowOlder, line.restart};
}

// The first drive the selections name that the tree does not have, as an
// error line; empty when the tree has them all.
std::string MissingDrive(const CommandLine& line, std::size_t driveCount) {
  for (const std::size_t drive : line.selections) {
    if (drive > driveCount) {
      return "there is no drive " + std::to_string(drive) + " to select; the tree has " +
             std::to_string(driveCount);
    }
  }
  return {};
}

// Why a session ended before it could list or update anything.
std::string SessionEndLine(TerminalEnd end) {
  switch (end) {
    case TerminalEnd::NoAnswer:
      return "a message box asking OK or Cancel had no answer";
    case TerminalEnd::NoConsent:
      return "a message box asked for consent the command line did not give";
    default:
      return "start-up ended: the warning was declined, or the drives cannot be reached";
  }
}

// The drives --check names: every drive, or those --select names.
TerminalResult CheckSession(UpdateDialog& dialog, const CommandLine& line,
                            const DialogSetup& setup) {
  if (const std::string missing = MissingDrive(line, dialog.Drives().size()); !missing.empty()) {
    std::cerr << "tslflash: " << missing << '\n';
    if (line.json) std::cout << ErrorJson(missing, exit_status::kBadCommandLine) << std::flush;
    return {TerminalEnd::NoSuchDrive};
  }
  const std::vector<CheckedDrive> checked = CheckDrives(dialog, line.selections);
  // Ends as an Upgrade of the first drive that would not be updated would.
  const auto refused = std::ranges::find_if(
      checked, [](const CheckedDrive& drive) { return !drive.check.WouldUpdate(); });
  // No drive to check is no drive that would be updated.
  TerminalResult result;
  if (checked.empty()) result = {TerminalEnd::NotUpdated};
  if (refused != checked.end()) result = {TerminalEnd::NotUpdated, refused->check.Refusal()};
  const JsonContext context{setup.package, setup.options.emulatedDrives, ExitStatusFor(result)};
  std::cout << (line.json ? CheckJson(checked, context) : CheckReportText(checked)) << std::flush;
  return result;
}

// The JSON document of a session that has ended.
void PrintSessionJson(const CommandLine& line, const DialogSetup& setup, const UpdateDialog& dialog,
                      const TerminalResult& result) {
  const int status = ExitStatusFor(result);
  const JsonContext context{setup.package, setup.options.emulatedDrives, status};
  if (line.about) {
    std::cout << AboutJson(status);
  } else if (result.end == TerminalEnd::NoSuchDrive) {
    std::cout << ErrorJson(MissingDrive(line, dialog.Drives().size()), status);
  } else if (result.end == TerminalEnd::EndedAtStartup || (!line.upgrade && status != 0)) {
    std::cout << ErrorJson(SessionEndLine(result.end), status);
  } else {
    std::cout << (line.upgrade ? UpgradeJson(dialog, context) : DrivesJson(dialog, context));
  }
  std::cout << std::flush;
}

int RunTerminal(const CommandLine& line, const DialogSetup& setup, const Sources& sources) {
  TerminalOptions options;
  options.selections = line.selections;
  options.answers = line.answers;
  options.consent = ConsentOf(line);
  options.interactive = !line.nonInteractive && !line.check && !JsonListing(line);
  options.about = line.about;
  if (line.upgrade) options.upgrade = [](UpdateDialog& dialog) { dialog.OnUpgrade(); };
  if (line.check) {
    options.session = [&line, &setup](UpdateDialog& dialog) {
      return CheckSession(dialog, line, setup);
    };
  }
  options.finished = [&line, &setup, &sources](const UpdateDialog& dialog,
                                               const TerminalResult& result) {
    // A check prints its own document; the About box ends the session first.
    if (line.json && (line.about || !line.check)) PrintSessionJson(line, setup, dialog, result);
    if (line.report) WriteReport(*line.report, dialog, sources);
  };
  options.inputIsTerminal = isatty(STDIN_FILENO) == 1;
  // With a report on standard output, the dialog's own text goes to standard error.
  const bool report = line.check || line.json || line.report == kReportToStandardOutput;
  options.outputIsTerminal = isatty(report ? STDERR_FILENO : STDOUT_FILENO) == 1;
  SystemClock systemClock;
  NoWaitClock noWaitClock;
  Clock& clock = setup.skipWaits ? static_cast<Clock&>(noWaitClock) : systemClock;
  return ExitStatusFor(RunTerminalFrontEnd(
      setup, options, {std::cin, report ? std::cerr : std::cout, std::cerr}, clock));
}

// Whether the kernel started this process with raised privileges (set-id, or
// file capabilities): then the loader ignores the environment, and so must
// the tool.
bool RaisedPrivileges() {
#ifdef __linux__
  return getauxval(AT_SECURE) != 0;
#else
  return false;
#endif
}

// The window when this build has one, ChooseFrontEndFor picks it and its
// display opens; else the terminal.
int RunFrontEnd(const CommandLine& line, const DialogSetup& setup, const Sources& sources,
                [[maybe_unused]] int& argc, [[maybe_unused]] char** argv) {
  const FrontEndChoice choice =
      ChooseFrontEndFor(line, kWindowBuilt, ReadEnvironment, kWindowSystem, RaisedPrivileges());
  if (choice.windowRefused) std::cerr << kRaisedPrivilegesLine << '\n';
  if (choice.frontEnd == FrontEnd::Window) {
#if defined(TSLFLASH_WITH_QT)
    // Qt aborts when it cannot open its display; the terminal serves instead.
    SystemDisplayOpener opener;
    const std::optional<std::string> unusable =
        UnusableDisplayLine(PlanDisplayProbes(ReadEnvironment), opener);
    if (!unusable) return RunQtFrontEnd(argc, argv, setup);
    std::cerr << *unusable << '\n';
#elif defined(TSLFLASH_WITH_WIN32)
    return RunWin32FrontEnd(setup);
#endif
  }
  return RunTerminal(line, setup, sources);
}

#ifdef TSLFLASH_WITH_WIN32
bool HasStandardHandle(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// The program is a window program, which Windows starts without a console:
// started from one, it prints its help, errors and terminal session there.
// Streams already redirected to a file or a pipe stay where they are.
void UseParentConsole() {
  const bool input = HasStandardHandle(STD_INPUT_HANDLE);
  const bool output = HasStandardHandle(STD_OUTPUT_HANDLE);
  const bool error = HasStandardHandle(STD_ERROR_HANDLE);
  if (AttachConsole(ATTACH_PARENT_PROCESS) == 0) return;
  if (!input) (void)std::freopen("CONIN$", "r", stdin);
  if (!output) (void)std::freopen("CONOUT$", "w", stdout);
  if (!error) (void)std::freopen("CONOUT$", "w", stderr);
}
#endif

// A signal held during the update acts now that the trace and the received
// images are written: a stop stops the program here, to go on when
// continued; a signal that ends it says so in one line with how the update
// ended, and the exit status stays the program's own.
void ActOnHeldSignals(bool updateCompleted) {
  if (held_signals::TakeHeldStop()) held_signals::StopNow();
  const std::optional<int> signal = held_signals::TakeHeldEnd();
  if (!signal) return;
  std::cerr << "tslflash: ending on " << held_signals::SignalName(*signal)
            << ", held until the update had ended; "
            << (updateCompleted ? "the update completed." : "the update did not complete.") << '\n';
}

int Run(int& argc, char** argv) {
#ifdef TSLFLASH_WITH_WIN32
  UseParentConsole();
#endif
  held_signals::IgnoreBrokenPipe();
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const ParsedCommandLine parsed = ParseCommandLine(args);
  // Asked for, a script gets its errors as JSON too, even from a command
  // line that could not be read.
  const bool json = std::ranges::find(args, std::string_view("--json")) != args.end();
  const auto fail = [json](const std::string& error, int status) {
    std::cerr << "tslflash: " << error << '\n';
    if (json) std::cout << ErrorJson(error, status) << std::flush;
    return status;
  };
  if (!parsed.error.empty()) {
    if (!json) std::cerr << "tslflash: " << parsed.error << "\nTry 'tslflash --help'.\n";
    return json ? fail(parsed.error, exit_status::kBadCommandLine) : exit_status::kBadCommandLine;
  }
  const CommandLine& line = parsed.line;
  if (line.help) {
    std::cout << (line.json ? HelpJson(HelpText()) : HelpText());
    return exit_status::kCompleted;
  }
  if (line.version) {
    std::cout << (line.json ? VersionJson(ThisBuild(), EmbeddedPackage())
                            : VersionText(ThisBuild(), EmbeddedPackage()));
    return exit_status::kCompleted;
  }

  // A report that cannot be written is said before any drive is touched.
  if (line.report && *line.report != kReportToStandardOutput) {
    if (const std::string error = OutputFileProblem(*line.report); !error.empty()) {
      return fail("--report: " + error, exit_status::kBadCommandLine);
    }
  }

  Sources sources;
  DialogSetup setup = RealDrives();
  if (line.emulate) {
    if (const std::string error = UseEmulation(line, sources, setup); !error.empty()) {
      return fail(error, exit_status::kBadCommandLine);
    }
  }

  KeepHistory(line, sources, setup);
  if (line.history) return PrintHistory(line, sources);
  setup.makeTransport = [log = sources.commandLog, inner = setup.makeTransport] {
    return LogCommands(inner(), log);
  };
  setup.supportReport = [&sources](const UpdateDialog& dialog) {
    return SupportReportOf(dialog, sources);
  };
  const int status = RunFrontEnd(line, setup, sources, argc, argv);
  if (line.trace) PrintTrace(sources, std::cerr);
  int exitStatus = status;
  if (line.receivedImages) {
    if (const std::string error = WriteReceivedImages(sources, *line.receivedImages);
        !error.empty()) {
      std::cerr << "tslflash: " << error << '\n';
      exitStatus = exit_status::kBadCommandLine;
    }
  }
  // The front end's status says how the update ended, whatever failed after it.
  ActOnHeldSignals(status == exit_status::kCompleted);
  return exitStatus;
}

}  // namespace
}  // namespace tslflash

int main(int argc, char** argv) { return tslflash::Run(argc, argv); }
