#include "transport/nt_pass_through_system.h"

namespace tslflash {
namespace {

class WindowsPassThroughSystem final : public NtPassThroughSystem {
 public:
  HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) override {
    return ::CreateFileA(path.c_str(), access, share, nullptr, disposition, 0, nullptr);
  }

  UINT DriveType(const std::string& root) override { return ::GetDriveTypeA(root.c_str()); }

  IoControlResult IoControl(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out,
                            DWORD outSize) override {
    DWORD returned = 0;
    if (::DeviceIoControl(handle, code, in, inSize, out, outSize, &returned, nullptr) != 0) {
      return {true, 0};
    }
    return {false, ::GetLastError()};
  }

  void Close(HANDLE handle) override { ::CloseHandle(handle); }

  bool IsAdministrator() override {
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (::AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                   DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                   &administrators) == 0) {
      return false;
    }
    BOOL member = FALSE;
    const bool asked = ::CheckTokenMembership(nullptr, administrators, &member) != 0;
    ::FreeSid(administrators);
    return asked && member != FALSE;
  }
};

}  // namespace

std::shared_ptr<NtPassThroughSystem> MakeWindowsPassThroughSystem() {
  return std::make_shared<WindowsPassThroughSystem>();
}

}  // namespace tslflash
