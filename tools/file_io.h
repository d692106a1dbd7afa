// Whole-file reads and writes for the package tool and the program, results
// as values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

// The reason a symbolic link at the end of a path is refused.
inline constexpr std::string_view kSymbolicLinkRefused = "a symbolic link, not followed";

// Why what stands at a path is not a regular file to read or write, from its
// st_mode ("a folder, not a file", ...); empty for a regular file.
std::string_view NotARegularFile(unsigned mode);

// A file written whole or not at all: a temporary file beside its path,
// synced and renamed over it, so that neither a reader nor a crash finds half
// of it. It is written only as a new file or in place of a regular one: never
// through a symbolic link, never over a folder, a device or a FIFO.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // Writes bytes, syncs them and puts the file at its path. Returns an error
  // line, empty on success. Dropped without it, the file leaves nothing.
  virtual std::string Commit(std::span<const std::uint8_t> bytes) = 0;
};

struct [[nodiscard]] OpenedOutputFile {
  std::unique_ptr<OutputFile> file;
  std::string error;  // one line, naming the path and the reason; empty when open
};

// A path cut after its last separator: the folder keeps it ("/" and "C:\\"
// stay themselves; "." for a bare name), then the name.
struct PathParts {
  std::string folder;
  std::string name;
};
PathParts SplitPath(const std::string& path);
// A trailing separator would make the system follow a symbolic link that is
// to be refused; a root stays itself.
std::string WithoutTrailingSeparators(std::string path);

// The file at path; symbolic links in the folders above it are followed, as
// the user named them.
OpenedOutputFile CreateOutputFile(const std::string& path);
// The file name inside folder, which must itself be a folder, not a symbolic
// link to one.
OpenedOutputFile CreateOutputFileIn(const std::string& folder, std::string_view name);

// CreateOutputFile and Commit in one. Returns an error line, empty on success.
std::string WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);
// The same for a text, written byte for byte.
std::string WriteFileAtomically(const std::string& path, std::string_view text);
// CreateOutputFileIn and Commit in one.
std::string WriteFileInFolder(const std::string& folder, std::string_view name,
                              std::span<const std::uint8_t> bytes);

// Why WriteFileAtomically would refuse path, found without writing anything:
// what stands there, or a folder that takes no new files. An error line,
// empty when it would write.
std::string OutputFileProblem(const std::string& path);

// Makes sure the files named names can be written into folder, creating it
// (and its parents) when it is missing; the folder must not be a symbolic
// link. Nothing is left in it. Returns an error line, empty when it is usable.
std::string PrepareOutputFolder(const std::string& folder, std::span<const std::string> names = {});

}  // namespace tslflash
