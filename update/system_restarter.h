// The real restart: the system's own reboot request.
#pragma once

#include "update/restarter.h"

namespace tslflash {

// Asks systemd (through logind) to reboot, as `systemctl reboot` does.
class SystemRestarter final : public Restarter {
 public:
  bool RequestReboot() override;
};

}  // namespace tslflash
