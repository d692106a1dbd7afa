// Restarting the computer after an update goes through this seam, so that no
// test and no emulated run can reboot the machine.
#pragma once

#include <string>

namespace tslflash {

class Restarter {
 public:
  virtual ~Restarter() = default;
  // Asks the system to reboot; false when the request was refused.
  [[nodiscard]] virtual bool RequestReboot() = 0;
};

}  // namespace tslflash
