#include "update/system_restarter.h"

#include <spawn.h>
#include <sys/wait.h>

#include <array>

extern char** environ;

namespace tslflash {

bool SystemRestarter::RequestReboot() {
  // systemctl hands the request to logind, which applies the user's rights
  // (polkit) the same way the desktop's own restart does.
  std::array<char, 10> program{"systemctl"};
  std::array<char, 7> verb{"reboot"};
  std::array<char*, 3> argv{program.data(), verb.data(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, program.data(), nullptr, nullptr, argv.data(), environ) != 0) {
    return false;
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace tslflash
