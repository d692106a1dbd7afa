// A transport whose drives are emulators: every flow of the tool runs against
// it without hardware.
#pragma once

#include <memory>
#include <vector>

#include "emulator/drive_description.h"
#include "emulator/drive_emulator.h"
#include "transport/drive_transport.h"

namespace tslflash::emu {

class EmulatedTransport final : public DriveTransport {
 public:
  // The drives are offered in this order; the caller keeps its own handles
  // to them to inspect what they received.
  explicit EmulatedTransport(std::vector<std::shared_ptr<DriveEmulator>> drives);

  [[nodiscard]] bool Init() override { return true; }
  // Offers each drive as a device located at "emulated:N" (N from 0).
  void ScanDrives(const CandidateSink& offer) override;
  // Emulated drives need no rights: nothing reaches a device.
  std::optional<std::string> MissingWriteRights() override { return std::nullopt; }

 private:
  std::vector<std::shared_ptr<DriveEmulator>> drives_;
};

std::vector<std::shared_ptr<DriveEmulator>> MakeEmulators(
    const std::vector<DriveDescription>& descriptions);

}  // namespace tslflash::emu
