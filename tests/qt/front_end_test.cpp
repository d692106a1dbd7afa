// The Qt window wired to the dialog's logic over emulated drives: start-up
// fills the tree, choosing a drive describes it, the About and Save report
// items and timer 1 reach the logic.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QProgressBar>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/drive_description.h"
#include "emulator/emulated_transport.h"
#include "qt_test_support.h"
#include "resources/texts.h"
#include "tests/support/received_image.h"
#include "ui/dialog_view.h"
#include "ui/qt/qt_front_end.h"
#include "ui/qt/qt_text.h"
#include "update/announcing_restarter.h"

namespace tslflash {
namespace {

using namespace std::chrono_literals;

DialogSetup EmulatedSetup() {
  DialogSetup setup;
  setup.makeTransport = [] {
    const emu::LoadedDrives loaded =
        emu::LoadDriveDescriptionFile(TSLFLASH_EMULATOR_DRIVES_DIR "/several.json");
    return std::make_unique<emu::EmulatedTransport>(emu::MakeEmulators(loaded.drives));
  };
  setup.package = EmbeddedPackage();
  setup.options.emulatedDrives = true;
  return setup;
}

class QtFrontEndTest : public ::testing::Test {
 protected:
  QtFrontEnd frontEnd_{EmulatedSetup()};
  QtDialogWindow& window_ = frontEnd_.Window();
  QTreeWidget& tree_ = window_.Tree();
};

TEST_F(QtFrontEndTest, StartUpFillsTheTreeAndGreysDrivesThePackageIsNotFor) {
  const qt_test::ModalAnswerer user;
  ASSERT_TRUE(frontEnd_.Dialog().OnInitDialog());
  ASSERT_EQ(user.Seen().size(), 1U);  // the start-up warning, accepted
  EXPECT_EQ(user.Seen().front().buttons, QMessageBox::Ok | QMessageBox::Cancel);

  ASSERT_EQ(tree_.topLevelItemCount(), 1);
  const QTreeWidgetItem* root = tree_.topLevelItem(0);
  EXPECT_EQ(root->text(0), QStringLiteral("My Computer"));
  EXPECT_TRUE(root->isExpanded());
  ASSERT_EQ(root->childCount(), 3);
  EXPECT_EQ(root->child(0)->text(0), QStringLiteral("VARN    DVD RW LPX-650A 1.02"));
  const QColor grey(0x7D, 0x7D, 0x7D);
  EXPECT_FALSE(root->child(0)->data(0, Qt::ForegroundRole).isValid());
  EXPECT_EQ(root->child(1)->foreground(0).color(), grey);
  EXPECT_EQ(root->child(2)->foreground(0).color(), grey);
  EXPECT_FALSE(window_.Control(ControlId::Upgrade)->isEnabled());
  EXPECT_TRUE(window_.windowTitle().startsWith(QStringLiteral("Flash Tool (ver. A-7.8)")));
  EXPECT_NE(window_.AboutAction(), nullptr);
  EXPECT_EQ(window_.SaveReportAction(), nullptr);  // no report to save
}

TEST_F(QtFrontEndTest, ChoosingADriveDescribesItAndEnablesUpgrade) {
  const qt_test::ModalAnswerer user;
  ASSERT_TRUE(frontEnd_.Dialog().OnInitDialog());
  tree_.setCurrentItem(tree_.topLevelItem(0)->child(0));
  EXPECT_EQ(window_.GetControlText(ControlId::Log),
            "VARN    DVD RW LPX-650A  Current firmware : 1.02");
  EXPECT_TRUE(window_.Control(ControlId::Upgrade)->isEnabled());
  EXPECT_EQ(frontEnd_.Dialog().SelectedDriveIndex(), 0U);

  tree_.setCurrentItem(tree_.topLevelItem(0)->child(2));
  EXPECT_EQ(frontEnd_.Dialog().SelectedDriveIndex(), 2U);
  tree_.setCurrentItem(tree_.topLevelItem(0));
  EXPECT_EQ(window_.GetControlText(ControlId::Log), kNoDriveSelectedText);
}

TEST_F(QtFrontEndTest, DecliningTheWarningEndsTheDialogBeforeTheDrivesAreListed) {
  const qt_test::ModalAnswerer user({QMessageBox::Cancel});
  EXPECT_FALSE(frontEnd_.Dialog().OnInitDialog());
  ASSERT_EQ(user.Seen().size(), 2U);
  EXPECT_EQ(user.Seen().back().text, QStringLiteral("User cancelled."));
  EXPECT_EQ(user.Seen().back().title, ToQt(kApplicationName));
  EXPECT_EQ(window_.result(), QDialog::Rejected);
  EXPECT_EQ(tree_.topLevelItemCount(), 0);
}

TEST_F(QtFrontEndTest, AboutItemOpensTheAboutBox) {
  const qt_test::ModalAnswerer user;
  ASSERT_TRUE(frontEnd_.Dialog().OnInitDialog());
  window_.AboutAction()->trigger();
  ASSERT_EQ(user.Seen().size(), 2U);
  EXPECT_EQ(user.Seen().back().title, QStringLiteral("About Tessel Flash Tool"));
}

// Save report in the window writes the report where the file dialog says.
TEST(QtSaveReportTest, SavesTheReportWhereTheFileDialogSays) {
  const std::filesystem::path folder =
      std::filesystem::path(::testing::TempDir()) / "qt_save_report_test";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "report.txt").string();
  DialogSetup setup = EmulatedSetup();
  setup.supportReport = [](const UpdateDialog& dialog) { return "Report\n" + dialog.LogPane(); };
  QtFrontEnd frontEnd(setup);
  QtDialogWindow& window = frontEnd.Window();
  std::vector<std::string> suggested;
  window.UseSaveFileAsker([&](std::string_view name) {
    suggested.emplace_back(name);
    return std::optional<std::string>(path);
  });
  const qt_test::ModalAnswerer user;
  ASSERT_TRUE(frontEnd.Dialog().OnInitDialog());
  ASSERT_NE(window.SaveReportAction(), nullptr);
  window.SaveReportAction()->trigger();

