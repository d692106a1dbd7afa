#include "app/history_file.h"

#include <filesystem>
#include <system_error>

#include "app/append_file.h"
#include "tools/file_io.h"

namespace tslflash {
namespace {

// Far more than a lifetime of updates; a larger file is not read whole.
constexpr std::size_t kLargestHistory = std::size_t{64} << 20;

// A variable that is set, not empty and, where absolute is asked, an absolute
// path (the state-folder convention ignores a relative one).
std::optional<std::string> Folder(const HistoryEnvironment& environment, std::string_view name,
                                  bool absolute) {
  std::optional<std::string> value = environment(name);
  if (!value || value->empty() || (absolute && value->front() != '/')) return std::nullopt;
  while (value->size() > 1 && (value->back() == '/' || value->back() == '\\')) value->pop_back();
  return value;
}

HistoryLocation LinuxPath(const HistoryEnvironment& environment) {
  if (const auto state = Folder(environment, "XDG_STATE_HOME", true)) {
    return {*state + "/tslflash/history.jsonl", {}};
  }
  if (const auto home = Folder(environment, "HOME", true)) {
    return {*home + "/.local/state/tslflash/history.jsonl", {}};
  }
  return {std::nullopt, "neither XDG_STATE_HOME nor HOME names a folder"};
}

HistoryLocation WindowsPath(const HistoryEnvironment& environment) {
  if (const auto local = Folder(environment, "LOCALAPPDATA", false)) {
    return {*local + "\\tslflash\\history.jsonl", {}};
  }
  return {std::nullopt, "LOCALAPPDATA is not set"};
}

// Makes the folder that holds path and each missing folder above it. Only
// the last answer counts: a folder above may exist or be unreachable while
// the one below is usable.
std::string MakeFoldersFor(const std::string& path) {
  const std::string_view separators = FolderSeparators();
  const std::size_t last = path.find_last_of(separators);
  if (last == std::string::npos || last == 0) return {};
  const std::string folder = path.substr(0, last);
  for (std::size_t at = folder.find_first_of(separators, 1); at != std::string::npos;
       at = folder.find_first_of(separators, at + 1)) {
    (void)MakePrivateFolder(folder.substr(0, at));
  }
  if (std::string reason = MakePrivateFolder(folder); !reason.empty()) {
    return "cannot create " + folder + ": " + reason;
  }
  return {};
}

}  // namespace

HistoryLocation HistoryPath(const HistoryEnvironment& environment, HistoryPlatform platform) {
  return platform == HistoryPlatform::Windows ? WindowsPath(environment) : LinuxPath(environment);
}

std::string AppendHistory(const std::string& path, std::string_view line) {
  const auto failed = [&path](const std::string& reason) {
    return "history: cannot write " + path + ": " + reason;
  };
  if (line.empty() || line.find('\n') != std::string_view::npos) {
    return failed("a record must be one line");
  }
  if (std::string reason = MakeFoldersFor(path); !reason.empty()) return "history: " + reason;
  const OpenedAppendFile opened = OpenAppendFile(path);
  if (!opened.error.empty()) return failed(opened.error);
  if (std::string reason = AppendLine(*opened.file, line); !reason.empty()) return failed(reason);
  return {};
}

HistoryRead ReadHistory(const std::string& path) {
  std::error_code error;
  if (std::filesystem::symlink_status(path, error).type() ==
      std::filesystem::file_type::not_found) {
    return {};
  }
  const FileRead read = ReadBinaryFile(path, {kLargestHistory, "a history file"});
  if (!read.error.empty()) return {{}, {}, "history: " + read.error};
  return ReadHistoryText(
      std::string_view(reinterpret_cast<const char*>(read.bytes.data()), read.bytes.size()));
}

}  // namespace tslflash
