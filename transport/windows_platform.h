// Which family of Windows the tool runs on: it decides how drives are reached.
#pragma once

#include <windows.h>

namespace tslflash {

enum class WindowsPlatform {
  NtFamily,
  NineXFamily,
};

using VersionQuery = decltype(&::GetVersionExA);

// The system's version record, in the 148-byte form every Windows answers. A
// query that fails reads as the NT family with no version number.
OSVERSIONINFOA QueryWindowsVersion(VersionQuery query = &::GetVersionExA);

// NT exactly when the version query reports VER_PLATFORM_WIN32_NT. A query
// that fails counts as NT: every system that still runs the tool is.
WindowsPlatform DetectPlatform(VersionQuery query = &::GetVersionExA);

}  // namespace tslflash
