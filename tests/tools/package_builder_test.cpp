#include "tools/package_builder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "models/model_traits.h"
#include "package/image_inflate.h"
#include "package/image_staging.h"
#include "package/package_check.h"
#include "package/package_layout.h"

namespace tslflash {
namespace {

using ::testing::HasSubstr;

PackageRecipe Recipe(std::vector<std::uint8_t> image) {
  PackageRecipe recipe;
  recipe.inquiryId = "VARN    DVD RW LPX-650A 1.07";
  recipe.image = std::move(image);
  return recipe;
}

std::string_view Text(std::span<const char> field) { return {field.data(), field.size()}; }

TEST(BuildPackageTest, ShortTextsArePaddedWithSpacesOrNuls) {
  PackageRecipe recipe = Recipe(SynthesizeImage(100, 1));
  recipe.tag = "KOV";
  recipe.inquiryId = "VARN";
  recipe.altProductName = "TK300B";
  recipe.variantMark = "T";
  recipe.revisionPattern = "1.*";
  const BuildResult spaced = BuildPackage(recipe);
  ASSERT_TRUE(spaced.Ok()) << spaced.error;
  const PackageHeader header = ParseFirmwarePackage(spaced.package).header;
  EXPECT_EQ(Text(header.tag), "KOV ");
  EXPECT_EQ(Text(header.inquiryId), "VARN" + std::string(24, ' '));
  EXPECT_EQ(Text(header.altProductId), "TK300B    T 1.* ");

  recipe.altProductNameNulPadded = true;
  const BuildResult nul = BuildPackage(recipe);
  ASSERT_TRUE(nul.Ok()) << nul.error;
  EXPECT_EQ(ParseFirmwarePackage(nul.package).AltProductName(),
            std::string_view("TK300B\0\0\0\0", 10));
}

TEST(BuildPackageTest, ExtendedLayoutPutsEachPartWhereTheToolReadsIt) {
  const std::vector<std::uint8_t> first = SynthesizeImage(3000, 1);
  const std::vector<std::uint8_t> second = SynthesizeImage(2000, 2);
  PackageRecipe recipe = Recipe(first);
  recipe.second = SecondImageRecipe{second, "1.08"};
  const BuildResult built = BuildPackage(recipe);
  ASSERT_TRUE(built.Ok()) << built.error;
  const std::span<const std::uint8_t> bytes(built.package);

  const PackageHeader header = ParseFirmwarePackage(bytes).header;
  const PackageExtension extension = DecodeExtension(*ExtensionCopyOf(bytes));
  EXPECT_EQ(header.imageLength, 3000u);
  EXPECT_EQ((ChecksumPair{header.imageSumLinear, header.imageSumRotated}), ChecksumsOf(first));
  EXPECT_EQ(extension.extImageLength, 2000u);
  EXPECT_EQ((ChecksumPair{extension.extSumLinear, extension.extSumRotated}), ChecksumsOf(second));
  EXPECT_EQ(Text(extension.extRevision), "1.08  ");
  EXPECT_TRUE(std::ranges::equal(bytes.subspan(78, 3000), first));
  EXPECT_TRUE(std::ranges::all_of(bytes.subspan(3078, 40), [](auto b) { return b == 0; }));
  EXPECT_TRUE(std::ranges::equal(bytes.subspan(3118, 2000), second));
  EXPECT_EQ(bytes.size(), 3118u + 2000u + 4u);
  EXPECT_TRUE(CheckPackage(bytes, PackageForm::Varn2340));
}

// The stored image must survive staging and inflating into the very pages it
// was made from, whichever alternate id decides the range: the builder and
// the checks take the range from the same model table.
TEST(BuildPackageTest, DeflatedImageInflatesBackToItsPages) {
  const std::vector<std::uint8_t> raw = SynthesizeImage(6 * kImagePageSize, 4);
  for (std::string altName : {"TK300B", "TQ70"}) {
    PackageRecipe recipe = Recipe(raw);
    recipe.altProductName = altName;
    recipe.altProductNameNulPadded = true;
    recipe.protocolDigit = '2';
    recipe.deflate = true;
    const BuildResult built = BuildPackage(recipe);
    ASSERT_TRUE(built.Ok()) << built.error;
    EXPECT_EQ(ReadLe32(built.package, 64), raw.size());  // the inflated length leads
    const FirmwarePackage package = ParseFirmwarePackage(built.package);
    const StageResult staged = StageImage(package, {}, PackageForm::Plain,
                                          PackageUsesPerPageSums(package.AltProductName()));
    ASSERT_TRUE(staged.SumsMatch()) << altName;
    EXPECT_LT(staged.plan.pageCount, 6) << altName;
    for (InflateFeed feed : {InflateFeed::WholeInput, InflateFeed::BytePerCall}) {
      const InflatedImage inflated = InflateImage(staged.image, staged.plan.pageCount, feed);
      ASSERT_EQ(inflated.pages, 6) << altName;
      EXPECT_TRUE(std::ranges::equal(inflated.Pages(), raw)) << altName;
    }
  }
}

// Length of the zlib stream that starts at byte 4, as inflate consumes it.
std::size_t StreamLength(std::vector<std::uint8_t> packed, std::size_t rawSize) {
  std::vector<std::uint8_t> out(rawSize);
  z_stream stream{};
  stream.next_in = packed.data() + 4;
  stream.avail_in = static_cast<uInt>(packed.size() - 4);
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflateInit(&stream), Z_OK);
  EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
  const std::size_t length = stream.total_in;
  inflateEnd(&stream);
  return length;
}

// Bytes that do not compress, so a stream is a little longer than its input.
std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(size);
  std::ranges::generate(bytes, [state = seed]() mutable {
    state = state * 1103515245u + 12345u;
    return static_cast<std::uint8_t>(state >> 16);
  });
  return bytes;
}

