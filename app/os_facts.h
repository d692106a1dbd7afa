// What a support report says about the operating system, and the names on
// this machine that would identify its user, which the report leaves out.
// One implementation per platform, each in its own file.
#pragma once

#include <string>

#include "app/private_names.h"

namespace tslflash {

struct OsFacts {
  // "Linux 6.1.0-18-amd64 #1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 x86_64",
  // "Windows 10.0 build 19045".
  std::string system;
  PrivateNames privateNames;
};

OsFacts QueryOsFacts();

}  // namespace tslflash
