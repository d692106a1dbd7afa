// Outcome codes: the one way a refusal or failure reaches the user.
#pragma once

#include <cstdint>

namespace tslflash {

enum class OutcomeCode : std::int32_t {
  UserCancelled = 2,
  ChecksumMismatch = 3,
  CommandFailed = 4,
  TransferFailed = 5,
  ModelNotAllowed = 6,
  IdentityNotAllowed = 7,
  DowngradeRefused = 8,
  DiscInDrive = 9,
};

}  // namespace tslflash
