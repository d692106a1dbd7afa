#include "ui/win32/win32_front_end.h"

#include <iostream>

namespace tslflash {

Win32FrontEnd::Win32FrontEnd(const DialogSetup& setup, Clock* clock)
    : window_(dispatcher_),
      view_(window_, dispatcher_),
      dialog_(view_, setup.makeTransport(), setup.package, ClockFor(setup, clock), std::cout,
              setup.options) {
  window_.Connect({
      .initDialog = [this] { return startedUp_ = dialog_.OnInitDialog(); },
      .sysCommand = [this](int commandId) { return dialog_.OnSysCommand(commandId); },
      .timer = [this](int timerId) { dialog_.OnTimer(timerId); },
      .driveSelectionChanged = [this] { dialog_.OnDriveSelChanged(); },
      .upgrade = [this] { dialog_.OnUpgrade(); },
      .canClose = [this] { return dialog_.CanClose(); },
  });
  ApplySetup(setup, dialog_);
}

Win32FrontEnd::~Win32FrontEnd() { window_.JoinWorker(); }

Clock& Win32FrontEnd::ClockFor(const DialogSetup& setup, Clock* clock) {
  if (clock != nullptr) return *clock;
  return setup.skipWaits ? static_cast<Clock&>(noWaitClock_) : systemClock_;
}

int Win32FrontEnd::Run() {
  if (!window_.Run()) {
    std::cerr << "tslflash: the window could not be opened\n";
    return 1;
  }
  return startedUp_ ? 0 : 1;
}

int RunWin32FrontEnd(const DialogSetup& setup, Clock* clock) {
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                      ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  Win32FrontEnd frontEnd(setup, clock);
  return frontEnd.Run();
}

}  // namespace tslflash
