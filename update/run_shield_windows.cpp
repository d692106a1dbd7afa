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

// The console's events held, and with SleepLock::Take the system kept awake
// and the window's shutdown blocked, for as long as the shield is up.
class WindowsRunShield final : public RunShield {
 public:
  WindowsRunShield(const RunShieldCalls& calls, SleepLock sleepLock)
      : calls_(calls), sleepLock_(sleepLock) {}
  ~WindowsRunShield() override { Lower(); }

  bool Raise() override {
    if (!raised_) {
      raised_ = true;
      held_signals::Hold();
      calls_.setConsoleCtrlHandler(&held_signals::HoldConsoleEvent, TRUE);
      if (sleepLock_ == SleepLock::Take) {
        blocked = true;
        if (const HWND window = blockWindow)
          calls_.shutdownBlockReasonCreate(window, kShutdownBlockReason);
        awake_ = std::make_unique<AwakeThread>(calls_);
      }
    }
    return !awake_ || awake_->Awake();
  }

  void Lower() override {
    if (!raised_) return;
    raised_ = false;
    if (awake_) {
      awake_.reset();
      blocked = false;
      if (const HWND window = blockWindow)
        calls_.postMessage(window, kShutdownUnblockMessage, 0, 0);
    }
    calls_.setConsoleCtrlHandler(&held_signals::HoldConsoleEvent, FALSE);
    held_signals::Release();
  }

 private:
  const RunShieldCalls& calls_;
  SleepLock sleepLock_;
  bool raised_ = false;
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

std::unique_ptr<RunShield> MakeWindowsRunShield(const RunShieldCalls& calls, SleepLock sleepLock) {
  return std::make_unique<WindowsRunShield>(calls, sleepLock);
}

std::unique_ptr<RunShield> MakeSystemRunShield(SleepLock sleepLock) {
  return MakeWindowsRunShield(SystemRunShieldCalls(), sleepLock);
}

}  // namespace tslflash
