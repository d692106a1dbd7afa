// The main dialog's captions that the tool variant replaces. Only variant 30,
// made for the VARN internal drives, relabels the dialog and names its drive
// in the title; the dialog sets what this returns on its window.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "models/tool_variant.h"
#include "package/firmware_package.h"
#include "resources/texts.h"

namespace tslflash {

struct VariantCaptions {
  std::string title;                // the window title
  std::string_view devicesLabel;    // static text 1001
  std::string_view exitCaption;     // Exit button (IDCANCEL, 2)
  std::string_view upgradeCaption;  // Upgrade button 1009
};

// The captions to set, or nothing when the variant keeps the dialog's own.
std::optional<VariantCaptions> ApplyVariantCaptions(ToolVariant variant,
                                                    const FirmwarePackage& package);

}  // namespace tslflash
