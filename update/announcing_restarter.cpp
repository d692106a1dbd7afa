#include "update/announcing_restarter.h"

#include <utility>

namespace tslflash {

AnnouncingRestarter::AnnouncingRestarter(Announce announce) : announce_(std::move(announce)) {}

bool AnnouncingRestarter::RequestReboot() {
  if (announce_) announce_(kRestartAnnouncement);
  return true;
}

}  // namespace tslflash
