// One update run through the dialog, its test window and an emulated drive:
// the dialog is started and left as the Upgrade checks would leave it (drive
// selected, model code, plan, package form), then the run is driven on the
// test thread with scripted answers to its boxes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "emulator/drive_emulator.h"
#include "models/update_plan.h"
#include "package/package_form.h"
#include "tests/support/emulated_dialog.h"
#include "tests/support/test_doubles.h"
#include "tools/package_builder.h"
#include "update/restarter.h"
#include "update/upgrade_checks.h"

namespace tslflash::testing {

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

// The lines of a log that say what the drive reported after the transfer:
// a run says it once at most.
std::vector<std::string> RevisionLines(const std::vector<std::string>& log);

// A plain package for protocol `digit` over `image`, for the variant `mark`.
PackageRecipe RecipeFor(char digit, std::vector<std::uint8_t> image, std::string mark = "NX");

// A plan as eligibility leaves it, no blocks preset.
inline UpdatePlan PlanOf(std::uint32_t modelCodeByte, bool store, bool verify) {
  UpdatePlan plan;
  plan.modelCodeByte = modelCodeByte;
  plan.storeModelCodeFlag = store;
  plan.verifyModelCodeFlag = verify;
  return plan;
}

struct RunSetup {
  emu::DriveDescription drive = MakerDrive();
  PackageRecipe recipe;
  std::string modelCode = "TK420B";
  UpdatePlan plan;
  PackageForm form = PackageForm::Plain;
  bool grantReboot = true;
};

class RunHarness : public EmulatedDialog {
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

  std::shared_ptr<emu::DriveEmulator> drive;  // the one drive of `emulators`
  int rebootRequests = 0;

 private:
  UpdateJob job_;  // as the Upgrade checks would leave it
  std::uint32_t commandsBeforeRun_ = 0;
};

}  // namespace tslflash::testing
