// Writes a picture of the main dialog as a user sees it after updating the
// first of the emulated drives a description file names: the log pane ends
// with what the drive reports afterwards, the tree shows its new revision,
// and the window's menu is open on About and Save report.
// Usage: qt_demo_screenshot DRIVES.json OUTPUT.png (under an X server);
// tools/screenshots.sh runs it on the README's demo, its first drive made to
// run the new firmware at once.
#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QTreeWidget>
#include <iostream>
#include <string>

#include "emulator/drive_description.h"
#include "emulator/emulated_transport.h"
#include "package/embedded_package.h"
#include "qt_test_support.h"
#include "ui/qt/artwork.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_front_end.h"
#include "ui/qt/qt_text.h"

namespace {

tslflash::DialogSetup EmulatedSetup(const tslflash::emu::LoadedDrives& loaded) {
  tslflash::DialogSetup setup;
  setup.makeTransport = [&loaded] {
    return std::make_unique<tslflash::emu::EmulatedTransport>(
        tslflash::emu::MakeEmulators(loaded.drives));
  };
  setup.package = tslflash::EmbeddedPackage();
  setup.options.emulatedDrives = true;
  setup.skipWaits = true;
  // The window offers Save report as the program's does; nothing is saved.
  setup.supportReport = [](const tslflash::UpdateDialog&) { return std::string(); };
  return setup;
}

// Upgrade on the first drive: the update confirmed, the restart declined, so
// the log pane ends with what the drive reports. False when it did not
// complete.
bool UpdateFirstDrive(tslflash::QtFrontEnd& frontEnd) {
  tslflash::QtDialogWindow& window = frontEnd.Window();
  QTreeWidget& tree = window.Tree();
  tree.setFocus();
  tree.setCurrentItem(tree.topLevelItem(0)->child(0));
  const tslflash::qt_test::ModalAnswerer user({QMessageBox::Ok, QMessageBox::Cancel});
  static_cast<QAbstractButton*>(window.Control(tslflash::ControlId::Upgrade))->click();
  tslflash::qt_test::ProcessEventsUntil([&] { return !frontEnd.Dialog().RunActive(); });
  frontEnd.Dialog().WaitForRun();
  return frontEnd.Dialog().LastRunCompleted();
}

// The window with its context menu open over the empty right of the tree, as
// one picture: the menu is a window of its own.
QPixmap WindowWithMenu(tslflash::QtDialogWindow& window) {
  QMenu menu(&window);
  menu.addActions(window.actions());
  const tslflash::DialogUnits units(window.font());
  const QPoint at(units.X(170), units.Y(20));
  menu.popup(window.mapToGlobal(at));
  tslflash::qt_test::ProcessEventsUntil([&] { return menu.isVisible(); }, std::chrono::seconds(2));
  QApplication::processEvents();
  QPixmap picture = window.grab();
  QPainter painter(&picture);
  const QPixmap menuPicture = menu.grab();
  painter.drawPixmap(at, menuPicture);
  // The edge a window manager would draw around the menu's window.
  painter.setPen(menu.palette().color(QPalette::Dark));
  painter.drawRect(
      QRect(at, menuPicture.size() / menuPicture.devicePixelRatio()).adjusted(0, 0, -1, -1));
  return picture;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: qt_demo_screenshot DRIVES.json OUTPUT.png\n";
    return 2;
  }
  const QApplication application(argc, argv);
  QApplication::setApplicationName(tslflash::ToQt(tslflash::kApplicationName));
  QApplication::setWindowIcon(tslflash::WindowIcon());

  const tslflash::emu::LoadedDrives loaded = tslflash::emu::LoadDriveDescriptionFile(argv[1]);
  if (!loaded.Ok()) {
    std::cerr << loaded.error << '\n';
    return 1;
  }
  tslflash::QtFrontEnd frontEnd(EmulatedSetup(loaded));
  {
    const tslflash::qt_test::ModalAnswerer user;  // accepts the start-up warning
    if (!frontEnd.Dialog().OnInitDialog()) return 1;
  }
  tslflash::QtDialogWindow& window = frontEnd.Window();
  window.show();
  window.activateWindow();
  tslflash::qt_test::ProcessEventsUntil([&] { return window.isActiveWindow(); },
                                        std::chrono::seconds(2));
  if (!UpdateFirstDrive(frontEnd)) {
    std::cerr << "the update of the first drive did not complete\n";
    return 1;
  }
  QApplication::processEvents();

  if (!WindowWithMenu(window).save(QString::fromLocal8Bit(argv[2]))) {
    std::cerr << "cannot write " << argv[2] << '\n';
    return 1;
  }
  return 0;
}
