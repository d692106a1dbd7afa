// One update run through the dialog, its test window and an emulated drive:
// the dialog is started and left as the Upgrade checks would leave it (drive
// selected, model code, plan, package form), then the run is driven on the
// test thread with scripted answers to its boxes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/update_dialog.h"
#include "emulator/drive_emulator.h"
#include "models/update_plan.h"
#include "package/package_form.h"
#include "tests/app/fake_dialog_view.h"
#include "tools/package_builder.h"
#include "update/restarter.h"

namespace tslflash::testing {

// Records the pauses instead of sleeping; `onSleep` looks at the dialog
// while the run waits.
class RecordingClock final : public Clock {
 public:
  void Sleep(std::chrono::milliseconds duration) override {
    sleeps.push_back(duration);
    if (onSleep) onSleep();
  }
  std::vector<std::chrono::milliseconds> sleeps;
  std::function<void()> onSleep;
};

// Counts the reboot requests; never reboots.
class RecordingRestarter final : public Restarter {
 public:
  RecordingRestarter(int& requests, bool grant) : requests_(requests), grant_(grant) {}
  bool RequestReboot() override {
    ++requests_;
    return grant_;
  }

 private:
  int& requests_;
  bool grant_;
};

// A drive of the maker with both model-code blocks, no disc, and the
// image-size reply of a 128 KiB drive.
emu::DriveDescription MakerDrive();
// A plain package for protocol `digit` over `image`, for the variant `mark`.
PackageRecipe RecipeFor(char digit, std::vector<std::uint8_t> image, std::string mark = "NX");

struct RunSetup {
  emu::DriveDescription drive = MakerDrive();
  PackageRecipe recipe;
  std::string modelCode = "TK420B";
  UpdatePlan plan;
  PackageForm form = PackageForm::Plain;
  bool grantReboot = true;
};

class RunHarness {
 public:
  explicit RunHarness(const RunSetup& setup);

  // Answers the coming boxes in order and runs the update.
  int Run(const std::vector<BoxAnswer>& answers);

  // The log pane's lines, oldest first.
  std::vector<std::string> Log() const;
  // What the user saw, in order: "log TEXT", "box TEXT", timer and Close
  // command changes and progress positions.
  std::vector<std::string> Transcript() const;
  // The commands of the run (after start-up), and how many came before it.
  std::vector<emu::TraceEntry> RunTrace() const;
  std::uint32_t CommandsBeforeRun() const { return commandsBeforeRun_; }
  // The package's bytes [begin, begin + length).
  std::vector<std::uint8_t> PackageBytes(std::size_t begin, std::size_t length) const;

  FakeDialogView view;
  RecordingClock clock;
  std::ostringstream diagnostics;
  std::vector<std::uint8_t> package;
  std::shared_ptr<emu::DriveEmulator> drive;
  std::unique_ptr<UpdateDialog> dialog;
  int rebootRequests = 0;

 private:
  std::uint32_t commandsBeforeRun_ = 0;
};

}  // namespace tslflash::testing
