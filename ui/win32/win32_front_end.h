// The Win32 front end: the main dialog's logic on a native dialog window.
#pragma once

#include <functional>

#include "app/dialog_setup.h"
#include "app/update_dialog.h"
#include "transport/clock.h"
#include "ui/ui_thread_view.h"
#include "ui/win32/win32_dialog_window.h"
#include "ui/win32/win32_dispatcher.h"

namespace tslflash {

// The window, the hand-over for the update worker and the dialog's logic,
// connected: start-up, the tree's selection, the About item, timer 1 and the
// Upgrade button reach the logic, and the window never closes while an update
// runs. The thread that constructs it is the UI thread and must run it.
class Win32FrontEnd {
 public:
  // `clock` paces the update run; null: the system's, or none when the setup
  // skips the waits.
  explicit Win32FrontEnd(const DialogSetup& setup, Clock* clock = nullptr);
  Win32FrontEnd(const Win32FrontEnd&) = delete;
  Win32FrontEnd& operator=(const Win32FrontEnd&) = delete;

  Win32DialogWindow& Window() { return window_; }
  UpdateDialog& Dialog() { return dialog_; }

  // Runs the dialog until it ends. Exit code 0; 1 when the dialog ended
  // during its start-up (warning declined, no drive access) or the window
  // could not be made; 4 when a console event held during the last run
  // closed it and that run did not complete.
  int Run();

 private:
  Clock& ClockFor(const DialogSetup& setup, Clock* clock);

  Win32Dispatcher dispatcher_;
  Win32DialogWindow window_;
  UiThreadView view_;
  SystemClock systemClock_;
  NoWaitClock noWaitClock_;
  UpdateDialog dialog_;
  bool startedUp_ = false;
};

// Runs the tool's dialog on this thread until it ends; the exit code as Run's.
// `clock` as for Win32FrontEnd; `prepare`, when given, sees the window before
// the dialog runs (tests replace its file dialog there).
int RunWin32FrontEnd(const DialogSetup& setup, Clock* clock = nullptr,
                     const std::function<void(Win32DialogWindow&)>& prepare = {});

}  // namespace tslflash
