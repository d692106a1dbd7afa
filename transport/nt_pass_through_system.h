// The few system calls the NT pass-through transport makes, behind one
// interface so that tests can stand in for Windows and no test ever opens a
// volume.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace tslflash {

// What DeviceIoControl returned and, when it failed, the error it left.
struct IoControlResult {
  bool succeeded = false;
  DWORD error = 0;
};

class NtPassThroughSystem {
 public:
  virtual ~NtPassThroughSystem() = default;
  // CreateFileA without security attributes, flags or template; the handle,
  // or INVALID_HANDLE_VALUE when the path does not open.
  virtual HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) = 0;
  // GetDriveTypeA.
  virtual UINT DriveType(const std::string& root) = 0;
  // DeviceIoControl without an overlapped structure.
  virtual IoControlResult IoControl(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out,
                                    DWORD outSize) = 0;
  virtual void Close(HANDLE handle) = 0;
  // Whether the process's token is a member of the Administrators group
  // (CheckTokenMembership), which pass-through needs to write.
  virtual bool IsAdministrator() = 0;
};

// The running Windows.
std::shared_ptr<NtPassThroughSystem> MakeWindowsPassThroughSystem();

}  // namespace tslflash
