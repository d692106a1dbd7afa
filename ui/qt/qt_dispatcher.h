// The Qt application's GUI thread as the UI thread of UiThreadView.
#pragma once

#include <functional>

#include "ui/ui_dispatcher.h"

namespace tslflash {

// Needs a QApplication for as long as it is used.
class QtDispatcher final : public UiDispatcher {
 public:
  bool IsUiThread() const override;
  // Runs the task from the application's event loop, also from the nested
  // loops of message boxes, so a worker waiting on a call is served while a
  // box of the UI thread is open.
  void Post(std::function<void()> task) override;
  void ServeUntil(const std::function<bool()>& finished) override;
};

}  // namespace tslflash
