// Which package bytes form the image to send, and their staging into the two
// image areas with both checksums, at the start of an update run.
#pragma once

#include <cstdint>
#include <span>

#include "package/checksum.h"
#include "package/firmware_package.h"
#include "package/package_form.h"
#include "package/package_layout.h"

namespace tslflash {

inline constexpr std::uint32_t kImagePageSize = 16384;

// The range rules, tried in this order; the first that applies wins.
enum class ImageRangeRule : std::uint8_t {
  PerPageSumModel = 1,  // a package for the per-page-sum drives: 64..L+52
  SecondImage = 2,      // VARN_2340: imageLength+118 .. +L
  ExtendedFirst = 3,    // VARN_2300: 78..L+78
  Plain = 4,            // 64..L+64
};

struct ImagePlan {
  ImageRangeRule rule = ImageRangeRule::Plain;
  // Package offsets, start inclusive, end exclusive; signed and 64-bit because
  // rule 1 gives a negative length for L < 12 and rule 2 can pass 4 GiB.
  std::int64_t start = 0;
  std::int64_t end = 0;
  std::uint32_t transferLength = 0;  // L
  std::uint8_t pageCount = 0;        // L >> 14, truncated to 8 bits
  bool perPageSumMode = false;
  ChecksumPair expected;  // from the extension under VARN_2340, else from the header
  std::int64_t Length() const { return end - start; }
};

// `perPageSums`: the package is for drives that take per-page sums (the
// model table says which); that rule comes before the form's.
ImagePlan PlanImage(const PackageHeader& header, const PackageExtension& extension,
                    PackageForm form, bool perPageSums);

enum class ImageRangeStatus {
  NotLocated,  // nothing has looked for the image yet
  Usable,
  NegativeLength,
  LongerThanArea,  // would not fit the 2 MiB image areas
  PastPackage,     // would run past the end of the package bytes
};

ImageRangeStatus CheckImageRange(const ImagePlan& plan, std::size_t packageSize);

struct [[nodiscard]] StageResult {
  ImageRangeStatus status = ImageRangeStatus::NotLocated;
  ImagePlan plan;
  // The image range where it lies in the package; empty when not usable.
  std::span<const std::uint8_t> image;
  ChecksumPair computed;          // over the staged range
  std::uint32_t linearTotal = 0;  // the 32-bit linear accumulator
  bool Staged() const { return status == ImageRangeStatus::Usable; }
  bool SumsMatch() const { return Staged() && ChecksumsAgree(plan.expected, computed); }
};

// Where the image lies in the package for this layout, without its sums; a
// range that is not usable gives no image.
StageResult LocateImage(const FirmwarePackage& package, const PackageExtensionCopy& extension,
                        PackageForm form, bool perPageSums);
// The image located and summed; nothing is copied.
StageResult StageImage(const FirmwarePackage& package, const PackageExtensionCopy& extension,
                       PackageForm form, bool perPageSums);

}  // namespace tslflash
