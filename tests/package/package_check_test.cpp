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
