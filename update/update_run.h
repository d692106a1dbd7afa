// The update run on its worker thread: image check, confirmation,
// preparation, transfer, settling, success report and the restart offer.
#pragma once

namespace tslflash {

class UpdateDialog;

// Thread entry: runs the update, then gives the dialog its buttons back.
void UpdateThreadMain(UpdateDialog& dialog);
// 1 after a completed update (restarted or not), 0 otherwise.
int RunUpdate(UpdateDialog& dialog);

}  // namespace tslflash
