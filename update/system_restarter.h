// The real restart: the system's own reboot request.
#pragma once

#include "update/restarter.h"

namespace tslflash {

// Linux: asks the login manager on the system bus to reboot (polkit applies
// the user's rights), else runs the reboot command by its absolute path.
// Windows: enables the shutdown privilege, then asks Windows to reboot.
class SystemRestarter final : public Restarter {
 public:
  bool RequestReboot() override;
};

}  // namespace tslflash
