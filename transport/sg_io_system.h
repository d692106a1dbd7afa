// The few system calls the SG_IO transport makes, behind one interface so
// that tests can stand in for the kernel and no test ever opens a device.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tslflash {

// A system call's return value; when it is negative, `error` holds errno.
struct SysResult {
  int value = -1;
  int error = 0;
};

class SgIoSystem {
 public:
  virtual ~SgIoSystem() = default;
  virtual SysResult Open(const std::string& path, int flags) = 0;
  virtual void Close(int fd) = 0;
  virtual SysResult Ioctl(int fd, unsigned long request, void* argument) = 0;
  // flock(2): an advisory lock on the opened file.
  virtual SysResult Flock(int fd, int operation) = 0;
  // The program holding an advisory lock on this device node, as "comm,
  // process PID"; empty when none can be found.
  virtual std::string LockHolder(const std::string& path) = 0;
  // Whether this process has CAP_SYS_RAWIO in its effective set: the kernel
  // lets only such a process send SCSI commands outside its safe list.
  virtual bool HasRawIoCapability() = 0;
  // Names of the CD/DVD block devices in /dev ("sr0", "sr1", ...), in any order.
  virtual std::vector<std::string> ListOpticalDeviceNames() = 0;
};

// The number of an optical block device's name "sr<digits>", or nothing for
// any other name.
std::optional<unsigned> OpticalDeviceNumber(std::string_view name);

// The running kernel.
std::shared_ptr<SgIoSystem> MakeLinuxSgIoSystem();

}  // namespace tslflash
