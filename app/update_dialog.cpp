#include "app/update_dialog.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "models/field_text.h"
#include "models/model_catalogue.h"
#include "models/package_fit.h"
#include "models/startup_warning.h"
#include "models/tool_variant.h"
#include "models/variant_captions.h"
#include "resources/texts.h"
#include "tools/file_io.h"
#include "update/announcing_restarter.h"
#include "update/update_run.h"

namespace tslflash {
namespace {

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::size_t kDisplayTextLength = 28;
constexpr std::chrono::milliseconds kProgressPeriod{700};
constexpr int kProgressLow = 0;
constexpr int kProgressHigh = 100;
constexpr int kProgressStepSize = 1;

// What one outcome code shows: log lines, its box, and log lines after it.
struct OutcomeDisplay {
  std::vector<std::string_view> logBefore;
  std::optional<MessageBox> box;
  std::vector<std::string_view> logAfter;
};

MessageBox WarningBox(std::string_view text) {
  return {std::string(text), std::string(kWarningCaption), BoxButtons::Ok, BoxIcon::Exclamation};
}

std::string HoldRefusalText(const std::string& location, const HoldAttempt& attempt) {
  std::string text = "The drive " + location;
  if (attempt.inUse) {
    text += " is in use by another program";
    if (!attempt.holder.empty()) text += " (" + attempt.holder + ")";
  } else {
    text += " could not be taken for this program alone (" + attempt.reason + ")";
  }
  return text + "; nothing was sent to it.";
}

OutcomeDisplay DisplayFor(OutcomeCode code) {
  switch (code) {
    case OutcomeCode::UserCancelled:
      return {
          {kUserCancelledLine},
          MessageBox{std::string(kUserCancelledLine), std::nullopt, BoxButtons::Ok, BoxIcon::None},
          {}};
    case OutcomeCode::ChecksumMismatch:
      return {{kSumsMismatchLine}, WarningBox(kSumsMismatchBox), {}};
    case OutcomeCode::CommandFailed:
      return {{kCommandFailLine}, WarningBox(kCommandFailBox), {}};
    case OutcomeCode::TransferFailed:
      return {{" ", kFailLine}, WarningBox(kTransferFailedBox), {" "}};
    case OutcomeCode::ModelNotAllowed:
    case OutcomeCode::IdentityNotAllowed:
      return {{kNotAllowed}, WarningBox(kNotAllowed), {}};
    case OutcomeCode::DowngradeRefused:
      return {{kNoDowngradeLine}, WarningBox(kNoDowngradeLine), {}};
    case OutcomeCode::DiscInDrive:
      return {{kDiscInDriveText}, WarningBox(kDiscInDriveText), {}};
  }
  return {};  // any other code only resets the bar, the timer and the buttons
}

// The field of a drive's text at [offset, offset + width), without padding.
std::string FieldText(std::string_view text, std::size_t offset, std::size_t width) {
  return std::string(UnpaddedField(text.substr(std::min(offset, text.size()), width)));
}

constexpr std::size_t kVendorLength = 8;

// What a check's evaluation says, kept instead of shown: it asks nothing,
// and its refusal is part of the check's answer, not a box.
class CheckEvents final : public RunEvents {
 public:
  explicit CheckEvents(std::vector<std::string>& log) : log_(log) {}
  void Log(std::string_view line) override { log_.emplace_back(line); }
  BoxAnswer Ask(const MessageBox& /*box*/) override { return BoxAnswer::Cancel; }
  void Stage(RunStage /*stage*/) override {}
  void Outcome(OutcomeCode /*code*/) override {}
  void Failed(const CommandFailure& /*failure*/) override {}

