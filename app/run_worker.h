// The one thread an update run gets. The dialog starts it and joins it; while
// joining, the UI thread keeps serving the calls the run hands to it, so a
// run that still waits on the window can finish.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "ui/ui_dispatcher.h"

namespace tslflash {

class RunWorker {
 public:
  virtual ~RunWorker() = default;
  // Joins the previous run first: one run at a time.
  virtual void Start(std::function<void()> entry) = 0;
  // Waits until the run has returned; nothing when none was started.
  virtual void Join() = 0;
};

class ThreadRunWorker final : public RunWorker {
 public:
  explicit ThreadRunWorker(UiDispatcher& dispatcher) : dispatcher_(dispatcher) {}
  ~ThreadRunWorker() override { Join(); }
  ThreadRunWorker(const ThreadRunWorker&) = delete;
  ThreadRunWorker& operator=(const ThreadRunWorker&) = delete;

  void Start(std::function<void()> entry) override;
  void Join() override;

 private:
  UiDispatcher& dispatcher_;
  std::thread thread_;
  std::atomic<bool> done_ = true;
};

}  // namespace tslflash
