#include "transport/aspi_transport.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "resources/texts.h"
#include "transport/fixed_sense.h"

namespace tslflash {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kDefaultTargets = 8;
constexpr std::uint8_t kWideTargets = 16;
constexpr std::size_t kTargetCountByte = 3;  // of HA_Unique
constexpr DWORD kLongestWait = INFINITE - 1;
static_assert(kFixedSenseLength <= aspi::SENSE_LEN);

std::uint8_t DirectionFlags(DataDirection direction) {
  switch (direction) {
    case DataDirection::ToDrive:
      return aspi::SRB_DIR_OUT;
    case DataDirection::FromDrive:
      return aspi::SRB_DIR_IN;
    default:
      return 0;
  }
}

// The layer finishes a request from its own thread.
std::uint8_t StatusOf(aspi::SRB_ExecSCSICmd& block) {
  return std::atomic_ref<std::uint8_t>(block.SRB_Status).load(std::memory_order_acquire);
}

// A time-out longer than one wait can express is cut to it; no drive command
// takes that long.
Clock::time_point DeadlineFor(std::chrono::seconds timeout, std::chrono::milliseconds grace) {
  constexpr auto kLongest =
      std::chrono::floor<std::chrono::seconds>(std::chrono::milliseconds(kLongestWait));
  return Clock::now() + std::clamp(timeout, std::chrono::seconds::zero(), kLongest) + grace;
}

DWORD MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<DWORD>(
      std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, kLongestWait));
}

// One command handed to the layer, with everything the layer may still write
// to once it has it: the command block, the abort block and the completion
// event. Kept on the heap so that it can outlive a wait that gave up.
struct AspiRequest {
  AspiRequest(const aspi::SRB_ExecSCSICmd& block, HANDLE completion)
      : command(block), event(completion) {
    if (event == nullptr) return;
    command.SRB_Flags |= aspi::SRB_EVENT_NOTIFY;
    command.SRB_PostProc = event;
  }
  ~AspiRequest() {
    if (event != nullptr) ::CloseHandle(event);
  }
  AspiRequest(const AspiRequest&) = delete;
  AspiRequest& operator=(const AspiRequest&) = delete;

  aspi::SRB_ExecSCSICmd command;
  aspi::SRB_Abort abort{};
  HANDLE event;
};

// Waits until the layer has finished the request or the deadline has passed;
// true when it finished. With an event the wait sleeps until the layer
// signals; the status decides either way.
bool AwaitRequest(AspiRequest& request, Clock::time_point deadline) {
  if (request.event != nullptr) ::WaitForSingleObject(request.event, MillisecondsUntil(deadline));
  while (StatusOf(request.command) == aspi::SS_PENDING) {
    if (Clock::now() >= deadline) return false;
    ::Sleep(1);
  }
  return true;
}

}  // namespace

// What the transport and its devices share: the layer, how long to wait for
// it, and the requests it never gave back.
class AspiSession {
 public:
  AspiSession(std::unique_ptr<AspiLayer> layer, AspiWaits waits, EventCreator createEvent)
      : layer_(std::move(layer)), waits_(waits), createEvent_(createEvent) {}
  // The layer (and with it the library) goes first: a layer that ignored an
  // abort may write into a parked request until then.
  ~AspiSession() { layer_.reset(); }
  AspiSession(const AspiSession&) = delete;
  AspiSession& operator=(const AspiSession&) = delete;

  AspiLayer& Layer() { return *layer_; }
  const AspiWaits& Waits() const { return waits_; }
  // Manual reset, not signalled; null when the system has none to give.
  HANDLE CreateCompletionEvent() const { return createEvent_(nullptr, TRUE, FALSE, nullptr); }
  void Park(std::unique_ptr<AspiRequest> request) { parked_.push_back(std::move(request)); }

 private:
  std::unique_ptr<AspiLayer> layer_;
  AspiWaits waits_;
  EventCreator createEvent_;
  std::vector<std::unique_ptr<AspiRequest>> parked_;
};

namespace {

// The 9x family has neither exclusive opens nor volume locks for an ASPI
// target: the hold only marks the run.
class AspiHold final : public DriveHold {};

// One target (logical unit 0) on one host adapter.
class AspiDevice final : public DriveDevice {
 public:
  AspiDevice(std::shared_ptr<AspiSession> session, std::uint8_t adapter, std::uint8_t target)
      : session_(std::move(session)), adapter_(adapter), target_(target) {}

  TransportReply Execute(const CommandRequest& request) override {
    return ExecuteAspiCommand(request);
  }

  std::string Location() const override {
    return "HA " + std::to_string(adapter_) + " target " + std::to_string(target_);
  }

  HoldAttempt HoldExclusively() override {
    HoldAttempt attempt;
    attempt.hold = std::make_unique<AspiHold>();
    return attempt;
  }

