// WNASPI32.dll for tests: an ASPI layer whose adapters and targets a test
// sets up and whose drives are emulators. It only maps request blocks to
// emulator commands and back; the emulator is the drive. See
// test_layer_control.h for the functions a test drives it with.
#ifndef NOMINMAX  // std::min below, not the macro
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "emulator/drive_description.h"
#include "emulator/drive_emulator.h"
#include "tests/aspi/test_layer_control.h"
#include "transport/aspi_request_blocks.h"
#include "transport/drive_transport.h"

namespace tslflash::aspi_test {
namespace {

using namespace tslflash::aspi;

constexpr std::size_t kMaxTargets = 16;
constexpr std::size_t kCommandKinds = SC_ABORT_SRB + 1;
constexpr std::uint8_t kCheckCondition = 0x02;
// The worker lets the caller reach its wait before it finishes a request, so
// a caller that reads the status without waiting finds it still pending.
constexpr DWORD kWorkerDelayMs = 2;
// Any address inside this module, to find the module by.
const char kModuleAnchor = 0;

struct Target {
  std::uint8_t deviceStatus = SS_ERR;
  std::uint8_t deviceType = 0;
  std::shared_ptr<emu::DriveEmulator> drive;  // null: commands fail
};

struct Adapter {
  std::uint8_t inquiryStatus = SS_COMP;
  std::uint8_t targetsByte = 8;
  std::array<Target, kMaxTargets> targets{};
};

// How a SCSI request ends, before it is written into the block.
struct Ending {
  std::uint8_t status = SS_COMP;
  std::uint8_t haStat = HASTAT_OK;
  std::optional<SenseBytes> sense;
};

struct ForcedFailure {
  std::uint32_t remaining = 0;
  Ending ending;
};

struct Pending {
  SRB_ExecSCSICmd* block;
  HANDLE event;  // null without SRB_EVENT_NOTIFY
};

// Fixed-format sense data as a drive returns it, cut to what the block asked
// for and has room for.
void WriteSense(SRB_ExecSCSICmd& block, const SenseBytes& sense) {
  std::array<std::uint8_t, 18> fixed{};
  fixed[0] = 0x70;
  fixed[2] = sense.key;
  fixed[7] = static_cast<std::uint8_t>(fixed.size() - 8);
  fixed[12] = sense.asc;
  fixed[13] = sense.ascq;
  const std::size_t length =
      std::min({std::size_t{block.SRB_SenseLen}, sizeof(block.SenseArea), fixed.size()});
  std::copy_n(fixed.begin(), length, std::begin(block.SenseArea));
}

// The status goes in last, published to a caller that may be polling it from
// another thread and free the block as soon as it stops reading SS_PENDING.
void WriteEnding(SRB_ExecSCSICmd& block, const Ending& ending) {
  block.SRB_HaStat = ending.haStat;
  block.SRB_TargStat = ending.sense ? kCheckCondition : 0;
  std::fill(std::begin(block.SenseArea), std::end(block.SenseArea), std::uint8_t{0});
  if (ending.sense) WriteSense(block, *ending.sense);
  std::atomic_ref<std::uint8_t>(block.SRB_Status).store(ending.status, std::memory_order_release);
}

CommandRequest ToCommandRequest(const SRB_ExecSCSICmd& block) {
  CommandRequest request;
  request.cdb = std::span<const std::uint8_t>(block.CDBByte)
                    .first(std::min<std::size_t>(block.SRB_CDBLen, sizeof(block.CDBByte)));
  if ((block.SRB_Flags & SRB_DIR_IN) != 0) {
    request.direction = DataDirection::FromDrive;
  } else if ((block.SRB_Flags & SRB_DIR_OUT) != 0) {
    request.direction = DataDirection::ToDrive;
  }
  request.data = block.SRB_BufPointer;
  request.length = block.SRB_BufLen;
  return request;
}

Ending FromTransportReply(const TransportReply& reply) {
  switch (reply.result) {
    case CommandResult::Completed:
      return {};
    case CommandResult::TimedOut:
      return {SS_ERR, HASTAT_TIMEOUT, reply.sense};
    case CommandResult::Failed:
      break;
  }
  return {SS_ERR, HASTAT_OK, reply.sense};
}

// Everything the layer knows; one lock guards it, and every request block is
// read and written under it.
class Layer {
 public:
  void Reset() {
    const std::lock_guard lock(mutex_);
    state_ = State{};
  }
  void SetSupportStatus(std::uint8_t status) {
    const std::lock_guard lock(mutex_);
    state_.supportStatus = status;
  }
  std::uint8_t AddAdapter(std::uint8_t inquiryStatus, std::uint8_t targetsByte) {
    const std::lock_guard lock(mutex_);
    state_.adapters.push_back({inquiryStatus, targetsByte});
    return static_cast<std::uint8_t>(state_.adapters.size() - 1);
  }
  const char* SetTarget(std::uint8_t adapter, std::uint8_t target, Target device,
                        const char* driveJson);
  void SetCompletion(Completion completion) {
    const std::lock_guard lock(mutex_);
    state_.completion = completion;
  }
  void FailNext(std::uint32_t count, const Ending& ending) {
    const std::lock_guard lock(mutex_);
    state_.forced = {count, ending};
  }
  std::uint32_t RequestCount(std::uint8_t command) {
    const std::lock_guard lock(mutex_);
    return command < kCommandKinds ? state_.requests[command] : 0;
  }
  std::uint32_t PendingCount() {
    const std::lock_guard lock(mutex_);
    return static_cast<std::uint32_t>(state_.pending.size());
  }
  std::optional<std::vector<std::uint8_t>> ReceivedImage(std::uint8_t adapter, std::uint8_t target);

