// The update run on its worker thread: image check, confirmation,
// preparation, transfer, settling, success report and the restart offer.
#pragma once

namespace tslflash {

class UpdateDialog;

// Thread entry: runs the update, then ends the dialog's run, which gives the
// buttons back.
void UpdateThreadMain(UpdateDialog& dialog);
// 1 after a completed update (restarted or not), 0 otherwise.
int RunUpdate(UpdateDialog& dialog);
// Asks the dialog's restarter to reboot; says so in a box when it cannot.
void RestartComputer(UpdateDialog& dialog);

}  // namespace tslflash
