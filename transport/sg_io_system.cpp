#include "transport/sg_io_system.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "transport/sg_io_hold.h"

namespace tslflash {
namespace {

class LinuxSgIoSystem final : public SgIoSystem {
 public:
  SysResult Open(const std::string& path, int flags) override {
    const int fd = ::open(path.c_str(), flags);
    return {fd, fd < 0 ? errno : 0};
  }

  void Close(int fd) override { ::close(fd); }

  SysResult Ioctl(int fd, unsigned long request, void* argument) override {
    const int result = ::ioctl(fd, request, argument);
    return {result, result < 0 ? errno : 0};
  }

  SysResult Flock(int fd, int operation) override {
    const int result = ::flock(fd, operation);
    return {result, result < 0 ? errno : 0};
  }

  std::string LockHolder(const std::string& path) override {
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0) return {};
    std::ifstream locks("/proc/locks");
    const std::string text{std::istreambuf_iterator<char>(locks), std::istreambuf_iterator<char>()};
    const std::optional<long> pid = FindLockHolder(text, ::major(node.st_dev), ::minor(node.st_dev),
                                                   static_cast<unsigned long>(node.st_ino));
    if (!pid) return {};
    std::ifstream comm("/proc/" + std::to_string(*pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    const std::string process = "process " + std::to_string(*pid);
    return name.empty() ? process : name + ", " + process;
  }

  // The capget system call: one question to the kernel, no library to carry
  // into the static builds.
  bool HasRawIoCapability() override {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    return (data[CAP_TO_INDEX(CAP_SYS_RAWIO)].effective & CAP_TO_MASK(CAP_SYS_RAWIO)) != 0;
  }

  std::vector<std::string> ListOpticalDeviceNames() override {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator entry("/dev", error), end; !error && entry != end;
         entry.increment(error)) {
      std::string name = entry->path().filename().string();
      if (OpticalDeviceNumber(name).has_value()) names.push_back(std::move(name));
    }
    return names;
  }
};

}  // namespace

std::optional<unsigned> OpticalDeviceNumber(std::string_view name) {
  constexpr std::string_view kPrefix = "sr";
  if (!name.starts_with(kPrefix) || name.size() == kPrefix.size()) return std::nullopt;
  const char* first = name.data() + kPrefix.size();
  const char* last = name.data() + name.size();
  unsigned number = 0;
  // from_chars takes no sign or space for an unsigned number; trailing text
  // and numbers too large are refused below.
  const auto [end, error] = std::from_chars(first, last, number);
  if (error != std::errc() || end != last) return std::nullopt;
  return number;
}

std::shared_ptr<SgIoSystem> MakeLinuxSgIoSystem() { return std::make_shared<LinuxSgIoSystem>(); }

}  // namespace tslflash
