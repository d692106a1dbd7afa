#include "tools/file_io.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>

namespace tslflash {
namespace {

namespace fs = std::filesystem;

struct CloseFile {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

bool WriteAll(const std::string& path, std::span<const std::uint8_t> bytes) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  return std::fclose(file.release()) == 0 && written;
}

}  // namespace

FileRead ReadBinaryFile(const std::string& path) {
  std::error_code error;
  if (!fs::exists(path, error)) return {{}, "cannot read " + path + ": no such file"};
  if (!fs::is_regular_file(path, error)) return {{}, "cannot read " + path + ": not a file"};
  const auto size = fs::file_size(path, error);
  File file(std::fopen(path.c_str(), "rb"));
  if (error || !file) return {{}, "cannot read " + path};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    return {{}, "cannot read " + path + ": short read"};
  }
  return {std::move(bytes), {}};
}

std::string WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
  const std::string temporary = path + ".tmp" + std::to_string(std::random_device{}());
  std::error_code error;
  if (WriteAll(temporary, bytes)) {
    fs::rename(temporary, path, error);
    if (!error) return {};
  }
  fs::remove(temporary, error);
  return "cannot write " + path;
}

}  // namespace tslflash
