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

// 16-bit value rotated right by one (bit 0 into bit 15) before each byte is added.
class RotatedChecksum {
 public:
  constexpr void Add(std::uint8_t byte) {
    // Unsigned 32-bit arithmetic: promoted to int, the shift and add could overflow.
    const std::uint32_t rotated = (value_ >> 1u) | (std::uint32_t{value_} << 15u);
    value_ = static_cast<std::uint16_t>(rotated + byte);
  }
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

ChecksumPair ChecksumsOf(std::span<const std::uint8_t> bytes);

// 32-bit sum of the first (length mod 65536) bytes; 0 for a null pointer. The
// length is reduced because the drive commands that carry it hold 16 bits.
std::uint32_t ByteSum(const std::uint8_t* data, std::uint32_t length);

}  // namespace tslflash
