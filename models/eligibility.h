// The revision rules the Upgrade checks apply: the package's revision against
// the drive's, and the drive's revision against its model's threshold.
#pragma once

#include <cstdint>
#include <string_view>

namespace tslflash {

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
  NoDowngrade = 8,         // at or below it, for a model that may not be downgraded
  PresetModelCode = 9,     // at or below it, for a model whose code is preset
};

// The drive revision against a threshold row's revision, for the row's model
// code (TK505B read as TK500B for a base-model drive).
ThresholdVerdict ClassifyByThreshold(std::string_view driveRevision, std::string_view threshold,
                                     std::string_view modelCode);

}  // namespace tslflash
