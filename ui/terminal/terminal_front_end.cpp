#include "ui/terminal/terminal_front_end.h"

#include <ostream>

#include "ui/terminal/terminal_diagnostics.h"
#include "ui/terminal/terminal_view.h"
#include "ui/ui_dispatcher.h"
#include "ui/ui_thread_view.h"

namespace tslflash {
namespace {

terminal::TerminalSettings SettingsFor(const TerminalOptions& options, const DialogSetup& setup) {
  return {options.answers, options.interactive, !options.inputIsTerminal, options.outputIsTerminal,
          setup.options.emulatedDrives};
}

// The selection the command line gave, else the user's; nothing when neither.
std::optional<std::size_t> DriveToSelect(const TerminalOptions& options,
                                         terminal::TerminalView& window) {
  if (options.select) return options.select;
  if (!options.interactive || window.DriveCount() == 0) return std::nullopt;
  return window.AskForDrive();
}

// Selects as a click in the tree would; false when the drive is not there.
bool SelectDrive(UpdateDialog& dialog, terminal::TerminalView& window,
                 const TerminalOptions& options, std::ostream& err) {
  const std::optional<std::size_t> drive = DriveToSelect(options, window);
  if (!drive) return true;
  if (!window.SelectDrive(*drive)) {
    err << "tslflash: there is no drive " << *drive << " to select; the tree has "
        << window.DriveCount() << '\n';
    return false;
  }
  dialog.OnDriveSelChanged(window.GetSelectedTreeItem());
  return true;
}

// A disabled Upgrade button cannot be pressed: that counts as no update.
TerminalResult PressUpgrade(UpdateDialog& dialog, terminal::TerminalView& window,
                            const TerminalOptions& options) {
  if (!window.IsControlEnabled(ControlId::Upgrade)) return {TerminalEnd::NotUpdated};
  options.upgrade(dialog);
  // The run's worker hands its view calls to this thread until it returns.
  dialog.WaitForRun();
  if (dialog.LastRunCompleted()) return {TerminalEnd::Updated};
  return {TerminalEnd::NotUpdated, dialog.LastOutcome()};
}

// Start-up, the selection and Upgrade, in the order a person goes through them.
TerminalResult RunSession(UpdateDialog& dialog, terminal::TerminalView& window,
                          const TerminalOptions& options, std::ostream& err) {
  window.SetTitle(kDialogTitle);  // the window's caption before start-up relabels it
  const bool started = dialog.OnInitDialog();
  if (window.AnswerMissing()) return {TerminalEnd::NoAnswer};
  if (!started) return {TerminalEnd::EndedAtStartup};
  window.PrintTree();
  if (!SelectDrive(dialog, window, options, err)) return {TerminalEnd::NoSuchDrive};
  TerminalResult result;
  if (options.upgrade) result = PressUpgrade(dialog, window, options);
  if (window.AnswerMissing()) return {TerminalEnd::NoAnswer};
  return result;
}

}  // namespace

TerminalResult RunTerminalFrontEnd(const DialogSetup& setup, const TerminalOptions& options,
                                   const TerminalStreams& streams, Clock& clock) {
  EventLoopDispatcher dispatcher;
  terminal::TerminalView window(streams.in, streams.out, streams.err, dispatcher,
                                SettingsFor(options, setup));
  UiThreadView view(window, dispatcher);
  terminal::DiagnosticLines diagnosticLines(window, dispatcher);
  std::ostream diagnostics(&diagnosticLines);
  UpdateDialog dialog(view, setup.makeTransport(), setup.package, clock, diagnostics,
                      std::make_unique<ThreadRunWorker>(dispatcher), setup.options);
  window.SetTimerHandler([&dialog](int timerId) { dialog.OnTimer(timerId); });
  ApplySetup(setup, dialog);

  if (options.about) {
    dialog.OnSysCommand(kAboutCommand);
    return {TerminalEnd::Completed};
  }
  return RunSession(dialog, window, options, streams.err);
}

}  // namespace tslflash
