// The POSIX append file with the call that syncs a descriptor given, so that
// a test can see what an append makes durable. OpenAppendFile gives fsync.
#pragma once

#include <string>

#include "app/append_file.h"

namespace tslflash {

using SyncCall = int (*)(int descriptor);

OpenedAppendFile OpenAppendFile(const std::string& path, SyncCall sync);

}  // namespace tslflash
