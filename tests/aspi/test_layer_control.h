// The test build of the ASPI layer (WNASPI32.dll, drives backed by the
// emulator) exports, beside the layer's two entry points, these functions:
// a test looks them up by name in the loaded module to build the adapters
// and drives the layer shows, to choose how it completes requests, and to
// read back what it saw. Plain C types only, as they cross a module boundary.
#pragma once

#include <cstdint>

namespace tslflash::aspi_test {

// How the layer finishes an SC_EXEC_SCSI_CMD request.
enum class Completion : std::uint8_t {
  Synchronous = 0,   // the call itself returns SS_COMP or SS_ERR
  Asynchronous = 1,  // the call returns SS_PENDING; the layer's worker finishes it
  Never = 2,         // the call returns SS_PENDING; only an abort finishes it
};

// Forgets every adapter, pending request and count; support status SS_COMP,
// synchronous completion.
using ResetFunction = void (*)();
inline constexpr char kReset[] = "TslAspiTestReset";

// The status GetASPI32SupportInfo reports in bits 8-15.
using SetSupportStatusFunction = void (*)(std::uint8_t status);
inline constexpr char kSetSupportStatus[] = "TslAspiTestSetSupportStatus";

// Adds the next adapter; its SC_HA_INQUIRY answers `inquiryStatus` and
// HA_Unique byte 3 = `targetsByte`. Returns the adapter's id.
using AddAdapterFunction = std::uint8_t (*)(std::uint8_t inquiryStatus, std::uint8_t targetsByte);
inline constexpr char kAddAdapter[] = "TslAspiTestAddAdapter";

// Puts a device at a target (0-15) of an adapter: its SC_GET_DEV_TYPE answers
// `deviceStatus` and `deviceType`; commands go to the one drive of
// `driveJson` (the emulator's description format), or fail when it is null.
// Returns null when done, else what is wrong.
using SetTargetFunction = const char* (*)(std::uint8_t adapter, std::uint8_t target,
                                          std::uint8_t deviceStatus, std::uint8_t deviceType,
                                          const char* driveJson);
inline constexpr char kSetTarget[] = "TslAspiTestSetTarget";

using SetCompletionFunction = void (*)(std::uint8_t completion);
inline constexpr char kSetCompletion[] = "TslAspiTestSetCompletion";

// The next `count` SCSI requests end with SS_ERR, this host adapter status
// and this sense, without reaching a drive.
using FailNextFunction = void (*)(std::uint32_t count, std::uint8_t haStat, std::uint8_t senseKey,
                                  std::uint8_t asc, std::uint8_t ascq);
inline constexpr char kFailNext[] = "TslAspiTestFailNext";

// Requests received with this SRB_Cmd (SC_ABORT_SRB counts the aborts).
using RequestCountFunction = std::uint32_t (*)(std::uint8_t command);
inline constexpr char kRequestCount[] = "TslAspiTestRequestCount";

// SCSI requests still pending.
using PendingCountFunction = std::uint32_t (*)();
inline constexpr char kPendingCount[] = "TslAspiTestPendingCount";

// The image the drive at this address accepted: returns its length (0 for
// none) and copies as much of it as `capacity` allows into `buffer`.
using ReceivedImageFunction = std::uint32_t (*)(std::uint8_t adapter, std::uint8_t target,
                                                std::uint8_t* buffer, std::uint32_t capacity);
inline constexpr char kReceivedImage[] = "TslAspiTestReceivedImage";

}  // namespace tslflash::aspi_test