  std::uint32_t SupportInfo() {
    const std::lock_guard lock(mutex_);
    return (std::uint32_t{state_.supportStatus} << 8) |
           static_cast<std::uint8_t>(state_.adapters.size());
  }
  std::uint32_t Send(void* block);

 private:
  struct State {
    std::uint8_t supportStatus = SS_COMP;
    std::vector<Adapter> adapters;
    Completion completion = Completion::Synchronous;
    ForcedFailure forced;
    std::array<std::uint32_t, kCommandKinds> requests{};
    std::vector<Pending> pending;
    std::string error;
  };

  std::uint8_t InquireAdapter(SRB_HAInquiry& block);
  std::uint8_t GetDeviceType(SRB_GDEVBlock& block);
  std::uint8_t ExecuteScsi(SRB_ExecSCSICmd& block);
  std::uint8_t Abort(SRB_Abort& block);
  void FinishLater(SRB_ExecSCSICmd* block);
  std::optional<Pending> TakePending(const void* block);
  Ending Answer(const SRB_ExecSCSICmd& block);
  Target* TargetAt(std::uint8_t adapter, std::uint8_t target);

  std::mutex mutex_;
  State state_;
};

const char* Layer::SetTarget(std::uint8_t adapter, std::uint8_t target, Target device,
                             const char* driveJson) {
  const std::lock_guard lock(mutex_);
  if (adapter >= state_.adapters.size() || target >= kMaxTargets) return "no such address";
  if (driveJson != nullptr) {
    emu::LoadedDrives loaded = emu::LoadDriveDescriptions(driveJson);
    if (!loaded.Ok()) {
      state_.error = loaded.error;
      return state_.error.c_str();
    }
    if (loaded.drives.size() != 1) return "the description must hold exactly one drive";
    device.drive = std::make_shared<emu::DriveEmulator>(std::move(loaded.drives.front()));
  }
  state_.adapters[adapter].targets[target] = std::move(device);
  return nullptr;
}

std::optional<std::vector<std::uint8_t>> Layer::ReceivedImage(std::uint8_t adapter,
                                                              std::uint8_t target) {
  const std::lock_guard lock(mutex_);
  const Target* device = TargetAt(adapter, target);
  if (device == nullptr || !device->drive) return std::nullopt;
  return device->drive->ReceivedImage();
}

std::uint32_t Layer::Send(void* block) {
  const std::lock_guard lock(mutex_);
  const std::uint8_t command = *static_cast<const std::uint8_t*>(block);
  if (command < kCommandKinds) ++state_.requests[command];
  switch (command) {
    case SC_HA_INQUIRY:
      return InquireAdapter(*static_cast<SRB_HAInquiry*>(block));
    case SC_GET_DEV_TYPE:
      return GetDeviceType(*static_cast<SRB_GDEVBlock*>(block));
    case SC_EXEC_SCSI_CMD:
      return ExecuteScsi(*static_cast<SRB_ExecSCSICmd*>(block));
    case SC_ABORT_SRB:
      return Abort(*static_cast<SRB_Abort*>(block));
    default:
      return SS_ERR;
  }
}

std::uint8_t Layer::InquireAdapter(SRB_HAInquiry& block) {
  if (block.SRB_HaId >= state_.adapters.size()) return block.SRB_Status = SS_ERR;
  const Adapter& adapter = state_.adapters[block.SRB_HaId];
  if (adapter.inquiryStatus == SS_COMP) {
    block.HA_Count = static_cast<std::uint8_t>(state_.adapters.size());
    block.HA_Unique[3] = adapter.targetsByte;
  }
  return block.SRB_Status = adapter.inquiryStatus;
}

std::uint8_t Layer::GetDeviceType(SRB_GDEVBlock& block) {
  const Target* device = TargetAt(block.SRB_HaId, block.SRB_Target);
  if (device == nullptr || block.SRB_Lun != 0) return block.SRB_Status = SS_ERR;
  block.SRB_DeviceType = device->deviceType;
  return block.SRB_Status = device->deviceStatus;
}

std::uint8_t Layer::ExecuteScsi(SRB_ExecSCSICmd& block) {
  block.SRB_Status = SS_PENDING;
  if (state_.completion == Completion::Synchronous) {
    WriteEnding(block, Answer(block));
    return block.SRB_Status;
  }
  const bool notify = (block.SRB_Flags & SRB_EVENT_NOTIFY) != 0;
  state_.pending.push_back({&block, notify ? block.SRB_PostProc : nullptr});
  if (state_.completion == Completion::Asynchronous) FinishLater(&block);
  return SS_PENDING;
}

// The worker owns the block once it takes it from the pending list; an abort
// that comes later finds nothing to abort.
void Layer::FinishLater(SRB_ExecSCSICmd* block) {
  // A worker may still be leaving this module's code after the caller's wait
  // ended and it freed the library, so the module stays loaded from now on.
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     &kModuleAnchor, &self);
  std::thread([this, block] {
    Sleep(kWorkerDelayMs);
    const std::lock_guard lock(mutex_);
    const std::optional<Pending> taken = TakePending(block);
    if (!taken) return;
    WriteEnding(*block, Answer(*block));
    if (taken->event != nullptr) SetEvent(taken->event);
  }).detach();
}

// A request no longer pending (finished, or never sent) cannot be aborted.
std::uint8_t Layer::Abort(SRB_Abort& block) {
  const std::optional<Pending> taken = TakePending(block.SRB_ToAbort);
  if (!taken) return block.SRB_Status = SS_ERR;
  WriteEnding(*taken->block, {SS_ABORTED, HASTAT_OK, std::nullopt});
  if (taken->event != nullptr) SetEvent(taken->event);
  return block.SRB_Status = SS_COMP;
}

std::optional<Pending> Layer::TakePending(const void* block) {
  auto& pending = state_.pending;
  const auto found = std::find_if(pending.begin(), pending.end(),
                                  [&](const Pending& p) { return p.block == block; });
  if (found == pending.end()) return std::nullopt;
  const Pending taken = *found;
  pending.erase(found);
  return taken;
}

Ending Layer::Answer(const SRB_ExecSCSICmd& block) {
  ForcedFailure& forced = state_.forced;
  if (forced.remaining > 0) {
    --forced.remaining;
    return forced.ending;
  }
  const Target* device = TargetAt(block.SRB_HaId, block.SRB_Target);
  if (device == nullptr || !device->drive || block.SRB_Lun != 0) return {SS_ERR, HASTAT_OK, {}};
  return FromTransportReply(device->drive->Execute(ToCommandRequest(block)));
}

Target* Layer::TargetAt(std::uint8_t adapter, std::uint8_t target) {
  if (adapter >= state_.adapters.size() || target >= kMaxTargets) return nullptr;
  return &state_.adapters[adapter].targets[target];
}

Layer& TheLayer() {
  static Layer layer;
  return layer;
}

}  // namespace
}  // namespace tslflash::aspi_test

