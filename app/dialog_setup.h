// What a front end needs to run the main dialog: where the drives come from,
// which package, and how the window should present them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "app/update_dialog.h"
#include "transport/drive_transport.h"

namespace tslflash {

struct DialogSetup {
  std::function<std::unique_ptr<DriveTransport>()> makeTransport;
  std::span<const std::uint8_t> package;
  DialogOptions options;
  // Emulated drives need no time to restart: the settle waits are skipped.
  bool skipWaits = false;
  // The machine's restart; only real drives get one.
  std::function<std::unique_ptr<Restarter>()> makeRestarter;
  // What keeps the run from being broken into; none in the dialog's tests.
  std::function<std::unique_ptr<RunShield>()> makeRunShield;
  // Where the runs are remembered; none: nowhere.
  std::function<std::unique_ptr<RunHistory>()> makeRunHistory;
  // The support report of the dialog as it stands; none: the window offers
  // no report.
  std::function<std::string(const UpdateDialog&)> supportReport;
};

// Gives the dialog what the setup says beyond its constructor.
inline void ApplySetup(const DialogSetup& setup, UpdateDialog& dialog) {
  if (setup.makeRestarter) dialog.UseRestarter(setup.makeRestarter());
  if (setup.makeRunShield) dialog.UseRunShield(setup.makeRunShield());
  if (setup.makeRunHistory) dialog.UseRunHistory(setup.makeRunHistory());
  if (setup.supportReport) {
    dialog.UseSupportReport([&dialog, report = setup.supportReport] { return report(dialog); });
  }
}

}  // namespace tslflash
