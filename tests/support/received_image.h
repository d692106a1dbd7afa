// Whether an emulated drive took exactly the image of the package the tool
// carries: what every whole-road test through a window checks at its end.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>

#include "emulator/drive_emulator.h"
#include "package/embedded_package.h"
#include "package/firmware_package.h"

namespace tslflash::testing {

inline ::testing::AssertionResult TookTheEmbeddedImage(const emu::DriveEmulator& drive) {
  const std::span<const std::uint8_t> package = EmbeddedPackage();
  const FirmwarePackage firmware = ParseFirmwarePackage(package);
  if (!firmware.HasWholeHeader()) {
    return ::testing::AssertionFailure() << "the embedded package has no header";
  }
  const auto image = drive.ReceivedImage();
  if (!image) return ::testing::AssertionFailure() << "the drive accepted no image";
  const std::uint32_t length = firmware.header.imageLength;
  if (image->size() != length || package.size() < kHeaderSize + length) {
    return ::testing::AssertionFailure()
           << "the drive took " << image->size() << " bytes; the image has " << length;
  }
  if (!std::equal(image->begin(), image->end(), package.begin() + kHeaderSize)) {
    return ::testing::AssertionFailure() << "the drive took other bytes than the image";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace tslflash::testing
