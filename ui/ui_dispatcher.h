// The worker thread never touches a window: every view call it makes is
// handed to the UI thread, which runs it while the worker waits.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>

namespace tslflash {

class UiDispatcher {
 public:
  virtual ~UiDispatcher() = default;
  virtual bool IsUiThread() const = 0;
  // Queues the task for the UI thread; returns at once.
  virtual void Post(std::function<void()> task) = 0;
  // On the UI thread: serves its events and the tasks posted to it until
  // `finished` holds (looked at again after each task).
  virtual void ServeUntil(const std::function<bool()>& finished) = 0;
};

// Runs `call` on the UI thread and returns its result: directly when already
// there, else by a synchronous hand-over.
template <typename Call>
std::invoke_result_t<Call> InvokeOnUiThread(UiDispatcher& dispatcher, Call&& call) {
  if (dispatcher.IsUiThread()) return call();
  using Result = std::invoke_result_t<Call>;
  std::packaged_task<Result()> task(std::forward<Call>(call));
  std::future<Result> done = task.get_future();
  dispatcher.Post([&task] { task(); });
  return done.get();
}

// A UI thread of our own: the thread that constructed it runs queued tasks
// in ServeUntil. The terminal front end and the tests use it.
class EventLoopDispatcher final : public UiDispatcher {
 public:
  EventLoopDispatcher() : uiThread_(std::this_thread::get_id()) {}

  bool IsUiThread() const override { return std::this_thread::get_id() == uiThread_; }
  void Post(std::function<void()> task) override;
  // Runs tasks as they arrive until `finished` holds (checked after each
  // task and after every Wake).
  void ServeUntil(const std::function<bool()>& finished) override;
  // Makes ServeUntil look at its condition again.
  void Wake();

 private:
  std::thread::id uiThread_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::function<void()>> tasks_;
  bool woken_ = false;
};

}  // namespace tslflash
