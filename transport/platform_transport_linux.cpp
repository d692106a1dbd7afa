#include <iostream>
#include <utility>

#include "transport/platform_transport.h"
#include "transport/sg_io_system.h"
#include "transport/sg_io_transport.h"

namespace tslflash {

std::unique_ptr<DriveTransport> MakePlatformTransport(TransportNotice notice) {
  if (!notice) notice = [](std::string_view text) { std::cerr << text << '\n'; };
  return std::make_unique<SgIoTransport>(MakeLinuxSgIoSystem(), std::move(notice));
}

}  // namespace tslflash
