// The main dialog's logic, free of any toolkit: start-up, the log pane, the
// button lock, outcome reporting, the progress timer, the About command and
// the drive tree. It talks to its window only through DialogView.
#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>

#include "app/dialog_reporter.h"
#include "models/enclosure_identity.h"
#include "models/update_plan.h"
#include "package/package_layout.h"
#include "transport/clock.h"
#include "transport/drive_commands.h"
#include "transport/drive_registry.h"
#include "ui/dialog_view.h"
#include "ui/drive_tree.h"
#include "update/restarter.h"
#include "update/run_shield.h"

namespace tslflash {

inline constexpr std::string_view kDialogTitle = "Flash Tool (ver. A-7.8)";

struct DialogOptions {
  // Drives come from the emulator: nothing is sent to real hardware, and the
  // window says so.
  bool emulatedDrives = false;
  // The build carries the sample package, made from synthetic bytes: it must
  // never reach a real drive, so real drives are listed but never written.
  bool samplePackage = false;
};

class UpdateDialog final : public DialogReporter {
 public:
  static constexpr std::size_t kLogCapacity = 2000;  // bytes, terminator included

  UpdateDialog(DialogView& view, std::unique_ptr<DriveTransport> transport,
               std::span<const std::uint8_t> package, Clock& clock, std::ostream& diagnostics,
               DialogOptions options = {});

  // False when the dialog ended during start-up (warning declined, no
  // transport); the view has been told to end it.
  bool OnInitDialog();
  // True when the command was the dialog's own (the About box); anything else
  // is the window's default.
  bool OnSysCommand(int commandId);
  void OnTimer(int timerId);
  void OnDriveSelChanged();
  // The Upgrade button: eligibility, then the update run on a worker thread.
  void OnUpgrade();
  // The window asks before it closes: never while an update runs.
  bool CanClose() const { return !runActive_; }

  void AppendLog(std::string_view text) override;
  void EnableButtons(bool enable);
  void ReportOutcome(OutcomeCode code) override;

  // Before anything is sent to the selected drive: refuses (with a log line
  // and a box) a build that may not write to it, a drive another program
  // holds, and a process without the rights to write; otherwise holds the
  // drive for this process alone until ReleaseDrive or the run's end.
  [[nodiscard]] bool TakeDriveForRun();
  void ReleaseDrive();

  // The update run's life: while it is active the Upgrade button stays
  // disabled and the dialog cannot be closed.
  void BeginRun();
  void EndRun(bool completed);
  bool RunActive() const { return runActive_; }
  // How the last press of Upgrade ended: the outcome reported, if any, and
  // whether an update run completed.
  std::optional<OutcomeCode> LastOutcome() const { return lastOutcome_; }
  bool LastRunCompleted() const { return lastRunCompleted_; }

  // Who restarts the computer after an update; without one, a restart is
  // refused. With emulated drives the dialog only says what it would do.
  void UseRestarter(std::unique_ptr<Restarter> restarter) { restarter_ = std::move(restarter); }
  Restarter* GetRestarter() { return restarter_.get(); }

  // The shield goes up when the Upgrade checks start (they may write the
  // drive) and comes down when the run ends: refused in the checks, or when
  // its worker ends.
  void UseRunShield(std::unique_ptr<RunShield> shield) { shield_ = std::move(shield); }
  void RaiseRunShield();

  DialogView& View() { return view_; }
  DriveRegistry& Registry() { return registry_; }
  DriveCommands& Commands() { return commands_; }
  std::span<const std::uint8_t> Package() const { return package_; }
  const PackageHeaderCopy& HeaderCopy() const { return headerCopy_; }
  DriveSelection& Selection() { return selection_; }
  PackageState& Packaging() { return packageState_; }
  UpdatePlan& Plan() { return plan_; }
  Clock& GetClock() { return clock_; }
  std::ostream& Diagnostics() { return diagnostics_; }
  const DialogOptions& Options() const { return options_; }

 private:
  DialogView& view_;
  Clock& clock_;
  std::ostream& diagnostics_;
  DriveRegistry registry_;
  DriveCommands commands_;
  std::span<const std::uint8_t> package_;
  PackageHeaderCopy headerCopy_{};
  PackageState packageState_;
  UpdatePlan plan_;
  std::unique_ptr<Restarter> restarter_;
  std::unique_ptr<RunShield> shield_;
  // UI thread only: the Upgrade that raised the shield has started its run,
  // whose end lowers it.
  bool runStarted_ = false;
  std::atomic<bool> runActive_ = false;
  // Written by the worker before it clears runActive_, read after.
  std::optional<OutcomeCode> lastOutcome_;
  bool lastRunCompleted_ = false;
  DriveSelection selection_;
  DialogOptions options_;
  // The selected drive, held from the Upgrade checks to the end of the run;
  // released by the worker or the UI thread, whichever ends it.
  std::mutex holdMutex_;
  std::unique_ptr<DriveHold> hold_;
};

}  // namespace tslflash
