// Files no reader may take, made in a test's folder: the table rows every
// program that reads a package or a drive description is run against. Each
// must be refused with one line, never a crash, a hang or endless reading.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "package/package_layout.h"

namespace tslflash::testing {

enum class BadFileKind {
  Empty,
  Truncated,     // the first bytes of a good file
  OverTheBound,  // one byte more than the reader takes
  HugeSparse,    // 64 GiB claimed, nothing stored
  Fifo,          // no writer: reading it would wait for ever
  Folder,
  DevNull,
  DevZero,  // endless
  ThroughAFile,
  Unreadable,  // mode 000
};

struct BadFile {
  std::string name;
  BadFileKind kind;
  std::string refusal;  // the line after the program's prefix; "{}" stands for the path
  friend void PrintTo(const BadFile& file, std::ostream* os) { *os << file.name; }
};

// The refusal with the file's path in place of "{}".
inline std::string Filled(std::string_view refusal, std::string_view path) {
  std::string line(refusal);
  if (const std::size_t at = line.find("{}"); at != line.npos) line.replace(at, 2, path);
  return line;
}

// The rows whose refusal does not depend on what the file holds, for a
// reader that takes at most bound bytes of "what" ("a package").
inline std::vector<BadFile> UnusableFiles(std::size_t bound, std::string_view what) {
  const std::string tooLarge = "cannot read {}: larger than " + std::to_string(bound) +
                               " bytes, the most " + std::string(what) + " can be";
  return {
      {"OverTheBound", BadFileKind::OverTheBound, tooLarge},
      {"HugeSparse", BadFileKind::HugeSparse, tooLarge},
      {"Fifo", BadFileKind::Fifo, "cannot read {}: not a regular file"},
      {"Folder", BadFileKind::Folder, "cannot read {}: a folder, not a file"},
      {"DevNull", BadFileKind::DevNull, "cannot read {}: not a regular file"},
      {"DevZero", BadFileKind::DevZero, "cannot read {}: not a regular file"},
      {"ThroughAFile", BadFileKind::ThroughAFile, "cannot read {}: not a directory"},
      {"Unreadable", BadFileKind::Unreadable, "cannot read {}: permission denied"},
  };
}

inline void WriteText(const std::filesystem::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary)
      .write(text.data(), static_cast<std::streamsize>(text.size()));
}

// Makes a file of this kind in dir and returns its path; a Truncated file
// holds the first half of good, an OverTheBound one bound + 1 zero bytes.
// Nothing for Unreadable when this process reads any file (root does).
inline std::optional<std::string> MakeBadFile(BadFileKind kind, const std::filesystem::path& dir,
                                              std::string_view good, std::size_t bound) {
  const std::filesystem::path path = dir / "bad";
  switch (kind) {
    case BadFileKind::Empty:
      WriteText(path, "");
      break;
    case BadFileKind::Truncated:
      WriteText(path, good.substr(0, good.size() / 2));
      break;
    case BadFileKind::OverTheBound:
      WriteText(path, "");
      std::filesystem::resize_file(path, bound + 1);
      break;
    case BadFileKind::HugeSparse:
      WriteText(path, "");
      std::filesystem::resize_file(path, std::uintmax_t{64} << 30);
      break;
    case BadFileKind::Fifo:
      (void)mkfifo(path.c_str(), 0600);  // when it fails, the program says "no such file"
      break;
    case BadFileKind::Folder:
      std::filesystem::create_directory(path);
      break;
    case BadFileKind::DevNull:
      return "/dev/null";
    case BadFileKind::DevZero:
      return "/dev/zero";
    case BadFileKind::ThroughAFile:
      WriteText(path, good);
      return (path / "inside").string();
    case BadFileKind::Unreadable:
      if (geteuid() == 0) return std::nullopt;
      WriteText(path, good);
      std::filesystem::permissions(path, std::filesystem::perms::none);
      break;
  }
  return path.string();
}

// A package reader's rows, the same for every program that reads one.
inline std::vector<BadFile> BadPackageFiles() {
  std::vector<BadFile> files = UnusableFiles(kLargestPackage, "a package");
  files.push_back(
      {"Empty", BadFileKind::Empty, "{} is 0 bytes, too short for a package (at least 68)"});
  files.push_back({"Truncated", BadFileKind::Truncated,
                   "{} is 32 bytes, too short for a package (at least 68)"});
  return files;
}

// A Truncated package keeps half a header.
inline std::optional<std::string> MakeBadPackageFile(BadFileKind kind,
                                                     const std::filesystem::path& dir) {
  return MakeBadFile(kind, dir, std::string(kHeaderSize, 'K'), kLargestPackage);
}

}  // namespace tslflash::testing
