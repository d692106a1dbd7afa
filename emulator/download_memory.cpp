#include "emulator/download_memory.h"

#include <algorithm>

namespace tslflash::emu {

bool DownloadMemory::Fits(std::uint32_t address, std::size_t length) {
  return std::uint64_t{address} + length <= kCapacity;
}

bool DownloadMemory::Write(std::uint32_t address, std::span<const std::uint8_t> bytes) {
  if (!Fits(address, bytes.size())) return false;
  const std::size_t end = address + bytes.size();
  if (end > bytes_.size()) {
    bytes_.resize(end);
    written_.resize(end);
  }
  std::copy(bytes.begin(), bytes.end(), bytes_.begin() + address);
  std::fill(written_.begin() + address, written_.begin() + static_cast<std::ptrdiff_t>(end), true);
  return true;
}

bool DownloadMemory::Read(std::uint32_t address, std::span<std::uint8_t> out) const {
  if (!Fits(address, out.size())) return false;
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  if (address < bytes_.size()) {
    const std::size_t count = std::min(out.size(), bytes_.size() - address);
    std::copy_n(bytes_.begin() + address, count, out.begin());
  }
  return true;
}

bool DownloadMemory::IsWritten(std::uint32_t begin, std::uint32_t end) const {
  if (end > written_.size() || begin > end) return false;
  return std::all_of(written_.begin() + begin, written_.begin() + end, [](bool b) { return b; });
}

std::vector<std::uint8_t> DownloadMemory::Copy(std::uint32_t begin, std::uint32_t end) const {
  std::vector<std::uint8_t> out(end - begin);
  // The range is checked by the caller; an unwritten tail reads as zero.
  (void)Read(begin, out);
  return out;
}

void DownloadMemory::Clear() {
  bytes_.clear();
  written_.clear();
}

}  // namespace tslflash::emu
