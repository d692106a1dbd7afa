// The thread that runs the dialog's message loop as the UI thread of
// UiThreadView: a task from the worker wakes the dialog with a message of our
// own, whose handler runs it, so tasks are also served while a message box of
// the UI thread is open.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

#include "ui/ui_dispatcher.h"
#include "ui/win32/windows_api.h"

namespace tslflash {

// Posted to the dialog (or, without one, to the UI thread) for queued tasks.
inline constexpr UINT kRunTasksMessage = WM_APP + 1;

class Win32Dispatcher final : public UiDispatcher {
 public:
  // The constructing thread is the UI thread.
  Win32Dispatcher();

  bool IsUiThread() const override;
  void Post(std::function<void()> task) override;
  // The message loop, dispatching every message, until `finished` holds.
  void ServeUntil(const std::function<bool()>& finished) override;

  // The window whose kRunTasksMessage runs the tasks from now on; null when
  // it goes, after which the UI thread's own message queue is woken instead.
  void AttachWindow(HWND window);
  // Runs every task queued so far, on the UI thread.
  void RunPending();
  // Wakes the UI thread's message loop (a message without a window).
  void Wake() const;

 private:
  void WakeUp(HWND window) const;

  DWORD uiThread_;
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
  HWND window_ = nullptr;
};

}  // namespace tslflash
