#include "app/history_keeper.h"

#include <algorithm>
#include <ostream>
#include <utility>

#include "app/check_report.h"
#include "app/history_file.h"
#include "app/version_text.h"
#include "models/field_text.h"
#include "models/model_catalogue.h"
#include "models/recovery_rules.h"
#include "package/package_layout.h"
#include "package/sha256.h"
#include "update/hex_text.h"
#include "update/run_preview.h"

namespace tslflash {
namespace {

constexpr std::size_t kRevisionLength = 4;

HistoryPackage PackageOf(const UpdateDialog& dialog) {
  HistoryPackage package;
  const FirmwarePackage& parsed = dialog.Package();
  package.sha256 = Sha256Hex(parsed.bytes);
  if (parsed.HasWholeHeader()) {
    package.id = UnpaddedField(parsed.PackageId());
    package.revision = UnpaddedField(parsed.Revision());
    if (const auto protocol = TransferProtocolFor(parsed.ProtocolDigit())) {
      package.protocol = ProtocolName(*protocol);
    }
  }
  const ChecksumPair& sums = dialog.LastVerdict().job.staged.plan.expected;
  package.imageLinearSum = sums.linear;
  package.imageRotatedSum = sums.rotated;
  return package;
}

// The last record of the drive at this place of the list, if any.
const HistoryRecord* LastRecordOf(const std::vector<HistoryRecord>& records,
                                  const ListedDrive& drive) {
  const auto found = std::find_if(records.rbegin(), records.rend(), [&](const HistoryRecord& r) {
    return r.drive.vendor == drive.vendor && r.drive.product == drive.product &&
           r.drive.location == drive.location;
  });
  return found == records.rend() ? nullptr : &*found;
}

// A drive that reports a recovery revision carries no firmware its revision
// names: only the recovery rules say whether the package may go to it.
std::string RecoveryNote(const ListedDrive& drive, const FirmwarePackage& package) {
  if (!IsRecoveryRevision(drive.revision) || !package.HasWholeHeader()) return {};
  std::string id = drive.text.substr(0, kDriveIdLength);
  id.resize(kDriveIdLength, '\0');
  std::string revision = drive.text.substr(std::min(kDriveIdLength, drive.text.size()));
  revision.resize(kRevisionLength, '\0');
  const bool accepted = MatchRecoveryRule(
      {revision, id, package.PackageId(), package.AltProductName(), package.VariantMark()});
  return accepted ? " It is in its recovery state; the recovery rules let this package go to it."
                  : " It is in its recovery state; the recovery rules do not let this package go "
                    "to it.";
}

}  // namespace

Confirmation ConfirmationOfRun(const UpdateDialog& dialog) {
  const std::optional<DriveConfirmation> seen = dialog.LastConfirmation();
  if (!dialog.LastRunCompleted()) {
    // The closing command failed and the drive answered with its revision.
    if (seen && seen->state != DriveConfirmation::State::NoAnswer) {
      return Confirmation::NotConfirmed;
    }
    // Part of the image may be in the drive: a unit was accepted, or one
    // failed on its way (the first page too), or the drive went silent after
    // the last. A refusal before anything was sent leaves nothing to judge.
    const std::optional<TransferProgress> sent = dialog.LastProgress();
    const bool partSent = (sent && sent->sent > 0) || dialog.LastFailure() || seen;
    return partSent ? Confirmation::Interrupted : Confirmation::NotChecked;
  }
  if (!seen) return Confirmation::NotChecked;
  switch (seen->state) {
    case DriveConfirmation::State::NewFirmware:
      return Confirmation::Confirmed;
    case DriveConfirmation::State::OldFirmware:
      return Confirmation::WrittenNotActive;
    case DriveConfirmation::State::NoAnswer:
      return Confirmation::NoAnswer;
  }
  return Confirmation::NotChecked;
}

HistoryRecord RecordOfRun(const UpdateDialog& dialog, std::chrono::system_clock::time_point now) {
  HistoryRecord record;
  record.id = NewHistoryId(now);
  record.time = HistoryTime(now);
  record.toolVersion = ThisBuild().version;
  const Verdict& verdict = dialog.LastVerdict();
  const std::vector<ListedDrive> drives = dialog.Drives();
  if (dialog.RunDriveIndex() < drives.size()) {
    const ListedDrive& drive = drives[dialog.RunDriveIndex()];
    record.drive.vendor = drive.vendor;
    record.drive.product = drive.product;
    record.drive.location = drive.location;
  }
  record.drive.enclosureIdentity = verdict.job.packaging.enclosureIdentity;
  // As the drive was before the update; the list shows what it reports since.
  const std::string_view before = verdict.job.driveText;
  record.drive.revision =
      UnpaddedField(before.substr(std::min(kDriveIdLength, before.size()), kRevisionLength));
  record.package = PackageOf(dialog);
  DriveCheck checked;
  checked.verdict = verdict;
  for (const CheckLine& line : CheckLines(checked)) {
    record.checks.push_back(
        {std::string(line.name), line.result == CheckResult::Passed ? "passed" : "failed"});
  }
  if (const std::optional<TransferProgress> progress = dialog.LastProgress()) {
    record.unit = progress->unit;
    record.unitsSent = progress->sent;
    record.unitsTotal = progress->total;
  }
  if (const std::optional<OutcomeCode> outcome = dialog.LastOutcome()) {
    record.outcome = HistoryOutcome{static_cast<int>(*outcome), OutcomeMessage(*outcome)};
  }
  record.completed = dialog.LastRunCompleted();
  record.confirmation = ConfirmationOfRun(dialog);
  if (const std::optional<DriveConfirmation> seen = dialog.LastConfirmation()) {
    record.reportedRevision = seen->revision;
  }
  return record;
}

// Synced before the run's first command that changes the drive: whatever
// cuts the run off after it, the next start finds the record open.
void FileRunHistory::RunChangesDrive(const UpdateDialog& dialog) {
  HistoryRecord record = RecordOfRun(dialog, std::chrono::system_clock::now());
  const RunPreview preview = PreviewRun(dialog.LastVerdict().job, dialog.Package());
  record.unit = preview.units.unit;
  record.unitsTotal = preview.units.total;
  record.open = true;
  openId_ = record.id;
  openTime_ = record.time;
  Append(EncodeHistoryRecord(record));
}

// The run's record, under the id of its open record, if it had one, which
// it closes; its time stays the update's start.
void FileRunHistory::RunEnded(const UpdateDialog& dialog) {
  HistoryRecord record = RecordOfRun(dialog, std::chrono::system_clock::now());
  if (!openId_.empty()) {
    record.id = std::exchange(openId_, {});
    record.time = std::exchange(openTime_, {});
  }
  Append(EncodeHistoryRecord(record));
}

// A drive whose last update is unsettled (cut off before its end, written
// but not yet active, interrupted) is judged by the revision it reports now,
// said once in the log and noted in the history so that it is not said
// again. A run cut off before its end is closed as interrupted, with what
// the drive reports now.
void FileRunHistory::StartedUp(UpdateDialog& dialog) {
  const HistoryRead read = ReadHistory(path_);
  for (const std::string& warning : read.warnings) errors_ << "tslflash: " << warning << '\n';
  if (!read.error.empty()) errors_ << "tslflash: " << read.error << '\n';
  const std::vector<ListedDrive> drives = dialog.Drives();
  for (const ListedDrive& drive : drives) {
    const HistoryRecord* record = LastRecordOf(read.records, drive);
    if (record == nullptr || !IsUnsettled(*record)) continue;
    const bool active = drive.revision == record->package.revision.substr(0, kRevisionLength);
    const std::string name = drive.vendor + " " + drive.product;
    std::string line;
    Confirmation judged = active ? Confirmation::Confirmed : Confirmation::NotConfirmed;
    if (record->open || record->confirmation == Confirmation::Interrupted) {
      line = "The update of " + name + " on " + record->time +
             " was interrupted; the drive reports firmware " + drive.revision + "." +
             RecoveryNote(drive, dialog.Package());
      if (record->open) judged = Confirmation::Interrupted;
    } else if (active) {
      line = "The update of " + name + " on " + record->time +
             " is now active: the drive reports firmware " + drive.revision + ".";
    } else {
      line = "The drive " + name + " still reports firmware " + drive.revision +
             ": the update of " + record->time + " has not taken effect.";
    }
    dialog.AppendLog(line);
    const auto now = std::chrono::system_clock::now();
    Append(EncodeHistoryCompletion({record->id, HistoryTime(now), judged, drive.revision}));
  }
}

void FileRunHistory::Append(std::string_view line) {
  if (const std::string error = AppendHistory(path_, line); !error.empty()) {
    errors_ << "tslflash: " << error << '\n';
  }
}

}  // namespace tslflash
