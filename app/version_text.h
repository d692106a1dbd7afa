// What `tslflash --version` prints: the tool's version, how it was built and
// which package it carries, so a report names the exact program and firmware.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tslflash {

struct BuildInfo {
  std::string_view version;    // the project's version, 1.0.0.7
  std::string_view buildType;  // empty when the build named none
  std::string_view compiler;   // compiler and its version
  std::string_view commit;     // empty when the build was made outside a git checkout
};

// This build's facts, written by the build.
BuildInfo ThisBuild();

std::string VersionText(const BuildInfo& build, std::span<const std::uint8_t> package);

}  // namespace tslflash
