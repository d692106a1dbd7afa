// The whole road in the Win32 window, the test answering every box: choose
// the package's drive, press Upgrade, confirm; while the run is held in the
// drive's settle wait, Exit and Close are refused and the bar moves; the
// restart offer is declined; the emulated drive holds the package's image.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/command_line.h"
#include "resources/texts.h"
#include "tests/support/received_image.h"
#include "ui/win32/resource_ids.h"
#include "update/held_signals.h"
#include "win32_test_support.h"

namespace tslflash {
namespace {

using win32_test::DialogThread;
using win32_test::HoldingClock;
using win32_test::SeenBox;
using win32_test::WaitUntil;
using win32_test::WindowText;

bool Enabled(HWND control) { return IsWindowEnabled(control) != 0; }

bool CloseGreyed(HWND dialog) {
  return (GetMenuState(GetSystemMenu(dialog, FALSE), SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

// Lets a held run go on when the test ends early.
struct ReleaseAtEnd {
  HoldingClock& clock;
  ~ReleaseAtEnd() { clock.Release(); }
};

class Win32WholeRoadTest : public win32_test::WindowTest {};

TEST_F(Win32WholeRoadTest, UpgradeFlashesTheChosenDriveAndNothingEndsTheDialogMeanwhile) {
  HoldingClock clock;
  std::vector<std::shared_ptr<emu::DriveEmulator>> drives;
  DialogThread dialog(win32_test::DemoSetup(&drives), &clock);
  const ReleaseAtEnd release{clock};
  ASSERT_TRUE(dialog.Answer(BoxAnswer::Ok).has_value());  // the start-up warning
  HWND window = dialog.Dialog();
  HWND tree = dialog.Control(IDC_DRIVE_TREE);
  HWND upgrade = dialog.Control(IDC_UPGRADE);
  HWND exit = dialog.Control(IDCANCEL);
  ASSERT_TRUE(WaitUntil([window] { return IsWindowVisible(window) != 0; }));
  win32_test::SelectItem(tree, win32_test::DriveItem(tree, 0));
  ASSERT_TRUE(Enabled(upgrade));

  PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_UPGRADE, BN_CLICKED),
               reinterpret_cast<LPARAM>(upgrade));
  HWND confirmation = dialog.WaitForOwnedBox();
  ASSERT_NE(confirmation, nullptr);
  const SeenBox confirm = DialogThread::Read(confirmation);
  EXPECT_EQ(confirm.text, "Do you really want to upgrade ?");
  EXPECT_EQ(confirm.caption, kApplicationName);
  EXPECT_TRUE(confirm.hasCancel);
  // The run has begun: Exit (and Escape, which sends the same command) is
  // refused while the box waits.
  EXPECT_FALSE(Enabled(exit));
  EXPECT_FALSE(Enabled(upgrade));
  SendMessageA(window, WM_COMMAND, IDCANCEL, 0);
  EXPECT_NE(IsWindowVisible(window), 0);
  DialogThread::Press(confirmation, IDOK);

  // Held in the settle wait after the transfer: the Close command is greyed
  // and refused, both buttons stay disabled, timer 1 moves the bar.
  ASSERT_TRUE(clock.WaitUntilHeld());
  EXPECT_TRUE(CloseGreyed(window));
  SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  SendMessageA(window, WM_CLOSE, 0, 0);
  SendMessageA(window, WM_COMMAND, IDCANCEL, 0);
  EXPECT_NE(IsWindowVisible(window), 0);
  EXPECT_FALSE(dialog.Finished());
  EXPECT_FALSE(Enabled(exit));
  EXPECT_FALSE(Enabled(upgrade));
  HWND bar = dialog.Control(IDC_PROGRESS);
  EXPECT_TRUE(WaitUntil([bar] { return SendMessageA(bar, PBM_GETPOS, 0, 0) > 0; }));
  clock.Release();

  const std::optional<SeenBox> offer = dialog.Answer(BoxAnswer::Cancel);
  ASSERT_TRUE(offer.has_value());
  EXPECT_EQ(offer->caption, "Reboot Warning");
  EXPECT_TRUE(offer->hasCancel);
  EXPECT_FALSE(CloseGreyed(window));
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 100);
  const std::string log = WindowText(dialog.Control(IDC_LOG));
  EXPECT_NE(log.find("Start to upgrade..."), std::string::npos) << log;
  EXPECT_EQ(log.find("FAIL"), std::string::npos) << log;

  // The run over, Exit ends the dialog.
  ASSERT_TRUE(WaitUntil([exit] { return Enabled(exit); }));
  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(dialog.ExitCode(), 0);

  EXPECT_TRUE(testing::TookTheEmbeddedImage(*drives[0]));
  EXPECT_FALSE(drives[1]->ReceivedImage().has_value());
}

// A console event held during a run ends the program once the run is over;
// the session's status then says whether that run completed, never 0 for
// one that did not.
TEST_F(Win32WholeRoadTest, AConsoleEventHeldDuringARunThatDidNotCompleteEndsAsNotUpdated) {
  held_signals::Hold();
  ASSERT_TRUE(held_signals::HoldConsoleEvent(CTRL_C_EVENT));
  held_signals::Release();
  std::vector<std::shared_ptr<emu::DriveEmulator>> drives;
  DialogThread dialog(win32_test::DemoSetup(&drives));
  ASSERT_TRUE(dialog.Answer(BoxAnswer::Ok).has_value());  // the start-up warning
  HWND window = dialog.Dialog();
  HWND tree = dialog.Control(IDC_DRIVE_TREE);
  ASSERT_TRUE(WaitUntil([window] { return IsWindowVisible(window) != 0; }));
  win32_test::SelectItem(tree, win32_test::DriveItem(tree, 0));
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_UPGRADE, BN_CLICKED),
               reinterpret_cast<LPARAM>(dialog.Control(IDC_UPGRADE)));
  ASSERT_TRUE(dialog.Answer(BoxAnswer::Cancel).has_value());  // no to the update
  const std::optional<SeenBox> cancelled = dialog.Answer(BoxAnswer::Ok);
  ASSERT_TRUE(cancelled.has_value());
  EXPECT_EQ(cancelled->text, "User cancelled.");
  HWND exit = dialog.Control(IDCANCEL);
  ASSERT_TRUE(WaitUntil([exit] { return Enabled(exit); }));
  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(dialog.ExitCode(), exit_status::kNotUpdated);
  EXPECT_FALSE(drives[0]->ReceivedImage().has_value());
  EXPECT_EQ(held_signals::TakeHeldEnd(), SIGINT);
}

}  // namespace
}  // namespace tslflash
