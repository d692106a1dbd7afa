#include "models/eligibility.h"

namespace tslflash {

void OnUpgrade(UpdateDialog& /*dialog*/) {}

}  // namespace tslflash
