// The real restart: the system's own reboot request.
#pragma once

#include "update/restarter.h"

namespace tslflash {

// Linux: asks systemd (through logind) to reboot, as `systemctl reboot` does.
// Windows: enables the shutdown privilege, then asks Windows to reboot.
class SystemRestarter final : public Restarter {
 public:
  bool RequestReboot() override;
};

}  // namespace tslflash
