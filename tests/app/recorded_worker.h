// A run worker for tests: the run is kept in the test window's `workers`
// instead of started, and the test runs it on its own thread when it wants.
#pragma once

#include <functional>
#include <utility>

#include "app/run_worker.h"
#include "tests/app/fake_dialog_view.h"

namespace tslflash::testing {

class RecordedWorker final : public RunWorker {
 public:
  explicit RecordedWorker(FakeDialogView& view) : view_(view) {}
  void Start(std::function<void()> entry) override { view_.QueueWorker(std::move(entry)); }
  void Join() override {}

 private:
  FakeDialogView& view_;
};

}  // namespace tslflash::testing
