// The main dialog's presenter, free of any toolkit: start-up, the drive list,
// the log pane, the button lock, outcome reporting, the progress timer, the
// About command, and the Upgrade: the engine's checks, then the update run on
// the one worker this dialog starts and joins. It keeps the dialog's state
// itself and only tells its window what to show, through DialogView.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_worker.h"
#include "package/firmware_package.h"
#include "resources/texts.h"
#include "transport/clock.h"
#include "transport/drive_commands.h"
#include "transport/drive_registry.h"
#include "ui/dialog_view.h"
#include "update/restarter.h"
#include "update/run_events.h"
#include "update/run_preview.h"
#include "update/run_shield.h"
#include "update/upgrade_checks.h"

namespace tslflash {

struct DialogOptions {
  // Drives come from the emulator: nothing is sent to real hardware, and the
  // window says so.
  bool emulatedDrives = false;
  // The build carries the sample package, made from synthetic bytes: it must
  // never reach a real drive, so real drives are listed but never written.
  bool samplePackage = false;
};

// A drive as the list shows it.
struct ListedDrive {
  std::string text;  // vendor and product (24 characters), then the revision
  // The fields of `text`, without their padding.
  std::string vendor;
  std::string product;
  std::string revision;
  bool greyed = false;
  std::string greyedBecause;  // one line, when greyed
  std::string location;       // the device: /dev/sg1, a drive letter, emulated:0
  TreeItem item = kNoTreeItem;
};

// What a check of one drive found: the checks' verdict, and when every check
// passed, what the run would do. Nothing was asked and nothing changed on the
// drive.
struct DriveCheck {
  Verdict verdict;
  std::optional<RunPreview> preview;  // when every check passed
  std::vector<std::string> log;       // what the checks said
  std::optional<OutcomeCode> Refusal() const;
  bool WouldUpdate() const { return verdict.mayUpdate && preview && preview->WouldSend(); }
};

// A box the dialog showed and the answer it got.
struct ShownBox {
  MessageBox box;
  BoxAnswer answer = BoxAnswer::Ok;
};

// The message an outcome shows in its box.
std::string OutcomeMessage(OutcomeCode code);

class UpdateDialog;

// Where the dialog's runs are remembered: told when start-up has listed the
// drives (to finish what an earlier run left open), and on the run's worker
// when a run that got past the checks is about to send its first command
// that changes the drive (returning once that is kept) and when it has ended.
class RunHistory {
 public:
  virtual ~RunHistory() = default;
  virtual void StartedUp(UpdateDialog& dialog) = 0;
  virtual void RunChangesDrive(const UpdateDialog& dialog) = 0;
  virtual void RunEnded(const UpdateDialog& dialog) = 0;
};

class UpdateDialog final : private RunEvents {
 public:
  static constexpr std::size_t kLogCapacity = 2000;      // bytes, terminator included
  static constexpr std::size_t kSelectionCapacity = 59;  // a 60-byte buffer with its terminator

  UpdateDialog(DialogView& view, std::unique_ptr<DriveTransport> transport,
               std::span<const std::uint8_t> package, Clock& clock, std::ostream& diagnostics,
               std::unique_ptr<RunWorker> worker, DialogOptions options = {});
  ~UpdateDialog() override;
  UpdateDialog(const UpdateDialog&) = delete;
  UpdateDialog& operator=(const UpdateDialog&) = delete;

  // False when the dialog ended during start-up (warning declined, no
  // transport); the view has been told to end it.
  bool OnInitDialog();
  // True when the command was the dialog's own (the About box, and Save
  // report when the dialog has a report); anything else is the window's
  // default.
  bool OnSysCommand(int commandId);
  void OnTimer(int timerId);
  // The person selected this item of the drive tree.
  void OnDriveSelChanged(TreeItem selected);
  // The Upgrade button: the checks, then the update run on the worker.
  void OnUpgrade();
  // The Upgrade checks on drive `index` of the list, asking nothing and
  // changing nothing on it, and what the run would do; nothing while a run
  // is active.
  std::optional<DriveCheck> CheckDrive(std::size_t index);
  // Runs the update of this job on the calling thread, as the worker does;
  // true when it completed.
  bool RunJob(const UpdateJob& job);
  // Waits until the run started by the last Upgrade, if any, has returned.
  void WaitForRun() { worker_->Join(); }
  // The window asks before it closes: never while an update runs.
  bool CanClose() const { return !runActive_; }
  bool RunActive() const { return runActive_; }

  void AppendLog(std::string_view text);
  void ReportOutcome(OutcomeCode code);

  // How the last press of Upgrade ended: the outcome reported, if any, and
  // whether an update run completed.
  std::optional<OutcomeCode> LastOutcome() const { return lastOutcome_; }
  bool LastRunCompleted() const { return lastRunCompleted_; }
  // What the last press of Upgrade's checks found.
  const Verdict& LastVerdict() const { return verdict_; }
  // The command that failed the last run's transfer, if one did; read once
  // the run has ended.
  const std::optional<CommandFailure>& LastFailure() const { return lastFailure_; }

