#include "ui/terminal/terminal_diagnostics.h"

#include <utility>

namespace tslflash::terminal {

DiagnosticLines::~DiagnosticLines() {
  if (!line_.empty()) window_.PrintLine(line_);
}

DiagnosticLines::int_type DiagnosticLines::overflow(int_type ch) {
  if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
  std::string finished;
  {
    const std::lock_guard lock(mutex_);
    if (traits_type::to_char_type(ch) != '\n') {
      line_ += traits_type::to_char_type(ch);
      return ch;
    }
    finished = std::exchange(line_, {});
  }
  // Not under the lock: the UI thread may be writing a diagnostic itself.
  Print(finished);
  return ch;
}

void DiagnosticLines::Print(const std::string& line) {
  InvokeOnUiThread(dispatcher_, [this, &line] { window_.PrintLine(line); });
}

}  // namespace tslflash::terminal
