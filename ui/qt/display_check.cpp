#include "ui/qt/display_check.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ranges>

namespace tslflash {
namespace {

// libwayland's name for the compositor's socket when WAYLAND_DISPLAY is unset.
constexpr std::string_view kDefaultWaylandDisplay = "wayland-0";

std::optional<std::string> NonEmpty(const EnvironmentLookup& environment, std::string_view name) {
  std::optional<std::string> value = environment(name);
  if (value && value->empty()) return std::nullopt;
  return value;
}

// A platform's name up to its options ("xcb:option"), in lower case.
std::string PlatformKey(std::string_view entry) {
  std::string key(entry.substr(0, entry.find(':')));
  std::ranges::transform(key, key.begin(),
                         [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return key;
}

DisplayProbe ProbeFor(std::string_view platform, const EnvironmentLookup& environment) {
  const std::string key = PlatformKey(platform);
  if (key == "xcb") {
    return {DisplayKind::X11, NonEmpty(environment, "DISPLAY").value_or(""), std::nullopt, false};
  }
  if (key.starts_with("wayland")) {
    return {DisplayKind::Wayland,
            NonEmpty(environment, "WAYLAND_DISPLAY").value_or(std::string(kDefaultWaylandDisplay)),
            NonEmpty(environment, "XDG_RUNTIME_DIR"),
            NonEmpty(environment, "WAYLAND_SOCKET").has_value()};
  }
  return {DisplayKind::None, key, std::nullopt, false};
}

std::string X11Error(int error) {
  switch (error) {
    case XCB_CONN_ERROR:
      return "no X server answers there, or it refused the connection";
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
      return "out of memory";
    case XCB_CONN_CLOSED_PARSE_ERR:
      return "not a display name";
    case XCB_CONN_CLOSED_INVALID_SCREEN:
      return "the X server has no such screen";
    default:
      return "X connection error " + std::to_string(error);
  }
}

std::string TryX11(const DisplayProbe& probe) {
  if (probe.name.empty()) return "DISPLAY is not set";
  int screen = 0;
  xcb_connection_t* connection = xcb_connect(probe.name.c_str(), &screen);
  const int error = xcb_connection_has_error(connection);
  // A screen the server lacks is not an error to libxcb, but it is to Qt.
  const bool screenMissing =
      error == 0 && screen >= xcb_setup_roots_length(xcb_get_setup(connection));
  // Even a failed connection is an object to free.
  xcb_disconnect(connection);
  if (screenMissing) return X11Error(XCB_CONN_CLOSED_INVALID_SCREEN);
  return error == 0 ? std::string() : X11Error(error);
}

std::string TryWayland(const DisplayProbe& probe) {
  // An inherited connection cannot be tried without using it up.
  if (probe.waylandSocketGiven) return {};
  std::string path = probe.name;
  if (!path.starts_with('/')) {
    if (!probe.runtimeDir) return "XDG_RUNTIME_DIR is not set";
    path = *probe.runtimeDir + "/" + path;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return "the socket's path is too long";
  std::ranges::copy(path, address.sun_path);
  const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0) return std::strerror(errno);
  const bool connected =
      connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  const int error = errno;
  close(socket);
  return connected ? std::string() : std::strerror(error);
}

}  // namespace

std::vector<DisplayProbe> PlanDisplayProbes(const EnvironmentLookup& environment) {
  std::vector<DisplayProbe> probes;
  if (const std::optional<std::string> platforms = NonEmpty(environment, "QT_QPA_PLATFORM")) {
    // By hand: clang with this standard library rejects views::split here.
    std::string_view rest = *platforms;
    while (!rest.empty()) {
      const std::size_t end = std::min(rest.find(';'), rest.size());
      const std::string_view platform = rest.substr(0, end);
      if (!platform.empty()) probes.push_back(ProbeFor(platform, environment));
      rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return probes;
  }
  // Qt prefers Wayland in a Wayland session or when its display is named,
  // and falls back to X11 when that fails.
  const bool wayland = NonEmpty(environment, "WAYLAND_DISPLAY").has_value() ||
                       environment("XDG_SESSION_TYPE") == "wayland";
  if (wayland) probes.push_back(ProbeFor("wayland", environment));
  probes.push_back(ProbeFor("xcb", environment));
  return probes;
}

std::string SystemDisplayOpener::TryOpen(const DisplayProbe& probe) {
  switch (probe.kind) {
    case DisplayKind::X11:
      return TryX11(probe);
    case DisplayKind::Wayland:
      return TryWayland(probe);
    case DisplayKind::None:
      break;
  }
  return {};
}

std::optional<std::string> UnusableDisplayLine(const std::vector<DisplayProbe>& probes,
                                               DisplayOpener& opener) {
  std::string failures;
  for (const DisplayProbe& probe : probes) {
    if (probe.kind == DisplayKind::None) return std::nullopt;
    const std::string error = opener.TryOpen(probe);
    if (error.empty()) return std::nullopt;
    failures +=
        (failures.empty() ? "" : " or the display ") + ("\"" + probe.name + "\" (") + error + ")";
  }
  if (failures.empty()) return std::nullopt;
  return "tslflash: cannot open the display " + failures + "; running in the terminal";
}

}  // namespace tslflash
