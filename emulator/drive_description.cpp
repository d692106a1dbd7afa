#include "emulator/drive_description.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "tools/file_io.h"

namespace tslflash::emu {

std::uint32_t ExpectedImageSize(const DriveDescription& description) {
  if (description.imageSizeKiB != 0) return std::uint32_t{description.imageSizeKiB} * 1024;
  switch (description.imageType) {
    case 0x3120:
    case 0x3220:
      return 0x20000;
    case 0x3140:
      return 0x80000;
    case 0x3180:
      return 0x40000;
    default:
      return 0;
  }
}

namespace {

using nlohmann::json;

// Every reader returns what is wrong with a value, or nothing. A problem
// found below the value starts with its own path ("[1].kind: ...").
using Problem = std::string;

Problem At(const std::string& where, const Problem& problem) {
  if (problem.empty()) return {};
  const bool nested = problem[0] == '.' || problem[0] == '[';
  return where + (nested ? "" : ": ") + problem;
}

Problem ReadText(const json& value, std::size_t maxLength, std::string& out) {
  const Problem expected =
      "expected a string of at most " + std::to_string(maxLength) + " printable characters";
  if (!value.is_string()) return expected;
  const auto& text = value.get_ref<const std::string&>();
  const bool printable = std::all_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
  });
  if (text.size() > maxLength || !printable) return expected;
  out = text;
  return {};
}

template <typename Number>
Problem ReadNumber(const json& value, std::uint64_t min, std::uint64_t max, Number& out) {
  const Problem expected =
      "expected a whole number from " + std::to_string(min) + " to " + std::to_string(max);
  if (!value.is_number_unsigned()) return expected;
  const auto number = value.get<std::uint64_t>();
  if (number < min || number > max) return expected;
  out = static_cast<Number>(number);
  return {};
}

Problem ReadFlag(const json& value, bool& out) {
  if (!value.is_boolean()) return "expected true or false";
  out = value.get<bool>();
  return {};
}

std::optional<std::uint32_t> ParseHex(std::string_view text, std::size_t minDigits,
                                      std::size_t maxDigits) {
  std::uint32_t number = 0;
  const char* end = text.data() + text.size();
  if (text.size() < minDigits || text.size() > maxDigits) return std::nullopt;
  const auto [ptr, ec] = std::from_chars(text.data(), end, number, 16);
  if (ec != std::errc{} || ptr != end) return std::nullopt;
  return number;
}

Problem ReadHex(const json& value, std::size_t minDigits, std::size_t maxDigits,
                std::uint32_t& out) {
  const auto number = value.is_string()
                          ? ParseHex(value.get_ref<const std::string&>(), minDigits, maxDigits)
                          : std::nullopt;
  if (!number) {
    return minDigits == maxDigits
               ? "expected a string of " + std::to_string(maxDigits) + " hex digits"
               : "expected a string of 1 to " + std::to_string(maxDigits) + " hex digits";
  }
  out = *number;
  return {};
}

template <typename Number>
Problem ReadHexNumber(const json& value, std::size_t maxDigits, Number& out) {
  std::uint32_t number = 0;
  Problem problem = ReadHex(value, 1, maxDigits, number);
  out = static_cast<Number>(number);
  return problem;
}

// "KK/AA/QQ": sense key, additional sense code and qualifier in hex.
Problem ReadSense(const json& value, SenseBytes& out) {
  const Problem expected = "expected sense bytes as \"KK/AA/QQ\" in hex, e.g. \"02/04/01\"";
  if (!value.is_string()) return expected;
  std::stringstream parts(value.get<std::string>());
  std::array<std::uint8_t, 3> bytes{};
  std::string part;
  std::size_t count = 0;
  while (std::getline(parts, part, '/')) {
    const auto number = ParseHex(part, 1, 2);
    if (!number || count == bytes.size()) return expected;
    bytes[count++] = static_cast<std::uint8_t>(*number);
  }
  if (count != bytes.size()) return expected;
  out = {bytes[0], bytes[1], bytes[2]};
  return {};
}

template <typename Target>
using FieldTable = std::map<std::string, std::function<Problem(const json&, Target&)>, std::less<>>;

// Reads an object whose keys must all be known; the first problem wins.
template <typename Target>
Problem ReadObject(const json& value, const FieldTable<Target>& fields,
                   std::initializer_list<std::string_view> required, Target& out) {
  if (!value.is_object()) return "expected an object";
  for (const std::string_view key : required) {
    if (!value.contains(key)) return "missing key \"" + std::string(key) + "\"";
  }
  for (const auto& [key, item] : value.items()) {
    const auto field = fields.find(key);
    if (field == fields.end()) return "unknown key \"" + key + "\"";
    if (Problem problem = At("." + key, field->second(item, out)); !problem.empty()) {
      return problem;
    }
  }
  return {};
}

