#include "tools/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>
#include <utility>

#include "package/package_layout.h"

namespace tslflash {
namespace {

namespace fs = std::filesystem;

// Non-blocking, so opening a FIFO with no writer returns at once and the
// descriptor's type can be refused; it changes nothing for a regular file.
#ifdef _WIN32
constexpr int kReadFlags = O_RDONLY | O_BINARY;
#else
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
#endif

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int Get() const { return fd_; }

 private:
  int fd_;
};

std::string Reason(std::error_code error) {
  if (error == std::errc::no_such_file_or_directory) return "no such file";
  std::string reason = error.message();
  if (!reason.empty())
    reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
  return reason;
}

std::string ErrnoReason() { return Reason({errno, std::generic_category()}); }

// Reads up to limit bytes, stopping early only at the end of the file;
// expected is what the file's size claims, to allocate once.
bool ReadUpTo(int fd, std::size_t limit, std::size_t expected, std::vector<std::uint8_t>& bytes) {
  bytes.reserve(std::min(expected, limit));
  std::array<std::uint8_t, 64 * 1024> chunk{};
  while (bytes.size() < limit) {
    const auto want = static_cast<unsigned>(std::min(chunk.size(), limit - bytes.size()));
    const auto got = read(fd, chunk.data(), want);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
  }
  return true;
}

// The refusal of an output file, naming it.
std::string CannotWrite(std::string_view path, std::string_view reason) {
  std::string line = "cannot write ";
  line.append(path).append(": ").append(reason);
  return line;
}

std::string WriteWhole(OpenedOutputFile opened, std::span<const std::uint8_t> bytes) {
  if (!opened.error.empty()) return opened.error;
  return opened.file->Commit(bytes);
}

// Every output file is looked up in its folder, opened (OpenFolder) with or
// without following a symbolic link at the folder's own name; what stands at
// the file's name is looked at (TargetProblem), never opened, since opening a
// device may act on it; and a folder is tried for new files by making one
// that leaves nothing behind (CreationProblem).

// What stands at a folder's path, itself, not where a link there points.
enum class FolderState : std::uint8_t { Folder, Missing, SymbolicLink, NotAFolder };

#ifdef _WIN32
// Windows holds no folder open: a folder is its path. A reparse point (a
// symbolic link, a junction) is refused; device names are not checked.

struct OpenedFolder {
  std::string path;
  std::string error;  // the reason, empty when usable
};

constexpr std::string_view kSeparators = "\\/";

std::string WindowsErrorReason(DWORD code) {
  if (code == ERROR_FILE_NOT_FOUND) return "no such file";
  if (code == ERROR_PATH_NOT_FOUND) return "no such folder";
  if (code == ERROR_ACCESS_DENIED) return "permission denied";
  return "Windows error " + std::to_string(code);
}

std::string LastErrorReason() { return WindowsErrorReason(GetLastError()); }

OpenedFolder OpenFolder(const std::string& path, bool followLink) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    return {path, code == ERROR_FILE_NOT_FOUND ? "no such folder" : WindowsErrorReason(code)};
  }
  if (!followLink && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return {path, std::string(kSymbolicLinkRefused)};
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return {path, "not a directory"};
  return {path, {}};
}

std::string Inside(const std::string& folder, const std::string& name) {
  return kSeparators.find(folder.back()) != std::string_view::npos ? folder + name
                                                                   : folder + "\\" + name;
}

