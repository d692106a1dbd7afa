#include "update/update_run.h"

#include "app/update_dialog.h"

namespace tslflash {

void UpdateThreadMain(UpdateDialog& dialog) {
  (void)RunUpdate(dialog);
  dialog.EndRun();
}

int RunUpdate(UpdateDialog& /*dialog*/) { return 0; }

}  // namespace tslflash
