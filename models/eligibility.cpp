#include "models/eligibility.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "app/update_dialog.h"
#include "models/enclosure_identity.h"
#include "models/internal_drives.h"
#include "models/model_catalogue.h"
#include "models/package_header_fields.h"
#include "models/recovery_rules.h"
#include "models/tool_variant.h"
#include "package/package_check.h"
#include "package/package_layout.h"
#include "resources/texts.h"
#include "update/drive_preparation.h"
#include "update/update_run.h"

namespace tslflash {
namespace {

constexpr std::size_t kRevisionLength = 4;
constexpr std::size_t kCodeLength = 6;             // model codes are compared on 6 characters
constexpr std::size_t kAnnouncementCapacity = 49;  // a 50-byte line with its terminator
constexpr char kWildcard = '*';
constexpr char kAnyDrive = '*';
constexpr char kBlank = ' ';
constexpr unsigned kLow7Bits = 0x7F;

constexpr std::string_view kNoDriveSelectedBox =
    "No drive selected.Please select a drive to flash!";
constexpr std::string_view kAlreadyUpdatedBox =
    "Your drive's firmware is already the most updated !    \n\nDo you wish to continue ?";
constexpr std::string_view kUpdatedFrom = "It will be updated from  ";
constexpr std::string_view kUpdatedTo = "  To  ";
constexpr std::string_view kNewVersion = " ==> New firmware Version : ";

constexpr std::string_view kTk500b = "TK500B";
constexpr std::string_view kTk505b = "TK505B";
constexpr std::string_view kTk530b = "TK530B";

// The codes whose model-code blocks the run stores, with the byte it stores.
struct StoredModelCode {
  std::string_view code;
  std::uint8_t byte;
};
constexpr std::array<StoredModelCode, 3> kStoredModelCodes = {{
    {kTk500b, kModelCodeZero},
    {kTk505b, kModelCodeFive},
    {kTk530b, kModelCodeDigitZero},
}};

constexpr int kProgressLow = 0;
constexpr int kProgressHigh = 100;
constexpr int kProgressStepSize = 1;

std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

// A fixed-width field of a text; what the text lacks reads as NUL bytes, as
// in the zero-filled buffers the texts come from.
std::string FieldOf(std::string_view text, std::size_t offset, std::size_t width) {
  std::string field(text.substr(std::min(offset, text.size()), width));
  field.resize(width, '\0');
  return field;
}

std::string CodeField(std::string_view code) { return FieldOf(code, 0, kCodeLength); }

unsigned UpperByte(char c) { return static_cast<unsigned char>(UpperAscii(c)); }

std::string_view PackageRevisionOf(const PackageHeader& header) {
  return {header.inquiryId.data() + kDriveIdLength, kRevisionLength};
}

std::string_view SelectedCodeOf(UpdateDialog& dialog) {
  const auto& code = dialog.Selection().selectedModelCode;
  return {code.data(), code.size()};
}

bool IsTk500bFamily(std::string_view altProductName) {
  const std::string name = CodeField(altProductName);
  return name == kTk500b || name == kTk505b;
}

// A TK505B drive that turns out to be the base model is handled as TK500B.
// Nothing when the drive did not tell; that has been reported.
std::optional<std::string_view> ActualModel(std::string_view code, UpdateDialog& dialog) {
  if (CodeField(code) != kTk505b) return code;
  const std::optional<bool> base = IsBaseModelDrive(dialog.Commands(), dialog);
  if (!base) return std::nullopt;
  return *base ? kTk500b : code;
}

bool Refuse(UpdateDialog& dialog, OutcomeCode code) {
  dialog.ReportOutcome(code);
  return false;
}

// One evaluation of the selected drive against the package. The package
// texts point into the dialog's header copy and the caller's decoded header.
struct Evaluation {
  UpdateDialog& dialog;
  std::string driveId;        // 24 characters
  std::string driveRevision;  // 4 characters
  std::string_view packageId;
  std::string_view packageRevision;
  std::string_view altProductName;
  std::string_view variantMark;
  std::string_view revisionPattern;
  bool genericPackage = false;
  bool downgradeForbidden = false;
  bool presetPending = false;
};

Evaluation StartEvaluation(UpdateDialog& dialog, const PackageHeader& header) {
  const std::string& text = dialog.Selection().selectedDriveText;
  const PackageHeaderCopy& copy = dialog.HeaderCopy();
  return {dialog,
          FieldOf(text, 0, kDriveIdLength),
          FieldOf(text, kDriveIdLength, kRevisionLength),
          PackageIdOf(copy),
          PackageRevisionOf(header),
          AltProductNameOf(copy),
          VariantMarkOf(copy),
          RevisionPattern(header),
          PackageIdOf(copy).front() == kAnyDrive};
}

// A package for any drive of a model: the catalogue names the drive's model.
void TakeCatalogueCode(const Evaluation& e) {
  auto& code = e.dialog.Selection().selectedModelCode;
  if (const auto found = LookUpModelCode(e.driveId)) {
    // The code is shorter than the field, so a NUL always ends it.
    std::ranges::copy(found->substr(0, code.size() - 1), code.begin());
  }
}

void PlanModelCodeStore(const Evaluation& e) {
  const std::string code = CodeField(SelectedCodeOf(e.dialog));
  const auto stored = std::ranges::find(kStoredModelCodes, code, &StoredModelCode::code);
  if (stored == kStoredModelCodes.end()) return;
  UpdatePlan& plan = e.dialog.Plan();
  plan.storeModelCodeFlag = true;
  plan.modelCodeByte = stored->byte;
}

bool MatchesCatalogueModel(const Evaluation& e) {
  auto& code = e.dialog.Selection().selectedModelCode;
  const std::optional<std::string_view> model = ActualModel(SelectedCodeOf(e.dialog), e.dialog);
  if (!model) return false;
  if (*model == kTk500b) std::ranges::copy(kTk500b, code.begin());
  const bool named = CodeField(SelectedCodeOf(e.dialog)) == kTk500b
                         ? IsTk500bFamily(e.altProductName)
                         : SelectedCodeOf(e.dialog) == e.altProductName;
  if (!named) return Refuse(e.dialog, OutcomeCode::ModelNotAllowed);
  PlanModelCodeStore(e);
  return true;
}

// A package for one drive: the drive must be that drive, and the package
// names its model.
bool TakePackageModel(const Evaluation& e) {
  if (e.driveId != e.packageId) return Refuse(e.dialog, OutcomeCode::ModelNotAllowed);
  std::ranges::copy(e.altProductName, e.dialog.Selection().selectedModelCode.begin());
  return true;
}

bool PassesThresholdRow(Evaluation& e) {
  const std::optional<ThresholdRow> row = FindThresholdRow(e.driveId);
  if (!row) return true;
  const std::optional<std::string_view> actual = ActualModel(row->modelCode, e.dialog);
  if (!actual) return false;
  const std::string_view model = *actual;
  const bool named = CodeField(model) == kTk500b ? IsTk500bFamily(e.altProductName)
                                                 : CodeField(e.altProductName) == CodeField(model);
  if (!named) return Refuse(e.dialog, OutcomeCode::ModelNotAllowed);
  switch (ClassifyByThreshold(e.driveRevision, row->threshold, model)) {
    case ThresholdVerdict::CheckHardwareClass:
      e.dialog.Plan().verifyModelCodeFlag = true;
      break;
    case ThresholdVerdict::NoDowngrade:
      e.downgradeForbidden = true;
      break;
    case ThresholdVerdict::PresetModelCode:
      e.presetPending = true;
      break;
    case ThresholdVerdict::None:
      break;
  }
  return true;
}

bool ConfirmRewrite(DialogView& view) {
  return view.ShowMessageBox({std::string(kAlreadyUpdatedBox), std::string(kWarningCaption),
                              BoxButtons::OkCancel, BoxIcon::Exclamation}) != BoxAnswer::Cancel;
}

bool PassesVersionStep(const Evaluation& e) {
  switch (CompareRevisions({e.revisionPattern, e.packageRevision, e.driveRevision,
                            e.downgradeForbidden, e.genericPackage})) {
    case RevisionVerdict::Newer:
    case RevisionVerdict::Same:
      if (!ConfirmRewrite(e.dialog.View())) return Refuse(e.dialog, OutcomeCode::UserCancelled);
      break;
    case RevisionVerdict::NotFitting:
      return Refuse(e.dialog, OutcomeCode::ModelNotAllowed);
    case RevisionVerdict::NoDowngrade:
      return Refuse(e.dialog, OutcomeCode::DowngradeRefused);
    case RevisionVerdict::Proceed:
      break;
  }
  if (e.presetPending) PresetModelCode(e.dialog.Commands(), e.dialog.Plan().presetBlocks);
  return true;
}

// A drive in the recovery state is judged by the recovery rules alone.
bool PassesRecoveryRules(const Evaluation& e) {
  if (MatchRecoveryRule(
          {e.driveRevision, e.driveId, e.packageId, e.altProductName, e.variantMark})) {
    return true;
  }
  return Refuse(e.dialog, OutcomeCode::IdentityNotAllowed);
}

bool NoDriveSelected(DialogView& view) {
  return view.GetControlText(ControlId::Log).starts_with(kNoDriveSelectedText);
}

// The two variants whose users are told to remove the disc first.
bool NeedsEmptyTray(ToolVariant variant) {
  return variant == ToolVariant::Nx || variant == ToolVariant::Vr;
}

bool PassesEnclosureCheck(UpdateDialog& dialog, ToolVariant variant) {
  const std::optional<InternalDrive> drive =
      FindInternalDrive(FieldOf(dialog.Selection().selectedDriveText, 0, kDriveIdLength));
  if (!drive) return true;
  const bool accepted = CheckEnclosureIdentity(*drive, dialog.Commands(), dialog.HeaderCopy(),
                                               dialog.Package(), dialog.Packaging());
  // Drive A takes only the tool made for the VARN drives; its identity is
  // read even so.
  return accepted && (drive->letter != InternalDriveLetter::A || variant == ToolVariant::Vr);
}

// The checks before the model and revision: the tray, the internal drives'
// enclosures, the package itself.
std::optional<OutcomeCode> CheckDriveAndPackage(UpdateDialog& dialog, ToolVariant variant) {
  if (NeedsEmptyTray(variant) && !dialog.Commands().CheckNoDisc()) return OutcomeCode::DiscInDrive;
  if (!PassesEnclosureCheck(dialog, variant)) return OutcomeCode::IdentityNotAllowed;
  if (!CheckPackageTag(dialog.HeaderCopy())) return OutcomeCode::IdentityNotAllowed;
  if (!CheckPackage(dialog.Package(), dialog.Packaging().form)) {
    return OutcomeCode::IdentityNotAllowed;
  }
  return std::nullopt;
}

std::string AnnouncementLine(UpdateDialog& dialog, ToolVariant variant) {
  const PackageHeader header = DecodeHeader(dialog.HeaderCopy());
  const std::string_view packageRevision = UpToNul(PackageRevisionOf(header));
  if (variant != ToolVariant::Vr) return std::string(kNewVersion) + std::string(packageRevision);

  const std::string_view text = dialog.Selection().selectedDriveText;
  const std::string_view driveRevision =
      UpToNul(text.substr(std::min(kDriveIdLength, text.size())));
  const PackageState& packaging = dialog.Packaging();
  const PackageExtension extension = DecodeExtension(packaging.extension);
  const std::string_view newRevision =
      packaging.form == PackageForm::Varn2340
          ? UpToNul({extension.extRevision.data(), extension.extRevision.size()})
          : packageRevision;
  std::string line = std::string(kUpdatedFrom) + std::string(driveRevision) +
                     std::string(kUpdatedTo) + std::string(newRevision);
  line.resize(std::min(line.size(), kAnnouncementCapacity));
  return line;
}

void StartRun(UpdateDialog& dialog) {
  dialog.BeginRun();
  DialogView& view = dialog.View();
  view.SetProgressRange(kProgressLow, kProgressHigh);
  view.SetProgressPosition(kProgressLow);
  view.SetProgressStep(kProgressStepSize);
  view.StartWorker([&dialog] { UpdateThreadMain(dialog); });
}

}  // namespace

void OnUpgrade(UpdateDialog& dialog) {
  DialogView& view = dialog.View();
  if (NoDriveSelected(view)) {
    view.ShowMessageBox(
        {std::string(kNoDriveSelectedBox), std::nullopt, BoxButtons::Ok, BoxIcon::Exclamation});
    return;
  }
  // Nothing decided for an earlier drive holds for this one.
  dialog.Packaging() = PackageState{};
  // The tree's position always names a registered drive.
  (void)dialog.Registry().SelectDrive(
      static_cast<std::uint8_t>(dialog.Selection().selectedDriveIndex & 0xFF));
  if (!dialog.TakeDriveForRun()) return;
  dialog.RaiseRunShield();
  const ToolVariant variant = DetermineToolVariant(dialog.HeaderCopy());
  if (const std::optional<OutcomeCode> refusal = CheckDriveAndPackage(dialog, variant)) {
    dialog.ReportOutcome(*refusal);
    return;
  }
  dialog.AppendLog(AnnouncementLine(dialog, variant));
  dialog.AppendLog(" ");
  if (!CheckModelAndVersion(dialog)) {
    // Selecting a drive in the tree enables it again.
    view.EnableControl(ControlId::Upgrade, false);
    return;
  }
  StartRun(dialog);
}

bool CheckModelAndVersion(UpdateDialog& dialog) {
  dialog.Plan() = UpdatePlan{};
  dialog.Selection().selectedModelCode.fill('\0');
  const PackageHeader header = DecodeHeader(dialog.HeaderCopy());
  Evaluation e = StartEvaluation(dialog, header);
  const bool recovery = IsRecoveryRevision(e.driveRevision);
  if (e.genericPackage) {
    TakeCatalogueCode(e);
    if (!recovery && !MatchesCatalogueModel(e)) return false;
  } else if (!TakePackageModel(e)) {
    return false;
  }
  if (recovery) return PassesRecoveryRules(e);
  return PassesThresholdRow(e) && PassesVersionStep(e);
}

RevisionVerdict CompareRevisions(const RevisionCheck& check) {
  const std::string pattern = FieldOf(check.pattern, 0, kRevisionLength);
  const std::string package = FieldOf(check.packageRevision, 0, kRevisionLength);
  const std::string drive = FieldOf(check.driveRevision, 0, kRevisionLength);

  // First pass: the fixed positions must read like the pattern.
  std::size_t wildcards = 0;
  for (std::size_t i = 0; i < kRevisionLength; ++i) {
    if (pattern[i] == kWildcard) {
      if (++wildcards == kRevisionLength) return RevisionVerdict::Proceed;
      continue;
    }
    if (pattern[i] == kBlank && package[i] == '\0' && drive[i] == kBlank) continue;
    if (UpperByte(package[i]) != UpperByte(pattern[i])) return RevisionVerdict::NotFitting;
    if (UpperByte(drive[i]) != UpperByte(pattern[i])) {
      // A package for a whole model also serves drives that name their
      // revisions differently.
      return check.genericPackage ? RevisionVerdict::Proceed : RevisionVerdict::NotFitting;
    }
  }

  // Second pass: the wildcard positions, left to right, decide.
  std::size_t equal = 0;
  for (std::size_t i = 0; i < kRevisionLength; ++i) {
    const unsigned d = UpperByte(drive[i]);
    const unsigned p = UpperByte(package[i]);
    if (pattern[i] != kWildcard) {
      if ((d & kLow7Bits) != (p & kLow7Bits)) return RevisionVerdict::NotFitting;
      continue;
    }
    if (d < p) return RevisionVerdict::Proceed;
    if (d > p) {
      return check.downgradeForbidden ? RevisionVerdict::NoDowngrade : RevisionVerdict::Newer;
    }
    if (++equal == wildcards) return RevisionVerdict::Same;
  }
  return RevisionVerdict::Proceed;
}

ThresholdVerdict ClassifyByThreshold(std::string_view driveRevision, std::string_view threshold,
                                     std::string_view modelCode) {
  const std::string drive = FieldOf(driveRevision, 0, kRevisionLength);
  const std::string limit = FieldOf(threshold, 0, kRevisionLength);
  for (std::size_t i = 0; i < kRevisionLength; ++i) {
    // The first three characters count on their low 7 bits only.
    const unsigned mask = i < kRevisionLength - 1 ? kLow7Bits : 0xFF;
    const unsigned d = UpperByte(drive[i]) & mask;
    const unsigned v = UpperByte(limit[i]) & mask;
    if (d > v) return ThresholdVerdict::CheckHardwareClass;
    if (d < v) break;
  }
  const std::string code = CodeField(modelCode);
  if (code == kTk500b || code == kTk505b) return ThresholdVerdict::NoDowngrade;
  if (code == kTk530b) return ThresholdVerdict::PresetModelCode;
  return ThresholdVerdict::None;
}

std::optional<bool> IsBaseModelDrive(DriveCommands& commands, DialogReporter& reporter) {
  // The model-code read is only sent when the buffer does not tell.
  switch (commands.ReadBufferSize()) {
    case BufferSizeAnswer::Large:
      return true;
    case BufferSizeAnswer::Unknown:
      reporter.ReportOutcome(OutcomeCode::CommandFailed);
      return std::nullopt;
    case BufferSizeAnswer::Smaller:
      break;
  }
  const std::optional<std::uint8_t> code = ReadModelCodeReported(commands, reporter);
  if (!code) return std::nullopt;
  return *code == kModelCodeZero;
}

void PresetModelCode(DriveCommands& commands, ChangedBlocks& changed) {
  // Best effort: a drive that refuses keeps its code and the update goes on.
  for (const std::uint8_t block : {kModelBlockPrimary, kModelBlockSecondary}) {
    (void)commands.StoreModelCode(kModelCodeDigitZero, block, false, &changed);
  }
}

}  // namespace tslflash
