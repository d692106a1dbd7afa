#include "package/image_staging.h"

#include <algorithm>
#include <string_view>

namespace tslflash {
namespace {

// Bytes that rule 1 counts in L but does not send.
constexpr std::int64_t kPerPageSumTail = 12;

bool IsPerPageSumModel(const PackageHeader& header) {
  // altProductId is compared as a zero-terminated text for the short names and
  // by its first ten characters for the others.
  const std::string_view id(header.altProductId.data(), header.altProductId.size());
  const std::string_view text = id.substr(0, id.find('\0'));
  const std::string_view name = id.substr(0, layout::kAltProductName.width);
  return text == "TQ70" || text == "TX2370" || name == "EPX-412UXT" || name == "EPX-412UX ";
}

void PlaceRange(ImagePlan& plan, const PackageHeader& header, PackageForm form) {
  const std::int64_t length = plan.transferLength;
  if (IsPerPageSumModel(header)) {
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
                    PackageForm form) {
  ImagePlan plan;
  if (form == PackageForm::Varn2340) {
    plan.transferLength = extension.extImageLength;
    plan.expected = {extension.extSumLinear, extension.extSumRotated};
  } else {
    plan.transferLength = header.imageLength;
    plan.expected = {header.imageSumLinear, header.imageSumRotated};
  }
  plan.pageCount = static_cast<std::uint8_t>(plan.transferLength >> 14);
  PlaceRange(plan, header, form);
  plan.perPageSumMode = plan.rule == ImageRangeRule::PerPageSumModel;
  return plan;
}

ImageRangeStatus CheckImageRange(const ImagePlan& plan, std::size_t packageSize) {
  if (plan.Length() < 0) return ImageRangeStatus::NegativeLength;
  if (plan.Length() > std::int64_t{kImageAreaSize}) return ImageRangeStatus::LongerThanArea;
  if (plan.end > static_cast<std::int64_t>(packageSize)) return ImageRangeStatus::PastPackage;
  return ImageRangeStatus::Usable;
}

StageResult LocateImage(const PackageHeaderCopy& header, const PackageExtensionCopy& extension,
                        std::span<const std::uint8_t> package, PackageForm form) {
  StageResult result;
  result.plan = PlanImage(DecodeHeader(header), DecodeExtension(extension), form);
  result.status = CheckImageRange(result.plan, package.size());
  if (result.Staged()) {
    result.image = package.subspan(static_cast<std::size_t>(result.plan.start),
                                   static_cast<std::size_t>(result.plan.Length()));
  }
  return result;
}

StageResult StageImage(const PackageHeaderCopy& header, const PackageExtensionCopy& extension,
                       std::span<const std::uint8_t> package, PackageForm form) {
  StageResult result = LocateImage(header, extension, package, form);
  if (!result.Staged()) return result;
  const ChecksumTotals sums = SumBoth(result.image);
  result.linearTotal = sums.linearTotal;
  result.computed = sums.Pair();
  return result;
}

}  // namespace tslflash
