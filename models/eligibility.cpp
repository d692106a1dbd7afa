#include "models/eligibility.h"

#include <string>

#include "models/model_traits.h"
#include "models/recovery_rules.h"

namespace tslflash {
namespace {

constexpr std::size_t kRevisionLength = 4;
constexpr char kWildcard = '*';
constexpr char kBlank = ' ';
constexpr unsigned kLow7Bits = 0x7F;

// A fixed-width field of a text; what the text lacks reads as NUL bytes.
std::string FieldOf(std::string_view text, std::size_t width) {
  std::string field(text.substr(0, width));
  field.resize(width, '\0');
  return field;
}

unsigned UpperByte(char c) { return static_cast<unsigned char>(UpperAscii(c)); }

}  // namespace

RevisionVerdict CompareRevisions(const RevisionCheck& check) {
  const std::string pattern = FieldOf(check.pattern, kRevisionLength);
  const std::string package = FieldOf(check.packageRevision, kRevisionLength);
  const std::string drive = FieldOf(check.driveRevision, kRevisionLength);

  // First pass: the fixed positions must read like the pattern.
  std::size_t wildcards = 0;
  for (std::size_t i = 0; i < kRevisionLength; ++i) {
    if (pattern[i] == kWildcard) {
      if (++wildcards == kRevisionLength) return RevisionVerdict::Proceed;
      continue;
    }
    if (pattern[i] == kBlank && package[i] == '\0' && drive[i] == kBlank) continue;
    if (UpperByte(package[i]) != UpperByte(pattern[i])) return RevisionVerdict::NotFitting;
    if (UpperByte(drive[i]) != UpperByte(pattern[i])) {
      // A package for a whole model also serves drives that name their
      // revisions differently.
      return check.genericPackage ? RevisionVerdict::Proceed : RevisionVerdict::NotFitting;
    }
  }

  // Second pass: the wildcard positions, left to right, decide.
  std::size_t equal = 0;
  for (std::size_t i = 0; i < kRevisionLength; ++i) {
    const unsigned d = UpperByte(drive[i]);
    const unsigned p = UpperByte(package[i]);
    if (pattern[i] != kWildcard) {
      if ((d & kLow7Bits) != (p & kLow7Bits)) return RevisionVerdict::NotFitting;
      continue;
    }
    if (d < p) return RevisionVerdict::Proceed;
    if (d > p) {
      return check.downgradeForbidden ? RevisionVerdict::NoDowngrade : RevisionVerdict::Newer;
    }
    if (++equal == wildcards) return RevisionVerdict::Same;
  }
  return RevisionVerdict::Proceed;
}

ThresholdVerdict ClassifyByThreshold(std::string_view driveRevision, std::string_view threshold,
                                     std::string_view modelCode) {
  const std::string drive = FieldOf(driveRevision, kRevisionLength);
  const std::string limit = FieldOf(threshold, kRevisionLength);
  for (std::size_t i = 0; i < kRevisionLength; ++i) {
    // The first three characters count on their low 7 bits only.
    const unsigned mask = i < kRevisionLength - 1 ? kLow7Bits : 0xFF;
    const unsigned d = UpperByte(drive[i]) & mask;
    const unsigned v = UpperByte(limit[i]) & mask;
    if (d > v) return ThresholdVerdict::CheckHardwareClass;
    if (d < v) break;
  }
  switch (TraitsOf(modelCode).atThreshold) {
    case AtThreshold::NoDowngrade:
      return ThresholdVerdict::NoDowngrade;
    case AtThreshold::PresetModelCode:
      return ThresholdVerdict::PresetModelCode;
    case AtThreshold::Nothing:
      break;
  }
  return ThresholdVerdict::None;
}

}  // namespace tslflash
