// The drive tree's colours as the user sees them: the tree is drawn into a
// bitmap, once by the tree control alone and once the way the window paints
// it, and the pixels of each item's row are compared.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ui/win32/resource_ids.h"
#include "ui/win32/win32_tree_control.h"
#include "win32_test_support.h"

namespace tslflash {
namespace {

using win32_test::DialogThread;
using win32_test::WaitUntil;

constexpr COLORREF kGrey = 0x7D7D7D;

// The DIB's 0x00RRGGBB as a COLORREF, 0x00BBGGRR.
COLORREF ColorOfPixel(std::uint32_t pixel) {
  return ((pixel & 0xFF) << 16) | (pixel & 0xFF00) | ((pixel >> 16) & 0xFF);
}

// A picture of the tree's client area.
class Picture {
 public:
  Picture(int width, int height, const std::uint32_t* pixels) : width_(width) {
    for (int i = 0; i < width * height; ++i) pixels_.push_back(ColorOfPixel(pixels[i]));
  }

  COLORREF At(LONG x, LONG y) const { return pixels_[static_cast<std::size_t>(y * width_ + x)]; }

  // The pixels of `area`, row by row.
  std::vector<COLORREF> Part(const RECT& area) const {
    std::vector<COLORREF> part;
    for (LONG y = area.top; y < area.bottom; ++y) {
      for (LONG x = area.left; x < area.right; ++x) part.push_back(At(x, y));
    }
    return part;
  }

 private:
  LONG width_;
  std::vector<COLORREF> pixels_;
};

int Count(const std::vector<COLORREF>& pixels, bool (*match)(COLORREF)) {
  int count = 0;
  for (const COLORREF pixel : pixels) count += match(pixel) ? 1 : 0;
  return count;
}

// How much darker than white the pixels are, together: thicker strokes, more.
int Ink(const std::vector<COLORREF>& pixels) {
  int ink = 0;
  for (const COLORREF pixel : pixels) ink += 0xFF - GetGValue(pixel);
  return ink;
}

bool IsGrey(COLORREF pixel) { return pixel == kGrey; }
// Darker than the grey in every channel: text drawn in the window text colour.
bool IsDark(COLORREF pixel) {
  return GetRValue(pixel) < 0x60 && GetGValue(pixel) < 0x60 && GetBValue(pixel) < 0x60;
}

class TreePaintingTest : public win32_test::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(dialog_.Answer(BoxAnswer::Ok).has_value());  // the start-up warning
    HWND dialog = dialog_.Dialog();
    ASSERT_TRUE(WaitUntil([dialog] { return IsWindowVisible(dialog) != 0; }));
    tree_ = dialog_.Control(IDC_DRIVE_TREE);
  }

  HTREEITEM Drive(int index) const { return win32_test::DriveItem(tree_, index); }

