#include "transport/nt_volume_lock.h"

#include <winioctl.h>

#include <string>
#include <utility>

namespace tslflash {
namespace {

class VolumeLock final : public DriveHold {
 public:
  VolumeLock(std::shared_ptr<NtPassThroughSystem> system, HANDLE handle)
      : system_(std::move(system)), handle_(handle) {}
  ~VolumeLock() override {
    (void)system_->IoControl(handle_, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0);
  }
  VolumeLock(const VolumeLock&) = delete;
  VolumeLock& operator=(const VolumeLock&) = delete;

 private:
  std::shared_ptr<NtPassThroughSystem> system_;
  HANDLE handle_;
};

}  // namespace

HoldAttempt LockVolume(const std::shared_ptr<NtPassThroughSystem>& system, HANDLE handle) {
  HoldAttempt attempt;
  const IoControlResult locked =
      system->IoControl(handle, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0);
  if (locked.succeeded) {
    attempt.hold = std::make_unique<VolumeLock>(system, handle);
  } else if (locked.error == ERROR_ACCESS_DENIED || locked.error == ERROR_SHARING_VIOLATION ||
             locked.error == ERROR_LOCK_VIOLATION) {
    attempt.inUse = true;
  } else {
    attempt.reason = "Windows error " + std::to_string(locked.error);
  }
  return attempt;
}

}  // namespace tslflash
