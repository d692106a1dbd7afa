// The Windows and common-control headers as the front end uses them: the
// MessageBox macro goes, so that it cannot rename the dialog's own MessageBox
// type; the system's box is called by its ANSI name, MessageBoxA.
#pragma once

#include <windows.h>
// The common controls need the Windows header first.
#include <commctrl.h>
#include <commdlg.h>

#undef MessageBox
