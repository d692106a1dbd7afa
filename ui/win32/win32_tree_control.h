// The tree view control's messages as functions, for the window, its painting
// and the tests.
#pragma once

#include <cstring>
#include <string>

#include "ui/win32/windows_api.h"

namespace tslflash::tree_control {

inline HTREEITEM NextItem(HWND tree, UINT relation, HTREEITEM item = nullptr) {
  return reinterpret_cast<HTREEITEM>(
      SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

inline UINT ItemState(HWND tree, HTREEITEM item, UINT mask) {
  return static_cast<UINT>(
      SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), mask));
}

// The item's text, up to 259 characters, as the control holds it.
inline std::string ItemText(HWND tree, HTREEITEM item) {
  char text[260] = {};
  TVITEMA query{};
  query.mask = TVIF_TEXT;
  query.hItem = item;
  query.pszText = text;
  query.cchTextMax = static_cast<int>(sizeof(text));
  if (SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query)) == 0) return {};
  return text;
}

// The rectangle of the item's text alone, or of its whole line, in client
// coordinates.
inline RECT ItemRect(HWND tree, HTREEITEM item, bool textOnly) {
  RECT rect{};
  static_assert(sizeof(RECT) >= sizeof(HTREEITEM));
  std::memcpy(&rect, &item, sizeof(item));  // the message takes the item in the rectangle
  SendMessageA(tree, TVM_GETITEMRECT, textOnly ? TRUE : FALSE, reinterpret_cast<LPARAM>(&rect));
  return rect;
}

}  // namespace tslflash::tree_control
