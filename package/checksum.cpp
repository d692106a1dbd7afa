#include "package/checksum.h"

#include <cstddef>

namespace tslflash {
namespace {

// Bytes summed into one block total: a fixed count the compiler turns into
// vector additions, small enough that the block total cannot overflow.
constexpr std::size_t kLinearBlock = 64;

}  // namespace

void LinearChecksum::Add(std::span<const std::uint8_t> bytes) {
  std::uint32_t total = total_;
  std::size_t at = 0;
  for (; bytes.size() - at >= kLinearBlock; at += kLinearBlock) {
    std::uint32_t block = 0;
    for (std::size_t i = 0; i < kLinearBlock; ++i) block += bytes[at + i];
    total += block;
  }
  for (; at < bytes.size(); ++at) total += bytes[at];
  total_ = total;
}

void RotatedChecksum::Add(std::span<const std::uint8_t> bytes) {
  std::uint16_t value = value_;
  for (const std::uint8_t byte : bytes) value = RotateAndAdd(value, byte);
  value_ = value;
}

ChecksumTotals SumBoth(std::span<const std::uint8_t> bytes) {
  std::uint32_t linear = 0;
  std::uint16_t rotated = 0;
  for (const std::uint8_t byte : bytes) {
    linear += byte;
    rotated = RotateAndAdd(rotated, byte);
  }
  return {linear, rotated};
}

ChecksumPair ChecksumsOf(std::span<const std::uint8_t> bytes) { return SumBoth(bytes).Pair(); }

std::uint32_t ByteSum(const std::uint8_t* data, std::uint32_t length) {
  if (data == nullptr) return 0;
  LinearChecksum sum;
  sum.Add(std::span(data, length % 65536u));
  return sum.Total();
}

}  // namespace tslflash