 private:
  // A command the layer keeps past its bound and past an abort is parked with
  // the session, and the device sends nothing more: the layer may still be
  // working on the drive. The caller's data buffer is the one thing the
  // layer can then still write to that the transport cannot keep alive.
  TransportReply ExecuteAspiCommand(const CommandRequest& request) {
    if (!usable_ || request.cdb.size() > sizeof(aspi::SRB_ExecSCSICmd::CDBByte)) {
      return {CommandResult::Failed, {}};
    }
    auto pending = std::make_unique<AspiRequest>(BuildAspiCommand(adapter_, target_, request),
                                                 session_->CreateCompletionEvent());
    const Clock::time_point deadline = DeadlineFor(request.timeout, session_->Waits().grace);
    if (session_->Layer().SendCommand(&pending->command) != aspi::SS_PENDING ||
        AwaitRequest(*pending, deadline)) {
      return ClassifyAspiCommand(pending->command);
    }
    if (!Abort(*pending)) {
      session_->Park(std::move(pending));
      usable_ = false;
      return {CommandResult::TimedOut, {}};
    }
    // The bound ran out: however the layer words the aborted request, the
    // caller learns it timed out (unless it completed in the meantime).
    TransportReply reply = ClassifyAspiCommand(pending->command);
    if (reply.result != CommandResult::Completed) reply.result = CommandResult::TimedOut;
    return reply;
  }

  // True when the request left the layer after the abort.
  bool Abort(AspiRequest& request) {
    request.abort.SRB_Cmd = aspi::SC_ABORT_SRB;
    request.abort.SRB_HaId = adapter_;
    request.abort.SRB_ToAbort = &request.command;
    session_->Layer().SendCommand(&request.abort);
    return AwaitRequest(request, Clock::now() + session_->Waits().abortWait);
  }

  std::shared_ptr<AspiSession> session_;
  std::uint8_t adapter_;
  std::uint8_t target_;
  bool usable_ = true;
};

}  // namespace

aspi::SRB_ExecSCSICmd BuildAspiCommand(std::uint8_t adapter, std::uint8_t target,
                                       const CommandRequest& request) {
  aspi::SRB_ExecSCSICmd block{};
  block.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
  block.SRB_HaId = adapter;
  block.SRB_Flags = DirectionFlags(request.direction);
  block.SRB_Target = target;
  block.SRB_Lun = 0;
  block.SRB_BufLen = request.length;
  block.SRB_BufPointer = request.data;
  block.SRB_SenseLen = aspi::SENSE_LEN;
  block.SRB_CDBLen = static_cast<std::uint8_t>(request.cdb.size());
  std::ranges::copy(request.cdb, std::begin(block.CDBByte));
  return block;
}

// The layer does not say how many bytes a command transferred, so the reply
// leaves that open.
TransportReply ClassifyAspiCommand(const aspi::SRB_ExecSCSICmd& block) {
  if (block.SRB_Status == aspi::SS_COMP) return {CommandResult::Completed, {}};
  const CommandResult result =
      block.SRB_HaStat == aspi::HASTAT_TIMEOUT ? CommandResult::TimedOut : CommandResult::Failed;
  return {result, FixedFormatSense(std::span(block.SenseArea).first<kFixedSenseLength>())};
}

AspiTransport::AspiTransport(std::unique_ptr<AspiLayer> layer, TransportNotice notice,
                             AspiWaits waits, EventCreator createEvent)
    : session_(std::make_shared<AspiSession>(std::move(layer), waits, createEvent)),
      notice_(std::move(notice)) {}

AspiTransport::~AspiTransport() = default;

bool AspiTransport::Init() { return LoadAspi(); }

void AspiTransport::ScanDrives(const CandidateSink& offer) { ScanAspiDrives(offer); }

bool AspiTransport::LoadAspi() {
  if (!session_->Layer().Load()) {
    Notify(kAspiCannotLoad);
    return false;
  }
  const std::uint32_t supportInfo = session_->Layer().GetSupportInfo();
  const auto status = static_cast<std::uint8_t>(supportInfo >> 8);
  if (status == aspi::SS_COMP || status == aspi::SS_NO_ADAPTERS) {
    adapterCount_ = static_cast<std::uint8_t>(supportInfo);
    return true;
  }
  Notify(kAspiUnexpectedFailure);
  Notify(kAspiCannotLoad);
  return false;
}

void AspiTransport::ScanAspiDrives(const CandidateSink& offer) {
  for (std::uint8_t adapter = 0; adapter < adapterCount_; ++adapter) {
    const std::optional<std::uint8_t> targets = TargetCount(adapter);
    if (!targets.has_value()) continue;
    for (std::uint8_t target = 0; target < *targets; ++target) {
      if (!IsCdDvdDevice(adapter, target)) continue;
      if (!offer(std::make_unique<AspiDevice>(session_, adapter, target))) return;
    }
  }
}

// Adapters report 8 or 16 targets; anything else is read as 8.
std::optional<std::uint8_t> AspiTransport::TargetCount(std::uint8_t adapter) {
  aspi::SRB_HAInquiry inquiry{};
  inquiry.SRB_Cmd = aspi::SC_HA_INQUIRY;
  inquiry.SRB_HaId = adapter;
  session_->Layer().SendCommand(&inquiry);
  if (inquiry.SRB_Status != aspi::SS_COMP) return std::nullopt;
  const std::uint8_t reported = inquiry.HA_Unique[kTargetCountByte];
  return reported == kWideTargets ? kWideTargets : kDefaultTargets;
}

bool AspiTransport::IsCdDvdDevice(std::uint8_t adapter, std::uint8_t target) {
  aspi::SRB_GDEVBlock query{};
  query.SRB_Cmd = aspi::SC_GET_DEV_TYPE;
  query.SRB_HaId = adapter;
  query.SRB_Target = target;
  query.SRB_Lun = 0;
  session_->Layer().SendCommand(&query);
  return query.SRB_Status == aspi::SS_COMP && query.SRB_DeviceType == aspi::kCdDvdDevice;
}

void AspiTransport::Notify(std::string_view text) const {
  if (notice_) notice_(text);
}

}  // namespace tslflash
