// The Qt front end: the main dialog's logic on a Qt window.
#pragma once

#include <functional>

#include "app/dialog_setup.h"
#include "app/update_dialog.h"
#include "transport/clock.h"
#include "ui/qt/qt_dialog_window.h"
#include "ui/qt/qt_dispatcher.h"
#include "ui/ui_thread_view.h"

namespace tslflash {

// The window, the hand-over for the update worker and the dialog's logic,
// connected: the tree's selection, the About item and timer 1 reach the
// logic. Needs a QApplication. The Upgrade button's handler connects to the
// window's UpgradeRequested.
class QtFrontEnd {
 public:
  explicit QtFrontEnd(const DialogSetup& setup);
  QtFrontEnd(const QtFrontEnd&) = delete;
  QtFrontEnd& operator=(const QtFrontEnd&) = delete;

  QtDialogWindow& Window() { return window_; }
  UpdateDialog& Dialog() { return dialog_; }

 private:
  QtDialogWindow window_;
  QtDispatcher dispatcher_;
  UiThreadView view_;
  SystemClock systemClock_;
  NoWaitClock noWaitClock_;
  UpdateDialog dialog_;
};

// Runs the tool's dialog until it ends. Exit code 0, or 1 when the dialog
// ended during its start-up (warning declined, no drive access). `shown`, when
// given, is called once from the event loop after the window's first paint;
// the start-up benchmark ends the run there.
int RunQtFrontEnd(int& argc, char** argv, const DialogSetup& setup,
                  std::function<void()> shown = {});

}  // namespace tslflash
