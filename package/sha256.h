// SHA-256 (FIPS 180-4) of a byte range: how a build names the package it
// carries. Written here rather than taken from a library because the Windows
// build is cross-compiled and Debian has no crypto library for mingw-w64.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace tslflash {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest Sha256(std::span<const std::uint8_t> bytes);

// 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace tslflash
