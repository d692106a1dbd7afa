// Whole-file reads and writes for the package tool, results as values.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tslflash {

struct [[nodiscard]] FileRead {
  std::vector<std::uint8_t> bytes;
  std::string error;  // one line; empty when the file was read
};

FileRead ReadBinaryFile(const std::string& path);

// Writes a temporary file beside path and renames it over path, so a reader
// never sees a half-written file. Returns an error line, empty on success.
std::string WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace tslflash
