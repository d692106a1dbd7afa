// Holding a /dev/sr<n> for one writer: the device is opened a second time with
// O_EXCL, which the kernel refuses while a disc in it is mounted or another
// program holds it the same way, and that descriptor takes an advisory lock,
// which names the holder in /proc/locks for the copy of the tool refused.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "transport/drive_transport.h"
#include "transport/sg_io_system.h"

namespace tslflash {

// Takes the device at `path` for this process alone until the hold is
// destroyed.
HoldAttempt HoldSgIoDevice(const std::shared_ptr<SgIoSystem>& system, const std::string& path);

// The process holding a granted lock on the file with this inode on the
// filesystem with this device number, read from the text of /proc/locks;
// nothing when no process does.
std::optional<long> FindLockHolder(std::string_view procLocks, unsigned major, unsigned minor,
                                   unsigned long inode);

}  // namespace tslflash
