#include "transport/sg_io_hold.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <sstream>
#include <system_error>
#include <utility>
#include <vector>

namespace tslflash {
namespace {

// Closing the descriptor gives up both the exclusive open and the lock.
class SgIoHold final : public DriveHold {
 public:
  SgIoHold(std::shared_ptr<SgIoSystem> system, int fd) : system_(std::move(system)), fd_(fd) {}
  ~SgIoHold() override { system_->Close(fd_); }
  SgIoHold(const SgIoHold&) = delete;
  SgIoHold& operator=(const SgIoHold&) = delete;

 private:
  std::shared_ptr<SgIoSystem> system_;
  int fd_;
};

HoldAttempt Refused(SgIoSystem& system, const std::string& path, int error) {
  HoldAttempt attempt;
  if (error == EBUSY || error == EWOULDBLOCK) {
    attempt.inUse = true;
    attempt.holder = system.LockHolder(path);
  } else {
    attempt.reason = std::generic_category().message(error);
  }
  return attempt;
}

// "MAJ:MIN:INODE" with the device numbers in hexadecimal, as the kernel
// writes them.
bool SameFile(const std::string& field, unsigned major, unsigned minor, unsigned long inode) {
  unsigned fieldMajor = 0;
  unsigned fieldMinor = 0;
  unsigned long fieldInode = 0;
  char colon1 = 0;
  char colon2 = 0;
  std::istringstream in(field);
  in >> std::hex >> fieldMajor >> colon1 >> fieldMinor >> colon2 >> std::dec >> fieldInode;
  return in && colon1 == ':' && colon2 == ':' && fieldMajor == major && fieldMinor == minor &&
         fieldInode == inode;
}

}  // namespace

HoldAttempt HoldSgIoDevice(const std::shared_ptr<SgIoSystem>& system, const std::string& path) {
  const SysResult opened = system->Open(path, O_RDWR | O_NONBLOCK | O_EXCL | O_CLOEXEC);
  if (opened.value < 0) return Refused(*system, path, opened.error);
  if (const SysResult locked = system->Flock(opened.value, LOCK_EX | LOCK_NB); locked.value < 0) {
    system->Close(opened.value);
    return Refused(*system, path, locked.error);
  }
  HoldAttempt attempt;
  attempt.hold = std::make_unique<SgIoHold>(system, opened.value);
  return attempt;
}

// Each line: "N: TYPE MODE ACCESS PID MAJ:MIN:INODE START END"; a lock still
// waiting to be granted has "->" after the number and is passed over.
std::optional<long> FindLockHolder(std::string_view procLocks, unsigned major, unsigned minor,
                                   unsigned long inode) {
  std::istringstream lines{std::string(procLocks)};
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::vector<std::string> fields;
    for (std::string word; words >> word;) fields.push_back(std::move(word));
    if (fields.size() < 6 || fields[1] == "->") continue;
    long pid = 0;
    std::istringstream pidText(fields[4]);
    // Open-file-description locks belong to no process and show -1.
    if (!(pidText >> pid) || pid <= 0) continue;
    if (SameFile(fields[5], major, minor, inode)) return pid;
  }
  return std::nullopt;
}

}  // namespace tslflash
