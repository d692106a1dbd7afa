#include "emulator/emulated_transport.h"

#include <string>
#include <utility>

namespace tslflash::emu {
namespace {

class EmulatedHold final : public DriveHold {
 public:
  explicit EmulatedHold(std::shared_ptr<DriveEmulator> drive) : drive_(std::move(drive)) {}
  ~EmulatedHold() override { drive_->ReleaseHold(); }
  EmulatedHold(const EmulatedHold&) = delete;
  EmulatedHold& operator=(const EmulatedHold&) = delete;

 private:
  std::shared_ptr<DriveEmulator> drive_;
};

class EmulatedDevice final : public DriveDevice {
 public:
  EmulatedDevice(std::shared_ptr<DriveEmulator> drive, std::size_t index)
      : drive_(std::move(drive)), location_("emulated:" + std::to_string(index)) {}

  TransportReply Execute(const CommandRequest& request) override {
    return drive_->Execute(request);
  }
  std::string Location() const override { return location_; }

  HoldAttempt HoldExclusively() override {
    HoldAttempt attempt;
    if (drive_->TakeHold()) {
      attempt.hold = std::make_unique<EmulatedHold>(drive_);
    } else {
      attempt.inUse = true;
    }
    return attempt;
  }

 private:
  std::shared_ptr<DriveEmulator> drive_;
  std::string location_;
};

}  // namespace

EmulatedTransport::EmulatedTransport(std::vector<std::shared_ptr<DriveEmulator>> drives)
    : drives_(std::move(drives)) {}

void EmulatedTransport::ScanDrives(const CandidateSink& offer) {
  for (std::size_t i = 0; i < drives_.size(); ++i) {
    if (!offer(std::make_unique<EmulatedDevice>(drives_[i], i))) return;
  }
}

std::vector<std::shared_ptr<DriveEmulator>> MakeEmulators(
    const std::vector<DriveDescription>& descriptions) {
  std::vector<std::shared_ptr<DriveEmulator>> drives;
  drives.reserve(descriptions.size());
  for (const DriveDescription& description : descriptions) {
    drives.push_back(std::make_shared<DriveEmulator>(description));
  }
  return drives;
}

}  // namespace tslflash::emu
