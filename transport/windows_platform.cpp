#include "transport/windows_platform.h"

namespace tslflash {

// The 9x family knows only this size of the structure.
static_assert(sizeof(OSVERSIONINFOA) == 148);

OSVERSIONINFOA QueryWindowsVersion(VersionQuery query) {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (query(&version) == 0) {
    version = OSVERSIONINFOA{};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwPlatformId = VER_PLATFORM_WIN32_NT;
  }
  return version;
}

WindowsPlatform DetectPlatform(VersionQuery query) {
  return QueryWindowsVersion(query).dwPlatformId == VER_PLATFORM_WIN32_NT
             ? WindowsPlatform::NtFamily
             : WindowsPlatform::NineXFamily;
}

}  // namespace tslflash
