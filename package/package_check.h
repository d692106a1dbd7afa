// The whole-package test: the trailer's two words must equal the checksums of
// every package byte before it, the header included.
#pragma once

#include <cstdint>
#include <span>

#include "package/checksum.h"
#include "package/firmware_package.h"
#include "package/image_staging.h"
#include "package/package_form.h"
#include "package/package_layout.h"

namespace tslflash {

// Largest trailer offset the extended layout accepts.
inline constexpr std::uint64_t kExtendedTrailerBound = 0x200100;

enum class TrailerStatus {
  Found,
  PackageTooShort,  // no header, or no extension in the extended layout
  NoSecondImage,    // extended layout with extImageLength 0
  OverBound,        // extended layout with the trailer beyond kExtendedTrailerBound
  PastEnd,          // the trailer would run past the end of the package bytes
};

struct TrailerPlace {
  TrailerStatus status = TrailerStatus::PackageTooShort;
  std::uint64_t offset = 0;  // P; known from OverBound on
};

// Where the form's layout puts the trailer, in 64 bits so the lengths cannot wrap.
TrailerPlace LocateTrailer(std::span<const std::uint8_t> package, PackageForm form);

struct TrailerReading {
  TrailerPlace place;
  ChecksumPair stored;    // the words at P and P+2
  ChecksumPair computed;  // over bytes 0..P-1
  bool Matches() const {
    return place.status == TrailerStatus::Found && ChecksumsAgree(stored, computed);
  }
};

// Both sides of the trailer comparison; the sums are read only for a Found trailer.
TrailerReading ReadTrailer(std::span<const std::uint8_t> package, PackageForm form);

bool CheckPackage(std::span<const std::uint8_t> package, PackageForm form);

// The whole-package check and the image's staging for one layout, every sum
// they need taken in one pass over the package.
struct CheckedPackage {
  TrailerReading trailer;
  StageResult staged;
  bool Matches() const { return trailer.Matches(); }
};
[[nodiscard]] CheckedPackage CheckAndStage(const FirmwarePackage& package,
                                           const PackageExtensionCopy& extension, PackageForm form,
                                           bool perPageSums);

}  // namespace tslflash
