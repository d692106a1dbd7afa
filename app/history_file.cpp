#include "app/history_file.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "app/append_file.h"

namespace tslflash {
namespace {

namespace fs = std::filesystem;

std::string Reason(std::error_code error) {
  std::string reason = error.message();
  if (!reason.empty())
    reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
  return reason;
}

std::string OlderPath(const std::string& path) { return path + ".1"; }

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

struct [[nodiscard]] FileText {
  std::string text;
  std::string warning;  // only its newest lines were read
  std::string error;
};

// The file's text; of a file larger than the window, its newest lines. The
// type is checked before the file is opened, so a FIFO is never waited on.
FileText ReadNewest(const std::string& path) {
  const auto refused = [&path](const std::string& reason) {
    return FileText{{}, {}, "history: cannot read " + path + ": " + reason};
  };
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error) return refused(Reason(error));
  if (fs::is_directory(status)) return refused("a folder, not a file");
  if (!fs::is_regular_file(status)) return refused("not a regular file");
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return refused(Reason({errno, std::generic_category()}));
  const auto size = static_cast<std::uintmax_t>(std::max<std::streamoff>(in.tellg(), 0));
  const std::uintmax_t start = size > kHistoryReadWindow ? size - kHistoryReadWindow : 0;
  FileText read;
  read.text.resize(static_cast<std::size_t>(size - start));
  in.seekg(static_cast<std::streamoff>(start));
  in.read(read.text.data(), static_cast<std::streamsize>(read.text.size()));
  read.text.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  if (start > 0) {
    // The window begins inside a line: that line is not read.
    const std::size_t cut = read.text.find('\n');
    read.text.erase(0, cut == std::string::npos ? cut : cut + 1);
    read.warning = "history: " + path + " is larger than " +
                   std::to_string(kHistoryReadWindow >> 20) + " MiB; only its newest " +
                   std::to_string(kHistoryReadWindow >> 20) + " MiB are read";
  }
  return read;
}

std::string AppendTo(const std::string& path, std::string_view line) {
  const OpenedAppendFile opened = OpenAppendFile(path);
  if (!opened.error.empty()) return opened.error;
  return AppendLine(*opened.file, line);
}

// Moves a full file aside as the older file, dropping the one before, once
// every unsettled record of both is written again at its end: whenever a
// kill or a power loss strikes, each of them stands in a file that is read.
// While the older file is something else than a file, the file keeps
// growing; the reader says what is wrong with the older one.
std::string RotateWhenFull(const std::string& path) {
  std::error_code error;
  const fs::file_type older = fs::symlink_status(OlderPath(path), error).type();
  if (!fs::is_regular_file(fs::symlink_status(path, error)) ||
      fs::file_size(path, error) < kHistoryRotationSize || error ||
      (older != fs::file_type::not_found && older != fs::file_type::regular)) {
    return {};
  }
  const HistoryRead read = ReadHistory(path);
  if (!read.error.empty()) return {};
  for (const HistoryRecord& record : read.records) {
    if (!IsUnsettled(record)) continue;
    if (std::string reason = AppendTo(path, EncodeHistoryRecord(record)); !reason.empty()) {
      return reason;
    }
  }
  fs::rename(path, OlderPath(path), error);
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
  if (std::string reason = RotateWhenFull(path); !reason.empty()) return failed(reason);
  if (std::string reason = AppendTo(path, line); !reason.empty()) return failed(reason);
  return {};
}

HistoryRead ReadHistory(const std::string& path) {
  const std::array<std::string, 2> paths{OlderPath(path), path};
  std::array<FileText, 2> texts;
  std::vector<HistoryPart> parts;
  std::vector<std::string> warnings;
  for (std::size_t at = 0; at < paths.size(); ++at) {
    std::error_code error;
    if (fs::symlink_status(paths[at], error).type() == fs::file_type::not_found) continue;
    texts[at] = ReadNewest(paths[at]);
    if (!texts[at].error.empty()) {
      if (paths[at] == path) return {{}, {}, texts[at].error};
      warnings.push_back(texts[at].error);
      continue;
    }
    if (!texts[at].warning.empty()) warnings.push_back(texts[at].warning);
    const bool older = paths[at] != path;
    parts.push_back({older ? paths[at] : std::string_view(), texts[at].text,
                     older || !texts[at].warning.empty()});
  }
  HistoryRead read = ReadHistoryParts(parts);
  read.warnings.insert(read.warnings.begin(), warnings.begin(), warnings.end());
  return read;
}

}  // namespace tslflash
