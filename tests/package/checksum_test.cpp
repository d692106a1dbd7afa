#include "package/checksum.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tslflash {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(ChecksumTest, KnownValuesOfAbc) {
  EXPECT_EQ(ChecksumsOf(Bytes("abc")), (ChecksumPair{0x0126, 0x40AC}));
}

TEST(ChecksumTest, AccumulatorsFedInPiecesEqualTheWholeSpan) {
  const std::vector<std::uint8_t> bytes = Bytes("firmware image bytes");
  LinearChecksum linear;
  RotatedChecksum rotated;
  const std::span<const std::uint8_t> all(bytes);
  linear.Add(all.first(7));
  rotated.Add(all.first(7));
  for (std::uint8_t byte : all.subspan(7)) {
    linear.Add(byte);
    rotated.Add(byte);
  }
  EXPECT_EQ((ChecksumPair{linear.Value(), rotated.Value()}), ChecksumsOf(bytes));
}

// The span forms run in blocks and in one pass for both sums; around the block
// size and past a 16-bit total they must still equal one byte at a time.
TEST(ChecksumTest, SpanFormsEqualByteAtATime) {
  for (const std::size_t length : {0u, 1u, 63u, 64u, 65u, 129u, 70000u}) {
    SCOPED_TRACE(length);
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
    LinearChecksum linear;
    RotatedChecksum rotated;
    for (std::uint8_t byte : bytes) {
      linear.Add(byte);
      rotated.Add(byte);
    }
    LinearChecksum linearSpan;
    linearSpan.Add(bytes);
    EXPECT_EQ(linearSpan.Total(), linear.Total());
    const ChecksumTotals both = SumBoth(bytes);
    EXPECT_EQ(both.linearTotal, linear.Total());
    EXPECT_EQ(both.rotated, rotated.Value());
  }
}

TEST(ChecksumTest, RotationMovesBitZeroIntoBitFifteen) {
  RotatedChecksum rotated;
  rotated.Add(0x01);
  rotated.Add(0x00);
  EXPECT_EQ(rotated.Value(), 0x8000);
  rotated.Add(0x00);
  EXPECT_EQ(rotated.Value(), 0x4000);
}

TEST(ChecksumTest, LinearChecksumWrapsAt16BitsWhileTheTotalKeeps32) {
  LinearChecksum linear;
  linear.Add(std::vector<std::uint8_t>(257, 0xFF));  // 65535
  EXPECT_EQ(linear.Value(), 0xFFFF);
  linear.Add(0x02);
  EXPECT_EQ(linear.Value(), 0x0001);
  EXPECT_EQ(linear.Total(), 0x10001u);
}

TEST(ByteSumTest, SumsTheLengthModulo65536InThirtyTwoBits) {
  std::vector<std::uint8_t> data(65536 + 3, 0xFF);
  data[0] = 0x01;
  EXPECT_EQ(ByteSum(data.data(), 16384), 0x01u + 16383u * 0xFF);  // beyond 16 bits
  EXPECT_EQ(ByteSum(data.data(), 65536), 0u);                     // length reads as 0
  EXPECT_EQ(ByteSum(data.data(), 65536 + 2), 0x01u + 0xFF);       // length reads as 2
}

TEST(ByteSumTest, NullDataSumsToZero) { EXPECT_EQ(ByteSum(nullptr, 100), 0u); }

}  // namespace
}  // namespace tslflash
