#include "package/image_staging.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "package/package_layout.h"
#include "tests/package/package_fixture.h"

namespace tslflash {
namespace {

using testing::Built;
using testing::ExtendedRecipe;
using testing::PlainRecipe;

PackageHeader HeaderWithAltId(std::string_view altProductId, std::uint32_t imageLength) {
  PackageHeader header;
  std::ranges::copy(altProductId, header.altProductId.begin());  // the rest stays zero
  header.imageLength = imageLength;
  header.imageSumLinear = 0x1111;
  header.imageSumRotated = 0x2222;
  return header;
}

PackageExtension ExtensionWithLength(std::uint32_t extImageLength) {
  PackageExtension extension;
  extension.extImageLength = extImageLength;
  extension.extSumLinear = 0x3333;
  extension.extSumRotated = 0x4444;
  return extension;
}

struct RuleCase {
  std::string name;
  bool perPageSums;
  PackageForm form;
  ImageRangeRule rule;
  std::int64_t start;
  std::int64_t end;
  friend void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }
};

class RangeRuleTest : public ::testing::TestWithParam<RuleCase> {};

// imageLength 40000, extImageLength 30000 throughout.
TEST_P(RangeRuleTest, FirstApplyingRuleDecidesTheRange) {
  const RuleCase& c = GetParam();
  const ImagePlan plan = PlanImage(HeaderWithAltId("TK300B", 40000), ExtensionWithLength(30000),
                                   c.form, c.perPageSums);
  EXPECT_EQ(plan.rule, c.rule);
  EXPECT_EQ(plan.start, c.start);
  EXPECT_EQ(plan.end, c.end);
  EXPECT_EQ(plan.perPageSumMode, c.rule == ImageRangeRule::PerPageSumModel);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RangeRuleTest,
    ::testing::Values(RuleCase{"PerPageSumsOnPlain", true, PackageForm::Plain,
                               ImageRangeRule::PerPageSumModel, 64, 40052},
                      RuleCase{"PerPageSumsWinOverVarn2340", true, PackageForm::Varn2340,
                               ImageRangeRule::PerPageSumModel, 64, 30052},
                      RuleCase{"PerPageSumsWinOverVarn2300", true, PackageForm::Varn2300,
                               ImageRangeRule::PerPageSumModel, 64, 40052},
                      RuleCase{"Varn2340SecondImage", false, PackageForm::Varn2340,
                               ImageRangeRule::SecondImage, 40118, 70118},
                      RuleCase{"Varn2300FirstImage", false, PackageForm::Varn2300,
                               ImageRangeRule::ExtendedFirst, 78, 40078},
                      RuleCase{"PlainLayout", false, PackageForm::Plain, ImageRangeRule::Plain, 64,
                               40064}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST(ImagePlanTest, ExpectedSumsAndLengthFollowTheFormWhateverTheRule) {
  for (const bool perPageSums : {false, true}) {
    SCOPED_TRACE(perPageSums ? "per-page sums" : "whole-image sums");
    const PackageHeader header = HeaderWithAltId("TK300B", 40000);
    const PackageExtension extension = ExtensionWithLength(30000);
    const ImagePlan varn2340 = PlanImage(header, extension, PackageForm::Varn2340, perPageSums);
    EXPECT_EQ(varn2340.expected, (ChecksumPair{0x3333, 0x4444}));
    EXPECT_EQ(varn2340.transferLength, 30000u);
    for (PackageForm form : {PackageForm::Plain, PackageForm::Varn2300}) {
      const ImagePlan plan = PlanImage(header, extension, form, perPageSums);
      EXPECT_EQ(plan.expected, (ChecksumPair{0x1111, 0x2222}));
      EXPECT_EQ(plan.transferLength, 40000u);
    }
  }
}

TEST(ImagePlanTest, PageCountIsTheLengthInPagesTruncatedTo8Bits) {
  const auto pages = [](std::uint32_t length) {
    return PlanImage(HeaderWithAltId("TK300B", length), {}, PackageForm::Plain, false).pageCount;
  };
  EXPECT_EQ(pages(16383), 0);
  EXPECT_EQ(pages(40000), 2);
  EXPECT_EQ(pages(128 * 16384 + 12), 128);
  EXPECT_EQ(pages(261 * 16384), 5);
}

TEST(StageImageTest, PerPageSumModelStagesWholePagesFromOffset64) {
  constexpr std::uint32_t kLength = 128 * 16384 + 12;
  PackageRecipe recipe = PlainRecipe(kLength);
  recipe.altProductName = "EPX-412UX ";
  recipe.variantMark = "VR";
  recipe.revisionPattern = "*.**";
  const std::vector<std::uint8_t> package = Built(recipe);

  const StageResult result =
      StageImage(ParseFirmwarePackage(package), {}, PackageForm::Plain, true);
  ASSERT_TRUE(result.Staged());
  EXPECT_EQ(result.plan.start, 64);
  EXPECT_EQ(result.plan.Length(), 128 * 16384);
  EXPECT_EQ(result.plan.pageCount, 128);
  EXPECT_TRUE(result.plan.perPageSumMode);
  EXPECT_TRUE(result.SumsMatch());
  // The image is read where it lies: not copied.
  EXPECT_EQ(result.image.data(), package.data() + 64);
  EXPECT_EQ(result.image.size(), kImageAreaSize);
}

TEST(StageImageTest, ExtendedFormsStageTheirOwnImage) {
  const PackageRecipe recipe = ExtendedRecipe(3000, 2000);
  const std::vector<std::uint8_t> package = Built(recipe);
  const FirmwarePackage firmware = ParseFirmwarePackage(package);
  const PackageExtensionCopy extension = *ExtensionCopyOf(package);
  struct {
    PackageForm form;
    const std::vector<std::uint8_t>& image;
  } const cases[] = {{PackageForm::Varn2340, recipe.second->image},
                     {PackageForm::Varn2300, recipe.image}};
  for (const auto& c : cases) {
    const StageResult result = StageImage(firmware, extension, c.form, false);
    EXPECT_TRUE(result.SumsMatch()) << PackageFormText(c.form);
    EXPECT_TRUE(std::ranges::equal(result.image, c.image)) << PackageFormText(c.form);
  }
}

TEST(StageImageTest, ChangedImageByteIsStagedButDoesNotMatch) {
  std::vector<std::uint8_t> package = Built(PlainRecipe(5000));
  package[64 + 2500] ^= 0x01;
  const StageResult result =
      StageImage(ParseFirmwarePackage(package), {}, PackageForm::Plain, false);
  ASSERT_TRUE(result.Staged());
  EXPECT_FALSE(result.SumsMatch());
  const auto image = std::span(package).subspan(64, 5000);
  EXPECT_EQ(result.linearTotal, std::accumulate(image.begin(), image.end(), 0u));
  EXPECT_EQ(result.computed, ChecksumsOf(image));
}

struct RangeCase {
  std::string name;
  bool perPageSums;
  std::uint32_t imageLength;
  std::size_t packageSize;
  PackageForm form;
  ImageRangeStatus status;
  std::size_t staged = 0;  // bytes of the image the staging gives
  friend void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.name; }
};

class StageRangeTest : public ::testing::TestWithParam<RangeCase> {};

// A usable range gives the whole image; any other gives none.
TEST_P(StageRangeTest, OnlyAUsableRangeIsStaged) {
  const RangeCase& c = GetParam();
  std::vector<std::uint8_t> package(c.packageSize, 0xAB);
  const PackageHeaderCopy header = EncodeHeader(HeaderWithAltId("TK300B", c.imageLength));
  std::ranges::copy(header, package.begin());
  const StageResult result =
      StageImage(ParseFirmwarePackage(package), EncodeExtension(ExtensionWithLength(1)), c.form,
                 c.perPageSums);
  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.image.size(), c.staged);
  EXPECT_TRUE(std::ranges::all_of(result.image, [](std::uint8_t b) { return b == 0xAB; }));
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, StageRangeTest,
    ::testing::Values(RangeCase{"PerPageSumModelShorterThanItsTail", true, 11, 1000,
                                PackageForm::Plain, ImageRangeStatus::NegativeLength},
                      RangeCase{"PerPageSumModelOfLengthZero", true, 0, 1000, PackageForm::Plain,
                                ImageRangeStatus::NegativeLength},
                      RangeCase{"PerPageSumModelOfExactlyItsTail", true, 12, 1000,
                                PackageForm::Plain, ImageRangeStatus::Usable},
                      RangeCase{"ImageEndingAtThePackageEnd", false, 1000, 1064, PackageForm::Plain,
                                ImageRangeStatus::Usable, 1000},
                      RangeCase{"ImagePastThePackage", false, 1000, 1063, PackageForm::Plain,
                                ImageRangeStatus::PastPackage},
                      RangeCase{"ImageOverTheAreas", false, kImageAreaSize + 1,
                                kImageAreaSize + 100, PackageForm::Plain,
                                ImageRangeStatus::LongerThanArea},
                      // imageLength + 118 would wrap to 117 in 32 bits.
                      RangeCase{"SecondImageStartBeyond4GiB", false, 0xFFFFFFFF, 1000,
                                PackageForm::Varn2340, ImageRangeStatus::PastPackage}),
    [](const auto& testInfo) { return testInfo.param.name; });

}  // namespace
}  // namespace tslflash
