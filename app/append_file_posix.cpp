#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <system_error>

#include "app/append_file.h"

namespace tslflash {
namespace {

std::string ErrnoReason() {
  std::string reason = std::generic_category().message(errno);
  if (!reason.empty())
    reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
  return reason;
}

// Syncs the folder that holds path, so that a file just made keeps its name.
std::string SyncFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ErrnoReason();
  const bool synced = fsync(fd) == 0;
  std::string reason = synced ? std::string() : ErrnoReason();
  close(fd);
  return reason;
}

class PosixAppendFile final : public AppendFile {
 public:
  PosixAppendFile(int fd, std::string path, bool made)
      : fd_(fd), path_(std::move(path)), made_(made) {}
  PosixAppendFile(const PosixAppendFile&) = delete;
  PosixAppendFile& operator=(const PosixAppendFile&) = delete;
  ~PosixAppendFile() override { close(fd_); }

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

  std::string Sync() override {
    if (fsync(fd_) != 0) return ErrnoReason();
    return made_ ? SyncFolderOf(path_) : std::string();
  }

 private:
  int fd_;
  std::string path_;
  bool made_;
};

}  // namespace

OpenedAppendFile OpenAppendFile(const std::string& path) {
  // Read as well, for the last byte; O_APPEND puts every write at the end,
  // whatever other writers did. Non-blocking so that a FIFO put in the
  // file's place cannot hold the program; the type check refuses it.
  constexpr int kFlags = O_RDWR | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  bool made = false;
  int fd = open(path.c_str(), kFlags);
  if (fd < 0 && errno == ENOENT) {
    fd = open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
    made = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = open(path.c_str(), kFlags);  // made by another writer
  }
  if (fd < 0) return {nullptr, ErrnoReason()};
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    const std::string reason =
        S_ISDIR(status.st_mode) ? "a folder, not a file" : "not a regular file";
    close(fd);
    return {nullptr, reason};
  }
  return {std::make_unique<PosixAppendFile>(fd, path, made), {}};
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