std::string TargetProblem(const OpenedFolder& folder, const std::string& name) {
  if (name.empty()) return "a folder, not a file";
  const DWORD attributes = GetFileAttributesA(Inside(folder.path, name).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? std::string() : LastErrorReason();
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return std::string(kSymbolicLinkRefused);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "a folder, not a file";
  return {};
}

// The system deletes the file when its handle closes, even for a killed
// program.
std::string CreationProblem(const OpenedFolder& folder) {
  const std::string probe =
      Inside(folder.path, ".tslflash-probe" + std::to_string(std::random_device{}()));
  const HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastErrorReason();
  CloseHandle(file);
  return {};
}

class WindowsOutputFile final : public OutputFile {
 public:
  WindowsOutputFile(HANDLE file, std::string temporary, std::string target, std::string path)
      : file_(file),
        temporary_(std::move(temporary)),
        target_(std::move(target)),
        path_(std::move(path)) {}
  WindowsOutputFile(const WindowsOutputFile&) = delete;
  WindowsOutputFile& operator=(const WindowsOutputFile&) = delete;
  ~WindowsOutputFile() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    if (!committed_) DeleteFileA(temporary_.c_str());
  }

  std::string Commit(std::span<const std::uint8_t> bytes) override {
    while (!bytes.empty()) {
      const auto want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1U << 30));
      DWORD wrote = 0;
      if (!WriteFile(file_, bytes.data(), want, &wrote, nullptr) || wrote == 0) {
        return CannotWrite(path_, LastErrorReason());
      }
      bytes = bytes.subspan(wrote);
    }
    if (!FlushFileBuffers(file_)) return CannotWrite(path_, LastErrorReason());
    CloseHandle(std::exchange(file_, INVALID_HANDLE_VALUE));
    if (!MoveFileExA(temporary_.c_str(), target_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return CannotWrite(path_, LastErrorReason());
    }
    committed_ = true;
    return {};
  }

 private:
  HANDLE file_;
  std::string temporary_;
  std::string target_;
  std::string path_;
  bool committed_ = false;
};

OpenedOutputFile CreateIn(const OpenedFolder& folder, const std::string& name,
                          const std::string& path) {
  if (!folder.error.empty()) return {nullptr, CannotWrite(path, folder.error)};
  if (const std::string problem = TargetProblem(folder, name); !problem.empty()) {
    return {nullptr, CannotWrite(path, problem)};
  }
  std::string target = Inside(folder.path, name);
  std::string temporary = target + ".tmp" + std::to_string(std::random_device{}());
  const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {nullptr, CannotWrite(path, LastErrorReason())};
  return {std::make_unique<WindowsOutputFile>(file, std::move(temporary), std::move(target), path),
          {}};
}

FolderState StateOf(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FolderState::Missing;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return FolderState::SymbolicLink;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return FolderState::NotAFolder;
  return FolderState::Folder;
}
#else
// POSIX: the folder is held open and every name is looked up in it, so the
// folder checked is the folder written to.

struct OpenedFolder {
  Descriptor fd;
  std::string error;  // the reason, empty when open
};

constexpr std::string_view kSeparators = "/";
// O_EXCL: a name nothing stands at, not even a symbolic link.
constexpr int kNewFileFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;

OpenedFolder OpenFolder(const std::string& path, bool followLink) {
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  Descriptor fd(open(path.c_str(), flags));
  if (fd.Get() >= 0) return {std::move(fd), {}};
  return {std::move(fd), errno == ENOENT ? "no such folder" : ErrnoReason()};
}

