// What drive commands and the update engine may say to the user: a log line,
// or an outcome with its fixed log line and message box. The main dialog
// implements it; tests record it.
#pragma once

#include <string_view>

#include "app/outcome_code.h"

namespace tslflash {

class DialogReporter {
 public:
  virtual ~DialogReporter() = default;
  virtual void AppendLog(std::string_view text) = 0;
  virtual void ReportOutcome(OutcomeCode code) = 0;
};

}  // namespace tslflash
