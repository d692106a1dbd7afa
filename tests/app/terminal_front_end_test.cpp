// The terminal session in-process, against emulated drives: how it ends, and
// that an update's worker reaches the terminal through the UI thread.
#include "ui/terminal/terminal_front_end.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "emulator/emulated_transport.h"
#include "package/embedded_package.h"
#include "tests/support/test_doubles.h"

namespace tslflash {
namespace {

using testing::DriveNamed;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::RefusingTransport;

class TerminalFrontEndTest : public ::testing::Test {
 protected:
  TerminalFrontEndTest() {
    setup_.makeTransport = [] {
      return std::make_unique<emu::EmulatedTransport>(
          emu::MakeEmulators({DriveNamed("VARN", "DVD RW LPX-650A", "1.02"),
                              DriveNamed("OTHERCO", "CD-RW 52X", "2.00")}));
    };
    setup_.package = EmbeddedPackage();
    setup_.options.emulatedDrives = true;
    options_.interactive = false;
    options_.answers = {BoxAnswer::Ok};  // the start-up warning
  }

  TerminalEnd Run() {
    NoWaitClock clock;
    return RunTerminalFrontEnd(setup_, options_, {in_, out_, err_}, clock).end;
  }

  DialogSetup setup_;
  TerminalOptions options_;
  std::istringstream in_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(TerminalFrontEndTest, TheUpgradeWorkerTalksToTheTerminalThroughTheUiThread) {
  options_.selections = {1};
  // The run's confirmation is declined; its "User cancelled." box is read.
  options_.answers.push_back(BoxAnswer::Cancel);
  options_.answers.push_back(BoxAnswer::Ok);
  options_.upgrade = [](UpdateDialog& dialog) { dialog.OnUpgrade(); };
  EXPECT_EQ(Run(), TerminalEnd::NotUpdated);
  EXPECT_THAT(out_.str(), HasSubstr("Check Sum match !!\n"));
  EXPECT_THAT(out_.str(), HasSubstr("[TslFlash]\nDo you really want to upgrade ?\n"
                                    "[O]K/[C]ancel > cancel\n"));
  EXPECT_THAT(out_.str(), HasSubstr("User cancelled.\n"));
}

TEST_F(TerminalFrontEndTest, UpgradeIsNotPressedWhileTheButtonIsDisabled) {
  bool pressed = false;
  options_.upgrade = [&pressed](UpdateDialog&) { pressed = true; };
  EXPECT_EQ(Run(), TerminalEnd::NotUpdated);  // no drive selected: Upgrade stays disabled
  EXPECT_FALSE(pressed);
}

TEST_F(TerminalFrontEndTest, SelectingTheRootSaysNoDriveIsSelected) {
  options_.selections = {0};
  EXPECT_EQ(Run(), TerminalEnd::Completed);
  EXPECT_THAT(out_.str(), HasSubstr("\nNo drive selected.\n"));
}

TEST_F(TerminalFrontEndTest, ADriveNumberBeyondTheTreeEndsTheSession) {
  options_.selections = {3};
  EXPECT_EQ(Run(), TerminalEnd::NoSuchDrive);
  EXPECT_EQ(err_.str(), "tslflash: there is no drive 3 to select; the tree has 2\n");
}

TEST_F(TerminalFrontEndTest, ATransportThatCannotStartEndsTheDialogAtStartup) {
  setup_.makeTransport = [] { return std::make_unique<RefusingTransport>(); };
  EXPECT_EQ(Run(), TerminalEnd::EndedAtStartup);
  EXPECT_THAT(out_.str(), HasSubstr("Initial fail."));
  EXPECT_THAT(out_.str(), Not(HasSubstr("My Computer")));
}

TEST_F(TerminalFrontEndTest, InteractiveSessionsAskForTheDrive) {
  options_.interactive = true;
  in_.str("2\n");
  EXPECT_EQ(Run(), TerminalEnd::Completed);
  EXPECT_THAT(out_.str(), HasSubstr("Select a drive [1-2, 0 = none]: "));
  EXPECT_THAT(out_.str(), HasSubstr("OTHERCO CD-RW 52X        Current firmware : 2.00\n"));
}

TEST_F(TerminalFrontEndTest, TheAboutBoxNeedsNoDrives) {
  setup_.makeTransport = [] { return std::make_unique<RefusingTransport>(); };
  options_.about = true;
  EXPECT_EQ(Run(), TerminalEnd::Completed);
  EXPECT_EQ(out_.str(),
            "[About Tessel Flash Tool]\nTessel Flash Ver. A-7.8\n"
            "Firmware update for CD/DVD drives\n");
}

}  // namespace
}  // namespace tslflash
