// The Linux reboot request on its own, for the login-manager test: asks the
// bus DBUS_SYSTEM_BUS_ADDRESS names, then runs the commands given as
// arguments (absolute paths, no arguments of their own) instead of the
// system's. Prints "granted" or "refused". Never reboots by itself: the test
// points it at a fake login manager and fake commands.
#include <iostream>
#include <string>
#include <vector>

#include "update/reboot_command.h"

int main(int argc, char** argv) {
  std::vector<tslflash::RebootCommand> commands;
  for (int i = 1; i < argc; ++i) commands.push_back({argv[i], {"reboot"}});
  if (commands.empty()) {
    std::cerr << "usage: reboot_probe /ABSOLUTE/FAKE-COMMAND...\n";
    return 2;
  }
  const bool granted = tslflash::RequestSystemReboot(commands);
  std::cout << (granted ? "granted" : "refused") << '\n';
  return granted ? 0 : 1;
}
