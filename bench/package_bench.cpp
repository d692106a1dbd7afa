// The checks and copies at the start of an update run on a 2 MiB package:
// the whole-package check plus staging into both image areas, against the two
// plain copies any tool would make of the same bytes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "package/image_staging.h"
#include "package/package_check.h"
#include "package/package_form.h"
#include "package/package_layout.h"
#include "tools/package_builder.h"

namespace tslflash {
namespace {

constexpr std::size_t kImageSize = kImageAreaSize;

std::vector<std::uint8_t> BuildSample() {
  PackageRecipe recipe;
  recipe.inquiryId = "VARN    DVD RW LPX-650A 1.07";
  recipe.image = SynthesizeImage(kImageSize, 7);
  BuildResult built = BuildPackage(recipe);
  return built.Ok() ? std::move(built.package) : std::vector<std::uint8_t>{};
}

void BM_CheckAndStage(benchmark::State& state) {
  const std::vector<std::uint8_t> package = BuildSample();
  const FirmwarePackage firmware = ParseFirmwarePackage(package);
  if (!firmware.HasWholeHeader()) {
    state.SkipWithError("the sample package could not be built");
    return;
  }
  bool ok = true;
  for (auto _ : state) {
    const CheckedPackage checked =
        CheckAndStage(firmware, PackageExtensionCopy{}, PackageForm::Plain, false);
    ok = ok && checked.Matches() && checked.staged.SumsMatch();
    benchmark::DoNotOptimize(ok);
  }
  if (!ok) state.SkipWithError("the sample package did not check or stage");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kImageSize));
}

// The baseline: the image copied into two areas as large as the tool's.
void BM_TwoMemcpy(benchmark::State& state) {
  const std::vector<std::uint8_t> package = BuildSample();
  if (package.size() < kImageSize) {
    state.SkipWithError("the sample package could not be built");
    return;
  }
  std::vector<std::uint8_t> first(kImageAreaSize);
  std::vector<std::uint8_t> second(kImageAreaSize);
  for (auto _ : state) {
    std::memcpy(first.data(), package.data(), kImageSize);
    std::memcpy(second.data(), package.data(), kImageSize);
    benchmark::DoNotOptimize(first.data());
    benchmark::DoNotOptimize(second.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kImageSize));
}

// The floor: one rotated-checksum pass over the same bytes. The sum is a
// serial chain, byte after byte, so no check of the package can be cheaper.
void BM_RotatedPass(benchmark::State& state) {
  const std::vector<std::uint8_t> package = BuildSample();
  if (package.size() < kImageSize) {
    state.SkipWithError("the sample package could not be built");
    return;
  }
  for (auto _ : state) {
    RotatedChecksum sum;
    sum.Add(std::span(package));
    benchmark::DoNotOptimize(sum.Value());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(package.size()));
}

BENCHMARK(BM_CheckAndStage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TwoMemcpy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RotatedPass)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tslflash
