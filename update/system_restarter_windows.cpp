#include "transport/windows_platform.h"
#include "update/system_restarter.h"
#include "update/windows_shutdown.h"

namespace tslflash {
namespace {

void EnableShutdownPrivilege(const ShutdownCalls& calls) {
  HANDLE token = nullptr;
  if (calls.openProcessToken(calls.currentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                             &token) == 0) {
    return;  // ExitWindowsEx then says whether the right was needed
  }
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (calls.lookupPrivilegeValue(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid) !=
      0) {
    calls.adjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  }
  calls.closeHandle(token);
}

}  // namespace

const ShutdownCalls& SystemShutdownCalls() {
  static const ShutdownCalls calls{
      &::GetVersionExA,         &::GetCurrentProcess, &::OpenProcessToken, &::LookupPrivilegeValueA,
      &::AdjustTokenPrivileges, &::CloseHandle,       &::ExitWindowsEx};
  return calls;
}

bool RequestWindowsReboot(const ShutdownCalls& calls) {
  const OSVERSIONINFOA version = QueryWindowsVersion(calls.getVersion);
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT || version.dwMajorVersion >= 5) {
    EnableShutdownPrivilege(calls);
  }
  return calls.exitWindows(EWX_REBOOT, 0) != 0;
}

bool SystemRestarter::RequestReboot() { return RequestWindowsReboot(SystemShutdownCalls()); }

}  // namespace tslflash
