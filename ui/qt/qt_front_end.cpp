#include "ui/qt/qt_front_end.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <iostream>
#include <utility>

#include "app/command_line.h"
#include "ui/qt/artwork.h"
#include "ui/qt/qt_signal_watch.h"
#include "ui/qt/qt_text.h"
#include "update/held_signals.h"

namespace tslflash {

QtFrontEnd::QtFrontEnd(const DialogSetup& setup)
    : view_(window_, dispatcher_),
      dialog_(view_, setup.makeTransport(), setup.package,
              setup.skipWaits ? static_cast<Clock&>(noWaitClock_) : systemClock_, std::cout,
              std::make_unique<ThreadRunWorker>(dispatcher_), setup.options) {
  QObject::connect(&window_, &QtDialogWindow::DriveSelectionChanged, &window_,
                   [this] { dialog_.OnDriveSelChanged(window_.GetSelectedTreeItem()); });
  QObject::connect(&window_, &QtDialogWindow::SysCommandChosen, &window_,
                   [this](int commandId) { dialog_.OnSysCommand(commandId); });
  QObject::connect(&window_, &QtDialogWindow::TimerTicked, &window_,
                   [this](int timerId) { dialog_.OnTimer(timerId); });
  QObject::connect(&window_, &QtDialogWindow::UpgradeRequested, &window_,
                   [this] { dialog_.OnUpgrade(); });
  ApplySetup(setup, dialog_);
}

namespace {

// Calls `shown` once, after the first paint of the watched window has been
// delivered; queued, so the paint is complete when it runs.
class FirstPaintWatch final : public QObject {
 public:
  FirstPaintWatch(QWidget& window, std::function<void()> shown) : shown_(std::move(shown)) {
    if (shown_) window.installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && shown_) {
      watched->removeEventFilter(this);
      QTimer::singleShot(0, this, std::exchange(shown_, nullptr));
    }
    return false;
  }

 private:
  std::function<void()> shown_;
};

}  // namespace

int RunQtFrontEnd(int& argc, char** argv, const DialogSetup& setup, std::function<void()> shown) {
  const QApplication application(argc, argv);
  QApplication::setApplicationName(ToQt(kApplicationName));
  QApplication::setWindowIcon(WindowIcon());
  QtFrontEnd frontEnd(setup);
  if (!frontEnd.Dialog().OnInitDialog()) return 1;
  FirstPaintWatch watch(frontEnd.Window(), std::move(shown));
  const QtSignalWatch signalWatch(frontEnd.Window(), frontEnd.Dialog());
  frontEnd.Window().exec();
  return exit_status::OfWindowSession(held_signals::EndHeld(),
                                      frontEnd.Dialog().LastRunCompleted());
}

}  // namespace tslflash
