// The tool variant: the package's two-letter variantMark chooses the start-up
// warning, the dialog captions, the no-disc check and several texts.
#pragma once

#include <cstdint>

#include "package/firmware_package.h"

namespace tslflash {

enum class ToolVariant : std::uint8_t {
  Tw = 10,     // "TW"
  Nx = 20,     // "NX"
  Vr = 30,     // "VR": the VARN internal drives
  Kv = 40,     // "KV"
  Other = 90,  // any other mark
};

// Read from the package's variant mark on every call; the mark's letters are
// upper-cased first.
ToolVariant DetermineToolVariant(const FirmwarePackage& package);

}  // namespace tslflash
