// The window's answer to signals: SIGTERM and SIGHUP close it cleanly when
// no update runs. During a run every held signal (held_signals.h) only
// wakes this watch, which closes the window once the run has ended (or
// stops the program, for a held SIGTSTP); main then acts on the signal.
#pragma once

#include <QObject>
#include <QTimer>
#include <array>
#include <csignal>

namespace tslflash {

class QtDialogWindow;
class UpdateDialog;

class QtSignalWatch final : public QObject {
 public:
  QtSignalWatch(QtDialogWindow& window, UpdateDialog& dialog);
  ~QtSignalWatch() override;
  QtSignalWatch(const QtSignalWatch&) = delete;
  QtSignalWatch& operator=(const QtSignalWatch&) = delete;

  // The window was closed by a signal.
  bool Closed() const { return closed_; }

 private:
  void Wake();
  void ActWhenRunEnded();

  QtDialogWindow& window_;
  UpdateDialog& dialog_;
  std::array<int, 2> pipe_{-1, -1};  // the handlers write, the event loop reads
  QTimer runEndPoll_;
  std::array<struct sigaction, 2> earlier_{};
  bool closeRequested_ = false;
  bool closed_ = false;
};

}  // namespace tslflash
