#include "ui/win32/win32_front_end.h"

#include <iostream>

#include "app/command_line.h"
#include "update/held_signals.h"

namespace tslflash {

Win32FrontEnd::Win32FrontEnd(const DialogSetup& setup, Clock* clock)
    : window_(dispatcher_),
      view_(window_, dispatcher_),
      dialog_(view_, setup.makeTransport(), setup.package, ClockFor(setup, clock), std::cout,
              std::make_unique<ThreadRunWorker>(dispatcher_), setup.options) {
  window_.Connect({
      .initDialog = [this] { return startedUp_ = dialog_.OnInitDialog(); },
      .sysCommand = [this](int commandId) { return dialog_.OnSysCommand(commandId); },
      .timer = [this](int timerId) { dialog_.OnTimer(timerId); },
      .driveSelectionChanged = [this] { dialog_.OnDriveSelChanged(window_.GetSelectedTreeItem()); },
      .upgrade = [this] { dialog_.OnUpgrade(); },
      // The worker of a finished run may still be returning: it is joined
      // while the window is there to serve its last calls.
      .canClose =
          [this] {
            if (!dialog_.CanClose()) return false;
            dialog_.WaitForRun();
            return true;
          },
  });
  ApplySetup(setup, dialog_);
}

Clock& Win32FrontEnd::ClockFor(const DialogSetup& setup, Clock* clock) {
  if (clock != nullptr) return *clock;
  return setup.skipWaits ? static_cast<Clock&>(noWaitClock_) : systemClock_;
}

int Win32FrontEnd::Run() {
  if (!window_.Run()) {
    std::cerr << "tslflash: the window could not be opened\n";
    return 1;
  }
  if (!startedUp_) return exit_status::kEndedAtStartup;
  return exit_status::OfWindowSession(held_signals::EndHeld(), dialog_.LastRunCompleted());
}

int RunWin32FrontEnd(const DialogSetup& setup, Clock* clock,
                     const std::function<void(Win32DialogWindow&)>& prepare) {
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                      ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  Win32FrontEnd frontEnd(setup, clock);
  if (prepare) prepare(frontEnd.Window());
  return frontEnd.Run();
}

}  // namespace tslflash
