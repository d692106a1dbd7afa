#include "package/checksum.h"

#include <algorithm>
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

TwoRangeSums SumWholeAndPart(std::span<const std::uint8_t> bytes, std::size_t wholeEnd,
                             std::size_t partBegin, std::size_t partEnd) {
  wholeEnd = std::min(wholeEnd, bytes.size());
  partEnd = std::min(partEnd, bytes.size());
  partBegin = std::min(partBegin, partEnd);
  const std::size_t overlapBegin = std::min(partBegin, wholeEnd);
  const std::size_t overlapEnd = std::max(overlapBegin, std::min(partEnd, wholeEnd));
  const std::uint8_t* data = bytes.data();
  std::uint32_t wholeLinear = 0;
  std::uint16_t wholeRotated = 0;
  std::uint32_t partLinear = 0;
  std::uint16_t partRotated = 0;
  for (std::size_t i = 0; i < overlapBegin; ++i) {
    wholeLinear += data[i];
    wholeRotated = RotateAndAdd(wholeRotated, data[i]);
  }
  for (std::size_t i = overlapBegin; i < overlapEnd; ++i) {
    wholeLinear += data[i];
    partLinear += data[i];
    wholeRotated = RotateAndAdd(wholeRotated, data[i]);
    partRotated = RotateAndAdd(partRotated, data[i]);
  }
  for (std::size_t i = overlapEnd; i < wholeEnd; ++i) {
    wholeLinear += data[i];
    wholeRotated = RotateAndAdd(wholeRotated, data[i]);
  }
  // Part of the range past the whole's end, or all of it when it starts there.
  for (std::size_t i = std::max(partBegin, overlapEnd); i < partEnd; ++i) {
    partLinear += data[i];
    partRotated = RotateAndAdd(partRotated, data[i]);
  }
  return {{wholeLinear, wholeRotated}, {partLinear, partRotated}};
}

std::uint32_t ByteSum(const std::uint8_t* data, std::uint32_t length) {
  if (data == nullptr) return 0;
  LinearChecksum sum;
  sum.Add(std::span(data, length % 65536u));
  return sum.Total();
}

}  // namespace tslflash
