// Pauses between retries go through a clock, so tests can count them instead
// of sleeping.
#pragma once

#include <chrono>

namespace tslflash {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

class SystemClock final : public Clock {
 public:
  void Sleep(std::chrono::milliseconds duration) override;
};

// For drives that need no time: emulated ones.
class NoWaitClock final : public Clock {
 public:
  void Sleep(std::chrono::milliseconds /*duration*/) override {}
};

}  // namespace tslflash
