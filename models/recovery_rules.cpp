#include "models/recovery_rules.h"

#include <algorithm>

#include "models/internal_drives.h"

namespace tslflash {
namespace {

constexpr RecoveryIdRow kIdRows[] = {
#include "recovery_ids.inc"
};

constexpr bool InSet(std::string_view idSet, std::string_view driveId) {
  return std::ranges::any_of(kIdRows, [&](const RecoveryIdRow& row) {
    return row.idSet == idSet && row.driveId == driveId;
  });
}

constexpr bool IsFirstStageSet(std::string_view idSet) {
  return std::ranges::find(kFirstStageRules, idSet, &FirstStageRule::idSet) !=
         kFirstStageRules.end();
}

constexpr bool IsSecondStageSet(std::string_view idSet) {
  return std::ranges::find(kSecondStageRules, idSet, &SecondStageRule::idSet) !=
         kSecondStageRules.end();
}

constexpr bool HasIds(std::string_view idSet) {
  return std::ranges::find(kIdRows, idSet, &RecoveryIdRow::idSet) != std::ranges::end(kIdRows);
}

// A bad edit of recovery_ids.txt stops the build here rather than leaving a
// rule that silently accepts nothing, or a drive two first-stage rules claim.
constexpr bool EveryRowNamesARule() {
  return std::ranges::all_of(kIdRows, [](const RecoveryIdRow& row) {
    return IsFirstStageSet(row.idSet) || IsSecondStageSet(row.idSet);
  });
}

constexpr bool EveryRuleHasIds() {
  return std::ranges::all_of(kFirstStageRules, [](auto& r) { return HasIds(r.idSet); }) &&
         std::ranges::all_of(kSecondStageRules, [](auto& r) { return HasIds(r.idSet); });
}

constexpr bool FirstStageSetsAreDisjoint() {
  for (const RecoveryIdRow& a : kIdRows) {
    for (const RecoveryIdRow& b : kIdRows) {
      if (IsFirstStageSet(a.idSet) && IsFirstStageSet(b.idSet) && a.idSet != b.idSet &&
          a.driveId == b.driveId) {
        return false;
      }
    }
  }
  return true;
}

static_assert(EveryRowNamesARule(), "recovery_ids.txt: a row names no rule");
static_assert(EveryRuleHasIds(), "recovery_ids.txt: a rule has no drive id");
static_assert(FirstStageSetsAreDisjoint(), "recovery_ids.txt: an id is in two first-stage sets");
// Two rules are made for the VARN internal drives themselves.
static_assert(InSet("row9", kInternalDriveB.driveId));
static_assert(InSet("keyD1", kInternalDriveC.driveId));

// Revisions shorter than 4 characters read as if NUL padded.
char UpperAt(std::string_view text, std::size_t index) {
  return index < text.size() ? UpperAscii(text[index]) : '\0';
}

bool MarkMatches(const FirstStageRule& rule, std::string_view mark) {
  if (rule.comparison == MarkComparison::Exact) return mark == rule.mark;
  return mark.size() == rule.mark.size() &&
         std::ranges::equal(mark, rule.mark, {}, UpperAscii, UpperAscii);
}

bool AcceptedByFirstStage(const RecoveryCandidate& candidate) {
  const auto rule = std::ranges::find_if(
      kFirstStageRules, [&](const FirstStageRule& r) { return InSet(r.idSet, candidate.driveId); });
  return rule != kFirstStageRules.end() && candidate.altProductName.starts_with(rule->code) &&
         MarkMatches(*rule, candidate.variantMark);
}

bool AcceptedBySecondStage(const RecoveryCandidate& candidate) {
  const char key[] = {UpperAt(candidate.driveRevision, 2), UpperAt(candidate.driveRevision, 3)};
  const auto rule = std::ranges::find(kSecondStageRules, std::string_view(key, sizeof key),
                                      &SecondStageRule::key);
  if (rule == kSecondStageRules.end()) return false;
  if (!InSet(rule->idSet, candidate.driveId)) return false;
  if (rule->packageForThisDrive && candidate.packageId != candidate.driveId) return false;
  return std::ranges::any_of(rule->prefixes, [&](std::string_view prefix) {
    return !prefix.empty() && candidate.altProductName.starts_with(prefix);
  });
}

}  // namespace

bool IsRecoveryRevision(std::string_view driveRevision) {
  return UpperAt(driveRevision, 0) == 'F' && UpperAt(driveRevision, 1) == 'S';
}

std::span<const RecoveryIdRow> RecoveryIdRows() { return kIdRows; }

bool MatchRecoveryRule(const RecoveryCandidate& candidate) {
  if (!IsRecoveryRevision(candidate.driveRevision)) return false;
  return AcceptedByFirstStage(candidate) || AcceptedBySecondStage(candidate);
}

}  // namespace tslflash
