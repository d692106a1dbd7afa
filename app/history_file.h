// Where the update history is kept and how it is written: appended a whole
// line at a time, so that a crash or a power cut can tear at most the line
// being written, never an earlier record.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/update_history.h"

namespace tslflash {

enum class HistoryPlatform : std::uint8_t { Linux, Windows };

#ifdef _WIN32
inline constexpr HistoryPlatform kThisHistoryPlatform = HistoryPlatform::Windows;
#else
inline constexpr HistoryPlatform kThisHistoryPlatform = HistoryPlatform::Linux;
#endif

// Reads an environment variable; nothing when it is not set.
using HistoryEnvironment = std::function<std::optional<std::string>(std::string_view)>;

struct [[nodiscard]] HistoryLocation {
  std::optional<std::string> path;
  std::string reason;  // why there is none
};

// Linux: $XDG_STATE_HOME/tslflash/history.jsonl, else
// $HOME/.local/state/tslflash/history.jsonl; Windows:
// %LOCALAPPDATA%\tslflash\history.jsonl.
HistoryLocation HistoryPath(const HistoryEnvironment& environment, HistoryPlatform platform);

// Appends one line (without its line break) to the file at path, creating
// the file (owner only) and its folders (0700) when missing, and waits until
// it is on the disk. A torn last line left by an earlier crash is ended
// first, so that it stays one bad line. Returns an error line, empty on
// success.
std::string AppendHistory(const std::string& path, std::string_view line);

// The file's records with their completions folded in; a missing file holds
// none.
HistoryRead ReadHistory(const std::string& path);

}  // namespace tslflash
