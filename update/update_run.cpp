#include "update/update_run.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "app/update_dialog.h"
#include "models/tool_variant.h"
#include "package/image_areas.h"
#include "package/image_inflate.h"
#include "package/image_staging.h"
#include "update/drive_preparation.h"
#include "update/hex_text.h"
#include "update/transfer_protocols.h"

namespace tslflash {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kProgressPeriod{700};
constexpr milliseconds kSettleWait{5000};
constexpr milliseconds kLongSettleWait{50000};
constexpr int kProgressFull = 100;
// Images this long are sent as they are stored.
constexpr std::uint8_t kInflatePageLimit = 128;

// The drive whose tray is ejected instead of preparing it (unless the package
// is the generic one), and the drive that takes its image as stored.
constexpr std::string_view kEjectingModel = "TK300B";
constexpr std::string_view kStoredImageModel = "TK580B";
constexpr std::string_view kGenericDriveId = "ATAPI   DVD+RW UNBRANDED";
constexpr std::size_t kDriveIdLength = 24;  // vendor and product of inquiryId

constexpr std::string_view kConfirmText = "Do you really want to upgrade ?";
constexpr std::string_view kRestartText =
    "Upgrade completed! Do you want to Restart the computer Now ?";
constexpr std::string_view kExternalDriveNote =
    "\n\nIf your device is an external model (USB/1394), please also cycle power on your device "
    "to ensure it will function properly.";
constexpr std::string_view kUpdatedText = "\n Firmware has been updated successfully !   \n";
constexpr std::string_view kRebootText = "\n Your computer needs to be rebooted.    \n";

constexpr std::string_view kNotDecompressed = "The firmware image could not be decompressed.";
constexpr std::string_view kNothingSent =
    "Nothing was sent to the drive; its firmware is unchanged.";
constexpr std::string_view kBlocksLeftMarked =
    "The drive's model-code blocks were changed and have not been restored.";
constexpr std::string_view kBlocksNotRestored =
    "The drive's model-code blocks could not be restored.";

std::string_view RefusalText(TransferRefusal refusal) {
  switch (refusal) {
    case TransferRefusal::NothingToSend:
      return "The image is too short for this transfer.";
    case TransferRefusal::TooManyUnits:
      return "The image is too long for this transfer.";
    case TransferRefusal::NotTwoBanks:
      return "The image does not fill this drive's two 64 KiB banks.";
    case TransferRefusal::None:
      break;
  }
  return {};
}

class UpdateRun {
 public:
  explicit UpdateRun(UpdateDialog& dialog)
      : dialog_(dialog),
        view_(dialog.View()),
        commands_(dialog.Commands()),
        header_(DecodeHeader(dialog.HeaderCopy())),
        variant_(DetermineToolVariant(dialog.HeaderCopy())) {}

  int Run() {
    if (!VerifyImage() || !ChooseProtocol() || !Transferable() || !Confirm()) return 0;
    view_.StartTimer(kProgressTimer, kProgressPeriod);
    if (!Prepare() || !TransferImage()) return 0;
    Settle();
    ReportSuccess();
    if (!RestoreModelCodeBlocks()) return 0;
    OfferRestart();
    return 1;
  }

 private:
  bool VerifyImage() {
    const PackageState& packaging = dialog_.Packaging();
    staged_ =
        StageImage(dialog_.HeaderCopy(), packaging.extension, dialog_.Package(), packaging.form);
    dialog_.AppendLog("Linear CheckSum : " + HexWord(staged_.plan.expected.linear));
    dialog_.AppendLog("Rotated CheckSum : " + HexWord(staged_.plan.expected.rotated));
    if (!staged_.SumsMatch()) {
      dialog_.ReportOutcome(OutcomeCode::ChecksumMismatch);
      return false;
    }
    dialog_.AppendLog("Check Sum match !!");
    pageCount_ = staged_.plan.pageCount;
    imageSums_ = staged_.computed;
    return true;
  }

