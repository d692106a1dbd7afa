#include "update/run_preview.h"

namespace tslflash {
namespace {

// The package for any unbranded drive: even a drive whose tray is ejected
// instead of preparing it is prepared for it.
constexpr std::string_view kGenericDriveId = "ATAPI   DVD+RW UNBRANDED";
// Images this long are sent as they are stored.
constexpr std::uint8_t kInflatePageLimit = 128;

void AddRunTimeDecisions(const UpdateJob& job, RunPreview& preview) {
  if (preview.protocol == TransferProtocol::SummedPages && !preview.ejectTray) {
    preview.atRunTime.emplace_back("whether the drive accepts the vendor preparation");
    if (job.plan.storeModelCodeFlag) preview.atRunTime.emplace_back("storing the model code");
    if (job.plan.verifyModelCodeFlag) preview.atRunTime.emplace_back("the drive's hardware class");
    if (preview.imageForm == ImageForm::AsTheBufferDecides) {
      preview.atRunTime.emplace_back("whether the drive's buffer takes the image inflated");
    }
  }
  if (preview.protocol == TransferProtocol::BufferPages) {
    preview.atRunTime.emplace_back("whether the drive expects an image of this size");
  }
}

}  // namespace

std::optional<OutcomeCode> RunPreview::Refusal() const {
  if (!sumsMatch) return OutcomeCode::ChecksumMismatch;
  if (protocol && refusal != TransferRefusal::None) return OutcomeCode::TransferFailed;
  return std::nullopt;
}

bool EjectsInsteadOfPreparing(const ModelTraits& traits, std::string_view packageDriveId) {
  return traits.ejectFirst && packageDriveId != kGenericDriveId;
}

bool SentAsStored(const ModelTraits& traits, std::uint8_t pageCount) {
  return traits.storedImage || pageCount >= kInflatePageLimit;
}

RunPreview PreviewRun(const UpdateJob& job, const FirmwarePackage& package) {
  const ImagePlan& plan = job.staged.plan;
  const ModelTraits traits = TraitsOf(job.modelCode);
  RunPreview preview;
  preview.sumsMatch = job.staged.SumsMatch();
  preview.protocol = TransferProtocolFor(package.ProtocolDigit());
  if (!preview.protocol) return preview;
  preview.units = PlannedUnits(*preview.protocol, plan.transferLength, plan.pageCount);
  preview.refusal = CheckTransferable(*preview.protocol, plan.transferLength, job.modelCode);
  if (*preview.protocol == TransferProtocol::SummedPages) {
    preview.ejectTray = EjectsInsteadOfPreparing(traits, package.PackageId());
    if (!preview.ejectTray && !SentAsStored(traits, plan.pageCount)) {
      preview.imageForm = ImageForm::AsTheBufferDecides;
    }
  }
  AddRunTimeDecisions(job, preview);
  return preview;
}

}  // namespace tslflash
