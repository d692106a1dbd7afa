#include "app/update_history.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <limits>
#include <random>
#include <unordered_map>
#include <utility>

#include "app/history_record_json.h"
#include "update/hex_text.h"

namespace tslflash {
namespace {

using Json = nlohmann::ordered_json;

struct ConfirmationWords {
  Confirmation confirmation;
  std::string_view name;
  std::string_view text;
};

constexpr std::array<ConfirmationWords, 6> kConfirmations{{
    {Confirmation::NotChecked, "not-checked", "not yet checked"},
    {Confirmation::Confirmed, "confirmed", "now running the new firmware"},
    {Confirmation::WrittenNotActive, "written-not-active", "written, not yet active"},
    {Confirmation::NotConfirmed, "not-confirmed", "still the old firmware"},
    {Confirmation::NoAnswer, "no-answer", "the drive did not answer"},
    {Confirmation::Interrupted, "interrupted", "interrupted"},
}};

const ConfirmationWords& WordsOf(Confirmation confirmation) {
  return *std::find_if(kConfirmations.begin(), kConfirmations.end(),
                       [confirmation](const ConfirmationWords& words) {
                         return words.confirmation == confirmation;
                       });
}

std::optional<Confirmation> ConfirmationNamed(std::string_view name) {
  for (const ConfirmationWords& words : kConfirmations) {
    if (words.name == name) return words.confirmation;
  }
  return std::nullopt;
}

// Exactly four hex digits, as HexWord writes a 16-bit sum.
std::optional<std::uint16_t> SumFromHex(std::string_view text) {
  std::uint16_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.size() != 4 || error != std::errc{} || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// Drive texts come from the drives: bytes that are not UTF-8 are replaced,
// so every line the file holds parses.
std::string Line(const Json& object) {
  return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json LineStart(std::string_view kind) {
  return Json{{"kind", kind}, {"schemaVersion", kHistorySchemaVersion}};
}

// Reads the fields of one object by type; the first one missing or of
// another type marks the whole line bad, and every read after it returns
// an empty value.
class FieldReader {
 public:
  explicit FieldReader(const Json& object) : object_(object), good_(object.is_object()) {}
  bool Good() const { return good_; }

  std::string Text(std::string_view key) {
    const Json* value = Find(key, [](const Json& v) { return v.is_string(); });
    return value ? value->get<std::string>() : std::string();
  }
  std::uint32_t Count(std::string_view key) {
    const Json* value = Find(key, [](const Json& v) {
      return v.is_number_unsigned() &&
             v.get<std::uint64_t>() <= std::numeric_limits<std::uint32_t>::max();
    });
    return value ? value->get<std::uint32_t>() : 0;
  }
  bool Flag(std::string_view key) {
    const Json* value = Find(key, [](const Json& v) { return v.is_boolean(); });
    return value && value->get<bool>();
  }
  std::uint16_t Sum(std::string_view key) {
    const std::optional<std::uint16_t> sum = SumFromHex(Text(key));
    if (!sum) good_ = false;
    return sum.value_or(0);
  }
  Confirmation ConfirmationAt(std::string_view key) {
    const std::optional<Confirmation> confirmation = ConfirmationNamed(Text(key));
    if (!confirmation) good_ = false;
    return confirmation.value_or(Confirmation::NotChecked);
  }
  // An object or array field; an empty one of that kind when it is bad.
  const Json& Part(std::string_view key, bool array) {
    const Json* value =
        Find(key, [array](const Json& v) { return array ? v.is_array() : v.is_object(); });
    return value ? *value : Empty();
  }
  // A field that may be null.
  const Json* Nullable(std::string_view key) {
    const Json* value = Find(key, [](const Json&) { return true; });
    return value && !value->is_null() ? value : nullptr;
  }
  // A field that lines written before it was added lack: false then.
  bool LaterFlag(std::string_view key) {
    if (!good_ || !object_.contains(key)) return false;
    return Flag(key);
  }
  void Fail() { good_ = false; }

 private:
  template <typename Fits>
  const Json* Find(std::string_view key, Fits fits) {
    if (!good_) return nullptr;
    const auto found = object_.find(key);
    if (found == object_.end() || !fits(*found)) {
      good_ = false;
      return nullptr;
    }
    return &*found;
  }
  static const Json& Empty() {
    static const Json empty;
    return empty;
  }

  const Json& object_;
  bool good_;
};

HistoryDrive DecodeDrive(FieldReader& line) {
  FieldReader fields(line.Part("drive", false));
  HistoryDrive drive{fields.Text("vendor"), fields.Text("product"), fields.Text("revision"),
                     fields.Text("enclosureIdentity"), fields.Text("location")};
  if (!fields.Good()) line.Fail();
  return drive;
}

HistoryPackage DecodePackage(FieldReader& line) {
  FieldReader fields(line.Part("package", false));
  HistoryPackage package{fields.Text("sha256"),        fields.Text("id"),
                         fields.Text("revision"),      fields.Text("protocol"),
                         fields.Sum("imageLinearSum"), fields.Sum("imageRotatedSum")};
  if (!fields.Good()) line.Fail();
  return package;
}

std::vector<HistoryCheck> DecodeChecks(FieldReader& line) {
  std::vector<HistoryCheck> checks;
  for (const Json& entry : line.Part("checks", true)) {
    FieldReader fields(entry);
    checks.push_back({fields.Text("check"), fields.Text("result")});
    if (!fields.Good()) line.Fail();
  }
  return checks;
}

std::optional<HistoryOutcome> DecodeOutcome(FieldReader& line) {
  const Json* value = line.Nullable("outcome");
  if (!value) return std::nullopt;
  FieldReader fields(*value);
  const Json* code = fields.Nullable("code");
  HistoryOutcome outcome{0, fields.Text("text")};
  if (!fields.Good() || !code || !code->is_number_integer() ||
      code->get<std::int64_t>() < std::numeric_limits<int>::min() ||
      code->get<std::int64_t>() > std::numeric_limits<int>::max()) {
    line.Fail();
    return std::nullopt;
  }
  outcome.code = code->get<int>();
  return outcome;
}

std::optional<HistoryRecord> DecodeRecord(FieldReader& line) {
  HistoryRecord record;
  record.id = line.Text("id");
  record.time = line.Text("time");
  record.toolVersion = line.Text("toolVersion");
  record.drive = DecodeDrive(line);
  record.package = DecodePackage(line);
  record.checks = DecodeChecks(line);
  FieldReader transfer(line.Part("transfer", false));
  record.unit = transfer.Text("unit");
  record.unitsSent = transfer.Count("sent");
  record.unitsTotal = transfer.Count("total");
  if (!transfer.Good()) line.Fail();
  record.outcome = DecodeOutcome(line);
  record.completed = line.Flag("completed");
  record.confirmation = line.ConfirmationAt("confirmation");
  record.reportedRevision = line.Text("reportedRevision");
  if (const Json* time = line.Nullable("confirmationTime")) {
    if (time->is_string())
      record.confirmationTime = time->get<std::string>();
    else
      line.Fail();
  }
  record.open = line.LaterFlag("open");
  if (!line.Good() || record.id.empty()) return std::nullopt;
  return record;
}

std::optional<HistoryCompletion> DecodeCompletion(FieldReader& line) {
  HistoryCompletion completion{line.Text("record"), line.Text("time"),
                               line.ConfirmationAt("confirmation"), line.Text("reportedRevision")};
  if (!line.Good()) return std::nullopt;
  return completion;
}

// Folds the lines of history files into their records, in file order.
class HistoryFolder {
 public:
  // The file whose lines are taken next.
  void StartPart(const HistoryPart& part) {
    part_ = part.name;
    headDropped_ = part.headDropped;
  }

  void Take(std::size_t number, std::string_view text) {
    const Json line = Json::parse(text, nullptr, false);
    FieldReader fields(line);
    const Json* version = fields.Nullable("schemaVersion");
    if (version && version->is_number_unsigned() &&
        version->get<std::uint64_t>() > static_cast<std::uint64_t>(kHistorySchemaVersion)) {
      read_.warnings.push_back(Skipped(number, "was written by a newer version"));
      return;
    }
    if (!version || *version != kHistorySchemaVersion) fields.Fail();
    const std::string kind = fields.Text("kind");
    if (kind == "update") {
      if (std::optional<HistoryRecord> record = DecodeRecord(fields))
        return Add(std::move(*record));
    } else if (kind == "completion") {
      if (const std::optional<HistoryCompletion> completion = DecodeCompletion(fields)) {
        return Complete(number, *completion);
      }
    }
    read_.warnings.push_back(Skipped(number, "is incomplete"));
  }
  HistoryRead Result() && { return std::move(read_); }

 private:
  std::string Skipped(std::size_t number, std::string_view why) const {
    std::string where = "line " + std::to_string(number);
    if (!part_.empty()) where += " of " + std::string(part_);
    return "history: " + where + " " + std::string(why) + " and was skipped";
  }

  void Add(HistoryRecord record) {
    const auto [found, added] = byId_.try_emplace(record.id, read_.records.size());
    if (added) {
      read_.records.push_back(std::move(record));
      return;
    }
    // An open line after the record was closed is a copy a rotation made
    // from an earlier reading: the close stands.
    HistoryRecord& earlier = read_.records[found->second];
    if (record.open && !earlier.open) return;
    earlier = std::move(record);
  }
  void Complete(std::size_t number, const HistoryCompletion& completion) {
    const auto found = byId_.find(completion.recordId);
    if (found == byId_.end()) {
      if (!headDropped_) {
        read_.warnings.push_back(Skipped(number, "completes a record that is not before it"));
      }
      return;
    }
    HistoryRecord& record = read_.records[found->second];
    record.confirmation = completion.confirmation;
    record.reportedRevision = completion.reportedRevision;
    record.confirmationTime = completion.time;
    record.open = false;
  }

  HistoryRead read_;
  std::unordered_map<std::string, std::size_t> byId_;  // where each id's record stands
  std::string_view part_;
  bool headDropped_ = false;
};

}  // namespace

bool IsUnsettled(const HistoryRecord& record) {
  const bool judged = !record.confirmationTime.empty();
  return record.open || (!judged && (record.confirmation == Confirmation::WrittenNotActive ||
                                     record.confirmation == Confirmation::Interrupted));
}

std::string_view ConfirmationText(Confirmation confirmation) { return WordsOf(confirmation).text; }

std::string_view ConfirmationName(Confirmation confirmation) { return WordsOf(confirmation).name; }

std::string HistoryTime(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto seconds = floor<std::chrono::seconds>(time);
  const auto day = floor<days>(seconds);
  const year_month_day date{day};
  const hh_mm_ss clock{seconds - day};
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02dZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text.data();
}

std::string NewHistoryId(std::chrono::system_clock::time_point time) {
  std::string id = HistoryTime(time);
  std::erase_if(id, [](char c) { return c == '-' || c == ':'; });
  std::random_device random;
  const std::uint64_t bits = (std::uint64_t{random()} << 32) | random();
  std::array<char, 17> digits{};
  std::snprintf(digits.data(), digits.size(), "%016llx", static_cast<unsigned long long>(bits));
  return id + "-" + digits.data();
}

Json HistoryRecordJson(const HistoryRecord& record) {
  Json checks = Json::array();
  for (const HistoryCheck& check : record.checks) {
    checks.push_back(Json{{"check", check.name}, {"result", check.result}});
  }
  const HistoryDrive& drive = record.drive;
  const HistoryPackage& package = record.package;
  return Json{{"id", record.id},
              {"time", record.time},
              {"toolVersion", record.toolVersion},
              {"drive",
               {{"vendor", drive.vendor},
                {"product", drive.product},
                {"revision", drive.revision},
                {"enclosureIdentity", drive.enclosureIdentity},
                {"location", drive.location}}},
              {"package",
               {{"sha256", package.sha256},
                {"id", package.id},
                {"revision", package.revision},
                {"protocol", package.protocol},
                {"imageLinearSum", HexWord(package.imageLinearSum)},
                {"imageRotatedSum", HexWord(package.imageRotatedSum)}}},
              {"checks", std::move(checks)},
              {"transfer",
               {{"unit", record.unit}, {"sent", record.unitsSent}, {"total", record.unitsTotal}}},
              {"outcome", record.outcome
                              ? Json{{"code", record.outcome->code}, {"text", record.outcome->text}}
                              : Json(nullptr)},
              {"completed", record.completed},
              {"confirmation", ConfirmationName(record.confirmation)},
              {"reportedRevision", record.reportedRevision},
              {"confirmationTime",
               record.confirmationTime.empty() ? Json(nullptr) : Json(record.confirmationTime)},
              {"open", record.open}};
}

bool IsCutOff(const HistoryRecord& record) {
  return record.open ||
         (!record.outcome && !record.completed && record.confirmation == Confirmation::Interrupted);
}

std::string EncodeHistoryRecord(const HistoryRecord& record) {
  Json line = LineStart("update");
  line.update(HistoryRecordJson(record));
  return Line(line);
}

std::string EncodeHistoryCompletion(const HistoryCompletion& completion) {
  Json line = LineStart("completion");
  line.update(Json{{"record", completion.recordId},
                   {"time", completion.time},
                   {"confirmation", ConfirmationName(completion.confirmation)},
                   {"reportedRevision", completion.reportedRevision}});
  return Line(line);
}

HistoryRead ReadHistoryParts(std::span<const HistoryPart> parts) {
  HistoryFolder folder;
  for (const HistoryPart& part : parts) {
    folder.StartPart(part);
    std::string_view text = part.text;
    std::size_t number = 0;
    while (!text.empty()) {
      const std::size_t end = std::min(text.find('\n'), text.size());
      const std::string_view line = text.substr(0, end);
      text.remove_prefix(std::min(end + 1, text.size()));
      ++number;
      if (line.find_first_not_of(" \t\r") != std::string_view::npos) folder.Take(number, line);
    }
  }
  return std::move(folder).Result();
}

HistoryRead ReadHistoryText(std::string_view text) {
  const HistoryPart part{{}, text, false};
  return ReadHistoryParts({&part, 1});
}

}  // namespace tslflash
