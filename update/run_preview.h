// What the update run would do with a job, told before anything is sent:
// the protocol, how much it sends, what it does to the drive first, and what
// only the run itself can find out.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "models/model_traits.h"
#include "package/firmware_package.h"
#include "update/transfer_protocols.h"
#include "update/upgrade_checks.h"

namespace tslflash {

// The run's image form: sent as stored, inflated, or as the drive's buffer
// decides (asked only once the run has been confirmed).
enum class ImageForm : std::uint8_t { AsStored, Inflated, AsTheBufferDecides };

struct RunPreview {
  std::optional<TransferProtocol> protocol;  // nothing: the package names no known protocol
  TransferProgress units;                    // what the transfer sends (sent is 0)
  bool sumsMatch = false;                    // the image's sums are the ones the package gives
  TransferRefusal refusal = TransferRefusal::None;
  bool ejectTray = false;
  ImageForm imageForm = ImageForm::AsStored;
  // What the run decides only after the confirmation, one line each.
  std::vector<std::string_view> atRunTime;
  // The outcome the run would end with before sending anything, if any.
  std::optional<OutcomeCode> Refusal() const;
  bool WouldSend() const { return protocol && sumsMatch && refusal == TransferRefusal::None; }
};

[[nodiscard]] RunPreview PreviewRun(const UpdateJob& job, const FirmwarePackage& package);

// The summed-pages drives whose tray is ejected instead of the vendor
// preparation; the unbranded package's drives are always prepared.
[[nodiscard]] bool EjectsInsteadOfPreparing(const ModelTraits& traits,
                                            std::string_view packageDriveId);
// Images sent as they are stored, whatever the drive's buffer.
[[nodiscard]] bool SentAsStored(const ModelTraits& traits, std::uint8_t pageCount);

}  // namespace tslflash