  // The tree drawn into a bitmap: by the control alone (WM_PAINT into a
  // device context), or as the window paints it (WM_PRINTCLIENT).
  Picture Draw(UINT message) const {
    RECT client{};
    GetClientRect(tree_, &client);
    BITMAPINFO info{};
    info.bmiHeader = {
        sizeof(BITMAPINFOHEADER), client.right, -client.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    SendMessageA(tree_, message, reinterpret_cast<WPARAM>(dc),
                 message == WM_PRINTCLIENT ? PRF_CLIENT : 0);
    GdiFlush();
    const Picture picture(client.right, client.bottom, static_cast<const std::uint32_t*>(bits));
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return picture;
  }

  // The item's text, with its background.
  RECT TextOf(HTREEITEM item) const { return tree_control::ItemRect(tree_, item, true); }
  // The item's whole line.
  RECT LineOf(HTREEITEM item) const { return tree_control::ItemRect(tree_, item, false); }

  void Select(HTREEITEM item) { win32_test::SelectItem(tree_, item); }

  DialogThread dialog_{win32_test::DemoSetup()};
  HWND tree_ = nullptr;
};

TEST_F(TreePaintingTest, GreyedDrivesArePaintedGreyTheRestAsTheControlDrawsThem) {
  const Picture own = Draw(WM_PAINT);
  const Picture shown = Draw(WM_PRINTCLIENT);
  // The first drive is the package's: drawn exactly as the control draws it.
  for (HTREEITEM item : {win32_test::RootItem(tree_), Drive(0)}) {
    EXPECT_EQ(shown.Part(LineOf(item)), own.Part(LineOf(item)));
    EXPECT_GT(Count(shown.Part(TextOf(item)), IsDark), 0);
  }
  for (int index : {1, 2}) {
    SCOPED_TRACE(index);
    EXPECT_GT(Count(own.Part(TextOf(Drive(index))), IsDark), 0);  // the control draws it dark
    const std::vector<COLORREF> text = shown.Part(TextOf(Drive(index)));
    EXPECT_GT(Count(text, IsGrey), 0);
    EXPECT_EQ(Count(text, IsDark), 0);
  }
}

TEST_F(TreePaintingTest, SelectedGreyedDriveKeepsItsHighlightOnlyWhileTheTreeHasTheFocus) {
  Select(Drive(1));
  dialog_.FocusOn(tree_);
  ASSERT_EQ(dialog_.Focus(), tree_);
  Picture own = Draw(WM_PAINT);
  Picture shown = Draw(WM_PRINTCLIENT);
  EXPECT_EQ(shown.Part(LineOf(Drive(1))), own.Part(LineOf(Drive(1))));
  EXPECT_EQ(Count(shown.Part(TextOf(Drive(1))), IsGrey), 0);
  EXPECT_GT(Count(shown.Part(TextOf(Drive(2))), IsGrey), 0);  // not selected: grey as ever

  // The focus elsewhere: grey, on the window's background where the text
  // goes, (2, 1) into the item's text area.
  dialog_.FocusOn(dialog_.Control(IDCANCEL));
  ASSERT_EQ(dialog_.Focus(), dialog_.Control(IDCANCEL));
  shown = Draw(WM_PRINTCLIENT);
  const RECT text = TextOf(Drive(1));
  EXPECT_GT(Count(shown.Part(text), IsGrey), 0);
  EXPECT_EQ(Count(shown.Part(text), IsDark), 0);
  EXPECT_EQ(shown.At(text.left + 2, text.top + 1), GetSysColor(COLOR_WINDOW));
}

TEST_F(TreePaintingTest, BoldGreyedDriveIsPaintedBoldAndGrey) {
  const int normal = Ink(Draw(WM_PRINTCLIENT).Part(TextOf(Drive(1))));
  TVITEMA bold{};
  bold.mask = TVIF_STATE;
  bold.hItem = Drive(1);
  bold.state = TVIS_BOLD;
  bold.stateMask = TVIS_BOLD;
  SendMessageA(tree_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&bold));
  const std::vector<COLORREF> text = Draw(WM_PRINTCLIENT).Part(TextOf(Drive(1)));
  EXPECT_GT(Ink(text), normal);
  EXPECT_GT(Count(text, IsGrey), 0);
  EXPECT_EQ(Count(text, IsDark), 0);
}

TEST_F(TreePaintingTest, ScreenShowsWhatTheWindowPaints) {
  RedrawWindow(tree_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  const Picture shown = Draw(WM_PRINTCLIENT);
  RECT client{};
  GetClientRect(tree_, &client);
  HDC screen = GetDC(tree_);
  const RECT line = LineOf(Drive(1));
  int differing = 0;
  for (LONG y = line.top; y < line.bottom; ++y) {
    for (LONG x = line.left; x < line.right; ++x)
      differing += GetPixel(screen, x, y) != shown.At(x, y) ? 1 : 0;
  }
  ReleaseDC(tree_, screen);
  EXPECT_EQ(differing, 0);
}

}  // namespace
}  // namespace tslflash
