// Arbitrary text as an emulator description file: the reader must answer with
// drives or one error message, and every drive it accepts must make a working
// emulated drive.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "emulator/drive_description.h"
#include "emulator/drive_emulator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tslflash::emu;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  LoadedDrives loaded = LoadDriveDescriptions(text);
  for (DriveDescription& description : loaded.drives) {
    (void)ExpectedImageSize(description);
    DriveEmulator drive(std::move(description));
  }
  return 0;
}
