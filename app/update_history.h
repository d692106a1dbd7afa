// The update history: one record for each Upgrade that got past its checks,
// saying which drive got which image, when, and how it ended, so that the
// user or a support desk can tell later. Records are JSON Lines, one compact
// object a line; a later fact about a record is a later line naming its id,
// never a rewrite: the run's end after the open record it appended before
// changing the drive, or a completion (the drive read again at the next
// start).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tslflash {

inline constexpr int kHistorySchemaVersion = 1;

// Whether the drive runs the image it was given, as far as anyone knows.
enum class Confirmation : std::uint8_t {
  NotChecked,
  Confirmed,
  WrittenNotActive,
  NotConfirmed,
  NoAnswer,
  Interrupted,
};

// For a person: "now running the new firmware"...
std::string_view ConfirmationText(Confirmation confirmation);
// In the file and the JSON: "confirmed", "written-not-active"...
std::string_view ConfirmationName(Confirmation confirmation);

struct HistoryDrive {
  std::string vendor;
  std::string product;
  std::string revision;
  std::string enclosureIdentity;  // may be empty
  std::string location;           // /dev/sg1, a Windows drive letter or path
  friend bool operator==(const HistoryDrive&, const HistoryDrive&) = default;
};

struct HistoryPackage {
  std::string sha256;
  std::string id;        // the drive id the package is for
  std::string revision;  // the firmware revision it carries
  std::string protocol;  // "summed-pages"...
  std::uint16_t imageLinearSum = 0;
  std::uint16_t imageRotatedSum = 0;
  friend bool operator==(const HistoryPackage&, const HistoryPackage&) = default;
};

struct HistoryCheck {
  std::string name;    // "empty-tray", "model"...
  std::string result;  // "passed", "failed"
  friend bool operator==(const HistoryCheck&, const HistoryCheck&) = default;
};

struct HistoryOutcome {
  int code = 0;
  std::string text;
  friend bool operator==(const HistoryOutcome&, const HistoryOutcome&) = default;
};

struct HistoryRecord {
  std::string id;    // unique: the time and a random part
  std::string time;  // UTC, ISO 8601
  std::string toolVersion;
  HistoryDrive drive;
  HistoryPackage package;
  std::vector<HistoryCheck> checks;
  std::uint32_t unitsSent = 0;
  std::uint32_t unitsTotal = 0;
  std::string unit;  // "pages", "blocks"
  std::optional<HistoryOutcome> outcome;
  bool completed = false;
  Confirmation confirmation = Confirmation::NotChecked;
  std::string reportedRevision;  // what the drive said afterwards
  // When a completion line changed the confirmation; empty while it is the
  // run's own.
  std::string confirmationTime;
  // The run said it was about to change the drive and nothing since: it is
  // still running, or it was cut off (killed, crashed, the power lost).
  bool open = false;
  friend bool operator==(const HistoryRecord&, const HistoryRecord&) = default;
};

// Whether a later line may still change the record: an open one, or one
// whose drive is to be read again at the next start (written but not yet
// active, or interrupted) and has not been.
bool IsUnsettled(const HistoryRecord& record);

// A later fact about the record named by recordId.
struct HistoryCompletion {
  std::string recordId;
  std::string time;
  Confirmation confirmation = Confirmation::NotChecked;
  std::string reportedRevision;
  friend bool operator==(const HistoryCompletion&, const HistoryCompletion&) = default;
};

// 2026-12-11T01:53:11Z
std::string HistoryTime(std::chrono::system_clock::time_point time);
// The time to the second and 64 random bits: 20261211T015311Z-0123456789abcdef.
std::string NewHistoryId(std::chrono::system_clock::time_point time);

// A run cut off before its end: open, or closed since as interrupted
// without an outcome of its own. How much of the image went is not known.
bool IsCutOff(const HistoryRecord& record);

// One line each, without its line break.
std::string EncodeHistoryRecord(const HistoryRecord& record);
std::string EncodeHistoryCompletion(const HistoryCompletion& completion);

struct [[nodiscard]] HistoryRead {
  std::vector<HistoryRecord> records;  // in the order they were appended
  std::vector<std::string> warnings;   // one line for each line skipped
  std::string error;                   // the file could not be read
};

// One file's text; its name, when it has one, is said in the warnings about
// its lines.
struct HistoryPart {
  std::string_view name;
  std::string_view text;
  // Lines before these were dropped (rotated away, or not read): a line that
  // names a record among them is passed over without a warning.
  bool headDropped = false;
};

// The records of history texts read one after the other, each with the later
// lines that name it folded in, in the order they first stand. A line that
// does not parse or lacks a field (one torn by a crash) is skipped with a
// warning; blank lines are passed over. A later record line with the same id
// takes the record's place, except that an open one never reopens a record
// that has been closed.
HistoryRead ReadHistoryParts(std::span<const HistoryPart> parts);
HistoryRead ReadHistoryText(std::string_view text);

}  // namespace tslflash
