#include "models/variant_captions.h"

#include "models/internal_drives.h"
#include "resources/texts.h"

namespace tslflash {

std::optional<VariantCaptions> ApplyVariantCaptions(ToolVariant variant,
                                                    const FirmwarePackage& package) {
  if (variant != ToolVariant::Vr) return std::nullopt;
  std::string title(kVariantTitlePrefix);
  title += PackageDriveName(package).value_or(std::string_view{});
  return VariantCaptions{std::move(title), kStringSelectDrive.text, kStringClose.text,
                         kStringUpdate.text};
}

}  // namespace tslflash
