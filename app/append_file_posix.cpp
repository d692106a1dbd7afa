#include "app/append_file_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <system_error>

#include "app/append_file.h"
#include "tools/file_io.h"

namespace tslflash {
namespace {

std::string ErrnoReason() {
  std::string reason = std::generic_category().message(errno);
  if (!reason.empty())
    reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
  return reason;
}

class PosixAppendFile final : public AppendFile {
 public:
  PosixAppendFile(int folder, int fd, bool made, SyncCall sync)
      : folder_(folder), fd_(fd), made_(made), sync_(sync) {}
  PosixAppendFile(const PosixAppendFile&) = delete;
  PosixAppendFile& operator=(const PosixAppendFile&) = delete;
  ~PosixAppendFile() override {
    close(fd_);
    close(folder_);
  }

  LastByteRead LastByte() override {
    struct stat status {};
    if (fstat(fd_, &status) != 0) return {std::nullopt, ErrnoReason()};
    if (status.st_size == 0) return {};
    char byte = 0;
    while (true) {
      const ssize_t got = pread(fd_, &byte, 1, status.st_size - 1);
      if (got == 1) return {byte, {}};
      if (got < 0 && errno == EINTR) continue;
      return {std::nullopt, got < 0 ? ErrnoReason() : "the file ended early"};
    }
  }

  AppendWrite Write(std::string_view bytes) override {
    while (true) {
      const ssize_t wrote = write(fd_, bytes.data(), bytes.size());
      if (wrote >= 0) return {static_cast<std::size_t>(wrote), {}};
      if (errno != EINTR) return {0, ErrnoReason()};
    }
  }

  // A file just made keeps its name only once its folder is synced too.
  std::string Sync() override {
    if (sync_(fd_) != 0) return ErrnoReason();
    if (made_ && sync_(folder_) != 0) return ErrnoReason();
    return {};
  }

 private:
  int folder_;
  int fd_;
  bool made_;
  SyncCall sync_;
};

}  // namespace

OpenedAppendFile OpenAppendFile(const std::string& path) { return OpenAppendFile(path, fsync); }

OpenedAppendFile OpenAppendFile(const std::string& path, SyncCall sync) {
  // Neither the folder nor the file is reached through a symbolic link: the
  // line goes where the path says, never where a link points. A trailing
  // slash would follow the folder's link, so it is left off.
  const PathParts parts = SplitPath(path);
  const std::string folderPath = WithoutTrailingSeparators(parts.folder);
  const std::string& name = parts.name;
  const int folder = open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) {
    const int error = errno;
    struct stat status {};
    if (lstat(folderPath.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
      return {nullptr, "its folder is " + std::string(kSymbolicLinkRefused)};
    }
    errno = error;
    return {nullptr, ErrnoReason()};
  }
  const auto refused = [folder](std::string reason) {
    close(folder);
    return OpenedAppendFile{nullptr, std::move(reason)};
  };
  // Looked at before it is opened: opening a device may act on it.
  struct stat status {};
  if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
      !S_ISREG(status.st_mode)) {
    return refused(std::string(NotARegularFile(status.st_mode)));
  }
  // Read as well, for the last byte; O_APPEND puts every write at the end,
  // whatever other writers did. Non-blocking so that a FIFO put in the
  // file's place cannot hold the program; the type check refuses it.
  constexpr int kFlags = O_RDWR | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW;
  bool made = false;
  int fd = openat(folder, name.c_str(), kFlags);
  if (fd < 0 && errno == ENOENT) {
    fd = openat(folder, name.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
    made = fd >= 0;
    // Made by another writer meanwhile.
    if (fd < 0 && errno == EEXIST) fd = openat(folder, name.c_str(), kFlags);
  }
  if (fd < 0) return refused(ErrnoReason());
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return refused(std::string(NotARegularFile(status.st_mode)));
  }
  return {std::make_unique<PosixAppendFile>(folder, fd, made, sync), {}};
}

std::string MakePrivateFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) == 0) return {};
  if (errno != EEXIST) return ErrnoReason();
  struct stat status {};
  if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return {};
  return "exists and is not a folder";
}

std::string_view FolderSeparators() { return "/"; }

}  // namespace tslflash
