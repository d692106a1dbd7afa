// The history's records: each line read back as it was written, completions
// folded into their records, bad lines skipped one warning each, and what
// --history prints.
#include "app/update_history.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "app/history_text.h"
#include "app/json_report.h"
#include "tests/app/history_samples.h"

namespace tslflash {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::SampleRecord;
using Json = nlohmann::ordered_json;

std::vector<std::string> IdsOf(const HistoryRead& read) {
  std::vector<std::string> ids;
  for (const HistoryRecord& record : read.records) ids.push_back(record.id);
  return ids;
}

HistoryRecord Variant(std::function<void(HistoryRecord&)> change) {
  HistoryRecord record = SampleRecord("r");
  change(record);
  return record;
}

TEST(UpdateHistoryRecord, EveryFieldIsReadBackAsItWasWritten) {
  const std::vector<HistoryRecord> records{
      SampleRecord("full"),
      Variant([](HistoryRecord& r) {  // completed, no outcome, the extremes of each number
        r.outcome.reset();
        r.completed = true;
        r.confirmation = Confirmation::WrittenNotActive;
        r.drive.enclosureIdentity.clear();
        r.checks.clear();
        r.package.imageLinearSum = 0;
        r.package.imageRotatedSum = 0xFFFF;
        r.unitsSent = 0xFFFFFFFF;
        r.unitsTotal = 0;
      }),
      Variant(
          [](HistoryRecord& r) { r.drive.location = "\\\\.\\E:"; }),  // Windows, escaped in JSON
      Variant([](HistoryRecord& r) { r.confirmationTime = "2026-12-12T08:00:00Z"; }),
      Variant([](HistoryRecord& r) {  // a run's open record, before it changes the drive
        r.open = true;
        r.outcome.reset();
        r.unitsSent = 0;
        r.confirmation = Confirmation::NotChecked;
        r.reportedRevision.clear();
      }),
  };
  for (const Confirmation confirmation :
       {Confirmation::NotChecked, Confirmation::Confirmed, Confirmation::WrittenNotActive,
        Confirmation::NotConfirmed, Confirmation::NoAnswer, Confirmation::Interrupted}) {
    SCOPED_TRACE(ConfirmationName(confirmation));
    const HistoryRecord record = Variant([&](HistoryRecord& r) { r.confirmation = confirmation; });
    const HistoryRead read = ReadHistoryText(EncodeHistoryRecord(record) + "\n");
    ASSERT_EQ(read.records.size(), 1u);
    EXPECT_EQ(read.records[0].confirmation, confirmation);
  }
  for (const HistoryRecord& record : records) {
    SCOPED_TRACE(record.id);
    const std::string line = EncodeHistoryRecord(record);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_TRUE(line.starts_with(R"({"kind":"update","schemaVersion":1,)")) << line;
    const HistoryRead read = ReadHistoryText(line + "\n");
    EXPECT_THAT(read.warnings, IsEmpty());
    EXPECT_EQ(read.error, "");
    ASSERT_EQ(read.records.size(), 1u);
    EXPECT_EQ(read.records[0], record);
  }
  // The sums are written as HexWord shows them.
  EXPECT_NE(EncodeHistoryRecord(SampleRecord("x")).find(R"("imageLinearSum":"00AB")"),
            std::string::npos);
}

TEST(UpdateHistoryRecord, DriveTextThatIsNotUtf8IsWrittenAsAReadableLine) {
  const HistoryRecord record = Variant([](HistoryRecord& r) {
    r.drive.vendor = "AB\xFF\xFE";
    r.drive.product = std::string("P\0Q", 3);
  });
  const HistoryRead read = ReadHistoryText(EncodeHistoryRecord(record) + "\n");
  EXPECT_THAT(read.warnings, IsEmpty());
  ASSERT_EQ(read.records.size(), 1u);
  EXPECT_EQ(read.records[0].drive.vendor, "AB\xEF\xBF\xBD\xEF\xBF\xBD");  // U+FFFD each
  EXPECT_EQ(read.records[0].drive.product, std::string("P\0Q", 3));
}

TEST(UpdateHistoryFolding, ACompletionChangesOnlyTheRecordItNames) {
  HistoryRecord first = SampleRecord("first");
  first.confirmation = Confirmation::WrittenNotActive;
  first.reportedRevision = "";
  const HistoryRecord second = SampleRecord("second");
  const std::string text =
      EncodeHistoryRecord(first) + "\n" + EncodeHistoryRecord(second) + "\n" +
      EncodeHistoryCompletion({"first", "2026-12-12T08:00:00Z", Confirmation::NoAnswer, ""}) +
      "\n" +
      EncodeHistoryCompletion({"first", "2026-12-12T08:05:00Z", Confirmation::Confirmed, "1.05"}) +
      "\n";
  const HistoryRead read = ReadHistoryText(text);
  EXPECT_THAT(read.warnings, IsEmpty());
  ASSERT_THAT(IdsOf(read), ElementsAre("first", "second"));
  HistoryRecord folded = first;  // the later completion holds
  folded.confirmation = Confirmation::Confirmed;
  folded.reportedRevision = "1.05";
  folded.confirmationTime = "2026-12-12T08:05:00Z";
  EXPECT_EQ(read.records[0], folded);
  EXPECT_EQ(read.records[1], second);
}

// A run's open record, then a line that names it (or none): where the record
// stands and what it says afterwards. Another record between them keeps its
// place.
TEST(UpdateHistoryFolding, ALaterLineNamingAnOpenRecordClosesItInItsPlace) {
  HistoryRecord open = SampleRecord("run");
  open.open = true;
  open.outcome.reset();
  open.confirmation = Confirmation::NotChecked;
  HistoryRecord ended = SampleRecord("run");
  ended.confirmation = Confirmation::WrittenNotActive;
  const std::string interrupted =
      EncodeHistoryCompletion({"run", "2026-12-12T08:00:00Z", Confirmation::Interrupted, "FS01"});
  HistoryRecord judged = open;
  judged.open = false;
  judged.confirmation = Confirmation::Interrupted;
  judged.reportedRevision = "FS01";
  judged.confirmationTime = "2026-12-12T08:00:00Z";
  // Lines written before records could be open have no "open" member.
  Json old = Json::parse(EncodeHistoryRecord(ended));
  old.erase("open");
  const struct {
    const char* name;
    std::vector<std::string> later;  // after the open record and another
    HistoryRecord result;
    bool unsettled;  // a later line may still change it
  } rows[] = {
      {"nothing since: cut off, or still running", {}, open, true},
      {"the run's end", {EncodeHistoryRecord(ended)}, ended, true},
      {"the next start's judgement", {interrupted}, judged, false},
      {"an open copy carried over after the judgement",
       {interrupted, EncodeHistoryRecord(open)},
       judged,
       false},
      {"an open copy carried over after the end",
       {EncodeHistoryRecord(ended), EncodeHistoryRecord(open)},
       ended,
       true},
      {"the end after a judgement made while it ran",
       {interrupted, EncodeHistoryRecord(ended)},
       ended,
       true},
      {"a line written before records could be open", {old.dump()}, ended, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string text =
        EncodeHistoryRecord(open) + "\n" + EncodeHistoryRecord(SampleRecord("other")) + "\n";
    for (const std::string& line : row.later) text += line + "\n";
    const HistoryRead read = ReadHistoryText(text);
    EXPECT_THAT(read.warnings, IsEmpty());
    ASSERT_THAT(IdsOf(read), ElementsAre("run", "other"));
    EXPECT_EQ(read.records[0], row.result);
    EXPECT_EQ(IsUnsettled(read.records[0]), row.unsettled);
  }
}

// A line of the sample record, changed.
std::string Changed(std::function<void(Json&)> change) {
  Json line = Json::parse(EncodeHistoryRecord(SampleRecord("changed")));
  change(line);
  return line.dump();
}

struct BadLine {
  std::string name;
  std::string line;
  std::string warning;  // for line 2 of the text
};

TEST(UpdateHistoryFolding, EachBadLineIsSkippedWithOneWarningAndTheOthersAreRead) {
  const std::string incomplete = "history: line 2 is incomplete and was skipped";
  const std::string good = EncodeHistoryRecord(SampleRecord("good"));
  const std::vector<BadLine> rows{
      {"not JSON", "garbage", incomplete},
      {"torn", good.substr(0, good.size() - 1), incomplete},
      {"not an object", "[1,2]", incomplete},
      {"empty object", "{}", incomplete},
      {"field missing", Changed([](Json& j) { j.erase("completed"); }), incomplete},
      {"nested field missing", Changed([](Json& j) { j["drive"].erase("location"); }), incomplete},
      {"negative count", Changed([](Json& j) { j["transfer"]["sent"] = -1; }), incomplete},
      {"count too large", Changed([](Json& j) { j["transfer"]["total"] = 1ULL << 32; }),
       incomplete},
      {"count as text", Changed([](Json& j) { j["transfer"]["sent"] = "3"; }), incomplete},
      {"sum of three digits", Changed([](Json& j) { j["package"]["imageLinearSum"] = "0AB"; }),
       incomplete},
      {"sum not hex", Changed([](Json& j) { j["package"]["imageRotatedSum"] = "0x1F"; }),
       incomplete},
      {"outcome without code", Changed([](Json& j) { j["outcome"].erase("code"); }), incomplete},
      {"outcome code beyond int", Changed([](Json& j) { j["outcome"]["code"] = 1LL << 40; }),
       incomplete},
      {"check without result", Changed([](Json& j) { j["checks"][1].erase("result"); }),
       incomplete},
      {"unknown confirmation", Changed([](Json& j) { j["confirmation"] = "maybe"; }), incomplete},
      {"open not a flag", Changed([](Json& j) { j["open"] = "yes"; }), incomplete},
      {"empty id", Changed([](Json& j) { j["id"] = ""; }), incomplete},
      {"unknown kind", Changed([](Json& j) { j["kind"] = "note"; }), incomplete},
      {"no schema version", Changed([](Json& j) { j.erase("schemaVersion"); }), incomplete},
      {"newer schema", Changed([](Json& j) { j["schemaVersion"] = 2; }),
       "history: line 2 was written by a newer version and was skipped"},
      {"completion of no record",
       EncodeHistoryCompletion(
           {"elsewhere", "2026-12-12T08:00:00Z", Confirmation::Confirmed, "1.05"}),
       "history: line 2 completes a record that is not before it and was skipped"},
      {"completion with unknown state", Changed([](Json& j) {
         j = Json::parse(EncodeHistoryCompletion(
             {"first", "2026-12-12T08:00:00Z", Confirmation::Confirmed, "1.05"}));
         j["confirmation"] = "yes";
       }),
       incomplete},
  };
  for (const BadLine& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string text = EncodeHistoryRecord(SampleRecord("first")) + "\n" + row.line + "\n" +
                             EncodeHistoryRecord(SampleRecord("third")) + "\n";
    const HistoryRead read = ReadHistoryText(text);
    EXPECT_THAT(read.warnings, ElementsAre(row.warning));
    EXPECT_THAT(IdsOf(read), ElementsAre("first", "third"));
    EXPECT_EQ(read.records[0], SampleRecord("first"));
  }
}

TEST(UpdateHistoryFolding, BlankLinesAreNotRecordsButCountInLineNumbers) {
  const std::string text = "\n  \n" + EncodeHistoryRecord(SampleRecord("a")) + "\r\n\n{\"kind\"\n" +
                           EncodeHistoryRecord(SampleRecord("b"));  // the last without its end
  const HistoryRead read = ReadHistoryText(text);
  EXPECT_THAT(read.warnings, ElementsAre("history: line 5 is incomplete and was skipped"));
  EXPECT_THAT(IdsOf(read), ElementsAre("a", "b"));
  EXPECT_THAT(ReadHistoryText("").records, IsEmpty());
}

TEST(UpdateHistoryRecord, TimesAreUtcToTheSecondAndIdsDiffer) {
  using namespace std::chrono;
  const auto time = sys_days{2028y / 2 / 29} + 23h + 59min + 58s + 999ms;
  EXPECT_EQ(HistoryTime(time), "2028-02-29T23:59:58Z");
  EXPECT_EQ(HistoryTime(system_clock::time_point{}), "1970-01-01T00:00:00Z");
  const std::string id = NewHistoryId(time);
  EXPECT_TRUE(std::regex_match(id, std::regex("20280229T235958Z-[0-9a-f]{16}"))) << id;
  EXPECT_NE(NewHistoryId(time), id);
}

TEST(HistoryReport, TextShowsTheNewestFirstOneBlockEach) {
  HistoryRecord older = SampleRecord("older");
  older.drive.enclosureIdentity.clear();
  older.confirmation = Confirmation::Confirmed;
  older.reportedRevision = "1.05";
  older.confirmationTime = "2026-12-12T08:00:00Z";
  older.outcome = HistoryOutcome{5, "Updating incomplete! \n\nPlease retry\nafter a reboot.\n"};
  HistoryRecord newer = SampleRecord("newer");
  newer.time = "2026-12-13T10:00:00Z";
  newer.drive.vendor = "EVIL\x1B[2J";  // a terminal control sequence
  newer.drive.product =
      "X\xC2\x9B"
      "31m";  // C1 control sequence introducer, in UTF-8
  newer.outcome.reset();
  newer.completed = true;
  newer.confirmation = Confirmation::WrittenNotActive;
  newer.reportedRevision.clear();
  EXPECT_EQ(HistoryText({older, newer}),
            "2026-12-13T10:00:00Z  EVIL?[2J X?31m 1.02 (enclosure Gehäuse ÜSB-3) at /dev/sg1\n"
            "  Package:      TESSEL  DVD-RW TS-H653 revision 1.05 (SHA-256 "
            "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08)\n"
            "  Protocol:     summed-pages\n"
            "  Sent:         3 of 8 pages\n"
            "  Outcome:      completed\n"
            "  Confirmation: written, not yet active\n"
            "\n"
            "2026-12-11T01:53:11Z  TESSEL DVD-RW TS-H653 1.02 at /dev/sg1\n"
            "  Package:      TESSEL  DVD-RW TS-H653 revision 1.05 (SHA-256 "
            "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08)\n"
            "  Protocol:     summed-pages\n"
            "  Sent:         3 of 8 pages\n"
            "  Outcome:      Updating incomplete! Please retry after a reboot. (code 5)\n"
            "  Confirmation: now running the new firmware; the drive reported revision 1.05 "
            "(checked 2026-12-12T08:00:00Z)\n");
  EXPECT_EQ(HistoryText({}), "No updates are recorded.\n");
  HistoryRecord open = older;
  open.open = true;
  EXPECT_THAT(HistoryText({open}),
              ::testing::HasSubstr("\n  Sent:         not recorded (8 pages to send)\n"
                                   "  Outcome:      not recorded: the update is still running, or "
                                   "it was cut off\n"));
}

TEST(HistoryReport, JsonListsTheFoldedRecordsUnderTheCommonHeader) {
  HistoryRecord record = SampleRecord("one");
  record.confirmation = Confirmation::Confirmed;
  record.confirmationTime = "2026-12-12T08:00:00Z";
  const Json document = Json::parse(HistoryJson({record, SampleRecord("two")}, 0));
  EXPECT_EQ(document["schemaVersion"], 1);
  EXPECT_EQ(document["command"], "history");
  EXPECT_EQ(document["exitStatus"], 0);
  ASSERT_EQ(document["records"].size(), 2u);
  const Json& first = document["records"][0];
  EXPECT_EQ(first["id"], "one");
  EXPECT_EQ(first["confirmation"], "confirmed");
  EXPECT_EQ(first["confirmationTime"], "2026-12-12T08:00:00Z");
  EXPECT_EQ(first["package"]["imageRotatedSum"], "F00D");
  EXPECT_EQ(first["transfer"], Json::parse(R"({"unit":"pages","sent":3,"total":8})"));
  EXPECT_EQ(first["outcome"], Json::parse(R"({"code":4,"text":"On Command Fail !!"})"));
  EXPECT_FALSE(first.contains("kind"));
  EXPECT_TRUE(document["records"][1]["confirmationTime"].is_null());
  EXPECT_EQ(first["open"], false);
  EXPECT_EQ(Json::parse(HistoryJson({}, 1))["records"], Json::array());
}

// A run cut off before its end sent an unknown number of units: the listing
// says so rather than the count its record was started with.
TEST(HistoryReport, JsonGivesACutOffRunNoCountOfUnitsSent) {
  HistoryRecord open = SampleRecord("open");
  open.open = true;
  HistoryRecord closed = SampleRecord("closed");
  closed.outcome.reset();
  closed.completed = false;
  closed.confirmation = Confirmation::Interrupted;
  const Json document = Json::parse(HistoryJson({open, closed, SampleRecord("ended")}, 0));
  EXPECT_EQ(document["records"][0]["transfer"],
            Json::parse(R"({"unit":"pages","sent":null,"total":8})"));
  EXPECT_TRUE(document["records"][1]["transfer"]["sent"].is_null());
  EXPECT_EQ(document["records"][2]["transfer"]["sent"], 3);
}

}  // namespace
}  // namespace tslflash
