// What an emulated drive is: its identity, its state when the tool finds it,
// the replies it gives about itself, and the faults it shows. Read from JSON
// (the format is described in emulator/README.md) or filled in by a test.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/fault_schedule.h"

namespace tslflash::emu {

using ParameterBlock = std::array<std::uint8_t, 4>;

struct DriveDescription {
  // INQUIRY identity; shorter texts are padded with blanks.
  std::string vendor;    // up to 8 characters
  std::string product;   // up to 16
  std::string revision;  // up to 4
  // Vendor-specific INQUIRY bytes 96-107 and 108-110; empty means zero bytes.
  std::string enclosure;      // up to 12
  std::string enclosureTail;  // up to 3
  bool answersInquiry = true;
  // Another program holds the drive: the tool's hold on it is refused.
  bool inUse = false;

  bool mediumPresent = false;
  std::uint32_t becomingReadyPolls = 0;  // TEST UNIT READYs answered "becoming ready"
  bool unitAttention = false;            // the first TEST UNIT READY reports a reset

  std::uint16_t bufferSizeKiB = 8192;
  // Image-size reply: signature, type code and size (0 = the type's default).
  std::array<std::uint8_t, 2> imageSignature = {0x06, 0x11};
  std::uint16_t imageType = 0x3120;
  std::uint16_t imageSizeKiB = 0;

  // Blocks 02h and 24h of parameter area A2h; the drive has no others.
  std::map<std::uint8_t, ParameterBlock> parameterBlocks = {{0x02, {}}, {0x24, {}}};
  bool vendorCommands = true;  // false: every vendor opcode is refused
  std::uint32_t bankSize = 0;  // bytes per bank of a banked download; 0 = one bank
  // How long each command takes before its answer: a slow drive, so that a
  // test can act while a run is in a given step.
  std::uint32_t commandDelayMs = 0;

  std::vector<Fault> faults;

  // The revision an accepted image makes the drive report (empty: it never
  // changes), and whether it does so at once or only after a power cycle.
  std::string activatesAs;  // up to 4
  bool activatesAtOnce = false;
  // The drive starts as after a power cycle with the image in this file
  // active (one the tool wrote with --received-images): when the file is
  // there, the drive reports activatesAs. Relative to the description file.
  std::string poweredUpWith;
};

// The image size the drive expects, in bytes, as its image-size reply states
// it: the explicit size, else the type code's default (0 for an unknown type).
std::uint32_t ExpectedImageSize(const DriveDescription& description);

// Either the drives of a description file, or one message saying what is wrong.
struct LoadedDrives {
  std::vector<DriveDescription> drives;
  std::string error;
  [[nodiscard]] bool Ok() const { return error.empty(); }
};

// The largest description file read: far more than any real one needs (the
// samples are a few KiB), small enough that no file can exhaust memory.
inline constexpr std::size_t kLargestDescription = 1024 * 1024;

LoadedDrives LoadDriveDescriptions(std::string_view jsonText);
LoadedDrives LoadDriveDescriptionFile(const std::filesystem::path& path);

}  // namespace tslflash::emu
