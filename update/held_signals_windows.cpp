#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>

#include "update/held_signals.h"

namespace tslflash::held_signals {
namespace {

std::atomic<bool> holding{false};
std::atomic<int> heldEnd{0};
std::atomic<bool> noticeWritten{false};
// How long a held console close waits for the run: Windows ends the program
// after its own time-out whatever the handler does.
constexpr DWORD kClosePoll = 50;

int SignalFor(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return SIGINT;
    case CTRL_BREAK_EVENT:
      return SIGBREAK;
    default:
      return SIGTERM;  // the console closed, the user logged off, shutdown
  }
}

}  // namespace

// Runs on a thread Windows starts for the event, not in a signal context.
BOOL WINAPI HoldConsoleEvent(DWORD event) {
  if (!holding) return FALSE;  // the default: the program ends
  int none = 0;
  heldEnd.compare_exchange_strong(none, SignalFor(event));
  if (!noticeWritten.exchange(true)) {
    std::fwrite(kHeldNotice.data(), 1, kHeldNotice.size(), stderr);
    std::fflush(stderr);
  }
  if (event == CTRL_CLOSE_EVENT) {
    while (holding) Sleep(kClosePoll);
  }
  return TRUE;
}

// Windows has no SIGPIPE: a write to a closed pipe already fails.
void IgnoreBrokenPipe() {}

void Hold() {
  if (holding.exchange(true)) return;
  noticeWritten = false;
}

void Release() { holding = false; }

std::optional<int> TakeHeldEnd() {
  const int signal = heldEnd.exchange(0);
  return signal != 0 ? std::optional<int>(signal) : std::nullopt;
}

bool EndHeld() { return heldEnd != 0; }

// A console program on Windows has no stop.
bool TakeHeldStop() { return false; }
void StopNow() {}

void SetWakeDescriptor(int /*fd*/) {}

std::string_view SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "Ctrl-C";
    case SIGBREAK:
      return "Ctrl-Break";
    case SIGTERM:
      return "the console's close";
    default:
      return "signal";
  }
}

}  // namespace tslflash::held_signals
