// A faulty or hostile drive: the demo's emulated drive answers every command
// of a whole start-up, eligibility check and update run, and the fuzzer input
// rewrites its answers one command at a time (result, sense, returned bytes).
// Whatever the drive says, the tool must neither crash nor hang.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <vector>

#include "app/update_dialog.h"
#include "emulator/drive_description.h"
#include "emulator/emulated_transport.h"
#include "package/embedded_package.h"
#include "tests/app/fake_dialog_view.h"
#include "tests/app/recorded_worker.h"
#include "transport/clock.h"

namespace tslflash {
namespace {

// The fuzzer's bytes, read in order; zeros once they run out, which leaves
// the drive's own answers alone.
class InputCursor {
 public:
  InputCursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Next() { return at_ < size_ ? data_[at_++] : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// Per command one control byte: bit 0 replaces the result with the next byte,
// bit 1 the sense with the next three, bit 2 flips a returned byte (next two
// bytes its position, one its mask).
class RewritingDevice final : public DriveDevice {
 public:
  RewritingDevice(std::unique_ptr<DriveDevice> drive, InputCursor& input)
      : drive_(std::move(drive)), input_(input) {}

  TransportReply Execute(const CommandRequest& request) override {
    TransportReply reply = drive_->Execute(request);
    const std::uint8_t control = input_.Next();
    if ((control & 1) != 0) reply.result = static_cast<CommandResult>(input_.Next());
    if ((control & 2) != 0) reply.sense = SenseBytes{input_.Next(), input_.Next(), input_.Next()};
    if ((control & 4) != 0) FlipReturnedByte(request);
    return reply;
  }
  std::string Location() const override { return drive_->Location(); }
  HoldAttempt HoldExclusively() override { return drive_->HoldExclusively(); }

 private:
  void FlipReturnedByte(const CommandRequest& request) {
    const std::uint32_t position = std::uint32_t{input_.Next()} << 8 | input_.Next();
    const std::uint8_t mask = input_.Next();
    if (request.direction == DataDirection::FromDrive && request.data != nullptr &&
        request.length > 0) {
      request.data[position % request.length] ^= mask;
    }
  }

  std::unique_ptr<DriveDevice> drive_;
  InputCursor& input_;
};

class RewritingTransport final : public DriveTransport {
 public:
  RewritingTransport(std::unique_ptr<DriveTransport> drives, InputCursor& input)
      : drives_(std::move(drives)), input_(input) {}
  bool Init() override { return drives_->Init(); }
  std::optional<std::string> MissingWriteRights() override { return drives_->MissingWriteRights(); }
  void ScanDrives(const CandidateSink& offer) override {
    drives_->ScanDrives([&](std::unique_ptr<DriveDevice> drive) {
      return offer(std::make_unique<RewritingDevice>(std::move(drive), input_));
    });
  }

 private:
  std::unique_ptr<DriveTransport> drives_;
  InputCursor& input_;
};

const emu::DriveDescription& DemoDrive() {
  static const emu::LoadedDrives demo =
      emu::LoadDriveDescriptionFile(TSLFLASH_EMULATOR_DRIVES_DIR "/demo.json");
  return demo.drives.front();
}

}  // namespace
}  // namespace tslflash

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tslflash;
  InputCursor input(data, size);
  testing::FakeDialogView window;
  // Every box is answered OK; no run asks this many.
  for (int box = 0; box < 32; ++box) window.Answer({BoxAnswer::Ok});
  NoWaitClock clock;
  std::ostringstream diagnostics;
  auto drives = std::make_unique<emu::EmulatedTransport>(emu::MakeEmulators({DemoDrive()}));
  UpdateDialog dialog(window, std::make_unique<RewritingTransport>(std::move(drives), input),
                      EmbeddedPackage(), clock, diagnostics,
                      std::make_unique<testing::RecordedWorker>(window), {.emulatedDrives = true});
  if (!dialog.OnInitDialog()) return 0;
  window.SelectTreeItem(2);  // the first drive, after the root
  dialog.OnDriveSelChanged(2);
  dialog.OnUpgrade();
  // The run, on this thread: the test window keeps the worker's entry.
  for (const auto& worker : window.workers) worker();
  return 0;
}
