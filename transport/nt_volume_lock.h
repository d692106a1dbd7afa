// Holding a drive letter for one writer on the NT family: the volume is
// locked on the handle the tool already has, which the system refuses while
// another program has the volume open.
#pragma once

#include <windows.h>

#include <memory>

#include "transport/drive_transport.h"
#include "transport/nt_pass_through_system.h"

namespace tslflash {

// Locks the volume behind `handle` until the hold is destroyed; the handle
// must outlive the hold.
HoldAttempt LockVolume(const std::shared_ptr<NtPassThroughSystem>& system, HANDLE handle);

}  // namespace tslflash
