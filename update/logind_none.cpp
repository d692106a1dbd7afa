// A build without sd-bus (the static build) cannot reach the login manager.
#include "update/logind.h"

namespace tslflash::logind {

std::optional<int> InhibitSleepAndShutdown() { return std::nullopt; }

bool RequestReboot() { return false; }

}  // namespace tslflash::logind