  // Who restarts the computer after an update; without one, a restart is
  // refused. With emulated drives the dialog only says what it would do.
  void UseRestarter(std::unique_ptr<Restarter> restarter) { restarter_ = std::move(restarter); }
  // The shield goes up when the Upgrade checks start (they may write the
  // drive) and comes down when the run ends: refused in the checks, or when
  // its worker ends.
  void UseRunShield(std::unique_ptr<RunShield> shield) { shield_ = std::move(shield); }
  void UseRunHistory(std::unique_ptr<RunHistory> history) { history_ = std::move(history); }
  // The support report as things stand when it is asked for; with one, the
  // window's menu offers to save it. Set before OnInitDialog. It may be asked
  // for while a run is active: it reads only what the worker does not write
  // unguarded (LastFailure only once !RunActive()).
  void UseSupportReport(std::function<std::string()> reportText) {
    reportText_ = std::move(reportText);
  }

  // The dialog's state, as the window shows it.
  std::string LogPane() const;
  // Every line logged and every box shown since the last press of Upgrade
  // (since start-up before the first), read once the run has ended.
  std::vector<std::string> UpgradeLog() const;
  std::vector<ShownBox> UpgradeBoxes() const;
  // How much of the image the drive accepted in the last run, and what it
  // reported afterwards.
  std::optional<TransferProgress> LastProgress() const;
  std::optional<DriveConfirmation> LastConfirmation() const;
  std::vector<ListedDrive> Drives() const;
  const std::string& SelectedDriveText() const { return selectedDriveText_; }
  std::uint32_t SelectedDriveIndex() const { return selectedDriveIndex_; }
  // The drive the last run went to: its place in the list.
  std::uint32_t RunDriveIndex() const { return runDriveIndex_; }
  const FirmwarePackage& Package() const { return package_; }

 private:
  // RunEvents: what the checks and the run say.
  void Log(std::string_view line) override { AppendLog(line); }
  BoxAnswer Ask(const MessageBox& box) override { return ShowBox(box); }
  void Stage(RunStage stage) override;
  void Outcome(OutcomeCode code) override { ReportOutcome(code); }
  void Failed(const CommandFailure& failure) override { lastFailure_ = failure; }
  void Progress(const TransferProgress& progress) override;
  void Confirmed(const DriveConfirmation& confirmation) override;

  BoxAnswer ShowBox(const MessageBox& box);
  // Asks where, then writes the report there; a box says why it could not.
  void SaveReport();
  void FillDriveTree(bool greyEvery);
  void SetLogPane(std::string text);
  void EnableButtons(bool enable);
  // Before anything is sent to the selected drive: refuses (with a log line
  // and a box) a build that may not write to it, a drive another program
  // holds, and a process without the rights to write; otherwise holds the
  // drive for this process alone until ReleaseDrive or the run's end.
  [[nodiscard]] bool TakeDriveForRun();
  void ReleaseDrive();
  void RaiseRunShield();
  void StartRun();
  void EndRun(bool completed);

  DialogView& view_;
  Clock& clock_;
  std::ostream& diagnostics_;
  DriveRegistry registry_;
  DriveCommands commands_;
  // Parsed once; its bytes are the caller's and outlive the dialog.
  const FirmwarePackage package_;
  std::unique_ptr<RunWorker> worker_;
  std::unique_ptr<Restarter> restarter_;
  std::unique_ptr<RunShield> shield_;
  std::unique_ptr<RunHistory> history_;
  std::function<std::string()> reportText_;
  DialogOptions options_;

  // The drive list, written by the UI thread and, for the revision a drive
  // reports after its update, by the worker; the selection, UI thread only.
  TreeItem rootItem_ = kNoTreeItem;
  mutable std::mutex drivesMutex_;
  std::vector<ListedDrive> drives_;
  std::string selectedDriveText_;
  std::uint32_t selectedDriveIndex_ = 0;
  std::uint32_t runDriveIndex_ = 0;  // set before the worker starts, read by it
  Verdict verdict_;

  // The log pane, written by the UI thread and the worker, and what was
  // logged, shown and sent since the last press of Upgrade.
  mutable std::mutex logMutex_;
  std::string logPane_;
  std::vector<std::string> upgradeLog_;
  std::vector<ShownBox> upgradeBoxes_;
  std::optional<TransferProgress> progress_;
  std::optional<DriveConfirmation> confirmation_;

  std::atomic<bool> runActive_ = false;
  // Written by the worker before it clears runActive_, read after.
  std::optional<OutcomeCode> lastOutcome_;
  std::optional<CommandFailure> lastFailure_;
  bool lastRunCompleted_ = false;
  // The selected drive, held from the Upgrade checks to the end of the run;
  // released by the worker or the UI thread, whichever ends it.
  std::mutex holdMutex_;
  std::unique_ptr<DriveHold> hold_;
};

}  // namespace tslflash
