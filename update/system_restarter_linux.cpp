#include <spawn.h>
#include <sys/wait.h>

#include <array>
#include <csignal>

#include "update/logind.h"
#include "update/reboot_command.h"
#include "update/system_restarter.h"

namespace tslflash {
namespace {

// The command starts as if from a fresh shell: no ignored SIGPIPE, no
// blocked signals inherited from this program.
class SpawnAttributes {
 public:
  SpawnAttributes() {
    posix_spawnattr_init(&attributes_);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes_, &defaults);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_{};
};

enum class Started : std::uint8_t { No, Refused, Granted };

Started Run(const RebootCommand& command) {
  std::vector<std::string> words{command.path};
  words.insert(words.end(), command.arguments.begin(), command.arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::string path(kRebootCommandPath);
  std::array<char*, 2> environment{path.data(), nullptr};
  const SpawnAttributes attributes;
  pid_t child = 0;
  if (posix_spawn(&child, command.path.c_str(), nullptr, attributes.get(), argv.data(),
                  environment.data()) != 0) {
    return Started::No;
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return Started::Refused;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Started::Granted : Started::Refused;
}

}  // namespace

std::span<const RebootCommand> SystemRebootCommands() {
  static const std::array<RebootCommand, 2> commands{
      {{"/usr/bin/systemctl", {"reboot"}}, {"/sbin/reboot", {}}}};
  return commands;
}

bool RunRebootCommand(std::span<const RebootCommand> commands) {
  for (const RebootCommand& command : commands) {
    const Started started = Run(command);
    if (started != Started::No) return started == Started::Granted;
  }
  return false;
}

bool RequestSystemReboot(std::span<const RebootCommand> commands) {
  return logind::RequestReboot() || RunRebootCommand(commands);
}

bool SystemRestarter::RequestReboot() { return RequestSystemReboot(SystemRebootCommands()); }

}  // namespace tslflash
