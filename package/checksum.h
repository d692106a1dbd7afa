// The two checksums that guard the package and its image, kept as small
// accumulators so a caller can fold bytes in while it copies them.
#pragma once

#include <cstdint>
#include <span>

namespace tslflash {

// Sum of bytes. The total is kept in 32 bits; the checksum is its low 16 bits.
class LinearChecksum {
 public:
  constexpr void Add(std::uint8_t byte) { total_ += byte; }
  void Add(std::span<const std::uint8_t> bytes);
  constexpr std::uint32_t Total() const { return total_; }
  constexpr std::uint16_t Value() const { return static_cast<std::uint16_t>(total_); }

 private:
  std::uint32_t total_ = 0;
};

// One step of the rotated checksum: the value rotated right by one (bit 0 into
// bit 15), then the byte added.
constexpr std::uint16_t RotateAndAdd(std::uint16_t value, std::uint8_t byte) {
  // Unsigned 32-bit arithmetic: promoted to int, the shift and add could overflow.
  const std::uint32_t rotated = (value >> 1u) | (std::uint32_t{value} << 15u);
  return static_cast<std::uint16_t>(rotated + byte);
}

// Each step needs the previous value, so the sum runs byte after byte.
class RotatedChecksum {
 public:
  constexpr void Add(std::uint8_t byte) { value_ = RotateAndAdd(value_, byte); }
  void Add(std::span<const std::uint8_t> bytes);
  constexpr std::uint16_t Value() const { return value_; }

 private:
  std::uint16_t value_ = 0;
};

struct ChecksumPair {
  std::uint16_t linear = 0;
  std::uint16_t rotated = 0;
  friend bool operator==(const ChecksumPair&, const ChecksumPair&) = default;
};

// The fuzzing build defines TSLFLASH_FUZZ_IGNORE_CHECKSUMS so that arbitrary
// bytes reach the layouts a stored checksum would otherwise guard. Every
// accept-or-refuse decision on a checksum goes through ChecksumsAgree.
#ifdef TSLFLASH_FUZZ_IGNORE_CHECKSUMS
inline constexpr bool kChecksumsCompared = false;
#else
inline constexpr bool kChecksumsCompared = true;
#endif

constexpr bool ChecksumsAgree(const ChecksumPair& stored, const ChecksumPair& computed) {
  return !kChecksumsCompared || stored == computed;
}

// Both checksums of one range, with the linear checksum's 32-bit total.
struct ChecksumTotals {
  std::uint32_t linearTotal = 0;
  std::uint16_t rotated = 0;
  constexpr ChecksumPair Pair() const { return {static_cast<std::uint16_t>(linearTotal), rotated}; }
};

// One pass for both: the rotated sum's byte-serial chain leaves the processor
// room for the linear additions, so the pair costs what the rotated sum costs.
ChecksumTotals SumBoth(std::span<const std::uint8_t> bytes);

ChecksumPair ChecksumsOf(std::span<const std::uint8_t> bytes);

// The sums of two ranges of the same bytes in one pass: `whole` over
// [0, wholeEnd), `part` over [partBegin, partEnd). Where they overlap both
// chains take each byte in turn; neither waits for the other.
struct TwoRangeSums {
  ChecksumTotals whole;
  ChecksumTotals part;
};
TwoRangeSums SumWholeAndPart(std::span<const std::uint8_t> bytes, std::size_t wholeEnd,
                             std::size_t partBegin, std::size_t partEnd);

// 32-bit sum of the first (length mod 65536) bytes; 0 for a null pointer. The
// length is reduced because the drive commands that carry it hold 16 bits.
std::uint32_t ByteSum(const std::uint8_t* data, std::uint32_t length);

}  // namespace tslflash