std::string TargetProblem(const OpenedFolder& folder, const std::string& name) {
  if (name.empty()) return "a folder, not a file";
  struct stat status {};
  if (fstatat(folder.fd.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? std::string() : ErrnoReason();
  }
  return std::string(NotARegularFile(status.st_mode));
}

// Trying is the one test that holds for every user and file system (root
// passes permission checks, yet a read-only mount or /proc refuses it). An
// unnamed file leaves nothing behind even when the program is killed; where
// the file system has none, a named one is removed at once.
std::string CreationProblem(const OpenedFolder& folder) {
  const int fd = folder.fd.Get();
#ifdef O_TMPFILE
  if (const Descriptor unnamed(openat(fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
      unnamed.Get() >= 0) {
    return {};
  }
  if (errno != EOPNOTSUPP && errno != EISDIR) return ErrnoReason();
#endif
  const std::string name = ".tslflash-probe" + std::to_string(std::random_device{}());
  const Descriptor probe(openat(fd, name.c_str(), kNewFileFlags, 0600));
  // The folder is open, so a missing name can only mean that it takes none.
  if (probe.Get() < 0) {
    return errno == ENOENT ? "the file system takes no new files" : ErrnoReason();
  }
  unlinkat(fd, name.c_str(), 0);
  return {};
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t wrote = write(fd, bytes.data(), bytes.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (wrote == 0) errno = EIO;
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(wrote));
  }
  return true;
}

class PosixOutputFile final : public OutputFile {
 public:
  PosixOutputFile(Descriptor folder, Descriptor file, std::string name, std::string temporary,
                  std::string path)
      : folder_(std::move(folder)),
        file_(std::move(file)),
        name_(std::move(name)),
        temporary_(std::move(temporary)),
        path_(std::move(path)) {}
  PosixOutputFile(const PosixOutputFile&) = delete;
  PosixOutputFile& operator=(const PosixOutputFile&) = delete;
  ~PosixOutputFile() override {
    if (!committed_) unlinkat(folder_.Get(), temporary_.c_str(), 0);
  }

  std::string Commit(std::span<const std::uint8_t> bytes) override {
    if (!WriteAll(file_.Get(), bytes) || fsync(file_.Get()) != 0) {
      return CannotWrite(path_, ErrnoReason());
    }
    if (renameat(folder_.Get(), temporary_.c_str(), folder_.Get(), name_.c_str()) != 0) {
      return CannotWrite(path_, ErrnoReason());
    }
    committed_ = true;
    // The new name lasts only once the folder is on the disk too.
    if (fsync(folder_.Get()) != 0) return CannotWrite(path_, ErrnoReason());
    return {};
  }

 private:
  Descriptor folder_;
  Descriptor file_;
  std::string name_;
  std::string temporary_;
  std::string path_;
  bool committed_ = false;
};

OpenedOutputFile CreateIn(OpenedFolder folder, const std::string& name, const std::string& path) {
  if (!folder.error.empty()) return {nullptr, CannotWrite(path, folder.error)};
  if (const std::string problem = TargetProblem(folder, name); !problem.empty()) {
    return {nullptr, CannotWrite(path, problem)};
  }
  std::string temporary = name + ".tmp" + std::to_string(std::random_device{}());
  Descriptor file(openat(folder.fd.Get(), temporary.c_str(), kNewFileFlags, 0666));
  if (file.Get() < 0) return {nullptr, CannotWrite(path, ErrnoReason())};
  return {std::make_unique<PosixOutputFile>(std::move(folder.fd), std::move(file), name,
                                            std::move(temporary), path),
          {}};
}

FolderState StateOf(const std::string& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return FolderState::Missing;
  if (S_ISLNK(status.st_mode)) return FolderState::SymbolicLink;
  if (!S_ISDIR(status.st_mode)) return FolderState::NotAFolder;
  return FolderState::Folder;
}
#endif

}  // namespace

PathParts SplitPath(const std::string& path) {
  const std::size_t separator = path.find_last_of(kSeparators);
  if (separator == std::string::npos) return {".", path};
  return {path.substr(0, separator + 1), path.substr(separator + 1)};
}

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && kSeparators.find(path.back()) != std::string_view::npos) {
    path.pop_back();
  }
  return path;
}

FileRead ReadBinaryFile(const std::string& path, SizeBound bound) {
  const auto refused = [&path](std::string_view reason) {
    return FileRead{{}, "cannot read " + path + ": " + std::string(reason)};
  };
  const Descriptor file(open(path.c_str(), kReadFlags));
  if (file.Get() < 0) return refused(ErrnoReason());
  struct stat status {};
  if (fstat(file.Get(), &status) != 0) return refused(ErrnoReason());
  if (const std::string_view problem = NotARegularFile(status.st_mode); !problem.empty()) {
    return refused(problem);
  }
  // One byte past the bound tells a file at the bound from a larger one,
  // whatever its size claims (it may grow while it is read).
  std::vector<std::uint8_t> bytes;
  const auto claimed =
      static_cast<std::size_t>(std::max<decltype(status.st_size)>(status.st_size, 0));
  if (!ReadUpTo(file.Get(), bound.bytes + 1, claimed + 1, bytes)) return refused(ErrnoReason());
  if (bytes.size() > bound.bytes) {
    return refused("larger than " + std::to_string(bound.bytes) + " bytes, the most " +
                   std::string(bound.what) + " can be");
  }
  return {std::move(bytes), {}};
}

