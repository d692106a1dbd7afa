// 9x-family transport: the ASPI layer, its host adapters and their targets.
// Data buffers are handed to the layer in place.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "transport/aspi_layer.h"
#include "transport/aspi_request_blocks.h"
#include "transport/drive_transport.h"
#include "transport/platform_transport.h"

namespace tslflash {

// How long a command may stay with the layer: its own time-out plus `grace`.
// Then the transport asks the layer to abort it and gives the abort
// `abortWait` to take effect.
struct AspiWaits {
  std::chrono::milliseconds grace{10000};
  std::chrono::milliseconds abortWait{5000};
};

using EventCreator = decltype(&::CreateEventA);

// The command block for one CDB to one target (logical unit 0), zero-filled
// apart from the fields the command needs; the CDB must fit its 16 bytes.
aspi::SRB_ExecSCSICmd BuildAspiCommand(std::uint8_t adapter, std::uint8_t target,
                                       const CommandRequest& request);

// Maps a command block the layer has finished to the command's result.
TransportReply ClassifyAspiCommand(const aspi::SRB_ExecSCSICmd& block);

class AspiSession;

class AspiTransport final : public DriveTransport {
 public:
  // `layer` must not be null. Each command's completion event comes from
  // `createEvent`; without one the transport polls the block instead.
  AspiTransport(std::unique_ptr<AspiLayer> layer, TransportNotice notice, AspiWaits waits = {},
                EventCreator createEvent = &::CreateEventA);
  ~AspiTransport() override;
  AspiTransport(const AspiTransport&) = delete;
  AspiTransport& operator=(const AspiTransport&) = delete;

  // Loads the layer and checks its support status.
  bool Init() override;
  // Offers, adapter by adapter and target by target, every CD/DVD device.
  void ScanDrives(const CandidateSink& offer) override;
  // The layer's drives are asked for the standard INQUIRY data only.
  std::uint8_t InquiryLength() const override { return kAspiInquiryLength; }
  // The 9x family knows no user rights.
  std::optional<std::string> MissingWriteRights() override { return std::nullopt; }

 private:
  bool LoadAspi();
  void ScanAspiDrives(const CandidateSink& offer);
  // How many targets to scan on an adapter; nothing when its inquiry fails.
  std::optional<std::uint8_t> TargetCount(std::uint8_t adapter);
  bool IsCdDvdDevice(std::uint8_t adapter, std::uint8_t target);
  void Notify(std::string_view text) const;

  std::shared_ptr<AspiSession> session_;
  TransportNotice notice_;
  std::uint8_t adapterCount_ = 0;
};

}  // namespace tslflash
