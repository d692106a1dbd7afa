#include "transport/sg_io_system.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <system_error>

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

  std::string ProgramPath() override {
    std::error_code error;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
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
