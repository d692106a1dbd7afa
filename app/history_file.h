// Where the update history is kept and how it is written: appended a whole
// line at a time, so that a crash or a power cut can tear at most the line
// being written, never an earlier record. A file that has grown past
// kHistoryRotationSize is moved aside as the older file (path + ".1", which
// replaces the one before) at the next append; the two are read as one.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/update_history.h"

namespace tslflash {

// A couple of hundred updates a file: two files hold far more than a drive
// ever gets, and are read at each start in a moment.
inline constexpr std::uintmax_t kHistoryRotationSize = std::uintmax_t{512} << 10;
// The most of one file that is read, its newest lines: far more than this
// program lets a file grow, so only a file made otherwise is cut.
inline constexpr std::uintmax_t kHistoryReadWindow = std::uintmax_t{4} << 20;

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
// first, so that it stays one bad line. A file past kHistoryRotationSize is
// rotated first; every record a later line may still name (IsUnsettled) is
// written again at its end before it is moved, so a run's end and a start's
// judgement always find it. Returns an error line, empty on success.
std::string AppendHistory(const std::string& path, std::string_view line);

// The records of the older file and the file, with their later lines folded
// in; a missing file holds none. The older file's problems are warnings: the
// newer records are still read. Its lines that name a record of the file
// rotated away before it are passed over.
HistoryRead ReadHistory(const std::string& path);

}  // namespace tslflash
