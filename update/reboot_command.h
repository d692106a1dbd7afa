// The reboot by command, for when the login manager cannot be asked: each
// command by its absolute path with a clean environment, so neither the
// caller's PATH nor anything else it exports decides what runs.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace tslflash {

struct RebootCommand {
  std::string path;  // absolute
  std::vector<std::string> arguments;
};

// systemctl reboot, else reboot.
std::span<const RebootCommand> SystemRebootCommands();

// The environment the commands get.
inline constexpr const char* kRebootCommandPath = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

// Runs the first command that can be started; true when it exited with 0.
bool RunRebootCommand(std::span<const RebootCommand> commands);

// The login manager's reboot, else the commands.
bool RequestSystemReboot(std::span<const RebootCommand> commands);

}  // namespace tslflash