  // Any other digit ends the run here, without a word.
  bool ChooseProtocol() {
    const std::optional<TransferProtocol> protocol = TransferProtocolFor(header_.protocolDigit);
    if (protocol) protocol_ = *protocol;
    return protocol.has_value();
  }

  // Refuses, before the drive is touched, an image the protocol cannot carry.
  bool Transferable() {
    const TransferRefusal refusal =
        CheckTransferable(protocol_, staged_.plan.transferLength, ModelCode());
    if (refusal == TransferRefusal::None) return true;
    dialog_.AppendLog(RefusalText(refusal));
    dialog_.AppendLog(kNothingSent);
    dialog_.ReportOutcome(OutcomeCode::TransferFailed);
    return false;
  }

  bool Confirm() {
    if (protocol_ != TransferProtocol::BufferPages) commands_.WaitForDriveReady();
    const MessageBox box{std::string(kConfirmText), std::nullopt, BoxButtons::OkCancel,
                         BoxIcon::Exclamation};
    if (view_.ShowMessageBox(box) == BoxAnswer::Ok) return true;
    dialog_.ReportOutcome(OutcomeCode::UserCancelled);
    return false;
  }

  bool Prepare() { return protocol_ != TransferProtocol::SummedPages || PrepareSummedPages(); }

  bool PrepareSummedPages() {
    const std::string_view driveId(header_.inquiryId.data(), kDriveIdLength);
    if (ModelCode().starts_with(kEjectingModel) && driveId != kGenericDriveId) {
      longWait_ = true;
      (void)commands_.EjectMedium();
      return true;
    }
    if (!commands_.VendorHandshake()) {
      dialog_.ReportOutcome(OutcomeCode::CommandFailed);
      return false;
    }
    const UpdatePlan& plan = dialog_.Plan();
    if (plan.storeModelCodeFlag && !StoreModelCodeBlocks(commands_, ModelCodeByte(), true)) {
      dialog_.ReportOutcome(OutcomeCode::IdentityNotAllowed);
      return false;
    }
    if (plan.verifyModelCodeFlag && !CheckHardwareClass(commands_, ModelCodeByte(), pageCount_)) {
      dialog_.ReportOutcome(OutcomeCode::ModelNotAllowed);
      return false;
    }
    return InflateWhenWanted();
  }

  // Large-buffer drives take the image inflated. A drive that does not say
  // which buffer it has gets nothing: the wrong form of the image would be
  // flashed as firmware.
  bool InflateWhenWanted() {
    if (ModelCode().starts_with(kStoredImageModel) || pageCount_ >= kInflatePageLimit) return true;
    switch (commands_.ReadBufferSize()) {
      case BufferSizeAnswer::Unknown:
        dialog_.ReportOutcome(OutcomeCode::CommandFailed);
        return false;
      case BufferSizeAnswer::Smaller:
        return true;
      case BufferSizeAnswer::Large:
        break;
    }
    if (Inflate()) return true;
    EndUndecompressed();
    return false;
  }

  // The packer stores the inflated length in front of the stream. A corrupt
  // stream ends in an error; one that breaks off yields fewer whole pages
  // than that length promises. Neither is sent.
  bool Inflate() {
    const std::uint32_t promised = ReadLe32(StagingArea(), 0) / kImagePageSize;
    const std::uint16_t pages = InflateImage(pageCount_, InflateFeed::WholeInput);
    if (pages == kInflateError || pages == 0 || pages != promised) return false;
    pageCount_ = static_cast<std::uint8_t>(pages);
    inflated_ = true;
    imageSums_ = ChecksumsOf(InflatedPages());
    return true;
  }

  void EndUndecompressed() {
    view_.SetProgressPosition(0);
    view_.StopTimer(kProgressTimer);
    dialog_.EnableButtons(true);
    dialog_.AppendLog(kNotDecompressed);
    dialog_.AppendLog(kNothingSent);
    if (dialog_.Plan().storeModelCodeFlag) dialog_.AppendLog(kBlocksLeftMarked);
  }

  std::span<const std::uint8_t> InflatedPages() const {
    return WorkArea().first(std::size_t{pageCount_} * kImagePageSize);
  }

