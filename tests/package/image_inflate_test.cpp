#include "package/image_inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "package/image_staging.h"
#include "package/package_layout.h"
#include "tests/package/package_fixture.h"

namespace tslflash {
namespace {

using testing::Built;
using testing::PlainRecipe;

constexpr InflateFeed kFeeds[] = {InflateFeed::WholeInput, InflateFeed::BytePerCall};

std::string FeedName(InflateFeed feed) {
  return feed == InflateFeed::WholeInput ? "whole input" : "byte per call";
}

// An image of whole pages: 4 leading bytes, the stream, zeros.
std::vector<std::uint8_t> PagedImage(const std::vector<std::uint8_t>& stream, std::size_t pages) {
  std::vector<std::uint8_t> image(pages * kImagePageSize, 0);
  std::ranges::copy(
      stream.begin(),
      stream.begin() + static_cast<std::ptrdiff_t>(std::min(stream.size(), image.size() - 4)),
      image.begin() + 4);
  return image;
}

// Stages a plain summed-pages package holding image; returns its page count.
// The staged image is `image` itself: the plain layout's range holds it.
std::uint8_t Stage(const std::vector<std::uint8_t>& image) {
  PackageRecipe recipe = PlainRecipe(0);
  recipe.protocolDigit = '2';
  recipe.image = image;
  const std::vector<std::uint8_t> package = Built(recipe);
  const StageResult result =
      StageImage(ParseFirmwarePackage(package), {}, PackageForm::Plain, false);
  EXPECT_TRUE(result.SumsMatch());
  return result.plan.pageCount;
}

struct InflateCase {
  std::string name;
  std::vector<std::uint8_t> raw;
  std::vector<std::uint8_t> image;
  std::uint16_t pages;  // they hold the first bytes of raw
};

std::vector<InflateCase> Cases() {
  const std::vector<std::uint8_t> synthetic40000 = SynthesizeImage(40000, 7);
  const std::vector<std::uint8_t> synthetic5Pages = SynthesizeImage(5 * kImagePageSize, 8);
  const std::vector<std::uint8_t> fullArea(kImageAreaSize, 0x00);
  return {
      // The last 7232 bytes do not make a whole page and are dropped.
      {"FortyThousandBytes", synthetic40000, PackDeflated(synthetic40000), 2},
      {"FiveWholePages", synthetic5Pages, PackDeflated(synthetic5Pages), 5},
      {"FillsTheLargestImageExactly", fullArea, PackDeflated(fullArea), 128},
  };
}

TEST(InflateImageTest, BothFeedsGiveTheSameWholePages) {
  for (const InflateCase& c : Cases()) {
    const std::uint8_t pageCount = Stage(c.image);
    std::vector<std::vector<std::uint8_t>> produced;
    for (InflateFeed feed : kFeeds) {
      const InflatedImage inflated = InflateImage(c.image, pageCount, feed);
      ASSERT_EQ(inflated.pages, c.pages) << c.name << ", " << FeedName(feed);
      EXPECT_EQ(inflated.length, c.raw.size()) << c.name << ", " << FeedName(feed);
      const std::span<const std::uint8_t> pages = inflated.Pages();
      EXPECT_EQ(pages.size(), std::size_t{c.pages} * kImagePageSize);
      produced.emplace_back(pages.begin(), pages.end());
    }
    EXPECT_EQ(produced[0], produced[1]) << c.name;
    EXPECT_TRUE(std::ranges::equal(produced[0], std::span(c.raw).first(produced[0].size())))
        << c.name;
  }
}

struct RefusalCase {
  std::string name;
  std::vector<std::uint8_t> image;
  int pageCountChange;  // added to the staged page count
};

std::vector<RefusalCase> Refusals() {
  const std::vector<std::uint8_t> raw = SynthesizeImage(3 * kImagePageSize, 9);
  const std::vector<std::uint8_t> stream = DeflateStream(raw);
  std::vector<std::uint8_t> badHeader = stream;
  badHeader[0] ^= 0xFF;
  std::vector<std::uint8_t> badCheck = stream;  // every byte inflates, then the check fails
  badCheck.back() ^= 0x01;
  const std::size_t pages = stream.size() / kImagePageSize + 1;
  // Random bytes barely compress: two pages of image cut the stream short.
  std::vector<std::uint8_t> random(40000);
  std::ranges::generate(random, [state = 1u]() mutable {
    state = state * 1103515245u + 12345u;
    return static_cast<std::uint8_t>(state >> 16);
  });
  return {
      {"PageCountZero", PackDeflated(raw), -1000},
      {"InputBeyondTheStagedBytes", PackDeflated(raw), +1},
      {"OneByteMoreThanTheLargestImage",
       PackDeflated(std::vector<std::uint8_t>(kImageAreaSize + 1)), 0},
      {"FarMoreThanTheLargestImage", PackDeflated(std::vector<std::uint8_t>(4 * kImageAreaSize)),
       0},
      {"CorruptStreamHeader", PagedImage(badHeader, pages), 0},
      {"CorruptCheckAfterTheLastByte", PagedImage(badCheck, pages), 0},
      // What came out cannot be proven right without the stream's check value.
      {"StreamNotEndedWithinItsInput", PagedImage(DeflateStream(random), 2), 0},
  };
}

TEST(InflateImageTest, RefusalsGiveTheErrorValueWithEitherFeed) {
  for (const RefusalCase& c : Refusals()) {
    const int staged = Stage(c.image);
    const auto pageCount = static_cast<std::uint8_t>(std::max(0, staged + c.pageCountChange));
    for (InflateFeed feed : kFeeds) {
      const InflatedImage inflated = InflateImage(c.image, pageCount, feed);
      EXPECT_EQ(inflated.pages, kInflateError) << c.name << ", " << FeedName(feed);
      EXPECT_TRUE(inflated.Pages().empty()) << c.name << ", " << FeedName(feed);
    }
  }
}

TEST(InflateImageTest, NothingStagedGivesTheErrorValue) {
  const std::vector<std::uint8_t> image = PackDeflated(SynthesizeImage(kImagePageSize, 3));
  const std::uint8_t pageCount = Stage(image);
  // The header names 100 image bytes; only 10 follow it.
  const std::vector<std::uint8_t> package = Built(PlainRecipe(100));
  const StageResult refused =
      StageImage(ParseFirmwarePackage(std::span(package).first(kHeaderSize + 10)), {},
                 PackageForm::Plain, false);
  EXPECT_TRUE(refused.image.empty());
  for (InflateFeed feed : kFeeds) {
    EXPECT_EQ(InflateImage(refused.image, pageCount, feed).pages, kInflateError);
  }
}

}  // namespace
}  // namespace tslflash
