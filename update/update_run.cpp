#include "update/update_run.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "models/field_text.h"
#include "models/model_traits.h"
#include "models/tool_variant.h"
#include "package/image_inflate.h"
#include "package/image_staging.h"
#include "resources/texts.h"
#include "update/drive_preparation.h"
#include "update/hex_text.h"
#include "update/run_preview.h"
#include "update/transfer_protocols.h"

namespace tslflash {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kSettleWait{5000};
constexpr milliseconds kLongSettleWait{50000};

std::string_view RefusalText(TransferRefusal refusal) {
  switch (refusal) {
    case TransferRefusal::NothingToSend:
      return kImageTooShortLine;
    case TransferRefusal::TooManyUnits:
      return kImageTooLongLine;
    case TransferRefusal::NotTwoBanks:
      return kNotTwoBanksLine;
    case TransferRefusal::None:
      break;
  }
  return {};
}

class UpdateRun {
 public:
  UpdateRun(const UpdateJob& job, const RunContext& context)
      : job_(job),
        context_(context),
        events_(context.events),
        commands_(context.commands),
        traits_(TraitsOf(job.modelCode)),
        changed_(job.plan.presetBlocks) {}

  bool Run() {
    if (!VerifyImage() || !ChooseProtocol() || !Transferable() || !Confirm()) return false;
    events_.Stage(RunStage::Preparing);
    if (!Prepare() || !TransferImage()) return false;
    Settle();
    const DriveConfirmation confirmation = ReadConfirmation();
    if (closingFailed_ && !ChangedToNewFirmware(confirmation)) {
      return EndClosingFailed(confirmation);
    }
    ReportSuccess();
    if (!RestoreModelCodeBlocks()) return false;
    ReportConfirmation(confirmation);
    if (closingFailed_) {
      events_.Log(std::string(kNotAcknowledgedStart) + std::string(ClosingCommandOf(protocol_)) +
                  std::string(kNotAcknowledgedEnd));
    }
    OfferRestart();
    return true;
  }

 private:
  bool VerifyImage() {
    staged_ = job_.staged;
    events_.Log(std::string(kLinearSumLine) + HexWord(staged_.plan.expected.linear));
    events_.Log(std::string(kRotatedSumLine) + HexWord(staged_.plan.expected.rotated));
    if (!staged_.SumsMatch()) return Stop(OutcomeCode::ChecksumMismatch);
    events_.Log(kSumsMatchLine);
    pageCount_ = staged_.plan.pageCount;
    imageSums_ = staged_.computed;
    return true;
  }

  // Any other digit ends the run here, without a box.
  bool ChooseProtocol() {
    const std::optional<TransferProtocol> protocol =
        TransferProtocolFor(context_.package.ProtocolDigit());
    if (protocol) {
      protocol_ = *protocol;
      return true;
    }
    events_.Log(kUnknownProtocol);
    events_.Log(kNothingSent);
    return Stop(std::nullopt);
  }

  // Refuses, before the drive is touched, an image the protocol cannot carry.
  bool Transferable() {
    const TransferRefusal refusal =
        CheckTransferable(protocol_, staged_.plan.transferLength, ModelCode());
    if (refusal == TransferRefusal::None) return true;
    events_.Log(RefusalText(refusal));
    events_.Log(kNothingSent);
    return Stop(OutcomeCode::TransferFailed);
  }

  bool Confirm() {
    if (protocol_ != TransferProtocol::BufferPages) commands_.WaitForDriveReady();
    const MessageBox box{std::string(kConfirmText), std::nullopt, BoxButtons::OkCancel,
                         BoxIcon::Exclamation, BoxPurpose::ConfirmUpdate};
    if (events_.Ask(box) == BoxAnswer::Ok) return true;
    return Stop(OutcomeCode::UserCancelled);
  }

  bool Prepare() { return protocol_ != TransferProtocol::SummedPages || PrepareSummedPages(); }

  bool PrepareSummedPages() {
    if (EjectsInsteadOfPreparing(traits_, context_.package.PackageId())) {
      longWait_ = traits_.longSettle;
      (void)commands_.EjectMedium();
      return true;
    }
    if (!commands_.VendorHandshake()) return Stop(OutcomeCode::CommandFailed);
    const UpdatePlan& plan = job_.plan;
    if (plan.storeModelCodeFlag &&
        !StoreModelCodeBlocks(commands_, ModelCodeByte(), true, changed_)) {
      return Stop(OutcomeCode::IdentityNotAllowed);
    }
    if (plan.verifyModelCodeFlag) {
      const std::optional<bool> fits =
          CheckHardwareClass(commands_, events_, ModelCodeByte(), pageCount_);
      // Without an answer the outcome has been reported already.
      if (!fits) return Stop(std::nullopt);
      if (!*fits) return Stop(OutcomeCode::ModelNotAllowed);
    }
    return InflateWhenWanted();
  }

