#include "update/upgrade_checks.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "models/eligibility.h"
#include "models/internal_drives.h"
#include "models/model_catalogue.h"
#include "models/model_traits.h"
#include "models/recovery_rules.h"
#include "package/package_check.h"
#include "resources/texts.h"
#include "update/drive_preparation.h"

namespace tslflash {
namespace {

constexpr std::size_t kRevisionLength = 4;
constexpr std::size_t kCodeLength = 6;             // model codes are compared on 6 characters
constexpr std::size_t kModelCodeField = 10;        // zero-terminated when shorter
constexpr std::size_t kAnnouncementCapacity = 49;  // a 50-byte line with its terminator
constexpr char kAnyDrive = '*';

std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

// A fixed-width field of a text; what the text lacks reads as NUL bytes, as
// in the zero-filled buffers the texts come from.
std::string FieldOf(std::string_view text, std::size_t offset, std::size_t width) {
  std::string field(text.substr(std::min(offset, text.size()), width));
  field.resize(width, '\0');
  return field;
}

// The two variants whose users are told to remove the disc first.
bool NeedsEmptyTray(ToolVariant variant) {
  return variant == ToolVariant::Nx || variant == ToolVariant::Vr;
}

// One evaluation of the selected drive against the package. What it says
// passes on to the caller's events; the outcome it reports is kept too.
class Evaluation final : public RunEvents {
 public:
  Evaluation(const UpgradeRequest& request, DriveCommands& commands, RunEvents& events)
      : request_(request),
        commands_(commands),
        events_(events),
        package_(request.package),
        driveId_(FieldOf(request.driveText, 0, kDriveIdLength)),
        driveRevision_(FieldOf(request.driveText, kDriveIdLength, kRevisionLength)),
        packageId_(package_.PackageId()),
        altProductName_(package_.AltProductName()),
        genericPackage_(packageId_.front() == kAnyDrive) {
    verdict_.job.driveText = request.driveText;
    verdict_.job.driveRevision = driveRevision_;
    verdict_.job.variant = DetermineToolVariant(package_);
  }

  Verdict Run() {
    if (!CheckDriveAndPackage()) return std::move(verdict_);
    verdict_.job.newRevision = NewRevision();
    Log(AnnouncementLine());
    Log(" ");
    verdict_.announced = true;
    verdict_.mayUpdate = CheckModelAndVersion();
    return std::move(verdict_);
  }

 private:
  bool Step(UpgradeCheck check, bool passed) {
    verdict_.steps.push_back({check, passed});
    return passed;
  }

  bool Refuse(UpgradeCheck check, OutcomeCode code) {
    Report(code);
    return Step(check, false);
  }

  void Report(OutcomeCode code) { Outcome(code); }

  void Log(std::string_view line) override { events_.Log(line); }
  BoxAnswer Ask(const MessageBox& box) override { return events_.Ask(box); }
  void Stage(RunStage stage) override { events_.Stage(stage); }
  void Failed(const CommandFailure& failure) override { events_.Failed(failure); }
  void Outcome(OutcomeCode code) override {
    verdict_.refusal = code;
    events_.Outcome(code);
  }

  ToolVariant Variant() const { return verdict_.job.variant; }
  UpdatePlan& Plan() { return verdict_.job.plan; }
  std::string& ModelCode() { return verdict_.job.modelCode; }

  void SetModelCode(std::string_view code) {
    ModelCode() = UpToNul(code.substr(0, std::min(code.size(), kModelCodeField)));
  }

  // The checks before the model and revision: the tray, the internal drives'
  // enclosures, the package itself.
  bool CheckDriveAndPackage() {
    if (NeedsEmptyTray(Variant()) && !CheckEmptyTray()) return false;
    if (!Step(UpgradeCheck::Enclosure, PassesEnclosureCheck()) ||
        !Step(UpgradeCheck::PackageTag, package_.HasMakerTag()) ||
        !Step(UpgradeCheck::PackageSums, CheckAndStagePackage())) {
      Report(OutcomeCode::IdentityNotAllowed);
      return false;
    }
    return true;
  }

  // A drive that gives no answer about its tray is not said to hold a disc.
  bool CheckEmptyTray() {
    const DiscCheck tray = commands_.CheckNoDisc();
    if (Step(UpgradeCheck::EmptyTray, tray == DiscCheck::NoDisc)) return true;
    Report(tray == DiscCheck::NoAnswer ? OutcomeCode::CommandFailed : OutcomeCode::DiscInDrive);
    return false;
  }

