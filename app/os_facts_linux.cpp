#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/os_facts.h"

namespace tslflash {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void AddAccount(PrivateNames& names, const passwd* account) {
  if (account == nullptr) return;
  names.users.push_back(account->pw_name != nullptr ? account->pw_name : "");
  names.homes.push_back(account->pw_dir != nullptr ? account->pw_dir : "");
}

// The person behind the process: its own account, and the one that started
// it through sudo or pkexec, whose home and name the environment may carry.
PrivateNames AccountNames() {
  PrivateNames names;
  names.homes.push_back(Environment("HOME"));
  names.users.push_back(Environment("USER"));
  names.users.push_back(Environment("LOGNAME"));
  AddAccount(names, ::getpwuid(::getuid()));
  if (const std::string sudoUser = Environment("SUDO_USER"); !sudoUser.empty()) {
    AddAccount(names, ::getpwnam(sudoUser.c_str()));
  }
  if (const std::string pkexecUid = Environment("PKEXEC_UID"); !pkexecUid.empty()) {
    char* end = nullptr;
    const unsigned long uid = std::strtoul(pkexecUid.c_str(), &end, 10);
    if (end != pkexecUid.c_str() && *end == '\0')
      AddAccount(names, ::getpwuid(static_cast<uid_t>(uid)));
  }
  return names;
}

}  // namespace

OsFacts QueryOsFacts() {
  OsFacts facts;
  facts.privateNames = AccountNames();
  utsname system{};
  if (::uname(&system) != 0) {
    facts.system = std::string("unknown (uname failed: ") + std::strerror(errno) + ")";
    return facts;
  }
  facts.system = std::string(system.sysname) + " " + system.release + " " + system.version + " " +
                 system.machine;
  const std::string node = system.nodename;
  facts.privateNames.hosts.push_back(node);
  facts.privateNames.hosts.push_back(node.substr(0, node.find('.')));
  return facts;
}

}  // namespace tslflash
