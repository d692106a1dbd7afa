#include "ui/win32/win32_tree_painting.h"

#include <string>

#include "ui/win32/win32_tree_control.h"

namespace tslflash {
namespace {

using tree_control::ItemState;
using tree_control::NextItem;

constexpr UINT_PTR kSubclassId = 1;
constexpr UINT kHighlighted = TVIS_SELECTED | TVIS_DROPHILITED;
constexpr LONG kBoldWeight = FW_BOLD;

}  // namespace

CustomDrawnTree::~CustomDrawnTree() { Detach(); }

void CustomDrawnTree::Attach(HWND tree) {
  Detach();
  tree_ = tree;
  SetWindowSubclass(tree_, &SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

void CustomDrawnTree::Detach() {
  if (tree_ == nullptr) return;
  RemoveWindowSubclass(tree_, &SubclassProc, kSubclassId);
  tree_ = nullptr;
}

void CustomDrawnTree::AssignItemColor(HTREEITEM item, COLORREF color) {
  ItemColorFont& record = records_[item];  // a new record: all-zero font
  record.color = color;
}

LRESULT CALLBACK CustomDrawnTree::SubclassProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam, UINT_PTR /*id*/, DWORD_PTR self) {
  auto* tree = reinterpret_cast<CustomDrawnTree*>(self);
  switch (message) {
    case WM_PAINT:
      // With a device context in wParam the control draws into it: that is
      // how Render gets the control's own drawing.
      if (wParam != 0) break;
      tree->Paint();
      return 0;
    case WM_PRINTCLIENT: {
      RECT client{};
      GetClientRect(window, &client);
      tree->Render(reinterpret_cast<HDC>(wParam), client);
      return 0;
    }
    case WM_NCDESTROY:
      tree->Detach();
      break;
    default:
      break;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

void CustomDrawnTree::Paint() const {
  PAINTSTRUCT paint{};
  HDC screen = BeginPaint(tree_, &paint);
  HDC memory = CreateCompatibleDC(screen);
  RECT clip{};
  GetClipBox(screen, &clip);
  RECT client{};
  GetClientRect(tree_, &client);
  HBITMAP bitmap =
      CreateCompatibleBitmap(screen, client.right - client.left, client.bottom - client.top);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  Render(memory, clip);
  BitBlt(screen, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top, memory,
         clip.left, clip.top, SRCCOPY);
  SelectObject(memory, previous);
  DeleteDC(memory);
  DeleteObject(bitmap);
  EndPaint(tree_, &paint);
}

void CustomDrawnTree::Render(HDC target, const RECT& clip) const {
  HRGN region = CreateRectRgnIndirect(&clip);
  SelectClipRgn(target, region);
  DeleteObject(region);
  DefSubclassProc(tree_, WM_PAINT, reinterpret_cast<WPARAM>(target), 0);

  const bool focused = GetFocus() == tree_;
  auto allowance = static_cast<UINT>(SendMessageA(tree_, TVM_GETVISIBLECOUNT, 0, 0)) + 1;
  for (HTREEITEM item = NextItem(tree_, TVGN_FIRSTVISIBLE, nullptr);
       item != nullptr && allowance > 0; item = NextItem(tree_, TVGN_NEXTVISIBLE, item)) {
    --allowance;
    if (focused && (ItemState(tree_, item, kHighlighted) & kHighlighted) != 0) continue;
    DrawOver(target, item);
  }
}

void CustomDrawnTree::DrawOver(HDC target, HTREEITEM item) const {
  const auto found = records_.find(item);
  if (found == records_.end()) return;
  const ItemColorFont& record = found->second;

  const LOGFONTA description = FontFor(record, item);
  HFONT font = CreateFontIndirectA(&description);
  HGDIOBJ previous = SelectObject(target, font);
  SetTextColor(target,
               record.color == kWindowTextColor ? GetSysColor(COLOR_WINDOWTEXT) : record.color);
  const std::string text = tree_control::ItemText(tree_, item);
  const RECT rect = tree_control::ItemRect(tree_, item, true);
  SetBkColor(target, GetSysColor(COLOR_WINDOW));
  TextOutA(target, rect.left + 2, rect.top + 1, text.c_str(), static_cast<int>(text.size()));
  SelectObject(target, previous);
  DeleteObject(font);
}

LOGFONTA CustomDrawnTree::FontFor(const ItemColorFont& record, HTREEITEM item) const {
  LOGFONTA font = record.font;
  if (font.lfFaceName[0] == '\0') {
    auto current = reinterpret_cast<HFONT>(SendMessageA(tree_, WM_GETFONT, 0, 0));
    if (current == nullptr) current = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    GetObjectA(current, sizeof(font), &font);
  }
  if ((ItemState(tree_, item, TVIS_BOLD) & TVIS_BOLD) != 0) font.lfWeight = kBoldWeight;
  return font;
}

}  // namespace tslflash
