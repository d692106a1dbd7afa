// The firmware package this build carries in its read-only data. The build
// embeds the file named by TSLFLASH_PACKAGE, or a sample package it makes
// itself from synthetic image bytes.
#pragma once

#include <cstdint>
#include <span>

namespace tslflash {

std::span<const std::uint8_t> EmbeddedPackage();

}  // namespace tslflash
