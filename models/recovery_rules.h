// The recovery rule list. A drive whose firmware revision begins with "FS" is
// in the recovery state: its revision says nothing about the firmware it
// carries, so only its id and the package's names decide whether the package
// may go to it. The rules are fixed; the drive ids each rule names are data
// (recovery_ids.txt).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace tslflash {

// ASCII only: ids, revisions and marks are raw drive and header bytes, not
// text in the user's locale.
constexpr char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// True when the revision begins with "FS" in either case.
bool IsRecoveryRevision(std::string_view driveRevision);

enum class MarkComparison : std::uint8_t { Exact, IgnoreCase };

// Tried first, whatever follows "FS" in the revision. No drive id belongs to
// two of these rules.
struct FirstStageRule {
  std::string_view idSet;  // the rule's drive ids in recovery_ids.txt
  std::string_view code;   // what altProductName must begin with
  std::string_view mark;   // the variantMark it takes
  MarkComparison comparison;
};

// Chosen by the third and fourth characters of the revision, upper-cased.
struct SecondStageRule {
  std::string_view key;
  std::string_view idSet;
  bool packageForThisDrive;  // the package id must equal the drive id
  // altProductName must begin with one of them; empty entries are unused.
  std::array<std::string_view, 3> prefixes;
};

inline constexpr std::array<FirstStageRule, 9> kFirstStageRules = {{
    {"row1", "TX2300", "TW", MarkComparison::Exact},
    {"row2", "TX2300", "VL", MarkComparison::IgnoreCase},
    {"row3", "TX2300", "MZ", MarkComparison::Exact},
    {"row4", "TX2300", "KV", MarkComparison::Exact},
    {"row5", "TX2300", "QG", MarkComparison::Exact},
    {"row6", "TX2350", "NX", MarkComparison::Exact},
    {"row7", "TX2350", "VL", MarkComparison::IgnoreCase},
    {"row8", "TX2350", "KV", MarkComparison::Exact},
    {"row9", "TX2350", "VR", MarkComparison::Exact},
}};

inline constexpr std::array<SecondStageRule, 13> kSecondStageRules = {{
    {"01", "key01", true, {"TQ70"}},
    {"02", "key02", false, {"TX2100", "TX2110", "TX2120"}},
    {"04", "key04", false, {"TX2125"}},
    {"10", "key10", false, {"TR200K"}},
    {"11", "key11", false, {"TQ70"}},
    {"21", "key21", true, {"TQ70"}},
    {"31", "key31", false, {"TQ70"}},
    {"A1", "keyA1", true, {"TX2370"}},
    {"B1", "keyB1", false, {"TX2370"}},
    {"C1", "keyC1", false, {"TX2370"}},
    {"D1", "keyD1", false, {"TX2370", "EPX-412UX"}},
    {"E1", "keyE1", false, {"TX2370"}},
    {"F1", "keyF1", false, {"TX2370"}},
}};

// One drive id of one rule's set, as recovery_ids.txt lists it.
struct RecoveryIdRow {
  std::string_view driveId;  // 24 characters
  std::string_view idSet;
};

std::span<const RecoveryIdRow> RecoveryIdRows();

// What the rules read: the selected drive's id and revision, and the
// package's id and names.
struct RecoveryCandidate {
  std::string_view driveRevision;   // 4 characters
  std::string_view driveId;         // 24 characters
  std::string_view packageId;       // 24 characters
  std::string_view altProductName;  // 10 characters
  std::string_view variantMark;     // 2 characters
};

// True when the drive is in the recovery state and a rule accepts it: a
// first-stage rule that holds its id, else the second-stage rule of its
// revision key.
bool MatchRecoveryRule(const RecoveryCandidate& candidate);

}  // namespace tslflash
