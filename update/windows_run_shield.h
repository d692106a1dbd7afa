// The Windows run shield, behind a table of the system calls it makes so
// that a test can follow it: the system kept awake (SetThreadExecutionState,
// on a thread of the shield's own, since the state belongs to the thread
// that set it and the run ends on another), Ctrl-C, Ctrl-Break and the
// console's close held, and the window's shutdown blocked with a reason;
// without the sleep lock only the console's events are held.
#pragma once

#include <windows.h>

#include <memory>

#include "update/run_shield.h"

namespace tslflash {

struct RunShieldCalls {
  decltype(&::SetThreadExecutionState) setThreadExecutionState;
  decltype(&::SetConsoleCtrlHandler) setConsoleCtrlHandler;
  decltype(&::ShutdownBlockReasonCreate) shutdownBlockReasonCreate;
  decltype(&::ShutdownBlockReasonDestroy) shutdownBlockReasonDestroy;
  decltype(&::PostMessageA) postMessage;
};

const RunShieldCalls& SystemRunShieldCalls();

// The reason Windows shows for the blocked shutdown.
inline constexpr const wchar_t* kShutdownBlockReason = L"Writing drive firmware";
// Posted to the window when the shield comes down on another thread: the
// window ends the block on its own thread (FinishShutdownBlock).
inline constexpr UINT kShutdownUnblockMessage = WM_APP + 0x51;

// The window whose shutdown the shield blocks (the Win32 front end's); null
// when it goes.
void SetShutdownBlockWindow(HWND window);
// While the shield is up the window answers WM_QUERYENDSESSION with FALSE.
bool ShutdownBlocked();
// On the window's thread, after kShutdownUnblockMessage.
void FinishShutdownBlock(const RunShieldCalls& calls);

std::unique_ptr<RunShield> MakeWindowsRunShield(const RunShieldCalls& calls, SleepLock sleepLock);

}  // namespace tslflash
