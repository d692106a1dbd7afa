#include "tools/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>

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
// Never an existing file: the probe must not replace one of the user's.
constexpr int kProbeFlags = O_WRONLY | O_CREAT | O_EXCL;

struct CloseFile {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
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

bool WriteAll(const std::string& path, std::span<const std::uint8_t> bytes) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  return std::fclose(file.release()) == 0 && written;
}

// Creates and removes a new empty file in folder.
bool CanCreateFileIn(const fs::path& folder) {
  const fs::path probe = folder / (".tslflash-probe" + std::to_string(std::random_device{}()));
  if (const Descriptor created(open(probe.string().c_str(), kProbeFlags, 0600));
      created.Get() < 0) {
    return false;
  }
  std::error_code error;
  fs::remove(probe, error);
  return true;
}

}  // namespace

FileRead ReadBinaryFile(const std::string& path, SizeBound bound) {
  const auto refused = [&path](const std::string& reason) {
    return FileRead{{}, "cannot read " + path + ": " + reason};
  };
  const Descriptor file(open(path.c_str(), kReadFlags));
  if (file.Get() < 0) return refused(ErrnoReason());
  struct stat status {};
  if (fstat(file.Get(), &status) != 0) return refused(ErrnoReason());
  if (S_ISDIR(status.st_mode)) return refused("a folder, not a file");
  if (!S_ISREG(status.st_mode)) return refused("not a regular file");
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

std::string WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
  const std::string temporary = path + ".tmp" + std::to_string(std::random_device{}());
  std::error_code error;
  if (WriteAll(temporary, bytes)) {
    fs::rename(temporary, path, error);
    if (!error) return {};
  }
  fs::remove(temporary, error);
  return "cannot write " + path;
}

std::string WriteFileAtomically(const std::string& path, std::string_view text) {
  return WriteFileAtomically(
      path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::string PrepareOutputFolder(const std::string& folder) {
  if (folder.empty()) return "the folder name is empty";
  std::error_code error;
  if (fs::exists(folder, error) && !fs::is_directory(folder, error)) {
    return folder + " exists and is not a folder";
  }
  if (fs::create_directories(folder, error); error) {
    return "cannot create " + folder + ": " + Reason(error);
  }
  // Trying is the one test that holds for every user and file system (root
  // passes permission checks, a read-only mount refuses even root).
  if (!CanCreateFileIn(folder)) return "cannot create files in " + folder;
  return {};
}

}  // namespace tslflash
