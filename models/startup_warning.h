// The warning every start shows; the tool runs on only when the user accepts.
#pragma once

#include <string>

#include "models/tool_variant.h"
#include "package/firmware_package.h"

namespace tslflash {

// The warning's text for this variant and package.
std::string StartupWarningText(ToolVariant variant, const FirmwarePackage& package);

}  // namespace tslflash