namespace control = tslflash::aspi_test;

// Exported under their plain names: extern "C", no decoration on x64.
#define LAYER_EXPORT __declspec(dllexport)

extern "C" {

LAYER_EXPORT std::uint32_t GetASPI32SupportInfo() { return control::TheLayer().SupportInfo(); }

LAYER_EXPORT std::uint32_t SendASPI32Command(void* requestBlock) {
  if (requestBlock == nullptr) return tslflash::aspi::SS_ERR;
  return control::TheLayer().Send(requestBlock);
}

LAYER_EXPORT void TslAspiTestReset() { control::TheLayer().Reset(); }

LAYER_EXPORT void TslAspiTestSetSupportStatus(std::uint8_t status) {
  control::TheLayer().SetSupportStatus(status);
}

LAYER_EXPORT std::uint8_t TslAspiTestAddAdapter(std::uint8_t inquiryStatus,
                                                std::uint8_t targetsByte) {
  return control::TheLayer().AddAdapter(inquiryStatus, targetsByte);
}

LAYER_EXPORT const char* TslAspiTestSetTarget(std::uint8_t adapter, std::uint8_t target,
                                              std::uint8_t deviceStatus, std::uint8_t deviceType,
                                              const char* driveJson) {
  return control::TheLayer().SetTarget(adapter, target, {deviceStatus, deviceType, nullptr},
                                       driveJson);
}

LAYER_EXPORT void TslAspiTestSetCompletion(std::uint8_t completion) {
  control::TheLayer().SetCompletion(static_cast<control::Completion>(completion));
}

LAYER_EXPORT void TslAspiTestFailNext(std::uint32_t count, std::uint8_t haStat,
                                      std::uint8_t senseKey, std::uint8_t asc, std::uint8_t ascq) {
  control::TheLayer().FailNext(
      count, {tslflash::aspi::SS_ERR, haStat, tslflash::SenseBytes{senseKey, asc, ascq}});
}

LAYER_EXPORT std::uint32_t TslAspiTestRequestCount(std::uint8_t command) {
  return control::TheLayer().RequestCount(command);
}

LAYER_EXPORT std::uint32_t TslAspiTestPendingCount() { return control::TheLayer().PendingCount(); }

LAYER_EXPORT std::uint32_t TslAspiTestReceivedImage(std::uint8_t adapter, std::uint8_t target,
                                                    std::uint8_t* buffer, std::uint32_t capacity) {
  const auto image = control::TheLayer().ReceivedImage(adapter, target);
  if (!image) return 0;
  if (buffer != nullptr) {
    std::copy_n(image->begin(), std::min<std::size_t>(capacity, image->size()), buffer);
  }
  return static_cast<std::uint32_t>(image->size());
}

}  // extern "C"

