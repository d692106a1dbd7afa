// The Win32 dialog as the user meets it, over the demo's emulated drives: the
// template's controls, start-up, the system menu's About and Save report
// items, choosing a drive, and a declined warning.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "resources/texts.h"
#include "ui/dialog_view.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/win32_tree_control.h"
#include "win32_test_support.h"

namespace tslflash {
namespace {

using win32_test::Children;
using win32_test::ClassName;
using win32_test::ClientArea;
using win32_test::DialogThread;
using win32_test::DialogUnits;
using win32_test::PlaceInDialog;
using win32_test::SeenBox;
using win32_test::WaitUntil;
using win32_test::WindowText;

// The last `count` items of a menu, in order: separators, or command id and text.
struct MenuItem {
  bool separator = false;
  UINT id = 0;
  std::string text;
  friend bool operator==(const MenuItem&, const MenuItem&) = default;
  friend void PrintTo(const MenuItem& item, std::ostream* out) {
    *out << (item.separator ? "separator" : std::to_string(item.id) + " " + item.text);
  }
};
const MenuItem kSeparator{true, 0, ""};
std::vector<MenuItem> LastMenuItems(HMENU menu, int count) {
  std::vector<MenuItem> items;
  const int total = GetMenuItemCount(menu);
  for (int at = std::max(0, total - count); at < total; ++at) {
    const auto place = static_cast<UINT>(at);
    if ((GetMenuState(menu, place, MF_BYPOSITION) & MF_SEPARATOR) != 0) {
      items.push_back(kSeparator);
      continue;
    }
    char text[64] = {};
    GetMenuStringA(menu, place, text, static_cast<int>(sizeof(text)), MF_BYPOSITION);
    items.push_back({false, GetMenuItemID(menu, at), text});
  }
  return items;
}

DWORD StyleOf(HWND window) { return static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)); }
DWORD ExStyleOf(HWND window) { return static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE)); }

class Win32DialogTest : public win32_test::WindowTest {
 protected:
  // Start-up with the warning accepted: the dialog shows the drives.
  HWND StartUp() {
    const std::optional<SeenBox> warning = dialog_.Answer(BoxAnswer::Ok);
    EXPECT_TRUE(warning.has_value());
    HWND dialog = dialog_.Dialog();
    EXPECT_TRUE(WaitUntil([dialog] { return IsWindowVisible(dialog) != 0; }));
    return dialog;
  }

  HWND Tree() { return dialog_.Control(IDC_DRIVE_TREE); }
  HTREEITEM Root() { return win32_test::RootItem(Tree()); }
  HTREEITEM Drive(int index) { return win32_test::DriveItem(Tree(), index); }
  void Select(HTREEITEM item) { win32_test::SelectItem(Tree(), item); }

  DialogThread dialog_{win32_test::DemoSetup()};
};

TEST_F(Win32DialogTest, StartUpWarnsOverTheTemplateThenListsTheDrives) {
  HWND box = dialog_.WaitForOwnedBox();
  ASSERT_NE(box, nullptr);
  HWND dialog = dialog_.Dialog();
  EXPECT_EQ(WindowText(dialog), "Flash Tool (ver. A-7.8)");  // the template's, until start-up ends
  EXPECT_EQ(IsWindowVisible(dialog), 0);
  const SeenBox warning = DialogThread::Read(box);
  EXPECT_EQ(warning.caption, kWarningCaption);
  EXPECT_TRUE(warning.hasCancel);
  EXPECT_TRUE(warning.hasIcon);
  DialogThread::Press(box, IDOK);

  ASSERT_TRUE(WaitUntil([dialog] { return IsWindowVisible(dialog) != 0; }));
  EXPECT_EQ(WindowText(dialog), "Flash Tool (ver. A-7.8) [emulated drives]");
  EXPECT_EQ(IsWindowEnabled(dialog_.Control(IDC_UPGRADE)), 0);
  EXPECT_NE(IsWindowEnabled(dialog_.Control(IDCANCEL)), 0);
  EXPECT_EQ(tree_control::ItemText(Tree(), Root()), kTreeRootText);
  EXPECT_NE(tree_control::ItemState(Tree(), Root(), TVIS_EXPANDED) & TVIS_EXPANDED, 0U);
  EXPECT_EQ(tree_control::ItemText(Tree(), Drive(0)), "VARN    DVD RW LPX-650A 1.02");
  EXPECT_EQ(tree_control::ItemText(Tree(), Drive(1)), "OTHERCO CD-RW 52X       2.00");
  EXPECT_EQ(tree_control::ItemText(Tree(), Drive(2)), "VARN    DVD RW LPX-412A 1.00");
  EXPECT_EQ(Drive(3), nullptr);

  // The window's icon, big and small, is the one it gives for dragging.
  const LRESULT icon = SendMessageA(dialog, WM_QUERYDRAGICON, 0, 0);
  EXPECT_NE(icon, 0);
  EXPECT_EQ(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0), icon);
  EXPECT_EQ(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0), icon);
}

