#include "app/json_report.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

#include "app/history_keeper.h"
#include "app/history_record_json.h"
#include "models/field_text.h"
#include "package/firmware_package.h"
#include "package/sha256.h"
#include "resources/texts.h"
#include "transport/command_text.h"
#include "update/command_failure_text.h"

namespace tslflash {
namespace {

using Json = nlohmann::ordered_json;

// Every document starts alike; the exit status says how the program ended.
Json Document(std::string_view command, int exitStatus) {
  return Json{
      {"schemaVersion", kJsonSchemaVersion}, {"command", command}, {"exitStatus", exitStatus}};
}

// Drive texts come from the drives: bytes that are not UTF-8 are replaced.
std::string Text(const Json& document) {
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

Json PackageJson(const FirmwarePackage& package) {
  Json json{{"id", nullptr}, {"revision", nullptr}, {"sha256", Sha256Hex(package.bytes)}};
  if (package.HasWholeHeader()) {
    json["id"] = UnpaddedField(package.PackageId());
    json["revision"] = UnpaddedField(package.Revision());
  }
  return json;
}

Json DriveJson(std::size_t number, const ListedDrive& drive, bool emulated) {
  return Json{{"number", number},
              {"vendor", drive.vendor},
              {"product", drive.product},
              {"revision", drive.revision},
              {"text", drive.text},
              {"greyed", drive.greyed},
              {"reason", drive.greyed ? Json(drive.greyedBecause) : Json(nullptr)},
              {"emulated", emulated}};
}

Json OutcomeJson(std::optional<OutcomeCode> code) {
  if (!code) return nullptr;
  return Json{{"code", static_cast<int>(*code)}, {"text", OutcomeMessage(*code)}};
}

Json ChecksJson(const DriveCheck& check) {
  Json checks = Json::array();
  for (const CheckLine& line : CheckLines(check)) {
    checks.push_back(Json{{"check", line.name},
                          {"result", line.result == CheckResult::Passed ? "passed" : "failed"}});
  }
  return checks;
}

std::string_view ImageFormName(ImageForm form) {
  switch (form) {
    case ImageForm::AsStored:
      return "as-stored";
    case ImageForm::Inflated:
      return "inflated";
    case ImageForm::AsTheBufferDecides:
      return "at-run-time";
  }
  return {};
}

Json PlanJson(const DriveCheck& check) {
  if (!check.WouldUpdate()) return nullptr;
  const RunPreview& preview = *check.preview;
  return Json{{"protocol", ProtocolName(*preview.protocol)},
              {"unit", preview.units.unit},
              {"count", preview.units.total},
              {"presetModelCodes", check.verdict.presetModelCodes},
              {"ejectTray", preview.ejectTray},
              {"imageForm", ImageFormName(preview.imageForm)},
              {"confirmations", Confirmations(check.verdict)}};
}

std::string_view CategoryName(ReplyCategory category) {
  switch (category) {
    case ReplyCategory::Good:
      return "good";
    case ReplyCategory::CheckCondition:
      return "check-condition";
    case ReplyCategory::OtherStatus:
      return "other-status";
    case ReplyCategory::ShortReply:
      return "short-reply";
    case ReplyCategory::TransportError:
      return "transport-error";
    case ReplyCategory::TimedOut:
      return "timed-out";
  }
  return {};
}

// The sense as the command texts write it, in lower case for the JSON.
std::string SenseText(const SenseBytes& sense) {
  std::string text = SenseCodes(sense);
  std::ranges::transform(text, text.begin(), [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  });
  return text;
}

Json FailureJson(const std::optional<CommandFailure>& failure) {
  if (!failure) return nullptr;
  const CommandReply& reply = failure->reply;
  return Json{{"text", FormatCommandFailure(*failure)},
              {"command", failure->command},
              {"unit", failure->unit},
              {"index", failure->index},
              {"count", failure->count},
              {"category", CategoryName(reply.category)},
              {"status", reply.status ? Json(*reply.status) : Json(nullptr)},
              {"sense", SenseText(reply.sense)}};
}

Json ProgressJson(const std::optional<TransferProgress>& progress) {
  if (!progress) return nullptr;
  return Json{{"unit", progress->unit}, {"sent", progress->sent}, {"total", progress->total}};
}

Json BoxesJson(const std::vector<ShownBox>& boxes) {
  Json shown = Json::array();
  for (const ShownBox& box : boxes) {
    shown.push_back(Json{{"caption", box.box.caption ? Json(*box.box.caption) : Json(nullptr)},
                         {"text", box.box.text},
                         {"answer", box.answer == BoxAnswer::Ok ? "ok" : "cancel"}});
  }
  return shown;
}

}  // namespace

std::string DrivesJson(const UpdateDialog& dialog, const JsonContext& context) {
  Json document = Document("drives", context.exitStatus);
  document["package"] = PackageJson(ParseFirmwarePackage(context.package));
  Json drives = Json::array();
  const std::vector<ListedDrive> listed = dialog.Drives();
  for (std::size_t index = 0; index < listed.size(); ++index) {
    drives.push_back(DriveJson(index + 1, listed[index], context.emulated));
  }
  document["drives"] = std::move(drives);
  return Text(document);
}

std::string CheckJson(const std::vector<CheckedDrive>& drives, const JsonContext& context) {
  Json document = Document("check", context.exitStatus);
  document["package"] = PackageJson(ParseFirmwarePackage(context.package));
  Json checked = Json::array();
  for (const CheckedDrive& drive : drives) {
    const DriveCheck& check = drive.check;
    checked.push_back(
        Json{{"drive", DriveJson(drive.number, drive.drive, context.emulated)},
             {"checks", ChecksJson(check)},
             {"wouldUpdate", check.WouldUpdate()},
             {"refusal", check.WouldUpdate() ? Json(nullptr) : OutcomeJson(check.Refusal())},
             {"plan", PlanJson(check)},
             {"atRunTime", check.WouldUpdate() ? Json(check.preview->atRunTime) : Json::array()}});
  }
  document["drives"] = std::move(checked);
  return Text(document);
}

std::string UpgradeJson(const UpdateDialog& dialog, const JsonContext& context) {
  Json document = Document("upgrade", context.exitStatus);
  document["package"] = PackageJson(ParseFirmwarePackage(context.package));
  const std::size_t index = dialog.SelectedDriveIndex();
  const std::vector<ListedDrive> listed = dialog.Drives();
  const bool selected = dialog.SelectedDriveText() != kTreeRootText && index < listed.size();
  document["drive"] =
      selected ? DriveJson(index + 1, listed[index], context.emulated) : Json(nullptr);
  DriveCheck verdict;
  verdict.verdict = dialog.LastVerdict();
  document["checks"] = ChecksJson(verdict);
  document["completed"] = dialog.LastRunCompleted();
  document["outcome"] = OutcomeJson(dialog.LastOutcome());
  document["failure"] = FailureJson(dialog.LastFailure());
  document["progress"] = ProgressJson(dialog.LastProgress());
  // What the drive reported after the update, as the history keeps it.
  document["confirmation"] = ConfirmationName(ConfirmationOfRun(dialog));
  const std::optional<DriveConfirmation> seen = dialog.LastConfirmation();
  document["reportedRevision"] = seen && !seen->revision.empty() ? Json(seen->revision) : Json();
  document["log"] = dialog.UpgradeLog();
  document["boxes"] = BoxesJson(dialog.UpgradeBoxes());
  return Text(document);
}

std::string ErrorJson(std::string_view error, int exitStatus) {
  Json document = Document("error", exitStatus);
  document["error"] = error;
  return Text(document);
}

std::string HistoryJson(const std::vector<HistoryRecord>& records, int exitStatus) {
  Json document = Document("history", exitStatus);
  Json listed = Json::array();
  for (const HistoryRecord& record : records) {
    Json listing = HistoryRecordJson(record);
    // The file keeps a count for every record; a cut-off run's is not known.
    if (IsCutOff(record)) listing["transfer"]["sent"] = nullptr;
    listed.push_back(std::move(listing));
  }
  document["records"] = std::move(listed);
  return Text(document);
}

std::string VersionJson(const BuildInfo& build, std::span<const std::uint8_t> package) {
  const auto orNull = [](std::string_view fact) { return fact.empty() ? Json() : Json(fact); };
  Json document = Document("version", 0);
  document["version"] = build.version;
  document["build"] = Json{{"type", orNull(build.buildType)},
                           {"compiler", build.compiler},
                           {"commit", orNull(build.commit)}};
  document["package"] = PackageJson(ParseFirmwarePackage(package));
  return Text(document);
}

std::string AboutJson(int exitStatus) {
  Json document = Document("about", exitStatus);
  document["caption"] = kAboutCaption;
  document["lines"] = Json::array({kAboutVersion, kAboutSecondLine});
  return Text(document);
}

std::string HelpJson(std::string_view help) {
  Json document = Document("help", 0);
  document["text"] = help;
  return Text(document);
}

}  // namespace tslflash
