#include "package/package_check.h"

#include "package/package_layout.h"

namespace tslflash {
namespace {

TrailerPlace LocateExtendedTrailer(std::span<const std::uint8_t> package,
                                   const PackageHeader& header) {
  const auto extensionCopy = ExtensionCopyOf(package);
  if (!extensionCopy) return {TrailerStatus::PackageTooShort};
  const PackageExtension extension = DecodeExtension(*extensionCopy);
  if (extension.extImageLength == 0) return {TrailerStatus::NoSecondImage};
  const std::uint64_t offset =
      std::uint64_t{header.imageLength} + extension.extImageLength + layout::kSecondImageBase;
  if (offset > kExtendedTrailerBound) return {TrailerStatus::OverBound, offset};
  return {TrailerStatus::Found, offset};
}

TrailerPlace LocateTrailerOf(const FirmwarePackage& firmware, PackageForm form) {
  if (!firmware.HasWholeHeader()) return {TrailerStatus::PackageTooShort};
  const std::span<const std::uint8_t> package = firmware.bytes;
  const PackageHeader& header = firmware.header;
  TrailerPlace place{TrailerStatus::Found,
                     std::uint64_t{header.imageLength} + layout::kPlainImageOffset};
  if (IsExtended(form)) place = LocateExtendedTrailer(package, header);
  if (place.status == TrailerStatus::Found && place.offset + kTrailerSize > package.size()) {
    place.status = TrailerStatus::PastEnd;
  }
  return place;
}

}  // namespace

TrailerPlace LocateTrailer(std::span<const std::uint8_t> package, PackageForm form) {
  return LocateTrailerOf(ParseFirmwarePackage(package), form);
}

TrailerReading ReadTrailer(std::span<const std::uint8_t> package, PackageForm form) {
  TrailerReading reading{LocateTrailer(package, form), {}, {}};
  if (reading.place.status != TrailerStatus::Found) return reading;
  const auto offset = static_cast<std::size_t>(reading.place.offset);
  reading.stored = {ReadLe16(package, offset + layout::kTrailerLinear.offset),
                    ReadLe16(package, offset + layout::kTrailerRotated.offset)};
  reading.computed = ChecksumsOf(package.first(offset));
  return reading;
}

bool CheckPackage(std::span<const std::uint8_t> package, PackageForm form) {
  return ReadTrailer(package, form).Matches();
}

CheckedPackage CheckAndStage(const FirmwarePackage& firmware, const PackageExtensionCopy& extension,
                             PackageForm form, bool perPageSums) {
  const std::span<const std::uint8_t> package = firmware.bytes;
  CheckedPackage checked{{LocateTrailerOf(firmware, form), {}, {}},
                         LocateImage(firmware, extension, form, perPageSums)};
  StageResult& staged = checked.staged;
  const bool found = checked.trailer.place.status == TrailerStatus::Found;
  const std::size_t trailerAt = found ? static_cast<std::size_t>(checked.trailer.place.offset) : 0;
  const std::size_t begin = staged.Staged() ? static_cast<std::size_t>(staged.plan.start) : 0;
  const TwoRangeSums sums = SumWholeAndPart(package, trailerAt, begin, begin + staged.image.size());
  if (found) {
    checked.trailer.stored = {ReadLe16(package, trailerAt + layout::kTrailerLinear.offset),
                              ReadLe16(package, trailerAt + layout::kTrailerRotated.offset)};
    checked.trailer.computed = sums.whole.Pair();
  }
  if (staged.Staged()) {
    staged.linearTotal = sums.part.linearTotal;
    staged.computed = sums.part.Pair();
  }
  return checked;
}

}  // namespace tslflash