// "[i]". Appended rather than "[" + text, whose insert at the front GCC 12
// at -O3 wrongly reports as an overlapping copy (-Wrestrict).
std::string IndexPath(std::size_t index) {
  std::string path = "[";
  path.append(std::to_string(index)).push_back(']');
  return path;
}

// A key or kind name in quotes, appended for the same reason.
std::string Quoted(std::string_view name) {
  std::string quoted = "\"";
  quoted.append(name).push_back('"');
  return quoted;
}

template <typename Item>
Problem ReadArray(const json& value, const std::function<Problem(const json&, Item&)>& readItem,
                  std::vector<Item>& out) {
  if (!value.is_array()) return "expected an array";
  out.clear();
  for (std::size_t i = 0; i < value.size(); ++i) {
    Item item{};
    if (Problem problem = At(IndexPath(i), readItem(value[i], item)); !problem.empty()) {
      return problem;
    }
    out.push_back(std::move(item));
  }
  return {};
}

Problem ReadBlockBytes(const json& value, ParameterBlock& out) {
  const Problem expected = "expected an array of 4 numbers from 0 to 255";
  if (!value.is_array() || value.size() != out.size()) return expected;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (!ReadNumber(value[i], 0, 255, out[i]).empty()) return expected;
  }
  return {};
}

Problem ReadParameterBlocks(const json& value, std::map<std::uint8_t, ParameterBlock>& out) {
  if (!value.is_object()) return "expected an object such as {\"02\": [5, 0, 0, 0]}";
  for (const auto& [key, item] : value.items()) {
    const auto block = ParseHex(key, 2, 2);
    if (!block || out.count(static_cast<std::uint8_t>(*block)) == 0) {
      return "unknown block \"" + key + "\" (the drive has \"02\" and \"24\")";
    }
    if (Problem problem =
            At("." + key, ReadBlockBytes(item, out[static_cast<std::uint8_t>(*block)]));
        !problem.empty()) {
      return problem;
    }
  }
  return {};
}

// A fault as written, before the choice between its two triggers is checked.
struct FaultFields {
  Fault fault;
  std::optional<std::uint32_t> atCommand;
  std::optional<std::uint8_t> opcode;
  std::optional<std::uint8_t> secondByte;
  std::optional<std::uint32_t> fromOccurrence;
  std::optional<std::uint8_t> status;
  std::optional<std::uint32_t> length;
  std::optional<std::uint32_t> offset;
  bool senseGiven = false;
};

Problem ReadFaultKind(const json& value, FaultKind& out) {
  static const std::map<std::string, FaultKind, std::less<>> kKinds = {
      {"fail", FaultKind::Fail},
      {"timeout", FaultKind::TimeOut},
      {"sense", FaultKind::Sense},
      {"corruptReadBack", FaultKind::CorruptReadBack},
      {"failWithoutSense", FaultKind::FailWithoutSense},
      {"status", FaultKind::Status},
      {"shortReply", FaultKind::ShortReply},
      {"noData", FaultKind::NoData},
      {"powerCut", FaultKind::PowerCut},
      {"failAfter", FaultKind::FailAfter}};
  const auto kind =
      value.is_string() ? kKinds.find(value.get_ref<const std::string&>()) : kKinds.end();
  if (kind == kKinds.end()) {
    return "expected one of \"fail\", \"timeout\", \"sense\", \"corruptReadBack\", "
           "\"failWithoutSense\", \"status\", \"shortReply\", \"noData\", \"powerCut\", "
           "\"failAfter\"";
  }
  out = kind->second;
  return {};
}

Problem ReadTimes(const json& value, std::uint32_t& out) {
  if (value == "always") {
    out = kAlways;
    return {};
  }
  if (!ReadNumber(value, 1, UINT32_MAX, out).empty())
    return "expected a count from 1, or \"always\"";
  return {};
}

template <typename Number>
std::function<Problem(const json&, FaultFields&)> OptionalNumber(
    std::optional<Number> FaultFields::*member, std::uint32_t min = 1) {
  return [member, min](const json& v, FaultFields& f) {
    Number number{};
    Problem problem = ReadNumber(v, min, UINT32_MAX, number);
    f.*member = number;
    return problem;
  };
}

template <typename Number>
std::function<Problem(const json&, FaultFields&)> OptionalHexByte(
    std::optional<Number> FaultFields::*member) {
  return [member](const json& v, FaultFields& f) {
    Number number{};
    Problem problem = ReadHexNumber(v, 2, number);
    f.*member = number;
    return problem;
  };
}

