// SIGTERM and SIGHUP against the window: outside a run they close it; during
// a run they are held and close it only once the run has ended, the drive
// holding the whole image.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QTreeWidget>
#include <csignal>
#include <string>

#include "emulator/drive_description.h"
#include "emulator/emulated_transport.h"
#include "qt_test_support.h"
#include "tests/support/received_image.h"
#include "ui/qt/qt_front_end.h"
#include "ui/qt/qt_signal_watch.h"
#include "update/held_signals.h"
#include "update/run_shield.h"

namespace tslflash {
namespace {

class QtSignalWatchTest : public ::testing::TestWithParam<int> {
 protected:
  QtSignalWatchTest() {
    emu::LoadedDrives loaded =
        emu::LoadDriveDescriptionFile(TSLFLASH_EMULATOR_DRIVES_DIR "/demo.json");
    loaded.drives.at(0).commandDelayMs = 20;  // slow enough to be caught in the transfer
    drives_ = emu::MakeEmulators(loaded.drives);
  }

  DialogSetup Setup() const {
    DialogSetup setup;
    setup.makeTransport = [drives = drives_] {
      return std::make_unique<emu::EmulatedTransport>(drives);
    };
    setup.package = EmbeddedPackage();
    setup.options.emulatedDrives = true;
    setup.skipWaits = true;
    // The real shield, as the program gives emulated drives.
    setup.makeRunShield = [] { return MakeSystemRunShield(SleepLock::None); };
    return setup;
  }

  std::vector<std::shared_ptr<emu::DriveEmulator>> drives_;
};

TEST_P(QtSignalWatchTest, OutsideARunTheSignalClosesTheWindow) {
  QtFrontEnd frontEnd(Setup());
  const qt_test::ModalAnswerer user;
  ASSERT_TRUE(frontEnd.Dialog().OnInitDialog());
  const QtSignalWatch watch(frontEnd.Window(), frontEnd.Dialog());
  frontEnd.Window().show();
  kill(getpid(), GetParam());
  EXPECT_TRUE(qt_test::ProcessEventsUntil([&] { return !frontEnd.Window().isVisible(); }));
  EXPECT_TRUE(watch.Closed());
  EXPECT_EQ(held_signals::TakeHeldEnd(), std::nullopt);
}

TEST_P(QtSignalWatchTest, DuringARunTheSignalIsHeldUntilTheRunHasEnded) {
  QtFrontEnd frontEnd(Setup());
  QtDialogWindow& window = frontEnd.Window();
  UpdateDialog& dialog = frontEnd.Dialog();
  const qt_test::ModalAnswerer user;  // OK to every box
  ASSERT_TRUE(dialog.OnInitDialog());
  const QtSignalWatch watch(window, dialog);
  window.show();
  bool activeWhenClosed = true;
  QObject::connect(&window, &QDialog::finished, [&] { activeWhenClosed = dialog.RunActive(); });

  window.Tree().setCurrentItem(window.Tree().topLevelItem(0)->child(0));
  qobject_cast<QAbstractButton*>(window.Control(ControlId::Upgrade))->click();
  ASSERT_TRUE(qt_test::ProcessEventsUntil([&] {
    return window.GetControlText(ControlId::Log).find("Don't turn off the power!!") !=
           std::string::npos;
  }));
  kill(getpid(), GetParam());
  ASSERT_TRUE(qt_test::ProcessEventsUntil([&] { return watch.Closed(); }));
  dialog.WaitForRun();

  EXPECT_FALSE(activeWhenClosed);
  EXPECT_TRUE(dialog.LastRunCompleted());
  EXPECT_TRUE(testing::TookTheEmbeddedImage(*drives_[0]));
  EXPECT_EQ(held_signals::TakeHeldEnd(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(TermAndHup, QtSignalWatchTest, ::testing::Values(SIGTERM, SIGHUP),
                         [](const auto& param) { return std::string(sigabbrev_np(param.param)); });

}  // namespace
}  // namespace tslflash
