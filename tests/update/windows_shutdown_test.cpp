// The Windows reboot request, followed through fake system calls: nothing
// here can restart the machine.
#include "update/windows_shutdown.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tslflash {
namespace {

// What the fakes answer and what they saw; the calls are plain functions, so
// they share this one record.
struct Record {
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  DWORD majorVersion = 10;
  BOOL tokenOpens = TRUE;
  BOOL exitSucceeds = TRUE;
  std::vector<std::string> calls;
  DWORD tokenAccess = 0;
  std::string privilegeName;
  DWORD privilegeAttributes = 0;
  UINT exitFlags = 0;
  DWORD exitReason = 1;
};
Record record;

const auto fakeToken = reinterpret_cast<HANDLE>(0x7A);

BOOL WINAPI FakeGetVersion(LPOSVERSIONINFOA info) {
  record.calls.push_back("GetVersionExA");
  EXPECT_EQ(info->dwOSVersionInfoSize, 148U);
  info->dwPlatformId = record.platformId;
  info->dwMajorVersion = record.majorVersion;
  return TRUE;
}
HANDLE WINAPI FakeCurrentProcess() { return reinterpret_cast<HANDLE>(-1); }
BOOL WINAPI FakeOpenProcessToken(HANDLE, DWORD access, PHANDLE token) {
  record.calls.push_back("OpenProcessToken");
  record.tokenAccess = access;
  *token = fakeToken;
  return record.tokenOpens;
}
BOOL WINAPI FakeLookupPrivilegeValue(LPCSTR system, LPCSTR name, PLUID luid) {
  record.calls.push_back("LookupPrivilegeValueA");
  EXPECT_EQ(system, nullptr);
  record.privilegeName = name;
  luid->LowPart = 19;
  return TRUE;
}
BOOL WINAPI FakeAdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES privileges,
                                      DWORD, PTOKEN_PRIVILEGES, PDWORD) {
  record.calls.push_back("AdjustTokenPrivileges");
  EXPECT_EQ(token, fakeToken);
  EXPECT_FALSE(disableAll);
  EXPECT_EQ(privileges->PrivilegeCount, 1U);
  EXPECT_EQ(privileges->Privileges[0].Luid.LowPart, 19U);
  record.privilegeAttributes = privileges->Privileges[0].Attributes;
  return TRUE;
}
BOOL WINAPI FakeCloseHandle(HANDLE handle) {
  record.calls.push_back("CloseHandle");
  EXPECT_EQ(handle, fakeToken);
  return TRUE;
}
BOOL WINAPI FakeExitWindows(UINT flags, DWORD reason) {
  record.calls.push_back("ExitWindowsEx");
  record.exitFlags = flags;
  record.exitReason = reason;
  return record.exitSucceeds;
}

constexpr ShutdownCalls kFakeCalls{
    &FakeGetVersion,           &FakeCurrentProcess,        &FakeOpenProcessToken,
    &FakeLookupPrivilegeValue, &FakeAdjustTokenPrivileges, &FakeCloseHandle,
    &FakeExitWindows};

class WindowsShutdownTest : public ::testing::Test {
 protected:
  void SetUp() override { record = Record{}; }
};

TEST_F(WindowsShutdownTest, EnablesTheShutdownPrivilegeThenAsksForAReboot) {
  EXPECT_TRUE(RequestWindowsReboot(kFakeCalls));
  EXPECT_EQ(record.calls,
            (std::vector<std::string>{"GetVersionExA", "OpenProcessToken", "LookupPrivilegeValueA",
                                      "AdjustTokenPrivileges", "CloseHandle", "ExitWindowsEx"}));
  EXPECT_EQ(record.tokenAccess, static_cast<DWORD>(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY));
  EXPECT_EQ(record.privilegeName, "SeShutdownPrivilege");
  EXPECT_EQ(record.privilegeAttributes, static_cast<DWORD>(SE_PRIVILEGE_ENABLED));
  EXPECT_EQ(record.exitFlags, static_cast<UINT>(EWX_REBOOT));
  EXPECT_EQ(record.exitReason, 0U);
}

TEST_F(WindowsShutdownTest, ARefusedRebootIsReportedAndAMissingTokenDoesNotStopTheRequest) {
  record.tokenOpens = FALSE;
  record.exitSucceeds = FALSE;
  EXPECT_FALSE(RequestWindowsReboot(kFakeCalls));
  EXPECT_EQ(record.calls,
            (std::vector<std::string>{"GetVersionExA", "OpenProcessToken", "ExitWindowsEx"}));
}

TEST_F(WindowsShutdownTest, TheOlderFamilyBeforeVersionFiveNeedsNoPrivilege) {
  record.platformId = VER_PLATFORM_WIN32_WINDOWS;
  record.majorVersion = 4;
  EXPECT_TRUE(RequestWindowsReboot(kFakeCalls));
  EXPECT_EQ(record.calls, (std::vector<std::string>{"GetVersionExA", "ExitWindowsEx"}));
}

}  // namespace
}  // namespace tslflash
