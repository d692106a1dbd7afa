// The restart of an emulated run told that the system refuses it, so that
// what the user sees then can be tried without a machine that refuses.
#pragma once

#include "update/restarter.h"

namespace tslflash {

class RefusingRestarter final : public Restarter {
 public:
  bool RequestReboot() override { return false; }
};

}  // namespace tslflash
