#include "ui/qt/qt_signal_watch.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <chrono>

#include "app/update_dialog.h"
#include "ui/qt/qt_dialog_window.h"
#include "update/held_signals.h"

namespace tslflash {
namespace {

constexpr std::array<int, 2> kClosing = {SIGTERM, SIGHUP};
constexpr std::chrono::milliseconds kRunEndPoll{50};

std::atomic<int> wakeWriteEnd{-1};

extern "C" void WakeOnSignal(int signal) {
  const int savedErrno = errno;
  const char number = static_cast<char>(signal);
  if (const int fd = wakeWriteEnd; fd >= 0) (void)write(fd, &number, 1);
  errno = savedErrno;
}

}  // namespace

QtSignalWatch::QtSignalWatch(QtDialogWindow& window, UpdateDialog& dialog)
    : window_(window), dialog_(dialog) {
  if (pipe2(pipe_.data(), O_CLOEXEC | O_NONBLOCK) != 0) return;
  wakeWriteEnd = pipe_[1];
  held_signals::SetWakeDescriptor(pipe_[1]);
  auto* notifier = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [this] { Wake(); });
  runEndPoll_.setInterval(kRunEndPoll);
  connect(&runEndPoll_, &QTimer::timeout, this, [this] { ActWhenRunEnded(); });

  struct sigaction action {};
  action.sa_handler = WakeOnSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < kClosing.size(); ++i) sigaction(kClosing[i], &action, &earlier_[i]);
}

QtSignalWatch::~QtSignalWatch() {
  if (pipe_[0] < 0) return;
  for (std::size_t i = 0; i < kClosing.size(); ++i) sigaction(kClosing[i], &earlier_[i], nullptr);
  held_signals::SetWakeDescriptor(-1);
  wakeWriteEnd = -1;
  close(pipe_[0]);
  close(pipe_[1]);
}

// Outside a run only SIGTERM and SIGHUP arrive here; in a run every held
// signal does, and all but SIGTSTP end the program after it.
void QtSignalWatch::Wake() {
  char number = 0;
  while (read(pipe_[0], &number, 1) == 1) {
    if (number != SIGTSTP) closeRequested_ = true;
  }
  ActWhenRunEnded();
}

void QtSignalWatch::ActWhenRunEnded() {
  if (dialog_.RunActive()) {
    runEndPoll_.start();
    return;
  }
  runEndPoll_.stop();
  if (held_signals::TakeHeldStop()) held_signals::StopNow();
  if (!closeRequested_ || closed_) return;
  closed_ = true;
  window_.EndDialog(DialogResult::Cancel);
}

}  // namespace tslflash
