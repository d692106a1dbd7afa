// The gate between the user's choice and the update run: the Upgrade
// button's checks, in their fixed order, and the revision rules they apply.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "app/dialog_reporter.h"
#include "transport/drive_commands.h"

namespace tslflash {

class UpdateDialog;

// The Upgrade button's handler. Refusals reach the user as outcomes (or the
// "No drive selected." box); when every check passes it fills the update
// plan, locks the dialog for the run and starts the run on a worker.
void OnUpgrade(UpdateDialog& dialog);

// The model and revision checks of the selected drive. True when the update
// may start; on false the refusal has been reported. Every call starts from a
// cleared plan and model code, so nothing carries over from another drive.
[[nodiscard]] bool CheckModelAndVersion(UpdateDialog& dialog);

enum class RevisionVerdict : std::uint8_t {
  Proceed = 1,      // an update; or nothing to compare
  Newer = 2,        // the drive's revision is newer than the package's
  NotFitting = 3,   // the package or the drive does not fit the pattern
  Same = 4,         // the drive already has the package's revision
  NoDowngrade = 5,  // newer, and a downgrade is forbidden
};

struct RevisionCheck {
  std::string_view pattern;          // revisionPattern: '*' marks the positions compared
  std::string_view packageRevision;  // 4 characters
  std::string_view driveRevision;    // 4 characters
  bool downgradeForbidden = false;
  bool genericPackage = false;  // the package is made for any drive of a model
};

// The positions outside the wildcards must read the same in the pattern, the
// package revision and the drive revision; the wildcard positions, left to
// right, decide between update, same version and downgrade.
RevisionVerdict CompareRevisions(const RevisionCheck& check);

enum class ThresholdVerdict : std::uint8_t {
  None = 0,
  CheckHardwareClass = 7,  // above the threshold
  NoDowngrade = 8,         // TK500B or TK505B at or below it
  PresetModelCode = 9,     // TK530B at or below it
};

// The drive revision against a threshold row's revision, for the row's model
// code (TK505B read as TK500B for a base-model drive).
ThresholdVerdict ClassifyByThreshold(std::string_view driveRevision, std::string_view threshold,
                                     std::string_view modelCode);

// Whether a TK505B drive is really the base model TK500B: its buffer is
// 8192 KiB, or else its model-code block says 0. Nothing when the drive did
// not answer (a failed or timed-out command is no answer); that has been
// reported, and the checks stop there.
[[nodiscard]] std::optional<bool> IsBaseModelDrive(DriveCommands& commands,
                                                   DialogReporter& reporter);

// Stores model code "0" into both model-code blocks of the selected drive;
// each block written to is noted in `changed` with its bytes before.
void PresetModelCode(DriveCommands& commands, ChangedBlocks& changed);

}  // namespace tslflash
