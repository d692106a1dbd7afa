#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "update/held_signals.h"
#include "update/windows_run_shield.h"

namespace tslflash {
namespace {

std::atomic<HWND> blockWindow{nullptr};
std::atomic<bool> blocked{false};

// Keeps the system awake from a thread of its own, for as long as it lives.
class AwakeThread {
 public:
  explicit AwakeThread(const RunShieldCalls& calls) : calls_(calls) {
    std::unique_lock lock(mutex_);
    thread_ = std::thread([this] { Run(); });
    changed_.wait(lock, [this] { return started_; });
  }
  ~AwakeThread() {
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  AwakeThread(const AwakeThread&) = delete;
  AwakeThread& operator=(const AwakeThread&) = delete;
  bool Awake() const { return awake_; }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    awake_ = calls_.setThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
    started_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return stop_; });
    calls_.setThreadExecutionState(ES_CONTINUOUS);
  }

  const RunShieldCalls& calls_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool started_ = false;
  bool stop_ = false;
  bool awake_ = false;
  std::thread thread_;  // last: starts after every other member exists
};

class WindowsRunShield final : public RunShield {
 public:
  explicit WindowsRunShield(const RunShieldCalls& calls) : calls_(calls) {}
  ~WindowsRunShield() override { Lower(); }

  bool Raise() override {
    if (awake_) return awake_->Awake();
    held_signals::Hold();
    calls_.setConsoleCtrlHandler(&held_signals::HoldConsoleEvent, TRUE);
    blocked = true;
    if (const HWND window = blockWindow)
      calls_.shutdownBlockReasonCreate(window, kShutdownBlockReason);
    awake_ = std::make_unique<AwakeThread>(calls_);
    return awake_->Awake();
  }

  void Lower() override {
    if (!awake_) return;
    awake_.reset();
    blocked = false;
    if (const HWND window = blockWindow) calls_.postMessage(window, kShutdownUnblockMessage, 0, 0);
    calls_.setConsoleCtrlHandler(&held_signals::HoldConsoleEvent, FALSE);
    held_signals::Release();
  }

 private:
  const RunShieldCalls& calls_;
  std::unique_ptr<AwakeThread> awake_;
};

}  // namespace

const RunShieldCalls& SystemRunShieldCalls() {
  static const RunShieldCalls calls{&::SetThreadExecutionState, &::SetConsoleCtrlHandler,
                                    &::ShutdownBlockReasonCreate, &::ShutdownBlockReasonDestroy,
                                    &::PostMessageA};
  return calls;
}

void SetShutdownBlockWindow(HWND window) { blockWindow = window; }

bool ShutdownBlocked() { return blocked; }

void FinishShutdownBlock(const RunShieldCalls& calls) {
  if (const HWND window = blockWindow; window != nullptr && !blocked) {
    calls.shutdownBlockReasonDestroy(window);
  }
}

std::unique_ptr<RunShield> MakeWindowsRunShield(const RunShieldCalls& calls) {
  return std::make_unique<WindowsRunShield>(calls);
}

std::unique_ptr<RunShield> MakeSystemRunShield() {
  return MakeWindowsRunShield(SystemRunShieldCalls());
}

}  // namespace tslflash
