// Runs a fuzz target's entry over every kept input (seeds and the inputs of
// past findings) in the regular build, so a fixed finding stays fixed.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(FuzzReplayTest, EveryKeptInputRunsCleanly) {
  std::size_t replayed = 0;
  for (const char* folder : {"seeds", "regressions"}) {
    const std::filesystem::path dir = std::filesystem::path(TSLFLASH_FUZZ_INPUTS) / folder;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (!entry.is_regular_file() || entry.path().filename() == ".keep") continue;
      SCOPED_TRACE(entry.path().string());
      const std::vector<std::uint8_t> bytes = ReadAll(entry.path());
      EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
      ++replayed;
    }
  }
  // An empty corpus would make this test pass without running anything.
  EXPECT_GT(replayed, 0u);
}

}  // namespace
