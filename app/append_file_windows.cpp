#include <windows.h>

#include "app/append_file.h"
#include "tools/file_io.h"

namespace tslflash {
namespace {

std::string LastErrorReason() {
  const DWORD code = GetLastError();
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return "no such file";
  if (code == ERROR_ACCESS_DENIED) return "permission denied";
  return "Windows error " + std::to_string(code);
}

class WindowsAppendFile final : public AppendFile {
 public:
  explicit WindowsAppendFile(HANDLE file) : file_(file) {}
  WindowsAppendFile(const WindowsAppendFile&) = delete;
  WindowsAppendFile& operator=(const WindowsAppendFile&) = delete;
  ~WindowsAppendFile() override { CloseHandle(file_); }

  LastByteRead LastByte() override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file_, &size)) return {std::nullopt, LastErrorReason()};
    if (size.QuadPart == 0) return {};
    OVERLAPPED at{};
    const auto offset = static_cast<ULONGLONG>(size.QuadPart - 1);
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    char byte = 0;
    DWORD got = 0;
    if (!ReadFile(file_, &byte, 1, &got, &at)) return {std::nullopt, LastErrorReason()};
    if (got != 1) return {std::nullopt, "the file ended early"};
    return {byte, {}};
  }

  // With FILE_APPEND_DATA and without FILE_WRITE_DATA every write goes to
  // the end of the file.
  AppendWrite Write(std::string_view bytes) override {
    DWORD wrote = 0;
    if (!WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr)) {
      return {0, LastErrorReason()};
    }
    return {wrote, {}};
  }

  std::string Sync() override {
    return FlushFileBuffers(file_) ? std::string() : LastErrorReason();
  }

 private:
  HANDLE file_;
};

}  // namespace

OpenedAppendFile OpenAppendFile(const std::string& path) {
  // The user's local application data is private to them already; the file
  // takes that folder's access.
  // A symbolic link (a reparse point) is opened as itself, never followed,
  // and refused below.
  const HANDLE file = CreateFileA(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {nullptr, LastErrorReason()};
  BY_HANDLE_FILE_INFORMATION information{};
  std::string_view problem;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &information)) {
    problem = "not a regular file";
  } else if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    problem = kSymbolicLinkRefused;
  }
  if (!problem.empty()) {
    CloseHandle(file);
    return {nullptr, std::string(problem)};
  }
  return {std::make_unique<WindowsAppendFile>(file), {}};
}

std::string MakePrivateFolder(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return {};
  if (GetLastError() != ERROR_ALREADY_EXISTS) return LastErrorReason();
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return {};
  }
  return "exists and is not a folder";
}

std::string_view FolderSeparators() { return "\\/"; }

}  // namespace tslflash
