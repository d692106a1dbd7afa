// Inflating a compressed 2 MiB image before a summed-pages transfer: the tool's
// two ways of feeding zlib against zlib's own one-shot uncompress of the same
// staged stream, so the ratio shows what the tool adds.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <vector>

#include "package/image_inflate.h"
#include "package/image_staging.h"
#include "package/package_form.h"
#include "package/package_layout.h"
#include "tools/package_builder.h"

namespace tslflash {
namespace {

constexpr std::size_t kInflatedSize = kImageAreaSize;
// The stream starts at byte 4 of the staged image and leaves out the last 128
// bytes of its whole pages.
constexpr std::size_t kStreamOffset = 4;
constexpr std::size_t kStreamShortfall = 132;

// A package holding 2 MiB of synthetic, partly compressible image,
// compressed, and its staged image; no pages when staging failed.
struct CompressedSample {
  CompressedSample() {
    PackageRecipe recipe;
    recipe.protocolDigit = '2';
    recipe.inquiryId = "VARN    DVD RW LPX-650A 1.07";
    recipe.image = SynthesizeImage(kInflatedSize, 2300);
    recipe.deflate = true;
    BuildResult built = BuildPackage(recipe);
    if (!built.Ok()) return;
    package = std::move(built.package);
    const StageResult staged = StageImage(ParseFirmwarePackage(package), PackageExtensionCopy{},
                                          PackageForm::Plain, false);
    if (!staged.SumsMatch()) return;
    image = staged.image;
    pageCount = staged.plan.pageCount;
  }
  std::vector<std::uint8_t> package;
  std::span<const std::uint8_t> image;
  std::uint8_t pageCount = 0;
};

void BM_InflateImage(benchmark::State& state, InflateFeed feed) {
  const CompressedSample sample;
  const std::uint8_t pageCount = sample.pageCount;
  if (pageCount == 0) {
    state.SkipWithError("the compressed sample could not be staged");
    return;
  }
  std::uint16_t pages = 0;
  for (auto _ : state) {
    pages = InflateImage(sample.image, pageCount, feed).pages;
    benchmark::DoNotOptimize(pages);
  }
  if (pages != kInflatedSize / kImagePageSize) state.SkipWithError("inflate gave the wrong pages");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kInflatedSize));
  state.counters["compressed_pages"] = pageCount;
}

// The baseline: the same staged stream through zlib's one-shot call into a
// buffer as large as the largest image.
void BM_ZlibUncompress(benchmark::State& state) {
  const CompressedSample sample;
  const std::uint8_t pageCount = sample.pageCount;
  if (pageCount == 0) {
    state.SkipWithError("the compressed sample could not be staged");
    return;
  }
  const std::size_t streamLength = pageCount * std::size_t{kImagePageSize} - kStreamShortfall;
  const auto staged = sample.image.subspan(kStreamOffset, streamLength);
  const std::vector<std::uint8_t> stream(staged.begin(), staged.end());
  std::vector<std::uint8_t> out(kImageAreaSize);
  int status = Z_OK;
  uLongf produced = 0;
  for (auto _ : state) {
    produced = static_cast<uLongf>(out.size());
    status = uncompress(out.data(), &produced, stream.data(), static_cast<uLong>(stream.size()));
    benchmark::DoNotOptimize(out.data());
  }
  if (status != Z_OK || produced != kInflatedSize) state.SkipWithError("uncompress failed");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kInflatedSize));
}

BENCHMARK_CAPTURE(BM_InflateImage, whole_input, InflateFeed::WholeInput)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_InflateImage, byte_per_call, InflateFeed::BytePerCall)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibUncompress)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tslflash