  // Large-buffer drives take the image inflated. A drive that does not say
  // which buffer it has gets nothing: the wrong form of the image would be
  // flashed as firmware.
  bool InflateWhenWanted() {
    if (SentAsStored(traits_, pageCount_)) return true;
    switch (commands_.ReadBufferSize()) {
      case BufferSizeAnswer::Unknown:
        return Stop(OutcomeCode::CommandFailed);
      case BufferSizeAnswer::Smaller:
        return true;
      case BufferSizeAnswer::Large:
        break;
    }
    if (!Inflate()) {
      EndUndecompressed();
      return false;
    }
    // The pages before a partial one are not the image: the drive would
    // take them, sums and all, as a whole firmware.
    if (const std::uint32_t partial = inflated_.length % kImagePageSize; partial != 0) {
      events_.Log(std::string(kPartialPageLineStart) + std::to_string(partial) +
                  std::string(kPartialPageLineEnd));
      events_.Log(kNothingSent);
      return Stop(OutcomeCode::TransferFailed);
    }
    return true;
  }

  // The stream must end, its check value verified, within its bytes; the
  // bytes in front of it are not read. A corrupt or broken-off stream, or
  // one that gives not one page, is not sent.
  bool Inflate() {
    inflated_ = InflateImage(staged_.image, pageCount_, InflateFeed::WholeInput);
    if (!inflated_.Ok() || inflated_.pages == 0) return false;
    pageCount_ = static_cast<std::uint8_t>(inflated_.pages);
    imageSums_ = ChecksumsOf(inflated_.Pages());
    return true;
  }

  void EndUndecompressed() {
    events_.Stage(RunStage::Stopped);
    events_.Log(kNotDecompressed);
    events_.Log(kNothingSent);
    PutBlocksBack();
  }

  // Ends the run before any of the image was sent: the blocks changed so
  // far get their old bytes back, then the outcome, if any, is reported.
  bool Stop(std::optional<OutcomeCode> outcome) {
    PutBlocksBack();
    if (outcome) events_.Outcome(*outcome);
    return false;
  }

  void PutBlocksBack() {
    if (changed_.Empty() || RestoreChangedBlocks(commands_, changed_)) return;
    events_.Log(ChangedBlocksLine(changed_, BlocksLeft::RestoreFailed));
  }

  // The image that was checked, wherever the layout puts it in the package,
  // or its inflated pages.
  std::span<const std::uint8_t> Image() const {
    if (inflated_.Ok()) return inflated_.Pages();
    return context_.package.bytes.subspan(static_cast<std::size_t>(staged_.plan.start));
  }

  bool TransferImage() {
    events_.Log(kStartLine);
    events_.Log(kPowerLine);
    events_.Stage(RunStage::Writing);
    const TransferResult result = Transfer();
    closingFailed_ = result == TransferResult::ClosingFailed;
    if (Completed(result)) return true;
    if (result == TransferResult::NothingSent) {
      events_.Log(kNothingSent);
      Stop(OutcomeCode::TransferFailed);
    } else {
      // Part of the image may be in the drive: its blocks stay as the run set them.
      if (!changed_.Empty()) {
        events_.Log(ChangedBlocksLine(changed_, BlocksLeft::NotRestored));
      }
      events_.Outcome(OutcomeCode::TransferFailed);
    }
    events_.Stage(RunStage::WriteEnded);
    return false;
  }

  TransferResult Transfer() {
    const TransferContext context{
        commands_,   context_.clock, context_.diagnostics, Image(), staged_.plan.transferLength,
        ModelCode(), events_};
    switch (protocol_) {
      case TransferProtocol::SignedPages:
      case TransferProtocol::SummedPages:
        return SendVendorPages(context, protocol_,
                               {pageCount_, imageSums_, staged_.plan.perPageSumMode});
      case TransferProtocol::BufferPages:
        return TransferBufferPages(context);
      case TransferProtocol::SmallBlocks:
        return TransferSmallBlocks(context);
      case TransferProtocol::BankedPages:
        return TransferBankedPages(context);
    }
    return TransferResult::Failed;
  }

  // Whether a revision the drive reported is the one the update brings.
  bool IsNewRevision(std::string_view reported) const {
    const std::string_view revision = UnpaddedField(reported);
    const std::string_view expected =
        UnpaddedField(std::string_view(job_.newRevision).substr(0, reported.size()));
    return !revision.empty() && revision == expected;
  }

  // A drive may reset as it activates the image and so fail the command that
  // closed the transfer: only a change to the new revision tells that the
  // update took. A drive that reported it before (a reinstall) shows
  // nothing by reporting it again.
  bool ChangedToNewFirmware(const DriveConfirmation& confirmation) const {
    return confirmation.state == DriveConfirmation::State::NewFirmware &&
           !IsNewRevision(job_.driveRevision);
  }

