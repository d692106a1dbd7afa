// The About box: dialog template 100, ended by its OK button.
#pragma once

#include "ui/win32/windows_api.h"

namespace tslflash {

// Runs the About box modally, owned by `owner`.
void ShowWin32AboutBox(HINSTANCE instance, HWND owner);

}  // namespace tslflash
