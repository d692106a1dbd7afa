#include "ui/ui_dispatcher.h"

#include <utility>

namespace tslflash {

void EventLoopDispatcher::Post(std::function<void()> task) {
  {
    const std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  arrived_.notify_one();
}

void EventLoopDispatcher::Wake() {
  {
    const std::lock_guard lock(mutex_);
    woken_ = true;
  }
  arrived_.notify_one();
}

void EventLoopDispatcher::ServeUntil(const std::function<bool()>& finished) {
  while (!finished()) {
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      arrived_.wait(lock, [this] { return !tasks_.empty() || woken_; });
      woken_ = false;
      if (tasks_.empty()) continue;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

}  // namespace tslflash
