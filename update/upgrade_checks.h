// The Upgrade button's checks, in their fixed order, on the selected drive:
// the tray, the internal drives' enclosures, the package, the model and the
// revision. They may ask (a rewrite of the same or a newer revision) and may
// write the drive (the TK530B model-code preset); everything they say goes
// through the run's events. The result is a verdict: each check with its
// result, and either the refusal or the job the update run takes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "models/enclosure_identity.h"
#include "models/tool_variant.h"
#include "models/update_plan.h"
#include "package/firmware_package.h"
#include "package/image_staging.h"
#include "package/package_layout.h"
#include "transport/drive_commands.h"
#include "update/run_events.h"

namespace tslflash {

// What the checks look at: the selected drive as the drive list shows it and
// the package.
struct UpgradeRequest {
  std::string driveText;  // vendor and product (24 characters), then the revision (4)
  const FirmwarePackage& package;
  // Only say what an Upgrade would do: ask nothing and change nothing on the
  // drive (the model-code preset is planned, not stored).
  bool checkOnly = false;
};

// Everything the run needs to know about the drive and the package, as the
// checks left it.
struct UpdateJob {
  std::string driveText;
  // The revision the drive reported when the list was read or an update last
  // confirmed it: what the drive ran before this run.
  std::string driveRevision;
  std::string modelCode;  // the drive's model code, at most 9 characters
  UpdatePlan plan;
  PackageState packaging;  // the layout the package is read with for this drive
  StageResult staged;      // where the image lies in that layout, and its sums
  ToolVariant variant = ToolVariant::Other;
  // The revision the update brings, as the announcement names it.
  std::string newRevision;
};

enum class UpgradeCheck : std::uint8_t {
  EmptyTray,
  Enclosure,
  PackageTag,
  PackageSums,
  Model,
  Threshold,
  Revision,
  RecoveryRules,
};

struct CheckStep {
  UpgradeCheck check;
  bool passed;
  friend bool operator==(const CheckStep&, const CheckStep&) = default;
};

struct Verdict {
  std::vector<CheckStep> steps;        // the checks made, in order
  std::optional<OutcomeCode> refusal;  // the outcome reported, when one was
  bool mayUpdate = false;              // every check passed
  bool announced = false;              // the announcement line was logged
  // The rewrite the person is asked to agree to (Reinstall or Older), if any.
  std::optional<BoxPurpose> rewrite;
  bool presetModelCodes = false;  // the TK530B model codes are set to "0" first
  UpdateJob job;                  // complete when mayUpdate
};

[[nodiscard]] Verdict EvaluateUpgrade(const UpgradeRequest& request, DriveCommands& commands,
                                      RunEvents& events);

// Whether a TK505B drive is really the base model TK500B: its buffer is
// 8192 KiB, or else its model-code block says 0. Nothing when the drive did
// not answer (a failed or timed-out command is no answer); that has been
// reported, and the checks stop there.
[[nodiscard]] std::optional<bool> IsBaseModelDrive(DriveCommands& commands, RunEvents& events);

// Stores model code "0" into both model-code blocks of the selected drive;
// each block written to is noted in `changed` with its bytes before.
void PresetModelCode(DriveCommands& commands, ChangedBlocks& changed);

}  // namespace tslflash
