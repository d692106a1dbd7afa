#include "package/checksum.h"

namespace tslflash {

void LinearChecksum::Add(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t byte : bytes) Add(byte);
}

void RotatedChecksum::Add(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t byte : bytes) Add(byte);
}

ChecksumPair ChecksumsOf(std::span<const std::uint8_t> bytes) {
  LinearChecksum linear;
  RotatedChecksum rotated;
  linear.Add(bytes);
  rotated.Add(bytes);
  return {linear.Value(), rotated.Value()};
}

std::uint32_t ByteSum(const std::uint8_t* data, std::uint32_t length) {
  if (data == nullptr) return 0;
  LinearChecksum sum;
  sum.Add(std::span(data, length % 65536u));
  return sum.Total();
}

}  // namespace tslflash
