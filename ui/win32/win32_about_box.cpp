#include "ui/win32/win32_about_box.h"

#include "ui/win32/resource_ids.h"
#include "ui/win32/win32_resources.h"

namespace tslflash {
namespace {

INT_PTR CALLBACK AboutProc(HWND box, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;  // the focus goes to OK
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(box, LOWORD(wParam));
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

void ShowWin32AboutBox(HINSTANCE instance, HWND owner) {
  DialogBoxParamA(instance, ResourceName(IDD_ABOUT_BOX), owner, &AboutProc, 0);
}

}  // namespace tslflash
