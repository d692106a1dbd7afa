// The Windows transport for a given platform family. The tool itself always
// asks DetectPlatform() (through MakePlatformTransport); tests name the
// family to reach the ASPI path on an NT system.
#pragma once

#include <memory>

#include "transport/drive_transport.h"
#include "transport/platform_transport.h"
#include "transport/windows_platform.h"

namespace tslflash {

// NT family: the system's pass-through; 9x family: the ASPI layer WNASPI32.
// Without a notice receiver, messages go to a message box.
std::unique_ptr<DriveTransport> MakeWindowsTransport(WindowsPlatform platform,
                                                     TransportNotice notice);

}  // namespace tslflash
