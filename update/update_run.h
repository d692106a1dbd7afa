// The update run: image check, confirmation, preparation, transfer, settling,
// success report and the restart offer, for the job the Upgrade checks left.
// It runs on the dialog's worker thread and talks only to its events.
#pragma once

#include <iosfwd>

#include "package/firmware_package.h"
#include "transport/clock.h"
#include "transport/drive_commands.h"
#include "update/restarter.h"
#include "update/run_events.h"
#include "update/upgrade_checks.h"

namespace tslflash {

// What the run works with besides its job.
struct RunContext {
  DriveCommands& commands;
  Clock& clock;
  std::ostream& diagnostics;
  const FirmwarePackage& package;
  RunEvents& events;
  Restarter* restarter;  // none: a restart is refused
};

// True after a completed update (restarted or not).
[[nodiscard]] bool RunUpdate(const UpdateJob& job, const RunContext& context);
// Asks the restarter to reboot; says so in a box when it cannot.
void RestartComputer(Restarter* restarter, RunEvents& events);

}  // namespace tslflash
