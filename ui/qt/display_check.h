// Whether the display Qt is about to use can be opened. Qt ends the program
// (abort) when no platform it tries can connect, so the tool asks first and
// runs in the terminal instead. Qt's choice is followed: QT_QPA_PLATFORM when
// set (a list separated by ';', tried in order), else Wayland first when
// WAYLAND_DISPLAY is set or the session is Wayland, then X11.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace tslflash {

enum class DisplayKind : std::uint8_t {
  None,     // a platform that needs no display (offscreen, minimal, vnc...)
  X11,      // the xcb platform: the X server DISPLAY names
  Wayland,  // a wayland platform: the compositor's socket
};

// One platform Qt would try, and what it connects to.
struct DisplayProbe {
  DisplayKind kind = DisplayKind::None;
  std::string name;  // DISPLAY, or WAYLAND_DISPLAY (Wayland's "wayland-0" when unset)
  std::optional<std::string> runtimeDir;  // Wayland: XDG_RUNTIME_DIR
  bool waylandSocketGiven = false;        // Wayland: WAYLAND_SOCKET hands over a connection
  friend bool operator==(const DisplayProbe&, const DisplayProbe&) = default;
};

// The platforms Qt would try, in its order.
std::vector<DisplayProbe> PlanDisplayProbes(const EnvironmentLookup& environment);

// Opens a display and closes it again.
class DisplayOpener {
 public:
  virtual ~DisplayOpener() = default;
  // Empty when the display could be opened, else why not.
  virtual std::string TryOpen(const DisplayProbe& probe) = 0;
};

// Connects to the X server with libxcb, or to the Wayland compositor's socket.
class SystemDisplayOpener final : public DisplayOpener {
 public:
  std::string TryOpen(const DisplayProbe& probe) override;
};

// Nothing when one of the probes can be opened (or needs no display); else
// the one line saying why the window cannot be shown.
std::optional<std::string> UnusableDisplayLine(const std::vector<DisplayProbe>& probes,
                                               DisplayOpener& opener);

}  // namespace tslflash
