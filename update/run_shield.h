// What keeps an update run from being broken into: while the shield is up,
// the machine is kept from sleeping or shutting down where the platform
// allows it, and signals (or console events) that would end or stop the
// program are held until the run has ended. The dialog raises it before the
// Upgrade checks, which may already write the drive, and lowers it when the
// run ends, however it ends.
#pragma once

#include <memory>
#include <string_view>

#include "resources/texts.h"

namespace tslflash {

class RunShield {
 public:
  virtual ~RunShield() = default;
  // False when sleep and shutdown could not be blocked; what the process
  // itself holds (signals) is held either way.
  [[nodiscard]] virtual bool Raise() = 0;
  // Does nothing when the shield is not up.
  virtual void Lower() = 0;
};

// This platform's shield, chosen in one place (run_shield_<platform>.cpp).
std::unique_ptr<RunShield> MakeSystemRunShield();

}  // namespace tslflash
