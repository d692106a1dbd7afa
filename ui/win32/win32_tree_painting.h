// The drive tree paints itself: the tree control draws everything into an
// off-screen bitmap, the items that carry a colour record are drawn over in
// their own colour and font, and the result reaches the screen in one copy,
// so repainting does not flicker. The tool greys the drives the package is
// not meant for this way.
#pragma once

#include <unordered_map>

#include "ui/win32/windows_api.h"

namespace tslflash {

// Stands for the system's window text colour.
inline constexpr COLORREF kWindowTextColor = 0xFFFFFFFF;

struct ItemColorFont {
  COLORREF color = kWindowTextColor;
  LOGFONTA font{};  // a face name starting with zero: the control's current font
};
static_assert(sizeof(LOGFONTA) == 60);
static_assert(sizeof(ItemColorFont) == 64);

class CustomDrawnTree {
 public:
  CustomDrawnTree() = default;
  ~CustomDrawnTree();
  CustomDrawnTree(const CustomDrawnTree&) = delete;
  CustomDrawnTree& operator=(const CustomDrawnTree&) = delete;

  // Takes over the painting of this tree control until it is destroyed.
  void Attach(HWND tree);
  // Keeps the font of an existing record; a new record gets the control's.
  void AssignItemColor(HTREEITEM item, COLORREF color);

  // Draws the tree, as the screen shows it, into `target` within `clip`
  // (client coordinates): the control's own drawing, then the recorded items
  // over it, except a selected or drop-highlighted item while the tree has
  // the focus, which keeps its highlight.
  void Render(HDC target, const RECT& clip) const;

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR self);
  void Paint() const;
  void DrawOver(HDC target, HTREEITEM item) const;
  LOGFONTA FontFor(const ItemColorFont& record, HTREEITEM item) const;
  void Detach();

  HWND tree_ = nullptr;
  // Records stay until the control goes, also for items deleted meanwhile.
  std::unordered_map<HTREEITEM, ItemColorFont> records_;
};

}  // namespace tslflash
