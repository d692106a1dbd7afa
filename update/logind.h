// The two requests this program makes of the login manager (logind) on the
// system bus: an inhibitor lock while firmware is written, and the reboot.
// The bus is the one DBUS_SYSTEM_BUS_ADDRESS names, else the system's. A
// build without sd-bus makes neither request and reports both refused.
#pragma once

#include <optional>
#include <string_view>

namespace tslflash::logind {

// What the lock blocks: sleep, shutdown, idling and the keys and lid that
// would start them.
inline constexpr std::string_view kInhibitWhat =
    "shutdown:sleep:idle:handle-lid-switch:handle-power-key:handle-suspend-key:"
    "handle-hibernate-key";
inline constexpr std::string_view kInhibitWho = "tslflash";
inline constexpr std::string_view kInhibitWhy = "Writing drive firmware";

// The lock's descriptor (close it to release the lock); nothing when there
// is no bus, no login manager, or it refused.
std::optional<int> InhibitSleepAndShutdown();

// Asks for a reboot, letting polkit ask the user; false when it was refused
// or could not be asked.
bool RequestReboot();

}  // namespace tslflash::logind
