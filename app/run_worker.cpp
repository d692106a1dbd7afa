#include "app/run_worker.h"

#include <utility>

namespace tslflash {

void ThreadRunWorker::Start(std::function<void()> entry) {
  Join();
  done_ = false;
  thread_ = std::thread([this, work = std::move(entry)] {
    work();
    done_ = true;
    // Wakes a Join that serves the UI thread meanwhile.
    dispatcher_.Post([] {});
  });
}

void ThreadRunWorker::Join() {
  if (!thread_.joinable()) return;
  if (dispatcher_.IsUiThread()) dispatcher_.ServeUntil([this] { return done_.load(); });
  thread_.join();
}

}  // namespace tslflash