const FieldTable<FaultFields>& FaultFieldTable() {
  static const FieldTable<FaultFields> kFields = {
      {"kind", [](const json& v, FaultFields& f) { return ReadFaultKind(v, f.fault.kind); }},
      {"sense",
       [](const json& v, FaultFields& f) {
         f.senseGiven = true;
         return ReadSense(v, f.fault.sense);
       }},
      {"times", [](const json& v, FaultFields& f) { return ReadTimes(v, f.fault.times); }},
      {"atCommand", OptionalNumber(&FaultFields::atCommand)},
      {"opcode", OptionalHexByte(&FaultFields::opcode)},
      {"secondByte", OptionalHexByte(&FaultFields::secondByte)},
      {"fromOccurrence", OptionalNumber(&FaultFields::fromOccurrence)},
      {"status", OptionalHexByte(&FaultFields::status)},
      {"length", OptionalNumber(&FaultFields::length, 0)},
      {"offset", OptionalNumber(&FaultFields::offset, 0)},
  };
  return kFields;
}

// The trigger is either a command number or an opcode, never both.
Problem BuildTrigger(const FaultFields& fields, Fault& out) {
  if (fields.atCommand.has_value() == fields.opcode.has_value()) {
    return "give either \"atCommand\" or \"opcode\"";
  }
  if (fields.atCommand) {
    if (fields.secondByte || fields.fromOccurrence) {
      return "\"secondByte\" and \"fromOccurrence\" go with \"opcode\" only";
    }
    out.when = AtCommand{*fields.atCommand};
    return {};
  }
  out.when = ForOpcode{*fields.opcode, fields.secondByte, fields.fromOccurrence.value_or(1)};
  return {};
}

// "status", "length" and "offset" each belong to one kind of fault; the
// first two are that kind's own value and must be given with it.
Problem CheckKindValues(const FaultFields& fields) {
  struct KindValue {
    std::string_view key;
    std::string_view kindName;
    FaultKind kind;
    bool given;
    bool required;
  };
  const std::array<KindValue, 3> values = {{
      {"status", "status", FaultKind::Status, fields.status.has_value(), true},
      {"length", "shortReply", FaultKind::ShortReply, fields.length.has_value(), true},
      {"offset", "corruptReadBack", FaultKind::CorruptReadBack, fields.offset.has_value(), false},
  }};
  for (const KindValue& value : values) {
    const std::string key = Quoted(value.key);
    const std::string kind = Quoted(value.kindName);
    if (value.given && fields.fault.kind != value.kind) {
      return key + " goes with a " + kind + " fault only";
    }
    if (value.required && !value.given && fields.fault.kind == value.kind) {
      return "a " + kind + " fault needs its " + key;
    }
  }
  return {};
}

Problem ReadFault(const json& value, Fault& out) {
  FaultFields fields;
  if (Problem problem = ReadObject(value, FaultFieldTable(), {"kind"}, fields); !problem.empty()) {
    return problem;
  }
  if (fields.fault.kind == FaultKind::Sense && !fields.senseGiven) {
    return "a \"sense\" fault needs its \"sense\" bytes";
  }
  if (Problem problem = CheckKindValues(fields); !problem.empty()) return problem;
  out = fields.fault;
  out.status = fields.status.value_or(0);
  out.length = fields.length.value_or(0);
  out.offset = fields.offset.value_or(0);
  return BuildTrigger(fields, out);
}

Problem ReadMedium(const json& value, bool& present) {
  if (value != "present" && value != "absent") return "expected \"present\" or \"absent\"";
  present = value == "present";
  return {};
}

Problem ReadSignature(const json& value, std::array<std::uint8_t, 2>& out) {
  std::uint32_t number = 0;
  if (Problem problem = ReadHex(value, 4, 4, number); !problem.empty()) return problem;
  out = {static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)};
  return {};
}

constexpr std::size_t kLongestPath = 4096;

Problem ReadActivation(const json& value, bool& atOnce) {
  if (value != "atOnce" && value != "afterPowerCycle") {
    return "expected \"atOnce\" or \"afterPowerCycle\"";
  }
  atOnce = value == "atOnce";
  return {};
}

template <std::size_t MaxLength>
Problem ReadTextField(const json& value, std::string& out) {
  return ReadText(value, MaxLength, out);
}

