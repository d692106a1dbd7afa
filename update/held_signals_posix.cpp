#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>

#include "update/held_signals.h"

namespace tslflash::held_signals {
namespace {

constexpr std::array<int, 5> kHeld = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

// Touched by the handler: lock-free atomics are safe there.
std::atomic<int> heldEnd{0};
std::atomic<bool> heldStop{false};
std::atomic<bool> noticeWritten{false};
std::atomic<int> wakeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

std::atomic<bool> holding{false};
std::array<struct sigaction, kHeld.size()> earlier{};

void WriteAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, bytes, size);
    if (written <= 0) return;  // nothing more can be done from a handler
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
}

extern "C" void HoldSignal(int signal) {
  const int savedErrno = errno;
  if (signal == SIGTSTP) {
    heldStop = true;
  } else {
    int none = 0;
    heldEnd.compare_exchange_strong(none, signal);
  }
  if (!noticeWritten.exchange(true))
    WriteAll(STDERR_FILENO, kHeldNotice.data(), kHeldNotice.size());
  if (const int fd = wakeFd; fd >= 0) {
    const char number = static_cast<char>(signal);
    WriteAll(fd, &number, 1);
  }
  errno = savedErrno;
}

}  // namespace

void IgnoreBrokenPipe() { (void)std::signal(SIGPIPE, SIG_IGN); }

void Hold() {
  if (holding.exchange(true)) return;
  noticeWritten = false;
  struct sigaction action {};
  action.sa_handler = HoldSignal;
  action.sa_flags = SA_RESTART;  // a drive command's wait is not cut short
  sigfillset(&action.sa_mask);
  for (std::size_t i = 0; i < kHeld.size(); ++i) sigaction(kHeld[i], &action, &earlier[i]);
}

void Release() {
  if (!holding.exchange(false)) return;
  for (std::size_t i = 0; i < kHeld.size(); ++i) sigaction(kHeld[i], &earlier[i], nullptr);
}

std::optional<int> TakeHeldEnd() {
  const int signal = heldEnd.exchange(0);
  return signal != 0 ? std::optional<int>(signal) : std::nullopt;
}

bool EndHeld() { return heldEnd != 0; }

bool TakeHeldStop() { return heldStop.exchange(false); }

void StopNow() { (void)std::raise(SIGTSTP); }

void SetWakeDescriptor(int fd) { wakeFd = fd; }

std::string_view SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    case SIGQUIT:
      return "SIGQUIT";
    case SIGTSTP:
      return "SIGTSTP";
    default:
      return "signal";
  }
}

}  // namespace tslflash::held_signals
