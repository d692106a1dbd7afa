#include <unistd.h>

#include "update/held_signals.h"
#include "update/logind.h"
#include "update/run_shield.h"

namespace tslflash {
namespace {

// Signals held, and with SleepLock::Take the login manager's inhibitor lock,
// for as long as the shield is up.
class LinuxRunShield final : public RunShield {
 public:
  explicit LinuxRunShield(SleepLock sleepLock) : sleepLock_(sleepLock) {}
  ~LinuxRunShield() override { Lower(); }

  bool Raise() override {
    held_signals::Hold();
    if (sleepLock_ == SleepLock::None) return true;
    if (lock_ < 0) lock_ = logind::InhibitSleepAndShutdown().value_or(-1);
    return lock_ >= 0;
  }

  void Lower() override {
    if (lock_ >= 0) close(lock_);
    lock_ = -1;
    held_signals::Release();
  }

 private:
  SleepLock sleepLock_;
  int lock_ = -1;
};

}  // namespace

std::unique_ptr<RunShield> MakeSystemRunShield(SleepLock sleepLock) {
  return std::make_unique<LinuxRunShield>(sleepLock);
}

}  // namespace tslflash
