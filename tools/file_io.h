// Whole-file reads and writes for the package tool and the program, results
// as values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tslflash {

struct [[nodiscard]] FileRead {
  std::vector<std::uint8_t> bytes;
  std::string error;  // one line; empty when the file was read
};

// The most a file may hold, and what it holds, for the refusal ("... the
// most a package can be").
struct SizeBound {
  std::size_t bytes;
  std::string_view what;
};

// Reads a regular file of at most bound.bytes. Anything else (a folder, a
// FIFO, a device, a larger file) is refused without waiting or reading it
// whole, so no input can hang the caller or exhaust its memory.
FileRead ReadBinaryFile(const std::string& path, SizeBound bound);

// A firmware package file: at most the largest layout, at least a header and
// a trailer. Whether its fields and checksums are right is for the checks.
FileRead ReadPackageFile(const std::string& path);

// Why a package of size bytes named name cannot be one; empty when it can.
std::string PackageSizeProblem(std::string_view name, std::size_t size);

// Writes a temporary file beside path and renames it over path, so a reader
// never sees a half-written file. Returns an error line, empty on success.
std::string WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);
// The same for a text, written byte for byte.
std::string WriteFileAtomically(const std::string& path, std::string_view text);

// Makes sure files can be written into folder, creating it (and its parents)
// when it is missing. Returns an error line, empty when the folder is usable.
std::string PrepareOutputFolder(const std::string& folder);

}  // namespace tslflash
