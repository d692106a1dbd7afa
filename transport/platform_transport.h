// The one place that picks how this build of the tool reaches its drives.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "transport/drive_transport.h"

namespace tslflash {

// The transport of the platform the tool was built for. Without a notice
// receiver, messages go to standard error on Linux and to a message box on
// Windows.
std::unique_ptr<DriveTransport> MakePlatformTransport(TransportNotice notice = {});

}  // namespace tslflash