TEST_F(Win32DialogTest, ControlsSitWhereTheTemplatePutsThemInTabOrder) {
  HWND dialog = StartUp();
  EXPECT_EQ(
      StyleOf(dialog) & (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME),
      static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME));
  EXPECT_EQ(StyleOf(dialog) & WS_MAXIMIZEBOX, 0U);
  EXPECT_NE(ExStyleOf(dialog) & WS_EX_APPWINDOW, 0U);
  EXPECT_EQ(ClientArea(dialog), DialogUnits(dialog, 0, 0, 310, 156));

  struct Units {
    int x, y, width, height;
  };
  struct Expected {
    int id;
    const char* className;
    const char* text;
    Units place;
    DWORD mask;    // the style bits looked at
    DWORD styles;  // which of them are set
  };
  constexpr DWORD kTreeStyles = TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                                TVS_DISABLEDRAGDROP | TVS_SHOWSELALWAYS | TVS_TRACKSELECT |
                                TVS_INFOTIP;
  constexpr DWORD kLogStyles = ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_TABSTOP;
  // Push buttons take and give up the default look as the focus moves, so
  // only their tab stop is looked at.
  const std::array<Expected, 6> expected = {{
      {IDCANCEL, "Button", "E&xit", {51, 136, 76, 14}, WS_TABSTOP, WS_TABSTOP},
      {IDC_DEVICES_LABEL,
       "Static",
       "&Devices:",
       {8, 3, 120, 9},
       SS_TYPEMASK | WS_GROUP | WS_TABSTOP,
       SS_LEFT | WS_GROUP},
      {IDC_DRIVE_TREE,
       "SysTreeView32",
       "",
       {8, 13, 292, 41},
       0xFFFF | WS_TABSTOP,
       kTreeStyles | WS_TABSTOP},
      {IDC_PROGRESS, "msctls_progress32", "", {8, 122, 292, 10}, 0xFF | WS_TABSTOP, 0},
      {IDC_UPGRADE, "Button", "&Upgrade", {183, 136, 76, 14}, WS_TABSTOP, WS_TABSTOP},
      {IDC_LOG, "Edit", nullptr, {8, 56, 292, 62}, kLogStyles, kLogStyles},
  }};
  const std::vector<HWND> children = Children(dialog);
  ASSERT_EQ(children.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Expected& e = expected[i];
    HWND control = children[i];  // z-order: template order, which is the tab order
    SCOPED_TRACE(e.id);
    EXPECT_EQ(GetDlgCtrlID(control), e.id);
    EXPECT_EQ(ClassName(control), e.className);
    if (e.text != nullptr) {
      EXPECT_EQ(WindowText(control), e.text);
    }
    EXPECT_EQ(StyleOf(control) & e.mask, e.styles);
    EXPECT_EQ(PlaceInDialog(control),
              DialogUnits(dialog, e.place.x, e.place.y, e.place.width, e.place.height));
  }
  // The log pane has a border, drawn sunken in a dialog.
  HWND log = dialog_.Control(IDC_LOG);
  EXPECT_TRUE((StyleOf(log) & WS_BORDER) != 0 || (ExStyleOf(log) & WS_EX_CLIENTEDGE) != 0);
}

TEST_F(Win32DialogTest, SystemMenuOpensTheAboutBoxForItsCommandsOnly) {
  HWND dialog = StartUp();
  HMENU menu = GetSystemMenu(dialog, FALSE);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(LastMenuItems(menu, 2),
            (std::vector<MenuItem>{kSeparator, {false, kAboutCommand, "About flash(&A)..."}}));

  for (const WPARAM command : {WPARAM{0x10}, WPARAM{0x1F}}) {
    SCOPED_TRACE(command);
    PostMessageA(dialog, WM_SYSCOMMAND, command, 0);
    HWND about = dialog_.WaitForOwnedBox();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(WindowText(about), kAboutCaption);
    DialogThread::Press(about, IDOK);
  }
  // Not an About command: default processing, which does nothing with it.
  DWORD_PTR ignored = 0;
  ASSERT_NE(SendMessageTimeoutA(dialog, WM_SYSCOMMAND, 0x20, 0, SMTO_NORMAL, 20000, &ignored), 0)
      << "a box opened for command 20h";
}

class Win32SaveReportTest : public win32_test::WindowTest {};

