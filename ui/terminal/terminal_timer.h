// Timers for a front end whose UI thread runs an EventLoopDispatcher: a
// thread of its own waits for each timer's period and hands the tick to the
// UI thread, so the handler runs there, between the other UI tasks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "ui/ui_dispatcher.h"

namespace tslflash::terminal {

class TimerThread {
 public:
  using TickHandler = std::function<void(int timerId)>;

  TimerThread(UiDispatcher& dispatcher, TickHandler onTick);
  // Stops every timer; ticks already handed over and not yet run are dropped
  // as long as the UI thread runs no task after this.
  ~TimerThread();
  TimerThread(const TimerThread&) = delete;
  TimerThread& operator=(const TimerThread&) = delete;

  // (Re)starts the timer: the first tick comes one period from now.
  void Start(int timerId, std::chrono::milliseconds period);
  void Stop(int timerId);

 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  struct Timer {
    std::chrono::milliseconds period{0};
    TimePoint due;
    std::uint64_t generation = 0;
    // One tick at most waits on the UI thread: a UI thread that was busy
    // (a prompt waiting for the user) gets one tick, not a backlog.
    bool tickPending = false;
  };

  void Run();
  // The earliest due time of a timer without a pending tick.
  bool NextDue(TimePoint& due) const;
  void HandOverDueTicks(TimePoint now);
  void RunTick(int timerId, std::uint64_t generation);

  UiDispatcher& dispatcher_;
  TickHandler onTick_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<int, Timer> timers_;
  std::uint64_t nextGeneration_ = 1;
  bool stopping_ = false;
  std::thread thread_;  // last: starts after every other member exists
};

}  // namespace tslflash::terminal
