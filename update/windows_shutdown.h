// The Windows reboot request, behind a table of the system calls it makes so
// that a test can follow it without restarting the machine.
#pragma once

#include <windows.h>

#include "transport/windows_platform.h"

namespace tslflash {

struct ShutdownCalls {
  VersionQuery getVersion;
  decltype(&::GetCurrentProcess) currentProcess;
  decltype(&::OpenProcessToken) openProcessToken;
  decltype(&::LookupPrivilegeValueA) lookupPrivilegeValue;
  decltype(&::AdjustTokenPrivileges) adjustTokenPrivileges;
  decltype(&::CloseHandle) closeHandle;
  decltype(&::ExitWindowsEx) exitWindows;
};

// The system's own calls.
const ShutdownCalls& SystemShutdownCalls();

// On the NT family (or any version 5 and later) enables the shutdown
// privilege, whose calls may fail without stopping the request; then asks
// for a reboot. False when Windows refused it.
bool RequestWindowsReboot(const ShutdownCalls& calls);

}  // namespace tslflash
