// What keeps an update run from being broken into: while the shield is up,
// the machine is kept from sleeping or shutting down where the platform
// allows it, and signals (or console events) that would end or stop the
// program are held until the run has ended. The dialog raises it before the
// Upgrade checks, which may already write the drive, and lowers it when the
// run ends, however it ends.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "resources/texts.h"

namespace tslflash {

class RunShield {
 public:
  virtual ~RunShield() = default;
  // False when sleep and shutdown should have been blocked and could not
  // be; what the process itself holds (signals) is held either way.
  [[nodiscard]] virtual bool Raise() = 0;
  // Does nothing when the shield is not up.
  virtual void Lower() = 0;
};

// Whether the shield also keeps the machine from sleeping and shutting down.
// A real drive left half written is broken; an emulated one loses nothing,
// so its runs hold the signals only and never ask for the lock.
enum class SleepLock : std::uint8_t { Take, None };

// This platform's shield, chosen in one place (run_shield_<platform>.cpp).
std::unique_ptr<RunShield> MakeSystemRunShield(SleepLock sleepLock);

}  // namespace tslflash
