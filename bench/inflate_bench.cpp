// The two ways of feeding zlib when a compressed image is inflated before a
// summed-pages transfer, on the same staged package: one call over the whole
// input, or one byte in and one byte out per call.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "package/image_inflate.h"
#include "package/image_staging.h"
#include "package/package_form.h"
#include "package/package_layout.h"
#include "tools/package_builder.h"

namespace tslflash {
namespace {

constexpr std::size_t kInflatedSize = 1024 * 1024;

// Stages a package holding 1 MiB of synthetic, partly compressible image,
// compressed; returns its page count, or 0 when staging failed.
std::uint8_t StageCompressedSample() {
  PackageRecipe recipe;
  recipe.protocolDigit = '2';
  recipe.inquiryId = "VARN    DVD RW LPX-650A 1.07";
  recipe.image = SynthesizeImage(kInflatedSize, 2300);
  recipe.deflate = true;
  const BuildResult built = BuildPackage(recipe);
  if (!built.Ok()) return 0;
  const StageResult staged = StageImage(*HeaderCopyOf(built.package), PackageExtensionCopy{},
                                        built.package, PackageForm::Plain);
  return staged.SumsMatch() ? staged.plan.pageCount : 0;
}

void BM_InflateImage(benchmark::State& state, InflateFeed feed) {
  const std::uint8_t pageCount = StageCompressedSample();
  if (pageCount == 0) {
    state.SkipWithError("the compressed sample could not be staged");
    return;
  }
  std::uint16_t pages = 0;
  for (auto _ : state) {
    pages = InflateImage(pageCount, feed);
    benchmark::DoNotOptimize(pages);
  }
  if (pages != kInflatedSize / kImagePageSize) state.SkipWithError("inflate gave the wrong pages");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kInflatedSize));
  state.counters["compressed_pages"] = pageCount;
}

BENCHMARK_CAPTURE(BM_InflateImage, whole_input, InflateFeed::WholeInput)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_InflateImage, byte_per_call, InflateFeed::BytePerCall)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tslflash