const FieldTable<DriveDescription>& DriveFieldTable() {
  using D = DriveDescription;
  static const FieldTable<D> kFields = {
      {"vendor", [](const json& v, D& d) { return ReadTextField<8>(v, d.vendor); }},
      {"product", [](const json& v, D& d) { return ReadTextField<16>(v, d.product); }},
      {"revision", [](const json& v, D& d) { return ReadTextField<4>(v, d.revision); }},
      {"enclosure", [](const json& v, D& d) { return ReadTextField<12>(v, d.enclosure); }},
      {"enclosureTail", [](const json& v, D& d) { return ReadTextField<3>(v, d.enclosureTail); }},
      {"answersInquiry", [](const json& v, D& d) { return ReadFlag(v, d.answersInquiry); }},
      {"inUse", [](const json& v, D& d) { return ReadFlag(v, d.inUse); }},
      {"medium", [](const json& v, D& d) { return ReadMedium(v, d.mediumPresent); }},
      {"becomingReadyPolls",
       [](const json& v, D& d) { return ReadNumber(v, 0, UINT32_MAX, d.becomingReadyPolls); }},
      {"unitAttention", [](const json& v, D& d) { return ReadFlag(v, d.unitAttention); }},
      {"bufferSizeKiB",
       [](const json& v, D& d) { return ReadNumber(v, 0, UINT16_MAX, d.bufferSizeKiB); }},
      {"imageSignature", [](const json& v, D& d) { return ReadSignature(v, d.imageSignature); }},
      {"imageType", [](const json& v, D& d) { return ReadHexNumber(v, 4, d.imageType); }},
      {"imageSizeKiB",
       [](const json& v, D& d) { return ReadNumber(v, 0, UINT16_MAX, d.imageSizeKiB); }},
      {"parameterBlocks",
       [](const json& v, D& d) { return ReadParameterBlocks(v, d.parameterBlocks); }},
      {"vendorCommands", [](const json& v, D& d) { return ReadFlag(v, d.vendorCommands); }},
      {"bankSize",
       [](const json& v, D& d) { return ReadNumber(v, 0, std::uint64_t{1} << 24, d.bankSize); }},
      {"commandDelayMs",
       [](const json& v, D& d) { return ReadNumber(v, 0, 60000, d.commandDelayMs); }},
      {"faults", [](const json& v, D& d) { return ReadArray<Fault>(v, ReadFault, d.faults); }},
      {"activatesAs", [](const json& v, D& d) { return ReadTextField<4>(v, d.activatesAs); }},
      {"activation", [](const json& v, D& d) { return ReadActivation(v, d.activatesAtOnce); }},
      {"poweredUpWith",
       [](const json& v, D& d) { return ReadText(v, kLongestPath, d.poweredUpWith); }},
  };
  return kFields;
}

Problem ReadDrive(const json& value, DriveDescription& out) {
  return ReadObject(value, DriveFieldTable(), {"vendor", "product", "revision"}, out);
}

Problem ReadDrives(const json& value, std::vector<DriveDescription>& out) {
  const FieldTable<std::vector<DriveDescription>> fields = {
      {"drives", [](const json& v, std::vector<DriveDescription>& drives) {
         return ReadArray<DriveDescription>(v, ReadDrive, drives);
       }}};
  return ReadObject(value, fields, {"drives"}, out);
}

// A drive that took an image before its power cycle comes up running it.
void PowerUp(DriveDescription& drive, const std::filesystem::path& folder) {
  if (drive.poweredUpWith.empty()) return;
  const std::filesystem::path image = folder / drive.poweredUpWith;
  std::error_code error;
  if (std::filesystem::file_size(image, error) > 0 && !error && !drive.activatesAs.empty()) {
    drive.revision = drive.activatesAs;
  }
}

}  // namespace

LoadedDrives LoadDriveDescriptions(std::string_view jsonText) {
  LoadedDrives loaded;
  try {
    const json document = json::parse(jsonText);
    loaded.error = ReadDrives(document, loaded.drives);
    // Problems inside the document read "drives[1].product: ...".
    if (!loaded.error.empty() && loaded.error[0] == '.') loaded.error.erase(0, 1);
  } catch (const json::exception& e) {
    loaded.error = std::string("not valid JSON: ") + e.what();
  }
  if (!loaded.Ok()) loaded.drives.clear();
  return loaded;
}

LoadedDrives LoadDriveDescriptionFile(const std::filesystem::path& path) {
  const FileRead file = ReadBinaryFile(path.string(), {kLargestDescription, "a description"});
  if (!file.error.empty()) return {{}, file.error};
  LoadedDrives loaded = LoadDriveDescriptions(
      std::string_view(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size()));
  if (!loaded.Ok()) loaded.error = path.string() + ": " + loaded.error;
  for (DriveDescription& drive : loaded.drives) PowerUp(drive, path.parent_path());
  return loaded;
}

}  // namespace tslflash::emu
