#include "ui/terminal/terminal_timer.h"

#include <utility>

namespace tslflash::terminal {

TimerThread::TimerThread(UiDispatcher& dispatcher, TickHandler onTick)
    : dispatcher_(dispatcher), onTick_(std::move(onTick)), thread_([this] { Run(); }) {}

TimerThread::~TimerThread() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_one();
  thread_.join();
}

void TimerThread::Start(int timerId, std::chrono::milliseconds period) {
  {
    const std::lock_guard lock(mutex_);
    timers_[timerId] = {period, std::chrono::steady_clock::now() + period, nextGeneration_++,
                        false};
  }
  changed_.notify_one();
}

void TimerThread::Stop(int timerId) {
  {
    const std::lock_guard lock(mutex_);
    timers_.erase(timerId);
  }
  changed_.notify_one();
}

void TimerThread::Run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    TimePoint due;
    if (!NextDue(due)) {
      changed_.wait(lock);
    } else if (const TimePoint now = std::chrono::steady_clock::now(); now < due) {
      changed_.wait_until(lock, due);
    } else {
      HandOverDueTicks(now);
    }
  }
}

bool TimerThread::NextDue(TimePoint& due) const {
  bool any = false;
  for (const auto& [id, timer] : timers_) {
    if (timer.tickPending || (any && timer.due >= due)) continue;
    due = timer.due;
    any = true;
  }
  return any;
}

void TimerThread::HandOverDueTicks(TimePoint now) {
  for (auto& [id, timer] : timers_) {
    if (timer.tickPending || timer.due > now) continue;
    timer.tickPending = true;
    timer.due += timer.period;
    // Ticks missed while the UI thread was busy are not made up.
    if (timer.due <= now) timer.due = now + timer.period;
    dispatcher_.Post(
        [this, timerId = id, generation = timer.generation] { RunTick(timerId, generation); });
  }
}

void TimerThread::RunTick(int timerId, std::uint64_t generation) {
  {
    const std::lock_guard lock(mutex_);
    const auto timer = timers_.find(timerId);
    if (timer == timers_.end() || timer->second.generation != generation) return;
    timer->second.tickPending = false;
  }
  changed_.notify_one();
  onTick_(timerId);
}

}  // namespace tslflash::terminal
