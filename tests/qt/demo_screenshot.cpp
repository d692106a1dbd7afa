// Writes a picture of the main dialog as a user sees it after start-up over
// the emulated drives a description file names, with the first drive chosen.
// Usage: qt_demo_screenshot DRIVES.json OUTPUT.png (under an X server);
// tools/screenshots.sh runs it on the README's demo.
#include <QApplication>
#include <QTreeWidget>
#include <iostream>

#include "emulator/drive_description.h"
#include "emulator/emulated_transport.h"
#include "package/embedded_package.h"
#include "qt_test_support.h"
#include "ui/qt/artwork.h"
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
  return setup;
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
  QTreeWidget& tree = window.Tree();
  tree.setFocus();
  tree.setCurrentItem(tree.topLevelItem(0)->child(0));
  tslflash::qt_test::ProcessEventsUntil([&] { return window.isActiveWindow(); },
                                        std::chrono::seconds(2));
  QApplication::processEvents();

  if (!window.grab().save(QString::fromLocal8Bit(argv[2]))) {
    std::cerr << "cannot write " << argv[2] << '\n';
    return 1;
  }
  return 0;
}