  EXPECT_EQ(suggested, std::vector<std::string>{"tslflash-report.txt"});
  EXPECT_EQ(user.Seen().size(), 1U);  // the start-up warning; no box after saving
  std::ifstream saved(path, std::ios::binary);
  std::stringstream text;
  text << saved.rdbuf();
  EXPECT_EQ(text.str(), "Report\n" + frontEnd.Dialog().LogPane());
  EXPECT_NE(text.str().find(kEmulatedNotice), std::string::npos);
  saved.close();
  std::filesystem::remove_all(folder);
}

TEST_F(QtFrontEndTest, TimerOneStepsTheProgressBar) {
  const auto* bar = static_cast<QProgressBar*>(window_.Control(ControlId::Progress));
  window_.SetProgressRange(0, 100);
  window_.SetProgressPosition(0);
  window_.SetProgressStep(1);
  window_.StartTimer(kProgressTimer, 0ms);
  ASSERT_TRUE(qt_test::ProcessEventsUntil([&] { return bar->value() >= 3; }));
  window_.StopTimer(kProgressTimer);
}

}  // namespace
}  // namespace tslflash

namespace tslflash {
namespace {

// The whole road in the window: choose the drive, press Upgrade, answer the
// boxes; the emulated drive ends up holding the package's image.
TEST(QtWholeRoadTest, UpgradeFlashesTheChosenDrive) {
  const emu::LoadedDrives loaded =
      emu::LoadDriveDescriptionFile(TSLFLASH_EMULATOR_DRIVES_DIR "/demo.json");
  ASSERT_TRUE(loaded.Ok()) << loaded.error;
  const auto drives = emu::MakeEmulators(loaded.drives);
  DialogSetup setup;
  setup.makeTransport = [drives] { return std::make_unique<emu::EmulatedTransport>(drives); };
  setup.package = EmbeddedPackage();
  setup.options.emulatedDrives = true;
  setup.skipWaits = true;
  QtFrontEnd frontEnd(setup);
  QtDialogWindow& window = frontEnd.Window();

  const qt_test::ModalAnswerer user;  // OK to every box
  ASSERT_TRUE(frontEnd.Dialog().OnInitDialog());
  window.Tree().setCurrentItem(window.Tree().topLevelItem(0)->child(0));
  auto* upgrade = qobject_cast<QAbstractButton*>(window.Control(ControlId::Upgrade));
  ASSERT_NE(upgrade, nullptr);
  upgrade->click();
  ASSERT_TRUE(qt_test::ProcessEventsUntil(
      [&] { return frontEnd.Dialog().CanClose() && frontEnd.Dialog().LastRunCompleted(); }));
  frontEnd.Dialog().WaitForRun();

  EXPECT_TRUE(testing::TookTheEmbeddedImage(*drives[0]));
  EXPECT_FALSE(drives[1]->ReceivedImage().has_value());
  // Warning, confirmation, restart offer; the log ends with the announcement.
  ASSERT_EQ(user.Seen().size(), 3U);
  EXPECT_EQ(user.Seen()[2].title, QStringLiteral("Reboot Warning"));
  EXPECT_TRUE(window.Control(ControlId::Upgrade)->isEnabled());
  EXPECT_NE(window.GetControlText(ControlId::Log).find(kRestartAnnouncement), std::string::npos);
}

}  // namespace
}  // namespace tslflash