FileRead ReadPackageFile(const std::string& path) {
  FileRead read = ReadBinaryFile(path, {kLargestPackage, "a package"});
  if (read.error.empty()) read.error = PackageSizeProblem(path, read.bytes.size());
  if (!read.error.empty()) read.bytes.clear();
  return read;
}

std::string PackageSizeProblem(std::string_view name, std::size_t size) {
  if (size >= kSmallestPackage) return {};
  return std::string(name) + " is " + std::to_string(size) +
         " bytes, too short for a package (at least " + std::to_string(kSmallestPackage) + ")";
}

std::string_view NotARegularFile(unsigned mode) {
  if (S_ISREG(mode)) return {};
  if (S_ISDIR(mode)) return "a folder, not a file";
#ifdef S_ISLNK
  if (S_ISLNK(mode)) return kSymbolicLinkRefused;
#endif
  return "not a regular file";
}

OpenedOutputFile CreateOutputFile(const std::string& path) {
  const PathParts parts = SplitPath(path);
  return CreateIn(OpenFolder(parts.folder, true), parts.name, path);
}

OpenedOutputFile CreateOutputFileIn(const std::string& folder, std::string_view name) {
  return CreateIn(OpenFolder(WithoutTrailingSeparators(folder), false), std::string(name),
                  folder + "/" + std::string(name));
}

std::string WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
  return WriteWhole(CreateOutputFile(path), bytes);
}

std::string WriteFileAtomically(const std::string& path, std::string_view text) {
  return WriteFileAtomically(
      path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::string WriteFileInFolder(const std::string& folder, std::string_view name,
                              std::span<const std::uint8_t> bytes) {
  return WriteWhole(CreateOutputFileIn(folder, name), bytes);
}

std::string OutputFileProblem(const std::string& path) {
  const PathParts parts = SplitPath(path);
  const OpenedFolder folder = OpenFolder(parts.folder, true);
  std::string problem = folder.error;
  if (problem.empty()) problem = TargetProblem(folder, parts.name);
  if (problem.empty()) problem = CreationProblem(folder);
  return problem.empty() ? std::string() : CannotWrite(path, problem);
}

std::string PrepareOutputFolder(const std::string& folder, std::span<const std::string> names) {
  if (folder.empty()) return "the folder name is empty";
  const std::string real = WithoutTrailingSeparators(folder);
  switch (StateOf(real)) {
    case FolderState::SymbolicLink:
      return "cannot use " + folder + ": " + std::string(kSymbolicLinkRefused);
    case FolderState::NotAFolder:
      return folder + " exists and is not a folder";
    case FolderState::Missing: {
      std::error_code error;
      if (fs::create_directories(real, error); error) {
        return "cannot create " + folder + ": " + Reason(error);
      }
      break;
    }
    case FolderState::Folder:
      break;
  }
  const OpenedFolder opened = OpenFolder(real, false);
  if (!opened.error.empty()) return "cannot use " + folder + ": " + opened.error;
  for (const std::string& name : names) {
    if (const std::string problem = TargetProblem(opened, name); !problem.empty()) {
      return CannotWrite(folder + "/" + name, problem);
    }
  }
  if (const std::string problem = CreationProblem(opened); !problem.empty()) {
    return "cannot create files in " + folder + ": " + problem;
  }
  return {};
}

}  // namespace tslflash
