#include "ui/terminal/terminal_front_end.h"

#include <ostream>

#include "ui/terminal/terminal_diagnostics.h"
#include "ui/terminal/terminal_view.h"
#include "ui/ui_dispatcher.h"
#include "ui/ui_thread_view.h"
#include "update/held_signals.h"

namespace tslflash {
namespace {

terminal::TerminalSettings SettingsFor(const TerminalOptions& options, const DialogSetup& setup) {
  return {options.answers,          options.interactive,          !options.inputIsTerminal,
          options.outputIsTerminal, setup.options.emulatedDrives, options.consent};
}

// Selects as a click in the tree would; false when the drive is not there.
bool SelectDrive(UpdateDialog& dialog, terminal::TerminalView& window, std::size_t drive,
                 std::ostream& err) {
  if (!window.SelectDrive(drive)) {
    err << "tslflash: there is no drive " << drive << " to select; the tree has "
        << window.DriveCount() << '\n';
    return false;
  }
  dialog.OnDriveSelChanged(window.GetSelectedTreeItem());
  return true;
}

// A disabled Upgrade button cannot be pressed: that counts as no update.
TerminalResult PressUpgrade(UpdateDialog& dialog, terminal::TerminalView& window,
                            const UpgradeHandler& upgrade) {
  if (!window.IsControlEnabled(ControlId::Upgrade)) return {TerminalEnd::NotUpdated};
  upgrade(dialog);
  // The run's worker hands its view calls to this thread until it returns.
  dialog.WaitForRun();
  if (window.ConsentMissing()) return {TerminalEnd::NoConsent};
  if (dialog.LastRunCompleted()) return {TerminalEnd::Updated};
  return {TerminalEnd::NotUpdated, dialog.LastOutcome()};
}

// The selections the command line gave, in order, then Upgrade when asked.
TerminalResult ReplaySelections(UpdateDialog& dialog, terminal::TerminalView& window,
                                const TerminalOptions& options, std::ostream& err) {
  for (const std::size_t drive : options.selections) {
    if (!SelectDrive(dialog, window, drive, err)) return {TerminalEnd::NoSuchDrive};
  }
  if (!options.upgrade) return {};
  return PressUpgrade(dialog, window, options.upgrade);
}

// A box without an answer ends the session as unanswered, unless the update
// had completed before it: then it was the restart question, which counted
// as Cancel, and the update stays completed.
bool EndsUnanswered(const terminal::TerminalView& window, const TerminalResult& result) {
  return window.AnswerMissing() && result.end != TerminalEnd::Updated;
}

// As a person uses the window: select a drive, then Upgrade, another drive
// or Exit, until Exit, the end of the input, or a run during which a signal
// that ends the program was held. The session ends as the last Upgrade did.
TerminalResult PersonsSession(UpdateDialog& dialog, terminal::TerminalView& window,
                              std::ostream& err) {
  TerminalResult result;
  const auto selectOne = [&] {
    const std::optional<std::size_t> drive = window.AskForDrive();
    return drive && SelectDrive(dialog, window, *drive, err);
  };
  if (window.DriveCount() == 0 || !selectOne()) return result;
  while (true) {
    const std::optional<terminal::MenuChoice> choice = window.AskMenu();
    if (!choice || *choice == terminal::MenuChoice::Exit) return result;
    if (*choice == terminal::MenuChoice::SelectAnother) {
      window.PrintTree();
      if (!selectOne()) return result;
    } else if (!window.IsControlEnabled(ControlId::Upgrade)) {
      window.PrintLine("Upgrade is not available now; select a drive to enable it.");
    } else {
      result = PressUpgrade(dialog, window, [](UpdateDialog& pressed) { pressed.OnUpgrade(); });
      if (EndsUnanswered(window, result)) return {TerminalEnd::NoAnswer};
      if (held_signals::EndHeld()) return result;
    }
  }
}

// Start-up, the selection and Upgrade, in the order a person goes through them.
TerminalResult RunSession(UpdateDialog& dialog, terminal::TerminalView& window,
                          const TerminalOptions& options, std::ostream& err) {
  window.SetTitle(kDialogTitle);  // the window's caption before start-up relabels it
  const bool started = dialog.OnInitDialog();
  if (window.AnswerMissing()) return {TerminalEnd::NoAnswer};
  if (window.ConsentMissing()) return {TerminalEnd::NoConsent};
  if (!started) return {TerminalEnd::EndedAtStartup};
  if (options.session) return options.session(dialog);
  window.PrintTree();
  TerminalResult result;
  if (!options.selections.empty() || options.upgrade) {
    result = ReplaySelections(dialog, window, options, err);
  } else if (options.interactive) {
    result = PersonsSession(dialog, window, err);
  }
  if (EndsUnanswered(window, result)) return {TerminalEnd::NoAnswer};
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

  TerminalResult result;
  if (options.about) {
    dialog.OnSysCommand(kAboutCommand);
  } else {
    result = RunSession(dialog, window, options, streams.err);
  }
  if (options.finished) options.finished(dialog, result);
  return result;
}

}  // namespace tslflash
