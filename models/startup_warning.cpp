#include "models/startup_warning.h"

#include "models/internal_drives.h"
#include "resources/texts.h"

namespace tslflash {

std::string StartupWarningText(ToolVariant variant, const FirmwarePackage& package) {
  switch (variant) {
    case ToolVariant::Nx:
      return std::string(kWarningNx);
    case ToolVariant::Kv:
      return std::string(kWarningKv);
    case ToolVariant::Vr:
      return std::string(kWarningVrStart) + std::string(PackageDriveName(package).value_or("")) +
             std::string(kWarningVrEnd);
    default:
      return std::string(kWarningOther);
  }
}

}  // namespace tslflash
