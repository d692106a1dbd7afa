// Arbitrary bytes as a firmware package: every reader the update tool and the
// package tool run on a package must refuse bad input as a value, never crash.
// The first input byte picks the form, the per-page-sum range and the
// inflate feed; the rest is the package.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <span>
#include <streambuf>

#include "package/checksum.h"
#include "package/firmware_package.h"
#include "package/image_inflate.h"
#include "package/image_staging.h"
#include "package/package_check.h"
#include "package/package_layout.h"
#include "tools/package_report.h"

namespace {

using namespace tslflash;

// Discards the inspection's text; only its behaviour is under test.
class NullBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return c; }
};

constexpr std::uint16_t RotatedSumOf(std::initializer_list<std::uint8_t> bytes) {
  RotatedChecksum sum;
  for (const std::uint8_t byte : bytes) sum.Add(byte);
  return sum.Value();
}
// The finding kept in regressions/rotated-sum-overflow: adding to the state
// FFFFh overflowed int. Constant evaluation rejects that overflow, so these
// stop compiling in every build if it comes back.
static_assert(RotatedSumOf({1, 1, 1, 1, 1, 1, 1, 1, 0xFF}) == 0xFFFF);
static_assert(RotatedSumOf({1, 1, 1, 1, 1, 1, 1, 1, 0xFF, 0x9C}) == 0x009B);

constexpr PackageForm kForms[] = {PackageForm::Plain, PackageForm::Varn2340, PackageForm::Varn2300};

void StageAndInflate(std::span<const std::uint8_t> package, PackageForm form, bool perPageSums,
                     InflateFeed feed) {
  const FirmwarePackage firmware = ParseFirmwarePackage(package);
  if (!firmware.HasWholeHeader()) return;
  const PackageExtensionCopy extension = ExtensionCopyOf(package).value_or(PackageExtensionCopy{});
  const StageResult staged = StageImage(firmware, extension, form, perPageSums);
  if (staged.SumsMatch()) (void)InflateImage(staged.image, staged.plan.pageCount, feed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> package(data + 1, size - 1);
  const PackageForm form = kForms[data[0] % 3];
  const InflateFeed feed =
      (data[0] & 0x80) != 0 ? InflateFeed::BytePerCall : InflateFeed::WholeInput;
  (void)CheckPackage(package, form);
  const bool perPageSums = (data[0] & 0x40) != 0;
  StageAndInflate(package, form, perPageSums, feed);
  NullBuffer discard;
  std::ostream report(&discard);
  (void)InspectPackage(package, report);
  return 0;
}