TEST(PackDeflatedTest, TakesTheFewestPagesWhoseInputWindowHoldsTheStream) {
  std::vector<std::vector<std::uint8_t>> raws;
  for (std::size_t size : {1000u, 100000u, 900000u}) raws.push_back(SynthesizeImage(size, size));
  // Streams ending around the first page's window edge, where a page more is needed.
  for (std::size_t size = 16150; size < 16400; size += 10) raws.push_back(RandomBytes(size, 3));
  for (const std::vector<std::uint8_t>& raw : raws) {
    const std::vector<std::uint8_t> packed = PackDeflated(raw);
    ASSERT_EQ(packed.size() % kImagePageSize, 0u);
    const std::size_t pages = packed.size() / kImagePageSize;
    const std::size_t window = pages * kImagePageSize - 132;
    const std::size_t streamLength = StreamLength(packed, raw.size());
    EXPECT_LE(streamLength, window) << raw.size();
    EXPECT_TRUE(pages == 1 || streamLength > window - kImagePageSize) << raw.size();
  }
}

struct RefusedCase {
  std::string name;
  PackageRecipe recipe;
  std::string message;
};

std::vector<RefusedCase> RefusedCases() {
  const std::vector<std::uint8_t> random = RandomBytes(kImageAreaSize, 7);
  std::vector<RefusedCase> cases;
  const auto add = [&](std::string name, auto edit, std::string message) {
    PackageRecipe recipe = Recipe(SynthesizeImage(4 * kImagePageSize, 1));
    edit(recipe);
    cases.push_back({std::move(name), std::move(recipe), std::move(message)});
  };
  add(
      "EmptyImage", [](PackageRecipe& s) { s.image.clear(); }, "image is empty");
  add(
      "TagTooLong", [](PackageRecipe& s) { s.tag = "KOVA2"; }, "at most 4 fit");
  add(
      "ExtRevisionTooLong",
      [](PackageRecipe& s) {
        s.second = SecondImageRecipe{s.image, "1.08.99"};
      },
      "at most 6 fit");
  add(
      "EmptySecondImage",
      [](PackageRecipe& s) {
        s.second = SecondImageRecipe{{}, "1.08"};
      },
      "second image is empty");
  add(
      "PerPageSumModelExtended",
      [](PackageRecipe& s) {
        s.altProductName = "TQ70";
        s.altProductNameNulPadded = true;
        s.second = SecondImageRecipe{s.image, "1.08"};
      },
      "plain layout only");
  add(
      "PlainImageOver2MiB", [](PackageRecipe& s) { s.image.resize(kImageAreaSize + 1); }, "2 MiB");
  add(
      "DeflateWithoutProtocol2", [](PackageRecipe& s) { s.deflate = true; }, "protocol 2");
  add(
      "DeflatePartialPage",
      [](PackageRecipe& s) {
        s.deflate = true;
        s.protocolDigit = '2';
        s.image.pop_back();
      },
      "whole 16384-byte pages");
  add(
      "DeflateBarelyCompressible",
      [&](PackageRecipe& s) {
        s.deflate = true;
        s.protocolDigit = '2';
        s.image = random;
      },
      "below 128 pages");
  return cases;
}

TEST(BuildPackageTest, RefusesWhatTheUpdateToolCouldNotUse) {
  for (const RefusedCase& c : RefusedCases()) {
    const BuildResult built = BuildPackage(c.recipe);
    EXPECT_FALSE(built.Ok()) << c.name;
    EXPECT_TRUE(built.package.empty()) << c.name;
    EXPECT_THAT(built.error, HasSubstr(c.message)) << c.name;
  }
}

TEST(SynthesizeImageTest, IsDeterministicAndPartlyCompressible) {
  const std::vector<std::uint8_t> image = SynthesizeImage(256 * 1024, 42);
  EXPECT_EQ(image, SynthesizeImage(256 * 1024, 42));
  EXPECT_NE(image, SynthesizeImage(256 * 1024, 43));
  const std::size_t packed = PackDeflated(image).size();
  EXPECT_LT(packed, image.size() * 9 / 10);
  EXPECT_GT(packed, image.size() / 4);
}

}  // namespace
}  // namespace tslflash