  // The package's own sums; the image's, which the run checks, come from the
  // same pass over the bytes.
  bool CheckAndStagePackage() {
    const PackageState& packaging = verdict_.job.packaging;
    CheckedPackage checked = CheckAndStage(package_, packaging.extension, packaging.form,
                                           PackageUsesPerPageSums(altProductName_));
    verdict_.job.staged = checked.staged;
    return checked.Matches();
  }

  bool PassesEnclosureCheck() {
    const std::optional<InternalDrive> drive = FindInternalDrive(driveId_);
    if (!drive) return true;
    const bool accepted =
        CheckEnclosureIdentity(*drive, commands_, package_, verdict_.job.packaging);
    // Drive A takes only the tool made for the VARN drives; its identity is
    // read even so.
    return accepted && (drive->letter != InternalDriveLetter::A || Variant() == ToolVariant::Vr);
  }

  // The package's revision; for the VARN tool, the extension's under the
  // extended layout.
  std::string NewRevision() const {
    const std::string_view packageRevision = UpToNul(package_.Revision());
    const PackageState& packaging = verdict_.job.packaging;
    if (Variant() != ToolVariant::Vr || packaging.form != PackageForm::Varn2340) {
      return std::string(packageRevision);
    }
    const PackageExtension extension = DecodeExtension(packaging.extension);
    return std::string(UpToNul({extension.extRevision.data(), extension.extRevision.size()}));
  }

  std::string AnnouncementLine() const {
    const std::string& newRevision = verdict_.job.newRevision;
    if (Variant() != ToolVariant::Vr) return std::string(kNewVersionLine) + newRevision;

    const std::string_view text = request_.driveText;
    const std::string_view driveRevision =
        UpToNul(text.substr(std::min(kDriveIdLength, text.size())));
    std::string line = std::string(kUpdatedFromLine) + std::string(driveRevision) +
                       std::string(kUpdatedToLine) + newRevision;
    line.resize(std::min(line.size(), kAnnouncementCapacity));
    return line;
  }

  bool CheckModelAndVersion() {
    const bool recovery = IsRecoveryRevision(driveRevision_);
    if (genericPackage_) {
      TakeCatalogueCode();
      if (!recovery && !MatchesCatalogueModel()) return false;
    } else if (!TakePackageModel()) {
      return false;
    }
    if (recovery) return PassesRecoveryRules();
    return PassesThresholdRow() && PassesVersionStep();
  }

  // A package for any drive of a model: the catalogue names the drive's model.
  void TakeCatalogueCode() {
    if (const auto found = LookUpModelCode(driveId_)) SetModelCode(*found);
  }

  // A drive that may be its model's base model and turns out to be is
  // handled as the base model. Nothing when the drive did not tell; that has
  // been reported.
  std::optional<std::string> ActualModel(std::string_view code) {
    const std::optional<std::string_view> baseModel = TraitsOf(code).baseModel;
    if (!baseModel) return std::string(code);
    const std::optional<bool> base = IsBaseModelDrive(commands_, *this);
    if (!base) return std::nullopt;
    return std::string(*base ? *baseModel : code);
  }

  bool MatchesCatalogueModel() {
    const std::optional<std::string> model = ActualModel(ModelCode());
    if (!model) return Step(UpgradeCheck::Model, false);
    SetModelCode(*model);
    if (!PackageServesModel(altProductName_, ModelCode(), kModelCodeField)) {
      return Refuse(UpgradeCheck::Model, OutcomeCode::ModelNotAllowed);
    }
    PlanModelCodeStore();
    return Step(UpgradeCheck::Model, true);
  }

  void PlanModelCodeStore() {
    const std::optional<std::uint8_t> byte = TraitsOf(ModelCode()).modelCodeByte;
    if (!byte) return;
    Plan().storeModelCodeFlag = true;
    Plan().modelCodeByte = *byte;
  }

  // A package for one drive: the drive must be that drive, and the package
  // names its model.
  bool TakePackageModel() {
    if (driveId_ != packageId_) return Refuse(UpgradeCheck::Model, OutcomeCode::ModelNotAllowed);
    SetModelCode(altProductName_);
    return Step(UpgradeCheck::Model, true);
  }