  // Only TEST UNIT READY and INQUIRY: the drive is read, never changed.
  DriveConfirmation ReadConfirmation() {
    const std::optional<std::string> reported = commands_.ReadRevisionWhenReady();
    if (!reported) return {DriveConfirmation::State::NoAnswer, {}};
    return {IsNewRevision(*reported) ? DriveConfirmation::State::NewFirmware
                                     : DriveConfirmation::State::OldFirmware,
            std::string(UnpaddedField(*reported))};
  }

  void ReportConfirmation(const DriveConfirmation& confirmation) {
    switch (confirmation.state) {
      case DriveConfirmation::State::NewFirmware:
        events_.Log(std::string(kNowReportsLine) + confirmation.revision + ".");
        break;
      case DriveConfirmation::State::OldFirmware:
        events_.Log(std::string(kStillReportsLine) + confirmation.revision +
                    std::string(kTakesEffectLater));
        break;
      case DriveConfirmation::State::NoAnswer:
        events_.Log(kNoAnswerAfterUpdate);
        break;
    }
    events_.Confirmed(confirmation);
  }

  // The closing command failed and the drive does not show the new
  // firmware: the update did not take, whatever the pages said. This line
  // is the run's one word on the revision.
  bool EndClosingFailed(const DriveConfirmation& confirmation) {
    events_.Confirmed(confirmation);
    std::string line = std::string(kClosingFailedStart) + std::string(ClosingCommandOf(protocol_));
    if (confirmation.state == DriveConfirmation::State::NoAnswer) {
      line += kClosingFailedSilent;
    } else {
      line += std::string(kClosingFailedStill) + confirmation.revision + ".";
    }
    events_.Log(line);
    if (!changed_.Empty()) events_.Log(ChangedBlocksLine(changed_, BlocksLeft::NotRestored));
    events_.Outcome(OutcomeCode::TransferFailed);
    events_.Stage(RunStage::WriteEnded);
    return false;
  }

  // The drive restarts its firmware before it answers again.
  void Settle() {
    if (longWait_) context_.clock.Sleep(kLongSettleWait);
    context_.clock.Sleep(kSettleWait);
  }

  void ReportSuccess() {
    events_.Log(" ");
    events_.Log(job_.variant == ToolVariant::Tw ? kDoneLine : kSucceedLine);
    events_.Log(" ");
    events_.Stage(RunStage::Written);
  }

  bool RestoreModelCodeBlocks() {
    if (!job_.plan.storeModelCodeFlag ||
        RestoreDriveSettings(commands_, ModelCodeByte(), changed_)) {
      return true;
    }
    events_.Log(ChangedBlocksLine(changed_, BlocksLeft::RestoreFailed));
    return false;
  }

  void OfferRestart() {
    const MessageBox offer{RestartText(), std::string(kRebootCaption), BoxButtons::OkCancel,
                           BoxIcon::Exclamation, BoxPurpose::Restart};
    if (events_.Ask(offer) != BoxAnswer::Ok) return;
    events_.Log(kRestartLine);
    RestartComputer(context_.restarter, events_);
  }

  std::string RestartText() {
    switch (job_.variant) {
      case ToolVariant::Tw:
        return std::string(kRestartText);
      case ToolVariant::Vr: {
        const MessageBox updated{std::string(kUpdatedText), std::string(kInformationCaption),
                                 BoxButtons::Ok, BoxIcon::Information};
        return events_.Ask(updated) == BoxAnswer::Ok ? std::string(kRebootText) : "";
      }
      default:
        return std::string(kRestartText) + std::string(kExternalDriveNote);
    }
  }

  std::string_view ModelCode() const { return job_.modelCode; }

  std::uint8_t ModelCodeByte() const { return static_cast<std::uint8_t>(job_.plan.modelCodeByte); }

  const UpdateJob& job_;
  const RunContext& context_;
  RunEvents& events_;
  DriveCommands& commands_;
  const ModelTraits traits_;
  StageResult staged_;
  TransferProtocol protocol_ = TransferProtocol::BufferPages;
  std::uint8_t pageCount_ = 0;
  ChecksumPair imageSums_;  // what travels with the pages: staged, or over the inflated pages
  bool longWait_ = false;
  bool closingFailed_ = false;  // every unit was accepted, the closing command was not
  InflatedImage inflated_;      // the image inflated, when the drive takes it so
  ChangedBlocks changed_;       // the blocks changed so far, with their bytes before
};

}  // namespace

bool RunUpdate(const UpdateJob& job, const RunContext& context) {
  return UpdateRun(job, context).Run();
}

void RestartComputer(Restarter* restarter, RunEvents& events) {
  if (restarter != nullptr && restarter->RequestReboot()) return;
  events.Ask({std::string(kRebootFailBox), std::nullopt, BoxButtons::Ok, BoxIcon::Stop});
}

}  // namespace tslflash