// The exports have the types the test looks them up as, and the layer's
// entry points the types the tool calls them through.
static_assert(
    std::is_same_v<decltype(&GetASPI32SupportInfo), tslflash::aspi::GetASPI32SupportInfoFunction>);
static_assert(
    std::is_same_v<decltype(&SendASPI32Command), tslflash::aspi::SendASPI32CommandFunction>);
static_assert(std::is_same_v<decltype(&TslAspiTestReset), control::ResetFunction>);
static_assert(
    std::is_same_v<decltype(&TslAspiTestSetSupportStatus), control::SetSupportStatusFunction>);
static_assert(std::is_same_v<decltype(&TslAspiTestAddAdapter), control::AddAdapterFunction>);
static_assert(std::is_same_v<decltype(&TslAspiTestSetTarget), control::SetTargetFunction>);
static_assert(std::is_same_v<decltype(&TslAspiTestSetCompletion), control::SetCompletionFunction>);
static_assert(std::is_same_v<decltype(&TslAspiTestFailNext), control::FailNextFunction>);
static_assert(std::is_same_v<decltype(&TslAspiTestRequestCount), control::RequestCountFunction>);
static_assert(std::is_same_v<decltype(&TslAspiTestPendingCount), control::PendingCountFunction>);
static_assert(std::is_same_v<decltype(&TslAspiTestReceivedImage), control::ReceivedImageFunction>);
