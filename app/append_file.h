// A file written only at its end, one set of files per platform
// (append_file_posix.cpp, append_file_windows.cpp), and the one way a line is
// appended to it.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tslflash {

struct [[nodiscard]] LastByteRead {
  std::optional<char> byte;  // nothing: the file is empty
  std::string error;         // the reason, empty when read
};

struct [[nodiscard]] AppendWrite {
  std::size_t written = 0;
  std::string error;  // the reason, empty when written
};

class AppendFile {
 public:
  virtual ~AppendFile() = default;
  virtual LastByteRead LastByte() = 0;
  // Writes at the end of the file whatever other writers did; may take
  // fewer bytes than given.
  virtual AppendWrite Write(std::string_view bytes) = 0;
  // Returns once what was written (and the file's name, when it was made)
  // is on the disk; the reason when it may not be.
  virtual std::string Sync() = 0;
};

struct [[nodiscard]] OpenedAppendFile {
  std::unique_ptr<AppendFile> file;
  std::string error;  // the reason, empty when open
};

// Opens a regular file to append to, making it (readable and writable by its
// owner alone) when it is missing.
OpenedAppendFile OpenAppendFile(const std::string& path);

// Makes one folder that only its owner may enter. Empty when it was made or
// is already a folder, else the reason.
std::string MakePrivateFolder(const std::string& path);

// The characters that end a folder's name in a path on this platform.
std::string_view FolderSeparators();

// Ends a torn last line, then writes line and its line break, however many
// writes that takes, and syncs. Empty on success, else the reason.
std::string AppendLine(AppendFile& file, std::string_view line);

}  // namespace tslflash