 private:
  std::vector<std::string>& log_;
};

}  // namespace

std::string OutcomeMessage(OutcomeCode code) {
  const OutcomeDisplay display = DisplayFor(code);
  if (display.box) return display.box->text;
  return {};
}

std::optional<OutcomeCode> DriveCheck::Refusal() const {
  if (verdict.refusal) return verdict.refusal;
  return preview ? preview->Refusal() : std::nullopt;
}

UpdateDialog::UpdateDialog(DialogView& view, std::unique_ptr<DriveTransport> transport,
                           std::span<const std::uint8_t> package, Clock& clock,
                           std::ostream& diagnostics, std::unique_ptr<RunWorker> worker,
                           DialogOptions options)
    : view_(view),
      clock_(clock),
      diagnostics_(diagnostics),
      registry_(std::move(transport)),
      commands_(
          registry_, [this](std::string_view text) { AppendLog(text); }, clock, diagnostics),
      package_(ParseFirmwarePackage(package)),
      worker_(std::move(worker)),
      options_(options) {
  registry_.UseNotice([this](std::string_view text) { AppendLog(text); });
  if (options_.emulatedDrives) {
    restarter_ =
        std::make_unique<AnnouncingRestarter>([this](std::string_view text) { AppendLog(text); });
  }
}

// The run uses the drive and the dialog until it returns.
UpdateDialog::~UpdateDialog() { worker_->Join(); }

bool UpdateDialog::OnInitDialog() {
  view_.AddAboutMenuItem(kStringAboutItem.text, kAboutCommand);
  if (reportText_) view_.AddSaveReportMenuItem(kSaveReportItem, kSaveReportCommand);
  const ToolVariant variant = DetermineToolVariant(package_);

  const MessageBox warning{StartupWarningText(variant, package_), std::string(kWarningCaption),
                           BoxButtons::OkCancel, BoxIcon::Exclamation, BoxPurpose::StartupWarning};
  if (ShowBox(warning) != BoxAnswer::Ok) {
    ReportOutcome(OutcomeCode::UserCancelled);
    view_.EndDialog(DialogResult::Cancel);
    return false;
  }
  if (!registry_.InitTransport()) {
    ShowBox({std::string(kInitialFailBox), std::nullopt, BoxButtons::Ok, BoxIcon::None});
    view_.EndDialog(DialogResult::Cancel);
    return false;
  }

  std::string title(kDialogTitle);
  if (const auto captions = ApplyVariantCaptions(variant, package_)) {
    title = captions->title;
    view_.SetControlText(ControlId::DevicesLabel, captions->devicesLabel);
    view_.SetControlText(ControlId::Exit, captions->exitCaption);
    view_.SetControlText(ControlId::Upgrade, captions->upgradeCaption);
  }
  if (options_.emulatedDrives) title += kEmulatedTitleSuffix;
  view_.SetTitle(title);
  view_.EnableControl(ControlId::Upgrade, false);
  if (options_.emulatedDrives) AppendLog(kEmulatedNotice);
  const bool sampleOnly = options_.samplePackage && !options_.emulatedDrives;
  if (sampleOnly) AppendLog(kSamplePackageNotice);
  FillDriveTree(sampleOnly);
  if (history_) history_->StartedUp(*this);
  return true;
}

// One root, one child per registered drive; with `greyEvery`, every drive is
// greyed whatever the package says: the build may not write to any of them.
void UpdateDialog::FillDriveTree(bool greyEvery) {
  view_.ClearTree();
  std::vector<ListedDrive> drives;
  rootItem_ = view_.InsertTreeItem(kNoTreeItem, kTreeRootText, kRootImage);
  registry_.EnumerateDrives();
  const std::uint8_t count = registry_.GetDriveCount();
  if (count == 0) {
    ShowBox({std::string(kNoDeviceBox), std::nullopt, BoxButtons::Ok, BoxIcon::None});
  }
  for (std::uint8_t i = 0; i < count; ++i) {
    (void)registry_.SelectDrive(i);
    ListedDrive drive;
    drive.text = registry_.FormatDriveText().value_or("");
    drive.location = registry_.SelectedLocation().value_or("");
    drive.text.resize(std::min(drive.text.size(), kDisplayTextLength));
    drive.vendor = FieldText(drive.text, 0, kVendorLength);
    drive.product = FieldText(drive.text, kVendorLength, kDriveIdLength - kVendorLength);
    drive.revision = FieldText(drive.text, kDriveIdLength, kDisplayTextLength - kDriveIdLength);
    drive.item = view_.InsertTreeItem(rootItem_, drive.text, kDriveImage);
    const std::optional<std::string> misfit = PackageMisfit(drive.text, package_);
    drive.greyed = greyEvery || misfit;
    if (drive.greyed) {
      drive.greyedBecause = greyEvery ? std::string(kSamplePackageReason) : *misfit;
      view_.AssignItemColor(drive.item, kGreyedDrive);
      view_.SetTreeItemTip(drive.item, drive.greyedBecause);
    }
    drives.push_back(std::move(drive));
  }
  {
    const std::lock_guard lock(drivesMutex_);
    drives_ = std::move(drives);
  }
  view_.ExpandTreeItem(rootItem_);
  (void)registry_.SelectDrive(0);
}

bool UpdateDialog::OnSysCommand(int commandId) {
  const int command = commandId & 0xFFF0;
  if (command == kAboutCommand) {
    view_.ShowAboutBox();
    return true;
  }
  if (command != kSaveReportCommand || !reportText_) return false;
  SaveReport();
  return true;
}

// Not a box of the update: it is not kept with the run's boxes.
void UpdateDialog::SaveReport() {
  const std::optional<std::string> path = view_.AskSaveFileName(kSaveReportFileName);
  if (!path) return;
  // Whole or not at all: a reader never sees half a report.
  const std::string error = WriteFileAtomically(*path, reportText_());
  if (error.empty()) return;
  (void)view_.ShowMessageBox({std::string(kSaveReportFailed) + error,
                              std::string(kSaveReportCaption), BoxButtons::Ok,
                              BoxIcon::Exclamation});
}

void UpdateDialog::OnTimer(int /*timerId*/) { view_.StepProgress(); }

// Selecting a drive describes it in the log pane and enables Upgrade;
// selecting the root says that no drive is selected.
void UpdateDialog::OnDriveSelChanged(TreeItem selected) {
  selectedDriveIndex_ = 0;
  if (selected == kNoTreeItem) return;
  if (selected == rootItem_) {
    selectedDriveText_ = kTreeRootText;
    SetLogPane(std::string(kNoDriveSelectedText));
    return;
  }
  const std::vector<ListedDrive> drives = Drives();
  const auto drive = std::ranges::find(drives, selected, &ListedDrive::item);
  if (drive == drives.end()) return;
  selectedDriveIndex_ = static_cast<std::uint32_t>(drive - drives.begin());
  selectedDriveText_ = drive->text.substr(0, kSelectionCapacity);
  const std::string_view text = selectedDriveText_;
  std::string description(text.substr(0, std::min(text.size(), kDriveIdLength)));
  if (DetermineToolVariant(package_) != ToolVariant::Vr) {
    description += kCurrentFirmware;
    if (text.size() > kDriveIdLength) description += text.substr(kDriveIdLength);
  }
  view_.EnableControl(ControlId::Upgrade, true);
  SetLogPane(std::move(description));
  // A selection must not offer a second run while one is active.
  if (runActive_) view_.EnableControl(ControlId::Upgrade, false);
}

void UpdateDialog::OnUpgrade() {
  if (runActive_) return;
  lastOutcome_.reset();
  lastFailure_.reset();
  lastRunCompleted_ = false;
  {
    const std::lock_guard lock(logMutex_);
    upgradeLog_.clear();
    upgradeBoxes_.clear();
    progress_.reset();
    confirmation_.reset();
  }
  if (LogPane().starts_with(kNoDriveSelectedText)) {
    ShowBox({std::string(kNoDriveSelectedBox), std::nullopt, BoxButtons::Ok, BoxIcon::Exclamation});
    return;
  }
  // The tree's position always names a registered drive.
  (void)registry_.SelectDrive(static_cast<std::uint8_t>(selectedDriveIndex_ & 0xFF));
  if (!TakeDriveForRun()) return;
  RaiseRunShield();
  verdict_ = EvaluateUpgrade({selectedDriveText_, package_}, commands_, *this);
  if (verdict_.mayUpdate) {
    runDriveIndex_ = selectedDriveIndex_;
    StartRun();
    return;
  }
  // Selecting a drive in the tree enables it again.
  if (verdict_.announced) view_.EnableControl(ControlId::Upgrade, false);
  ReleaseDrive();
  if (shield_) shield_->Lower();
}

std::optional<DriveCheck> UpdateDialog::CheckDrive(std::size_t index) {
  const std::vector<ListedDrive> drives = Drives();
  if (runActive_ || index >= drives.size()) return std::nullopt;
  (void)registry_.SelectDrive(static_cast<std::uint8_t>(index & 0xFF));
  DriveCheck check;
  CheckEvents events(check.log);
  UpgradeRequest request{drives[index].text.substr(0, kSelectionCapacity), package_};
  request.checkOnly = true;
  check.verdict = EvaluateUpgrade(request, commands_, events);
  if (check.verdict.mayUpdate) check.preview = PreviewRun(check.verdict.job, package_);
  return check;
}

void UpdateDialog::RaiseRunShield() {
  if (shield_ && !shield_->Raise()) AppendLog(kSleepNotBlocked);
}

bool UpdateDialog::TakeDriveForRun() {
  const std::string location = registry_.SelectedLocation().value_or("");
  const auto refuse = [this](const std::string& text) {
    AppendLog(text);
    ShowBox(WarningBox(text));
    return false;
  };
  if (options_.samplePackage && !options_.emulatedDrives) {
    return refuse(std::string(kSamplePackageNotice) + " Nothing was sent to " + location + ".");
  }
  HoldAttempt attempt = registry_.HoldSelected();
  if (!attempt.hold) return refuse(HoldRefusalText(location, attempt));
  if (const std::optional<std::string> missing = registry_.MissingWriteRights()) {
    return refuse(*missing);  // the hold goes with `attempt`
  }
  const std::lock_guard lock(holdMutex_);
  hold_ = std::move(attempt.hold);
  return true;
}

void UpdateDialog::ReleaseDrive() {
  const std::lock_guard lock(holdMutex_);
  hold_.reset();
}

// The buttons stay disabled and the dialog cannot be closed until the run's
// worker ends it.
void UpdateDialog::StartRun() {
  runActive_ = true;
  EnableButtons(false);
  view_.SetProgressRange(kProgressLow, kProgressHigh);
  view_.SetProgressPosition(kProgressLow);
  view_.SetProgressStep(kProgressStepSize);
  worker_->Start([this] { EndRun(RunJob(verdict_.job)); });
}

bool UpdateDialog::RunJob(const UpdateJob& job) {
  const RunContext context{commands_, clock_, diagnostics_, package_, *this, restarter_.get()};
  return RunUpdate(job, context);
}

void UpdateDialog::EndRun(bool completed) {
  ReleaseDrive();                 // before the next run can be started
  if (shield_) shield_->Lower();  // before the dialog may close
  lastRunCompleted_ = completed;
  if (history_) history_->RunEnded(*this);
  runActive_ = false;
  EnableButtons(true);
}

void UpdateDialog::Stage(RunStage stage) {
  switch (stage) {
    case RunStage::Preparing:
      if (history_) history_->RunChangesDrive(*this);
      view_.StartTimer(kProgressTimer, kProgressPeriod);
      break;
    case RunStage::Writing:
      view_.EnableCloseCommand(false);
      break;
    case RunStage::WriteEnded:
      view_.EnableCloseCommand(true);
      break;
    case RunStage::Written:
      view_.SetProgressPosition(kProgressHigh);
      view_.StopTimer(kProgressTimer);
      view_.EnableCloseCommand(true);
      break;
    case RunStage::Stopped:
      view_.SetProgressPosition(kProgressLow);
      view_.StopTimer(kProgressTimer);
      break;
  }
}

std::string UpdateDialog::LogPane() const {
  const std::lock_guard lock(logMutex_);
  return logPane_;
}

std::vector<std::string> UpdateDialog::UpgradeLog() const {
  const std::lock_guard lock(logMutex_);
  return upgradeLog_;
}

std::vector<ShownBox> UpdateDialog::UpgradeBoxes() const {
  const std::lock_guard lock(logMutex_);
  return upgradeBoxes_;
}

std::optional<TransferProgress> UpdateDialog::LastProgress() const {
  const std::lock_guard lock(logMutex_);
  return progress_;
}

std::optional<DriveConfirmation> UpdateDialog::LastConfirmation() const {
  const std::lock_guard lock(logMutex_);
  return confirmation_;
}

// The tree shows the revision the drive reports now.
void UpdateDialog::Confirmed(const DriveConfirmation& confirmation) {
  {
    const std::lock_guard lock(logMutex_);
    confirmation_ = confirmation;
  }
  if (confirmation.revision.empty()) return;
  TreeItem item = kNoTreeItem;
  std::string text;
  {
    const std::lock_guard lock(drivesMutex_);
    if (runDriveIndex_ >= drives_.size()) return;
    ListedDrive& drive = drives_[runDriveIndex_];
    drive.revision = confirmation.revision;
    drive.text.resize(kDriveIdLength, ' ');
    drive.text += confirmation.revision;
    item = drive.item;
    text = drive.text;
  }
  view_.SetTreeItemText(item, text);
}

std::vector<ListedDrive> UpdateDialog::Drives() const {
  const std::lock_guard lock(drivesMutex_);
  return drives_;
}

void UpdateDialog::Progress(const TransferProgress& progress) {
  {
    const std::lock_guard lock(logMutex_);
    progress_ = progress;
  }
  view_.ShowTransferProgress(progress);
}

BoxAnswer UpdateDialog::ShowBox(const MessageBox& box) {
  const BoxAnswer answer = view_.ShowMessageBox(box);
  const std::lock_guard lock(logMutex_);
  upgradeBoxes_.push_back({box, answer});
  return answer;
}

void UpdateDialog::SetLogPane(std::string text) {
  {
    const std::lock_guard lock(logMutex_);
    logPane_ = text;
  }
  view_.SetControlText(ControlId::Log, text);
}

// The pane holds at most kLogCapacity bytes: when the new line would not fit,
// the old text goes first. Every line starts on a line of its own.
void UpdateDialog::AppendLog(std::string_view text) {
  constexpr std::size_t kRoom = kLogCapacity - 1;  // the terminator's byte
  std::string pane = LogPane();
  pane.resize(std::min(pane.size(), kRoom));
  // A single line longer than the pane is cut to fit rather than overflow it.
  text = text.substr(0, std::min(text.size(), kRoom - kLineBreak.size()));
  if (pane.size() + kLineBreak.size() + text.size() > kRoom) pane.clear();
  pane += kLineBreak;
  pane += text;
  {
    const std::lock_guard lock(logMutex_);
    upgradeLog_.emplace_back(text);
  }
  SetLogPane(std::move(pane));
  view_.ScrollLogToEnd();
}

// While a run is active both buttons stay disabled; the run's end gives them
// back.
void UpdateDialog::EnableButtons(bool enable) {
  enable = enable && !runActive_;
  view_.EnableControl(ControlId::Upgrade, enable);
  view_.EnableControl(ControlId::Exit, enable);
}

void UpdateDialog::ReportOutcome(OutcomeCode code) {
  lastOutcome_ = code;
  view_.SetProgressPosition(0);
  view_.StopTimer(kProgressTimer);
  EnableButtons(true);
  const OutcomeDisplay display = DisplayFor(code);
  for (const std::string_view line : display.logBefore) AppendLog(line);
  if (display.box) ShowBox(*display.box);
  for (const std::string_view line : display.logAfter) AppendLog(line);
}

}  // namespace tslflash
