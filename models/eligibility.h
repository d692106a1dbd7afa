// The gate between the user's choice and the update run: the Upgrade
// button's checks, in their fixed order.
#pragma once

namespace tslflash {

class UpdateDialog;

// The Upgrade button's handler; on success it starts the update run.
void OnUpgrade(UpdateDialog& dialog);

}  // namespace tslflash
