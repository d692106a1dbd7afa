#include "ui/qt/qt_front_end.h"

#include <QApplication>
#include <iostream>

#include "ui/qt/artwork.h"
#include "ui/qt/qt_text.h"

namespace tslflash {

QtFrontEnd::QtFrontEnd(const DialogSetup& setup)
    : view_(window_, dispatcher_),
      dialog_(view_, setup.makeTransport(), setup.package,
              setup.skipWaits ? static_cast<Clock&>(noWaitClock_) : systemClock_, std::cout,
              setup.options) {
  QObject::connect(&window_, &QtDialogWindow::DriveSelectionChanged, &window_,
                   [this] { dialog_.OnDriveSelChanged(); });
  QObject::connect(&window_, &QtDialogWindow::SysCommandChosen, &window_,
                   [this](int commandId) { dialog_.OnSysCommand(commandId); });
  QObject::connect(&window_, &QtDialogWindow::TimerTicked, &window_,
                   [this](int timerId) { dialog_.OnTimer(timerId); });
  QObject::connect(&window_, &QtDialogWindow::UpgradeRequested, &window_,
                   [this] { dialog_.OnUpgrade(); });
  ApplySetup(setup, dialog_);
}

QtFrontEnd::~QtFrontEnd() { window_.JoinWorker(); }

int RunQtFrontEnd(int& argc, char** argv, const DialogSetup& setup) {
  const QApplication application(argc, argv);
  QApplication::setApplicationName(ToQt(kApplicationName));
  QApplication::setWindowIcon(WindowIcon());
  QtFrontEnd frontEnd(setup);
  if (!frontEnd.Dialog().OnInitDialog()) return 1;
  frontEnd.Window().exec();
  return 0;
}

}  // namespace tslflash
