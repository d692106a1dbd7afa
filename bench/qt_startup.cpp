// Start-up of the window, for the benchmark table: runs the Qt front end on
// the emulated drives of FILE with the built-in package, answers the start-up
// warning with OK, and quits once the dialog has first been painted.
// run_all.py times whole runs of it.
//   tslflash_qt_startup FILE      (QT_QPA_PLATFORM=offscreen without a display)
#include <QCoreApplication>
#include <cstdio>
#include <memory>

#include "app/dialog_setup.h"
#include "emulator/drive_description.h"
#include "emulator/emulated_transport.h"
#include "package/embedded_package.h"
#include "tests/qt/qt_test_support.h"
#include "ui/qt/qt_front_end.h"

namespace tslflash {
namespace {

// Made as the application starts, so it is there for the warning box that
// comes before the dialog; gone before the application is.
qt_test::ModalAnswerer* answerer = nullptr;

void StartAnswering() {
  answerer = new qt_test::ModalAnswerer();
  qAddPostRoutine([] {
    delete answerer;
    answerer = nullptr;
  });
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(StartAnswering)

}  // namespace tslflash

int main(int argc, char** argv) {
  using namespace tslflash;
  if (argc != 2) {
    std::fprintf(stderr, "usage: tslflash_qt_startup DRIVES.json\n");
    return 2;
  }
  const emu::LoadedDrives loaded = emu::LoadDriveDescriptionFile(argv[1]);
  if (!loaded.Ok()) {
    std::fprintf(stderr, "tslflash_qt_startup: %s\n", loaded.error.c_str());
    return 2;
  }
  const auto emulators = emu::MakeEmulators(loaded.drives);
  DialogSetup setup;
  setup.makeTransport = [&emulators] {
    return std::make_unique<emu::EmulatedTransport>(emulators);
  };
  setup.package = EmbeddedPackage();
  setup.options.emulatedDrives = true;
  setup.skipWaits = true;
  return RunQtFrontEnd(argc, argv, setup, [] { QCoreApplication::quit(); });
}
