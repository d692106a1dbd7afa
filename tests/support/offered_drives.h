// What a transport's scan offers, kept for the test to look at.
#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "transport/drive_transport.h"

namespace tslflash::testing {

struct OfferedDrives {
  // Keeps every candidate of one scan; stops the scan after `limit` of them.
  void Collect(DriveTransport& transport,
               std::size_t limit = std::numeric_limits<std::size_t>::max()) {
    transport.ScanDrives([this, limit](std::unique_ptr<DriveDevice> device) {
      offered.push_back(std::move(device));
      return offered.size() < limit;
    });
  }

  std::vector<std::string> Locations() const {
    std::vector<std::string> locations;
    for (const auto& device : offered) locations.push_back(device->Location());
    return locations;
  }

  std::vector<std::unique_ptr<DriveDevice>> offered;
};

}  // namespace tslflash::testing
