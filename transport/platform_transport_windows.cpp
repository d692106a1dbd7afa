#include <windows.h>

#include <string>
#include <utility>

#include "resources/texts.h"
#include "transport/aspi_layer.h"
#include "transport/aspi_transport.h"
#include "transport/nt_pass_through_system.h"
#include "transport/nt_pass_through_transport.h"
#include "transport/platform_transport.h"
#include "transport/windows_transport.h"

namespace tslflash {
namespace {

void ShowMessageBox(std::string_view text) {
  ::MessageBoxA(nullptr, std::string(text).c_str(), std::string(kApplicationName).c_str(), MB_OK);
}

}  // namespace

std::unique_ptr<DriveTransport> MakeWindowsTransport(WindowsPlatform platform,
                                                     TransportNotice notice) {
  if (!notice) notice = ShowMessageBox;
  if (platform == WindowsPlatform::NineXFamily) {
    return std::make_unique<AspiTransport>(MakeWnAspi32Layer(), std::move(notice));
  }
  return std::make_unique<NtPassThroughTransport>(MakeWindowsPassThroughSystem());
}

std::unique_ptr<DriveTransport> MakePlatformTransport(TransportNotice notice) {
  return MakeWindowsTransport(DetectPlatform(), std::move(notice));
}

}  // namespace tslflash
