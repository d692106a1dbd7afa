// The restart of an emulated run: nothing is restarted; the request is only
// announced, so the whole flow can be tried on a machine that must keep
// running.
#pragma once

#include <functional>
#include <string_view>

#include "resources/texts.h"
#include "update/restarter.h"

namespace tslflash {

class AnnouncingRestarter final : public Restarter {
 public:
  using Announce = std::function<void(std::string_view)>;
  explicit AnnouncingRestarter(Announce announce);
  // Announces the request and reports it as granted.
  bool RequestReboot() override;

 private:
  Announce announce_;
};

}  // namespace tslflash