// With a report to save, the system menu's last item saves it where the file
// dialog says.
TEST_F(Win32SaveReportTest, LastSystemMenuItemSavesTheReportWhereTheFileDialogSays) {
  char folder[MAX_PATH] = {};
  ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0U);
  const std::string path = std::string(folder) + "tslflash-save-report-test.txt";
  DeleteFileA(path.c_str());
  std::vector<std::string> suggested;
  DialogSetup setup = win32_test::DemoSetup();
  setup.supportReport = [](const UpdateDialog& dialog) { return "Report\n" + dialog.LogPane(); };
  {
    DialogThread thread(std::move(setup), nullptr, [&](std::string_view name) {
      suggested.emplace_back(name);
      return std::optional<std::string>(path);
    });
    ASSERT_TRUE(thread.Answer(BoxAnswer::Ok).has_value());
    HWND dialog = thread.Dialog();
    ASSERT_TRUE(WaitUntil([dialog] { return IsWindowVisible(dialog) != 0; }));
    HMENU menu = GetSystemMenu(dialog, FALSE);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(LastMenuItems(menu, 3), (std::vector<MenuItem>{
                                          kSeparator,
                                          {false, kAboutCommand, "About flash(&A)..."},
                                          {false, kSaveReportCommand, "Save report..."},
                                      }));

    DWORD_PTR handled = 0;
    ASSERT_NE(SendMessageTimeoutA(dialog, WM_SYSCOMMAND, kSaveReportCommand, 0, SMTO_NORMAL, 20000,
                                  &handled),
              0);
  }
  EXPECT_EQ(suggested, std::vector<std::string>{std::string(kSaveReportFileName)});
  std::ifstream saved(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.rfind("Report\n", 0), 0U) << text;
  EXPECT_NE(text.find(kEmulatedNotice), std::string::npos) << text;
  saved.close();
  DeleteFileA(path.c_str());
}

TEST_F(Win32DialogTest, AboutBoxShowsTheToolsNameAndVersion) {
  HWND dialog = StartUp();
  PostMessageA(dialog, WM_SYSCOMMAND, kAboutCommand, 0);
  HWND about = dialog_.WaitForOwnedBox();
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(WindowText(about), kAboutCaption);
  EXPECT_EQ(ClientArea(about), DialogUnits(about, 0, 0, 235, 55));

  const std::vector<HWND> children = Children(about);
  ASSERT_EQ(children.size(), 4U);
  EXPECT_EQ(StyleOf(children[0]) & SS_TYPEMASK, static_cast<DWORD>(SS_ICON));
  EXPECT_NE(SendMessageA(children[0], STM_GETICON, 0, 0), 0);
  EXPECT_EQ(PlaceInDialog(children[0]).left, DialogUnits(about, 11, 17, 20, 20).left);
  EXPECT_EQ(PlaceInDialog(children[0]).top, DialogUnits(about, 11, 17, 20, 20).top);
  EXPECT_EQ(WindowText(children[1]), kAboutVersion);
  EXPECT_NE(StyleOf(children[1]) & SS_NOPREFIX, 0U);
  EXPECT_EQ(PlaceInDialog(children[1]), DialogUnits(about, 40, 10, 119, 8));
  EXPECT_EQ(WindowText(children[2]), kAboutSecondLine);
  EXPECT_EQ(PlaceInDialog(children[2]), DialogUnits(about, 40, 25, 119, 8));
  EXPECT_EQ(GetDlgCtrlID(children[3]), IDOK);
  EXPECT_EQ(WindowText(children[3]), "OK");
  EXPECT_EQ(StyleOf(children[3]) & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
  EXPECT_EQ(PlaceInDialog(children[3]), DialogUnits(about, 178, 7, 50, 14));
  DialogThread::Press(about, IDOK);
}

TEST_F(Win32DialogTest, ChoosingADriveDescribesItAndEnablesUpgrade) {
  StartUp();
  HWND log = dialog_.Control(IDC_LOG);
  HWND upgrade = dialog_.Control(IDC_UPGRADE);
  Select(Drive(0));
  EXPECT_EQ(WindowText(log), "VARN    DVD RW LPX-650A  Current firmware : 1.02");
  EXPECT_NE(IsWindowEnabled(upgrade), 0);

  // The root again: no drive, and Upgrade stays as it was.
  Select(Root());
  EXPECT_EQ(WindowText(log), kNoDriveSelectedText);
  EXPECT_NE(IsWindowEnabled(upgrade), 0);
}

TEST_F(Win32DialogTest, DecliningTheWarningEndsTheDialogBeforeTheDrivesAreListed) {
  ASSERT_TRUE(dialog_.Answer(BoxAnswer::Cancel).has_value());
  EXPECT_EQ(tree_control::NextItem(Tree(), TVGN_ROOT), nullptr);
  const std::optional<SeenBox> cancelled = dialog_.Answer(BoxAnswer::Ok);
  ASSERT_TRUE(cancelled.has_value());
  EXPECT_EQ(cancelled->text, "User cancelled.");
  EXPECT_EQ(cancelled->caption, kApplicationName);
  EXPECT_FALSE(cancelled->hasCancel);
  EXPECT_FALSE(cancelled->hasIcon);
  EXPECT_EQ(dialog_.ExitCode(), 1);
}

}  // namespace
}  // namespace tslflash
