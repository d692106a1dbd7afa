#include <fcntl.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "update/logind.h"

namespace tslflash::logind {
namespace {

constexpr const char* kService = "org.freedesktop.login1";
constexpr const char* kPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";

// The lock is granted or refused at once; the reboot may wait for the user
// to answer polkit.
constexpr std::chrono::seconds kInhibitTimeout{5};
constexpr std::chrono::minutes kRebootTimeout{2};

// One connection per request: the requests are rare and come from
// different threads, and an sd-bus connection belongs to one thread.
class Bus {
 public:
  explicit Bus(std::chrono::microseconds timeout) {
    if (sd_bus_open_system(&bus_) < 0) {
      bus_ = nullptr;
      return;
    }
    (void)sd_bus_set_method_call_timeout(bus_, static_cast<std::uint64_t>(timeout.count()));
  }
  ~Bus() { sd_bus_flush_close_unref(bus_); }
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;
  sd_bus* get() const { return bus_; }

 private:
  sd_bus* bus_ = nullptr;
};

class Reply {
 public:
  Reply() = default;
  ~Reply() {
    sd_bus_message_unref(message_);
    sd_bus_error_free(&error_);
  }
  Reply(const Reply&) = delete;
  Reply& operator=(const Reply&) = delete;
  sd_bus_message** Message() { return &message_; }
  sd_bus_error* Error() { return &error_; }
  sd_bus_message* get() const { return message_; }

 private:
  sd_bus_message* message_ = nullptr;
  // SD_BUS_ERROR_NULL is a C compound literal, which C++ compilers warn about.
  sd_bus_error error_{nullptr, nullptr, 0};
};

}  // namespace

std::optional<int> InhibitSleepAndShutdown() {
  const Bus bus(kInhibitTimeout);
  if (bus.get() == nullptr) return std::nullopt;
  Reply reply;
  const std::string what(kInhibitWhat);
  const std::string who(kInhibitWho);
  const std::string why(kInhibitWhy);
  if (sd_bus_call_method(bus.get(), kService, kPath, kManager, "Inhibit", reply.Error(),
                         reply.Message(), "ssss", what.c_str(), who.c_str(), why.c_str(),
                         "block") < 0) {
    return std::nullopt;
  }
  int lock = -1;
  if (sd_bus_message_read(reply.get(), "h", &lock) < 0) return std::nullopt;
  // The reply owns its descriptor: keep a copy of our own, never inherited.
  const int kept = fcntl(lock, F_DUPFD_CLOEXEC, 3);
  return kept >= 0 ? std::optional<int>(kept) : std::nullopt;
}

bool RequestReboot() {
  const Bus bus(kRebootTimeout);
  if (bus.get() == nullptr) return false;
  Reply reply;
  const int interactive = 1;  // polkit may ask the user
  return sd_bus_call_method(bus.get(), kService, kPath, kManager, "Reboot", reply.Error(),
                            reply.Message(), "b", interactive) >= 0;
}

}  // namespace tslflash::logind
