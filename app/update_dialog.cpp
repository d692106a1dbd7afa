#include "app/update_dialog.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "models/eligibility.h"
#include "models/startup_warning.h"
#include "models/tool_variant.h"
#include "models/variant_captions.h"
#include "resources/texts.h"
#include "update/announcing_restarter.h"

namespace tslflash {
namespace {

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kNotAllowed = "The drive is not allowed to be updated.";
constexpr std::string_view kEmulatedTitleSuffix = " [emulated drives]";
constexpr std::string_view kEmulatedNotice = "Emulated drives: no command reaches a real device.";
constexpr std::string_view kSamplePackageNotice =
    "This build carries a sample firmware package; it writes only to emulated drives.";

constexpr std::string_view kTransferFailedBox =
    "Updating incomplete or interrupted! \n\nPlease retry after rebooting your computer and "
    "ensure the drive is\nproperly installed and detected by the operating system.\nAlso remove "
    "any media from the drive.\n\nIt is highly recommended to terminate all applications before "
    "updating.\n\nIf the problem persists, please contact product support.";

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
      return {{"User cancelled."},
              MessageBox{"User cancelled.", std::nullopt, BoxButtons::Ok, BoxIcon::None},
              {}};
    case OutcomeCode::ChecksumMismatch:
      return {{"Check Sum not match !!"}, WarningBox("CheckSum not match !!"), {}};
    case OutcomeCode::CommandFailed:
      return {{"On Command Fail !!"}, WarningBox("Command Fail."), {}};
    case OutcomeCode::TransferFailed:
      return {{" ", "======== FAIL ========"}, WarningBox(kTransferFailedBox), {" "}};
    case OutcomeCode::ModelNotAllowed:
    case OutcomeCode::IdentityNotAllowed:
      return {{kNotAllowed}, WarningBox(kNotAllowed), {}};
    case OutcomeCode::DowngradeRefused:
      return {{"UPGRADE Only! Can't downgrade this drive."},
              WarningBox("UPGRADE Only! Can't downgrade this drive."),
              {}};
    case OutcomeCode::DiscInDrive: {
      constexpr std::string_view kDisc =
          "The update cannot proceed because there is a disc in the selected drive. Remove the "
          "disc and retry the operation.";
      return {{kDisc}, WarningBox(kDisc), {}};
    }
  }
  return {};  // any other code only resets the bar, the timer and the buttons
}

}  // namespace

UpdateDialog::UpdateDialog(DialogView& view, std::unique_ptr<DriveTransport> transport,
                           std::span<const std::uint8_t> package, Clock& clock,
                           std::ostream& diagnostics, DialogOptions options)
    : view_(view),
      clock_(clock),
      diagnostics_(diagnostics),
      registry_(std::move(transport)),
      commands_(
          registry_, [this](std::string_view text) { AppendLog(text); }, clock, diagnostics),
      package_(package),
      options_(options) {
  registry_.UseNotice([this](std::string_view text) { AppendLog(text); });
  if (options_.emulatedDrives) {
    restarter_ =
        std::make_unique<AnnouncingRestarter>([this](std::string_view text) { AppendLog(text); });
  }
}

bool UpdateDialog::OnInitDialog() {
  view_.AddAboutMenuItem(kStringAboutItem.text, kAboutCommand);
  // A package shorter than its header leaves the missing bytes zero.
  std::copy_n(package_.begin(), std::min(package_.size(), headerCopy_.size()), headerCopy_.begin());
  const ToolVariant variant = DetermineToolVariant(headerCopy_);

  if (!ShowStartupWarning(view_, variant, headerCopy_)) {
    ReportOutcome(OutcomeCode::UserCancelled);
    view_.EndDialog(DialogResult::Cancel);
    return false;
  }
  if (!registry_.InitTransport()) {
    view_.ShowMessageBox({"Initial fail.", std::nullopt, BoxButtons::Ok, BoxIcon::None});
    view_.EndDialog(DialogResult::Cancel);
    return false;
  }

  std::string title(kDialogTitle);
  if (const auto captions = ApplyVariantCaptions(variant, headerCopy_)) {
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
  FillDriveTree(view_, registry_, headerCopy_, selection_, sampleOnly);
  return true;
}

bool UpdateDialog::OnSysCommand(int commandId) {
  if ((commandId & 0xFFF0) != kAboutCommand) return false;
  view_.ShowAboutBox();
  return true;
}

void UpdateDialog::OnTimer(int /*timerId*/) { view_.StepProgress(); }

void UpdateDialog::OnDriveSelChanged() {
  tslflash::OnDriveSelChanged(view_, headerCopy_, selection_);
  // A selection must not offer a second run while one is active.
  if (runActive_) view_.EnableControl(ControlId::Upgrade, false);
}

void UpdateDialog::OnUpgrade() {
  if (runActive_) return;
  lastOutcome_.reset();
  lastRunCompleted_ = false;
  runStarted_ = false;
  tslflash::OnUpgrade(*this);
  // A refusal after the drive was taken gives it back; a started run keeps it
  // until it ends.
  if (!runActive_) ReleaseDrive();
  if (!runStarted_ && shield_) shield_->Lower();  // the checks refused, or nothing was selected
}

void UpdateDialog::RaiseRunShield() {
  if (shield_ && !shield_->Raise()) AppendLog(kSleepNotBlocked);
}

bool UpdateDialog::TakeDriveForRun() {
  const std::string location = registry_.SelectedLocation().value_or("");
  const auto refuse = [this](const std::string& text) {
    AppendLog(text);
    view_.ShowMessageBox(WarningBox(text));
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

void UpdateDialog::BeginRun() {
  runStarted_ = true;
  runActive_ = true;
  EnableButtons(false);
}

void UpdateDialog::EndRun(bool completed) {
  ReleaseDrive();                 // before the next run can be started
  if (shield_) shield_->Lower();  // before the dialog may close
  lastRunCompleted_ = completed;
  runActive_ = false;
  EnableButtons(true);
}

// The pane holds at most kLogCapacity bytes: when the new line would not fit,
// the old text goes first. Every line starts on a line of its own.
void UpdateDialog::AppendLog(std::string_view text) {
  constexpr std::size_t kRoom = kLogCapacity - 1;  // the terminator's byte
  std::string pane = view_.GetControlText(ControlId::Log);
  pane.resize(std::min(pane.size(), kRoom));
  // A single line longer than the pane is cut to fit rather than overflow it.
  text = text.substr(0, std::min(text.size(), kRoom - kLineBreak.size()));
  if (pane.size() + kLineBreak.size() + text.size() > kRoom) pane.clear();
  pane += kLineBreak;
  pane += text;
  view_.SetControlText(ControlId::Log, pane);
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
  if (display.box) view_.ShowMessageBox(*display.box);
  for (const std::string_view line : display.logAfter) AppendLog(line);
}

}  // namespace tslflash
