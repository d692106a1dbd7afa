#include "package/package_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/package/package_fixture.h"

namespace tslflash {
namespace {

using testing::Built;
using testing::ExtendedRecipe;
using testing::ExtensionOf;
using testing::HeaderOf;
using testing::PlainRecipe;
using testing::Reseal;
using testing::Rewrite;

TEST(CheckPackageTest, ValidPlainPackagePasses) {
  const std::vector<std::uint8_t> package = Built(PlainRecipe(5000));
  EXPECT_TRUE(CheckPackage(package, PackageForm::Plain));
}

TEST(CheckPackageTest, ChangingAnySingleByteMakesItFail) {
  const std::vector<std::uint8_t> original = Built(PlainRecipe(300));
  for (std::size_t at = 0; at < original.size(); ++at) {
    std::vector<std::uint8_t> package = original;
    package[at] ^= 0x5A;
    EXPECT_FALSE(CheckPackage(package, PackageForm::Plain)) << "byte " << at;
  }
}

TEST(CheckPackageTest, ExtendedPackagePassesUnderTheExtendedFormsOnly) {
  const std::vector<std::uint8_t> package = Built(ExtendedRecipe(3000, 2000));
  EXPECT_TRUE(CheckPackage(package, PackageForm::Varn2340));
  EXPECT_TRUE(CheckPackage(package, PackageForm::Varn2300));
  EXPECT_FALSE(CheckPackage(package, PackageForm::Plain));
}

TEST(CheckPackageTest, ExtendedWithNoSecondImageFailsWhateverTheTrailer) {
  std::vector<std::uint8_t> package = Built(ExtendedRecipe(3000, 2000));
  PackageExtension extension = ExtensionOf(package);
  extension.extImageLength = 0;
  Rewrite(package, extension);
  Reseal(package, 3000 + layout::kSecondImageBase);  // where a zero-length image would end
  EXPECT_FALSE(CheckPackage(package, PackageForm::Varn2340));
  EXPECT_EQ(LocateTrailer(package, PackageForm::Varn2300).status, TrailerStatus::NoSecondImage);
}

TEST(CheckPackageTest, ExtendedTrailerAtTheBoundPassesAndOneByteBeyondFails) {
  constexpr std::size_t kFirst = 1024 * 1024;
  constexpr std::size_t kSecond = kExtendedTrailerBound - layout::kSecondImageBase - kFirst;
  std::vector<std::uint8_t> package = Built(ExtendedRecipe(kFirst, kSecond));
  ASSERT_EQ(LocateTrailer(package, PackageForm::Varn2340).offset, kExtendedTrailerBound);
  EXPECT_TRUE(CheckPackage(package, PackageForm::Varn2340));

  PackageExtension extension = ExtensionOf(package);
  ++extension.extImageLength;
  Rewrite(package, extension);
  package.insert(package.begin() + static_cast<std::ptrdiff_t>(kExtendedTrailerBound), 0x00);
  Reseal(package, kExtendedTrailerBound + 1);
  EXPECT_FALSE(CheckPackage(package, PackageForm::Varn2340));
  EXPECT_EQ(LocateTrailer(package, PackageForm::Varn2340).status, TrailerStatus::OverBound);
}

struct PastEndCase {
  std::string name;
  std::uint32_t imageLengthChange;  // added to imageLength, wrapping at 32 bits
  std::size_t bytesCut;             // removed from the end of the package
  friend void PrintTo(const PastEndCase& c, std::ostream* os) { *os << c.name; }
};

class TrailerPastEndTest : public ::testing::TestWithParam<PastEndCase> {};

// The trailer words would lie (partly) beyond the package bytes: refused
// without reading them, which the sanitizer builds would notice.
TEST_P(TrailerPastEndTest, IsRefused) {
  std::vector<std::uint8_t> package = Built(PlainRecipe(1000));
  PackageHeader header = HeaderOf(package);
  header.imageLength += GetParam().imageLengthChange;
  Rewrite(package, header);
  package.resize(package.size() - GetParam().bytesCut);
  EXPECT_FALSE(CheckPackage(package, PackageForm::Plain));
  EXPECT_EQ(LocateTrailer(package, PackageForm::Plain).status, TrailerStatus::PastEnd);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrailerPastEndTest,
    ::testing::Values(PastEndCase{"LastTrailerByteMissing", 0, 1},
                      PastEndCase{"ImageOneByteLonger", 1, 0},
                      // 64 more than the length would wrap a 32-bit offset to 0.
                      PastEndCase{"OffsetWouldWrap32Bits", 0xFFFFFFC0u - 1000u, 0},
                      PastEndCase{"LargestImageLength", 0xFFFFFFFFu - 1000u, 0}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST(CheckPackageTest, PackagesTooShortForTheirLayoutFail) {
  const std::vector<std::uint8_t> package = Built(ExtendedRecipe(10, 10));
  const std::span<const std::uint8_t> bytes(package);
  EXPECT_FALSE(CheckPackage(bytes.first(kHeaderSize - 1), PackageForm::Plain));
  EXPECT_EQ(
      LocateTrailer(bytes.first(kHeaderSize + kExtensionSize - 1), PackageForm::Varn2340).status,
      TrailerStatus::PackageTooShort);
}

}  // namespace
}  // namespace tslflash

namespace tslflash {
namespace {

// The one-pass check and staging says what the check and the staging say
// apart, for each layout and for ranges the layout cannot use; a byte changed
// inside or outside the image changes exactly the sums that cover it.
TEST(CheckAndStageTest, OnePassAgreesWithTheSeparateCheckAndStaging) {
  struct Case {
    std::string name;
    std::vector<std::uint8_t> package;
    PackageForm form;
    bool perPageSums = false;
  };
  std::vector<std::uint8_t> changedImage = testing::Built(testing::PlainRecipe(5000));
  changedImage[64 + 17] ^= 0x40;
  std::vector<std::uint8_t> changedHeader = testing::Built(testing::PlainRecipe(5000));
  changedHeader[10] ^= 0x01;
  const std::vector<std::uint8_t> extended = testing::Built(testing::ExtendedRecipe(3000, 2000));
  std::vector<std::uint8_t> perPageSum = [] {
    PackageRecipe recipe = testing::PlainRecipe(3 * 16384);
    recipe.altProductName = "TQ70";
    return testing::Built(recipe);
  }();
  std::vector<std::uint8_t> truncated = testing::Built(testing::PlainRecipe(5000));
  truncated.resize(3000);
  const std::vector<Case> cases = {
      {"plain", testing::Built(testing::PlainRecipe(5000)), PackageForm::Plain},
      {"one-byte image", testing::Built(testing::PlainRecipe(1)), PackageForm::Plain},
      {"changed image byte", changedImage, PackageForm::Plain},
      {"changed header byte", changedHeader, PackageForm::Plain},
      {"second image", extended, PackageForm::Varn2340},
      {"first image", extended, PackageForm::Varn2300},
      {"extended read as plain", extended, PackageForm::Plain},
      {"per-page-sum range", perPageSum, PackageForm::Plain, true},
      {"cut short", truncated, PackageForm::Plain},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FirmwarePackage package = ParseFirmwarePackage(c.package);
    const PackageExtensionCopy extension =
        ExtensionCopyOf(c.package).value_or(PackageExtensionCopy{});
    const CheckedPackage checked = CheckAndStage(package, extension, c.form, c.perPageSums);
    const TrailerReading trailer = ReadTrailer(c.package, c.form);
    const StageResult staged = StageImage(package, extension, c.form, c.perPageSums);
    EXPECT_EQ(checked.Matches(), CheckPackage(c.package, c.form));
    EXPECT_EQ(checked.trailer.place.status, trailer.place.status);
    EXPECT_EQ(checked.trailer.computed, trailer.computed);
    EXPECT_EQ(checked.trailer.stored, trailer.stored);
    EXPECT_EQ(checked.staged.status, staged.status);
    EXPECT_EQ(checked.staged.computed, staged.computed);
    EXPECT_EQ(checked.staged.linearTotal, staged.linearTotal);
    EXPECT_EQ(checked.staged.image.data(), staged.image.data());
    EXPECT_EQ(checked.staged.image.size(), staged.image.size());
    EXPECT_EQ(checked.staged.SumsMatch(), staged.SumsMatch());
  }
}

// Two ranges summed together: wherever the part lies against the whole.
TEST(CheckAndStageTest, TwoRangeSumsMatchEachRangeSummedAlone) {
  std::vector<std::uint8_t> bytes(1000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  struct Range {
    std::size_t wholeEnd, partBegin, partEnd;
  };
  for (const Range r :
       {Range{1000, 64, 900}, Range{500, 64, 900}, Range{300, 400, 900}, Range{1000, 0, 1000},
        Range{0, 10, 20}, Range{1000, 50, 50}, Range{700, 600, 700}}) {
    SCOPED_TRACE(std::to_string(r.wholeEnd) + " " + std::to_string(r.partBegin) + "-" +
                 std::to_string(r.partEnd));
    const TwoRangeSums sums = SumWholeAndPart(bytes, r.wholeEnd, r.partBegin, r.partEnd);
    const auto span = std::span<const std::uint8_t>(bytes);
    EXPECT_EQ(sums.whole.Pair(), ChecksumsOf(span.first(r.wholeEnd)));
    EXPECT_EQ(sums.part.Pair(), ChecksumsOf(span.subspan(r.partBegin, r.partEnd - r.partBegin)));
  }
}

}  // namespace
}  // namespace tslflash
