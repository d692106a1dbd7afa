// The drive's download memory: firmware bytes arrive here page by page, at
// 24-bit addresses, before the drive accepts them as an image. It remembers
// which bytes were written so a commit can tell a complete image from a
// partial one.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tslflash::emu {

class DownloadMemory {
 public:
  // Every address form the commands can express lies below 16 MiB.
  static constexpr std::uint32_t kCapacity = 1u << 24;

  // False, writing nothing, when the range leaves the memory.
  [[nodiscard]] bool Write(std::uint32_t address, std::span<const std::uint8_t> bytes);
  // Bytes never written read as zero. False when the range leaves the memory.
  [[nodiscard]] bool Read(std::uint32_t address, std::span<std::uint8_t> out) const;
  // True when every byte of [begin, end) was written.
  bool IsWritten(std::uint32_t begin, std::uint32_t end) const;
  // One past the highest byte written; 0 when nothing was.
  std::uint32_t WrittenEnd() const { return static_cast<std::uint32_t>(bytes_.size()); }
  std::vector<std::uint8_t> Copy(std::uint32_t begin, std::uint32_t end) const;
  void Clear();

 private:
  static bool Fits(std::uint32_t address, std::size_t length);

  std::vector<std::uint8_t> bytes_;
  std::vector<bool> written_;
};

}  // namespace tslflash::emu
