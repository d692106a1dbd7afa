#include "models/startup_warning.h"

#include "models/internal_drives.h"
#include "resources/texts.h"

namespace tslflash {

std::string StartupWarningText(ToolVariant variant, const PackageHeaderCopy& header) {
  switch (variant) {
    case ToolVariant::Nx:
      return "1.Please remove any media from the device.\n\n2.Please DO NOT turn off power while "
             "upgrading.\n\n3.Please ensure the device is properly installed and DO NOT remove "
             "the device while upgrading.\n\n4.Please ensure all current applications are "
             "terminated before proceed upgrading.";
    case ToolVariant::Kv:
      return "1.Please DO NOT turn off power while upgrading.\n\n2.Please execute this program "
             "again if power has been turned off accidentally while upgrading.\n\n3.Please "
             "ensure the device is properly installed and DO NOT remove the device while "
             "upgrading.\n\n4.Please ensure all current applications are terminated before "
             "proceed upgrading.";
    case ToolVariant::Vr:
      return "This flash utility only supports " +
             std::string(PackageDriveName(header).value_or("")) +
             " drive.\n\nNOTICE :\n\n1> Please REMOVE disc and close all applications before "
             "running this utility !   \n2> Don't turn off the system while flash is in "
             "porgress.\n\nDo you wish to continue ?";
    default:
      return "1.Please DO NOT turn off power while upgrading.\n\n2.Please ensure the device is "
             "properly installed and DO NOT remove the device while upgrading.\n\n3.Please "
             "ensure all current applications are terminated before proceed upgrading.";
  }
}

}  // namespace tslflash
