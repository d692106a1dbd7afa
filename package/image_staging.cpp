#include "package/image_staging.h"

#include <algorithm>

namespace tslflash {
namespace {

// Bytes that rule 1 counts in L but does not send.
constexpr std::int64_t kPerPageSumTail = 12;

void PlaceRange(ImagePlan& plan, const PackageHeader& header, PackageForm form, bool perPageSums) {
  const std::int64_t length = plan.transferLength;
  if (perPageSums) {
    plan.rule = ImageRangeRule::PerPageSumModel;
    plan.start = layout::kPlainImageOffset;
    plan.end = plan.start + length - kPerPageSumTail;
  } else if (form == PackageForm::Varn2340) {
    plan.rule = ImageRangeRule::SecondImage;
    plan.start = std::int64_t{header.imageLength} + std::int64_t{layout::kSecondImageBase};
    plan.end = plan.start + length;
  } else if (form == PackageForm::Varn2300) {
    plan.rule = ImageRangeRule::ExtendedFirst;
    plan.start = layout::kExtendedImageOffset;
    plan.end = plan.start + length;
  } else {
    plan.rule = ImageRangeRule::Plain;
    plan.start = layout::kPlainImageOffset;
    plan.end = plan.start + length;
  }
}

}  // namespace

ImagePlan PlanImage(const PackageHeader& header, const PackageExtension& extension,
                    PackageForm form, bool perPageSums) {
  ImagePlan plan;
  if (form == PackageForm::Varn2340) {
    plan.transferLength = extension.extImageLength;
    plan.expected = {extension.extSumLinear, extension.extSumRotated};
  } else {
    plan.transferLength = header.imageLength;
    plan.expected = {header.imageSumLinear, header.imageSumRotated};
  }
  plan.pageCount = static_cast<std::uint8_t>(plan.transferLength >> 14);
  PlaceRange(plan, header, form, perPageSums);
  plan.perPageSumMode = plan.rule == ImageRangeRule::PerPageSumModel;
  return plan;
}

ImageRangeStatus CheckImageRange(const ImagePlan& plan, std::size_t packageSize) {
  if (plan.Length() < 0) return ImageRangeStatus::NegativeLength;
  if (plan.Length() > std::int64_t{kImageAreaSize}) return ImageRangeStatus::LongerThanArea;
  if (plan.end > static_cast<std::int64_t>(packageSize)) return ImageRangeStatus::PastPackage;
  return ImageRangeStatus::Usable;
}

StageResult LocateImage(const FirmwarePackage& package, const PackageExtensionCopy& extension,
                        PackageForm form, bool perPageSums) {
  StageResult result;
  result.plan = PlanImage(package.header, DecodeExtension(extension), form, perPageSums);
  result.status = CheckImageRange(result.plan, package.bytes.size());
  if (result.Staged()) {
    result.image = package.bytes.subspan(static_cast<std::size_t>(result.plan.start),
                                         static_cast<std::size_t>(result.plan.Length()));
  }
  return result;
}

StageResult StageImage(const FirmwarePackage& package, const PackageExtensionCopy& extension,
                       PackageForm form, bool perPageSums) {
  StageResult result = LocateImage(package, extension, form, perPageSums);
  if (!result.Staged()) return result;
  const ChecksumTotals sums = SumBoth(result.image);
  result.linearTotal = sums.linearTotal;
  result.computed = sums.Pair();
  return result;
}

}  // namespace tslflash
