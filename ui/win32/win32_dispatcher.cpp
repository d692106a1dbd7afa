#include "ui/win32/win32_dispatcher.h"

#include <utility>

namespace tslflash {

Win32Dispatcher::Win32Dispatcher() : uiThread_(GetCurrentThreadId()) {}

bool Win32Dispatcher::IsUiThread() const { return GetCurrentThreadId() == uiThread_; }

void Win32Dispatcher::Post(std::function<void()> task) {
  HWND window = nullptr;
  {
    const std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    window = window_;
  }
  WakeUp(window);
}

void Win32Dispatcher::AttachWindow(HWND window) {
  bool waiting = false;
  {
    const std::lock_guard lock(mutex_);
    window_ = window;
    waiting = !tasks_.empty();
  }
  if (waiting) WakeUp(window);
}

// One task at a time: a task that opens a message box serves the later ones
// from the box's loop, still in order.
void Win32Dispatcher::RunPending() {
  for (;;) {
    std::function<void()> task;
    {
      const std::lock_guard lock(mutex_);
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

void Win32Dispatcher::ServeUntil(const std::function<bool()>& finished) {
  MSG message{};
  while (!finished() && GetMessageA(&message, nullptr, 0, 0) != -1) {
    if (message.hwnd == nullptr && message.message == kRunTasksMessage) RunPending();
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void Win32Dispatcher::Wake() const { PostThreadMessageA(uiThread_, WM_NULL, 0, 0); }

// A window that has just gone refuses the message; the thread then gets it.
void Win32Dispatcher::WakeUp(HWND window) const {
  if (window != nullptr && PostMessageA(window, kRunTasksMessage, 0, 0) != 0) return;
  PostThreadMessageA(uiThread_, kRunTasksMessage, 0, 0);
}

}  // namespace tslflash