  // The image that was checked, wherever the layout puts it in the package.
  std::span<const std::uint8_t> Image() const {
    if (inflated_) return InflatedPages();
    return dialog_.Package().subspan(static_cast<std::size_t>(staged_.plan.start));
  }

  bool TransferImage() {
    dialog_.AppendLog("Start to upgrade...");
    dialog_.AppendLog("Don't turn off the power!!");
    view_.EnableCloseCommand(false);
    if (Completed(Transfer())) return true;
    dialog_.ReportOutcome(OutcomeCode::TransferFailed);
    view_.EnableCloseCommand(true);
    return false;
  }

  TransferResult Transfer() {
    const TransferContext context{commands_, dialog_.GetClock(),          dialog_.Diagnostics(),
                                  Image(),   staged_.plan.transferLength, ModelCode()};
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

  // The drive restarts its firmware before it answers again.
  void Settle() {
    if (longWait_) dialog_.GetClock().Sleep(kLongSettleWait);
    dialog_.GetClock().Sleep(kSettleWait);
  }

  void ReportSuccess() {
    dialog_.EnableButtons(true);
    dialog_.AppendLog(" ");
    dialog_.AppendLog(variant_ == ToolVariant::Tw ? "Done" : "======== SUCCEED ========");
    dialog_.AppendLog(" ");
    view_.SetProgressPosition(kProgressFull);
    view_.StopTimer(kProgressTimer);
    view_.EnableCloseCommand(true);
  }

  bool RestoreModelCodeBlocks() {
    if (!dialog_.Plan().storeModelCodeFlag || RestoreDriveSettings(commands_, ModelCodeByte())) {
      return true;
    }
    dialog_.AppendLog(kBlocksNotRestored);
    return false;
  }

  void OfferRestart() {
    const MessageBox offer{RestartText(), "Reboot Warning", BoxButtons::OkCancel,
                           BoxIcon::Exclamation};
    if (view_.ShowMessageBox(offer) != BoxAnswer::Ok) return;
    dialog_.AppendLog("Restart the computer");
    RestartComputer(dialog_);
  }

  std::string RestartText() {
    switch (variant_) {
      case ToolVariant::Tw:
        return std::string(kRestartText);
      case ToolVariant::Vr: {
        const MessageBox updated{std::string(kUpdatedText), "Information", BoxButtons::Ok,
                                 BoxIcon::Information};
        return view_.ShowMessageBox(updated) == BoxAnswer::Ok ? std::string(kRebootText) : "";
      }
      default:
        return std::string(kRestartText) + std::string(kExternalDriveNote);
    }
  }

  std::string_view ModelCode() const {
    const auto& code = dialog_.Selection().selectedModelCode;
    const std::string_view text(code.data(), code.size());
    return text.substr(0, text.find('\0'));
  }

  std::uint8_t ModelCodeByte() const {
    return static_cast<std::uint8_t>(dialog_.Plan().modelCodeByte);
  }

  UpdateDialog& dialog_;
  DialogView& view_;
  DriveCommands& commands_;
  const PackageHeader header_;
  const ToolVariant variant_;
  StageResult staged_;
  TransferProtocol protocol_ = TransferProtocol::BufferPages;
  std::uint8_t pageCount_ = 0;
  ChecksumPair imageSums_;  // what travels with the pages: staged, or over the inflated pages
  bool longWait_ = false;
  bool inflated_ = false;
};

}  // namespace

void UpdateThreadMain(UpdateDialog& dialog) { dialog.EndRun(RunUpdate(dialog) == 1); }

int RunUpdate(UpdateDialog& dialog) { return UpdateRun(dialog).Run(); }

void RestartComputer(UpdateDialog& dialog) {
  Restarter* restarter = dialog.GetRestarter();
  if (restarter != nullptr && restarter->RequestReboot()) return;
  dialog.View().ShowMessageBox({"Reboot Fail!!", std::nullopt, BoxButtons::Ok, BoxIcon::Stop});
}

}  // namespace tslflash
