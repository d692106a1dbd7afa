#include <windows.h>

#include <cstdlib>
#include <string>

#include "app/os_facts.h"

namespace tslflash {
namespace {

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string VersionText(DWORD major, DWORD minor, DWORD build) {
  return "Windows " + std::to_string(major) + "." + std::to_string(minor) + " build " +
         std::to_string(build);
}

// RtlGetVersion tells the truth on every NT system; GetVersionEx answers as
// the program's manifest lets it, and is all a 9x system has.
std::string SystemText() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const auto rtlGetVersion =
      ntdll == nullptr ? nullptr
                       : reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void (*)()>(
                             ::GetProcAddress(ntdll, "RtlGetVersion")));
  if (rtlGetVersion != nullptr) {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (rtlGetVersion(&version) == 0) {
      return VersionText(version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber);
    }
  }
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (::GetVersionExA(&version) == 0) return "Windows, version unknown";
  return VersionText(version.dwMajorVersion, version.dwMinorVersion,
                     version.dwBuildNumber & 0xFFFF);
}

PrivateNames AccountNames() {
  PrivateNames names;
  names.homes.push_back(Environment("USERPROFILE"));
  names.homes.push_back(Environment("HOMEDRIVE") + Environment("HOMEPATH"));
  names.users.push_back(Environment("USERNAME"));
  char text[512] = {};
  DWORD size = sizeof text;
  if (::GetUserNameA(text, &size) != 0) names.users.push_back(text);
  names.hosts.push_back(Environment("COMPUTERNAME"));
  size = sizeof text;
  if (::GetComputerNameA(text, &size) != 0) names.hosts.push_back(text);
  return names;
}

}  // namespace

OsFacts QueryOsFacts() { return {SystemText(), AccountNames()}; }

}  // namespace tslflash
