// The recovery rule list: both stages with the id sets as shipped, and the
// shipped id sets against the catalogue.
#include "models/recovery_rules.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "models/model_catalogue.h"

namespace tslflash {
namespace {

using ::testing::Contains;
using ::testing::UnorderedElementsAreArray;

constexpr std::string_view kAnyDrive = "*                       ";

struct Case {
  const char* name;
  std::string_view revision;
  std::string_view driveId;
  std::string_view packageId;  // empty: a package for any drive
  std::string_view altProductName;
  std::string_view mark;
  bool accepted;
};

void ExpectVerdicts(std::span<const Case> cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string altProductName =
        std::string(c.altProductName)
            .append(10 - std::min<std::size_t>(10, c.altProductName.size()), '\0');
    const RecoveryCandidate candidate{c.revision, c.driveId,
                                      c.packageId.empty() ? kAnyDrive : c.packageId, altProductName,
                                      c.mark};
    EXPECT_EQ(MatchRecoveryRule(candidate), c.accepted);
  }
}

TEST(RecoveryRulesTest, OnlyARevisionBeginningFsEntersTheRules) {
  const Case cases[] = {
      {"upper case", "FS12", "KOVA    DVD-RW TX2300   ", "", "TX2300", "KV", true},
      {"lower case", "fs12", "KOVA    DVD-RW TX2300   ", "", "TX2300", "KV", true},
      {"mixed case", "fS12", "KOVA    DVD-RW TX2300   ", "", "TX2300", "KV", true},
      {"FS second and third", "1FS2", "KOVA    DVD-RW TX2300   ", "", "TX2300", "KV", false},
      {"an ordinary revision", "1.00", "KOVA    DVD-RW TX2300   ", "", "TX2300", "KV", false},
      {"too short to say", "F", "KOVA    DVD-RW TX2300   ", "", "TX2300", "KV", false},
  };
  ExpectVerdicts(cases);
  EXPECT_TRUE(IsRecoveryRevision("Fs"));
  EXPECT_FALSE(IsRecoveryRevision(""));
}

TEST(RecoveryRulesTest, FirstStageTakesItsCodeAndMarkWhateverFollowsFs) {
  const Case cases[] = {
      {"row 1", "FS00", "VESTRAL DVDRW VS-1640L  ", "", "TX2300", "TW", true},
      {"row 1 takes its mark exactly", "FS00", "VESTRAL DVDRW VS-1640   ", "", "TX2300", "tw",
       false},
      {"row 2 in upper case", "FS00", "VESTRAL DVDRW VS-1642   ", "", "TX2300", "VL", true},
      {"row 2 in any case", "FS00", "VESTRAL DVDRW VS-1642L  ", "", "TX2300", "vL", true},
      {"row 2 wrong mark", "FS00", "VESTRAL DVDRW VS-1642L  ", "", "TX2300", "TW", false},
      {"row 3", "FSZZ", "IDE-DVD RW 16X8X        ", "", "TX2300", "MZ", true},
      {"row 4", "FS99", "KOVA    DVD-RW TX2300   ", "", "TX2300", "KV", true},
      {"row 4 lower-case mark", "FS99", "KOVA    DVD-RW TX2300   ", "", "TX2300", "kv", false},
      {"row 5", "FS  ", "ATAPI   DVD RW 16X8X S  ", "", "TX2300", "QG", true},
      {"row 6", "FS01", "NX      DVDRW NX-1652A  ", "", "TX2350", "NX", true},
      {"row 7 in any case", "FS01", "VESTRAL DVDRW VS-1660   ", "", "TX2350", "vl", true},
      {"row 8", "FS01", "KOVA    DVD-RW TX2350   ", "", "TX2350", "KV", true},
      {"row 9", "FS01", "VARN    DVD RW LPX-407A ", "", "TX2350", "VR", true},
      {"only 6 characters of the name count", "FS01", "KOVA    DVD-RW TX2350   ", "", "TX2350EXTR",
       "KV", true},
      {"another row's code", "FS01", "KOVA    DVD-RW TX2350   ", "", "TX2300", "KV", false},
      // Row 9's drive with another mark falls through to the second stage,
      // where no rule names it.
      {"row 9 with mark KV", "FSD1", "VARN    DVD RW LPX-407A ", "", "TX2350", "KV", false},
      {"an id no rule names", "FS01", "KOVA    DVD-RW TX2250   ", "", "TX2250", "KV", false},
  };
  ExpectVerdicts(cases);
}

TEST(RecoveryRulesTest, SecondStageIsChosenByTheRevisionKey) {
  constexpr std::string_view kKovaTq70 = "KOVA    DVD-ROM TQ70    ";
  constexpr std::string_view kAtapiTq70 = "ATAPI   DVD-ROM 16X     ";
  constexpr std::string_view kKova2370 = "KOVA    DVD-RW TX2370   ";
  constexpr std::string_view kKova2370S = "KOVA    DVD-RW TX2370S  ";
  constexpr std::string_view kLpx412 = "VARN    DVD RW LPX-412A ";
  const Case cases[] = {
      {"01, maker's TQ70 with its own package", "FS01", kKovaTq70, kKovaTq70, "TQ70", "TW", true},
      {"01, ATAPI TQ70 with its own package", "FS01", kAtapiTq70, kAtapiTq70, "TQ70", "TW", true},
      {"01, each id needs its own package", "FS01", kKovaTq70, kAtapiTq70, "TQ70", "TW", false},
      {"01, not a package for any drive", "FS01", kAtapiTq70, "", "TQ70", "TW", false},
      {"01, 4 characters of the name count", "FS01", kKovaTq70, kKovaTq70, "TQ70B", "TW", true},
      {"02, TX2100", "FS02", "ATAPI   DVD RW 8X4X     ", "", "TX2100", "TW", true},
      {"02, TX2110", "FS02", "ATAPI   DVD RW 8X4X     ", "", "TX2110", "TW", true},
      {"02, TX2120", "FS02", "ATAPI   DVD RW 8X4X     ", "", "TX2120", "TW", true},
      {"02, TX2125 is not among them", "FS02", "ATAPI   DVD RW 8X4X     ", "", "TX2125", "TW",
       false},
      {"04", "FS04", "NX      DVDRW NX-0846A  ", "", "TX2125", "TW", true},
      {"10", "FS10", "ATAPI   CD-R 48X        ", "", "TR200K", "TW", true},
      {"11, ZIRA", "FS11", "ZIRA    ZR-DVD 1648     ", "", "TQ70", "TW", true},
      {"11, maker's TQ70, any package", "FS11", kKovaTq70, "", "TQ70", "TW", true},
      {"21, ATAPI TQ70 with its own package", "FS21", kAtapiTq70, kAtapiTq70, "TQ70", "TW", true},
      {"21, not the maker's TQ70", "FS21", kKovaTq70, kKovaTq70, "TQ70", "TW", false},
      {"31", "FS31", "DUNMORE DM-DVD 1648     ", "", "TQ70", "TW", true},
      {"A1, TX2370 with its own package", "FSA1", kKova2370, kKova2370, "TX2370", "TW", true},
      {"A1, TX2370S with its own package", "FSA1", kKova2370S, kKova2370S, "TX2370", "TW", true},
      {"A1, the other id's package", "FSA1", kKova2370, kKova2370S, "TX2370", "TW", false},
      {"a1 reads as A1", "fsa1", kKova2370S, kKova2370S, "TX2370", "TW", true},
      {"B1, any package", "FSB1", kKova2370S, "", "TX2370", "TW", true},
      {"C1", "FSC1", "ATAPI   DVD RW 18X8X    ", "", "TX2370", "TW", true},
      {"D1, the model code", "FSD1", kLpx412, "", "TX2370", "VR", true},
      {"D1, the enclosure", "FSd1", kLpx412, "", "EPX-412UX ", "VR", true},
      {"D1, 9 characters of the enclosure count", "FSD1", kLpx412, "", "EPX-412UXT", "VR", true},
      {"D1, another enclosure", "FSD1", kLpx412, "", "EPX-402UX ", "VR", false},
      {"E1", "FSE1", "VESTRAL DVDRW VS-1840   ", "", "TX2370", "TW", true},
      {"F1", "FSF1", "DUNMORE DM-DVDRW 1812   ", "", "TX2370", "TW", true},
      {"F1, an id of another key", "FSF1", "VESTRAL DVDRW VS-1840   ", "", "TX2370", "TW", false},
      {"a key without a rule", "FS99", kKova2370, kKova2370, "TX2370", "TW", false},
  };
  ExpectVerdicts(cases);
}

std::vector<std::string_view> CodesOf(std::string_view idSet) {
  for (const FirstStageRule& rule : kFirstStageRules) {
    if (rule.idSet == idSet) return {rule.code};
  }
  for (const SecondStageRule& rule : kSecondStageRules) {
    if (rule.idSet == idSet) return {rule.prefixes.begin(), rule.prefixes.end()};
  }
  return {};
}

// Every shipped id is a catalogued drive of a model its rule accepts, so the
// rules and the drive tree agree on what the drive is.
TEST(RecoveryRulesTest, EveryShippedIdIsCataloguedWithACodeItsRuleTakes) {
  for (const RecoveryIdRow& row : RecoveryIdRows()) {
    SCOPED_TRACE(std::string(row.driveId) + " in " + std::string(row.idSet));
    const auto code = LookUpModelCode(row.driveId);
    ASSERT_TRUE(code.has_value());
    EXPECT_THAT(CodesOf(row.idSet), Contains(*code));
  }
}

std::vector<std::string_view> IdsOf(std::string_view idSet) {
  std::vector<std::string_view> ids;
  for (const RecoveryIdRow& row : RecoveryIdRows()) {
    if (row.idSet == idSet) ids.push_back(row.driveId);
  }
  return ids;
}

std::vector<std::string_view> VendorsOf(std::string_view idSet) {
  std::vector<std::string_view> vendors;
  for (const std::string_view id : IdsOf(idSet)) vendors.push_back(id.substr(0, 8));
  return vendors;
}

// The sets are ours to fill, but each rule says whose drives it names.
TEST(RecoveryRulesTest, ShippedSetsHoldTheDrivesEachRuleNames) {
  struct Set {
    std::string_view idSet;
    std::vector<std::string_view> vendors;
  };
  const Set sets[] = {
      {"row1", {"VESTRAL ", "VESTRAL "}},
      {"row2", {"VESTRAL ", "VESTRAL "}},
      {"row3", {"IDE-DVD "}},
      {"row4", {"KOVA    "}},
      {"row5", {"ATAPI   ", "ATAPI   "}},
      {"row6", {"NX      "}},
      {"row7", {"VESTRAL "}},
      {"row8", {"KOVA    "}},
      {"row9", {"VARN    "}},
      {"key01", {"KOVA    ", "ATAPI   "}},
      {"key02", {"ATAPI   "}},
      {"key04", {"NX      "}},
      {"key10", {"ATAPI   "}},
      {"key11", {"ZIRA    ", "KOVA    "}},
      {"key21", {"ATAPI   "}},
      {"key31", {"DUNMORE "}},
      {"keyA1", {"KOVA    ", "KOVA    "}},
      {"keyB1", {"KOVA    ", "KOVA    "}},
      {"keyC1", {"ATAPI   "}},
      {"keyD1", {"VARN    "}},
      {"keyE1", {"VESTRAL "}},
      {"keyF1", {"DUNMORE "}},
  };
  for (const Set& set : sets) {
    SCOPED_TRACE(set.idSet);
    EXPECT_THAT(VendorsOf(set.idSet), UnorderedElementsAreArray(set.vendors));
  }
  // The ATAPI TQ70 drive of key 21 is the one of key 01; A1 and B1 name the
  // same two maker drives; the maker's own ids are where the rules say.
  EXPECT_THAT(IdsOf("keyA1"), UnorderedElementsAreArray(IdsOf("keyB1")));
  EXPECT_THAT(IdsOf("key01"), Contains(IdsOf("key21").front()));
  EXPECT_THAT(IdsOf("key01"), Contains("KOVA    DVD-ROM TQ70    "));
  EXPECT_THAT(IdsOf("key11"), Contains("KOVA    DVD-ROM TQ70    "));
  EXPECT_THAT(IdsOf("keyA1"), Contains("KOVA    DVD-RW TX2370   "));
  EXPECT_THAT(IdsOf("row4"), Contains("KOVA    DVD-RW TX2300   "));
  EXPECT_THAT(IdsOf("row8"), Contains("KOVA    DVD-RW TX2350   "));
}

}  // namespace
}  // namespace tslflash
