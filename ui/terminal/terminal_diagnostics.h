// The engine's diagnostic lines in a terminal session. The engine writes them
// from the update worker as well as from the UI thread; each finished line is
// handed to the UI thread and printed there, in order with the dialog's own
// lines and never into the middle of the progress bar.
#pragma once

#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>

#include "ui/terminal/terminal_view.h"
#include "ui/ui_dispatcher.h"

namespace tslflash::terminal {

class DiagnosticLines final : public std::streambuf {
 public:
  DiagnosticLines(TerminalView& window, UiDispatcher& dispatcher)
      : window_(window), dispatcher_(dispatcher) {}
  // Prints an unfinished last line; runs on the UI thread.
  ~DiagnosticLines() override;

 protected:
  int_type overflow(int_type ch) override;

 private:
  void Print(const std::string& line);

  TerminalView& window_;
  UiDispatcher& dispatcher_;
  std::mutex mutex_;
  std::string line_;
};

}  // namespace tslflash::terminal