  bool PassesThresholdRow() {
    const std::optional<ThresholdRow> row = FindThresholdRow(driveId_);
    if (!row) return true;
    const std::optional<std::string> actual = ActualModel(row->modelCode);
    if (!actual) return Step(UpgradeCheck::Threshold, false);
    const std::string_view model = *actual;
    if (!PackageServesModel(altProductName_, model, kCodeLength)) {
      return Refuse(UpgradeCheck::Threshold, OutcomeCode::ModelNotAllowed);
    }
    switch (ClassifyByThreshold(driveRevision_, row->threshold, model)) {
      case ThresholdVerdict::CheckHardwareClass:
        Plan().verifyModelCodeFlag = true;
        break;
      case ThresholdVerdict::NoDowngrade:
        downgradeForbidden_ = true;
        break;
      case ThresholdVerdict::PresetModelCode:
        presetPending_ = true;
        break;
      case ThresholdVerdict::None:
        break;
    }
    return Step(UpgradeCheck::Threshold, true);
  }

  // A check only notes what the person would be asked.
  bool ConfirmRewrite(BoxPurpose purpose) {
    verdict_.rewrite = purpose;
    if (request_.checkOnly) return true;
    return Ask({std::string(kAlreadyUpdatedBox), std::string(kWarningCaption), BoxButtons::OkCancel,
                BoxIcon::Exclamation, purpose}) != BoxAnswer::Cancel;
  }

  bool PassesVersionStep() {
    switch (CompareRevisions({package_.RevisionPattern(), package_.Revision(), driveRevision_,
                              downgradeForbidden_, genericPackage_})) {
      case RevisionVerdict::Newer:
        if (!ConfirmRewrite(BoxPurpose::Older)) {
          return Refuse(UpgradeCheck::Revision, OutcomeCode::UserCancelled);
        }
        break;
      case RevisionVerdict::Same:
        if (!ConfirmRewrite(BoxPurpose::Reinstall)) {
          return Refuse(UpgradeCheck::Revision, OutcomeCode::UserCancelled);
        }
        break;
      case RevisionVerdict::NotFitting:
        return Refuse(UpgradeCheck::Revision, OutcomeCode::ModelNotAllowed);
      case RevisionVerdict::NoDowngrade:
        return Refuse(UpgradeCheck::Revision, OutcomeCode::DowngradeRefused);
      case RevisionVerdict::Proceed:
        break;
    }
    verdict_.presetModelCodes = presetPending_;
    if (presetPending_ && !request_.checkOnly) PresetModelCode(commands_, Plan().presetBlocks);
    return Step(UpgradeCheck::Revision, true);
  }

  // A drive in the recovery state is judged by the recovery rules alone.
  bool PassesRecoveryRules() {
    if (MatchRecoveryRule(
            {driveRevision_, driveId_, packageId_, altProductName_, package_.VariantMark()})) {
      return Step(UpgradeCheck::RecoveryRules, true);
    }
    return Refuse(UpgradeCheck::RecoveryRules, OutcomeCode::IdentityNotAllowed);
  }

  const UpgradeRequest& request_;
  DriveCommands& commands_;
  RunEvents& events_;
  const FirmwarePackage& package_;
  const std::string driveId_;        // 24 characters
  const std::string driveRevision_;  // 4 characters
  const std::string_view packageId_;
  const std::string_view altProductName_;
  const bool genericPackage_;
  bool downgradeForbidden_ = false;
  bool presetPending_ = false;
  Verdict verdict_;
};

}  // namespace

Verdict EvaluateUpgrade(const UpgradeRequest& request, DriveCommands& commands, RunEvents& events) {
  return Evaluation(request, commands, events).Run();
}

std::optional<bool> IsBaseModelDrive(DriveCommands& commands, RunEvents& events) {
  // The model-code read is only sent when the buffer does not tell.
  switch (commands.ReadBufferSize()) {
    case BufferSizeAnswer::Large:
      return true;
    case BufferSizeAnswer::Unknown:
      events.Outcome(OutcomeCode::CommandFailed);
      return std::nullopt;
    case BufferSizeAnswer::Smaller:
      break;
  }
  const std::optional<std::uint8_t> code = ReadModelCodeReported(commands, events);
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
