#include "app/check_report.h"

#include <algorithm>

namespace tslflash {
namespace {

std::string_view CheckName(UpgradeCheck check) {
  switch (check) {
    case UpgradeCheck::EmptyTray:
      return "empty-tray";
    case UpgradeCheck::Enclosure:
      return "enclosure";
    case UpgradeCheck::PackageTag:
      return "package-tag";
    case UpgradeCheck::PackageSums:
      return "package-sums";
    case UpgradeCheck::Model:
      return "model";
    case UpgradeCheck::Threshold:
      return "threshold";
    case UpgradeCheck::Revision:
      return "revision";
    case UpgradeCheck::RecoveryRules:
      return "recovery-rules";
  }
  return "check";
}

std::string_view ImageFormText(ImageForm form) {
  switch (form) {
    case ImageForm::AsStored:
      return "sent as stored";
    case ImageForm::Inflated:
      return "inflated";
    case ImageForm::AsTheBufferDecides:
      return "inflated if the drive's buffer takes it so";
  }
  return {};
}

std::string Joined(const std::vector<std::string_view>& words, std::string_view between) {
  std::string text;
  for (const std::string_view word : words) {
    if (!text.empty()) text.append(between);
    text.append(word);
  }
  return text;
}

void AppendPlan(const DriveCheck& check, std::string& text) {
  const RunPreview& preview = *check.preview;
  text.append("  would update: ")
      .append(ProtocolName(*preview.protocol))
      .append(", ")
      .append(std::to_string(preview.units.total))
      .append(" ")
      .append(preview.units.unit)
      .append(", image ")
      .append(ImageFormText(preview.imageForm));
  if (check.verdict.presetModelCodes) text.append(", model codes preset to 0 first");
  if (preview.ejectTray) text.append(", tray ejected first");
  text.append("\n  asks: ").append(Joined(Confirmations(check.verdict), ", ")).append("\n");
  for (const std::string_view decision : preview.atRunTime) {
    text.append("  decided at run time: ").append(decision).append("\n");
  }
}

}  // namespace

std::vector<CheckLine> CheckLines(const DriveCheck& check) {
  std::vector<CheckLine> lines;
  for (const CheckStep& step : check.verdict.steps) {
    lines.push_back(
        {CheckName(step.check), step.passed ? CheckResult::Passed : CheckResult::Failed});
  }
  if (check.preview) {
    lines.push_back(
        {"transfer", check.preview->WouldSend() ? CheckResult::Passed : CheckResult::Failed});
  }
  return lines;
}

std::string_view ProtocolName(TransferProtocol protocol) {
  switch (protocol) {
    case TransferProtocol::BufferPages:
      return "buffer-pages";
    case TransferProtocol::SignedPages:
      return "signed-pages";
    case TransferProtocol::SummedPages:
      return "summed-pages";
    case TransferProtocol::SmallBlocks:
      return "small-blocks";
    case TransferProtocol::BankedPages:
      return "banked-pages";
  }
  return "unknown";
}

std::vector<std::string_view> Confirmations(const Verdict& verdict) {
  std::vector<std::string_view> asks;
  if (verdict.rewrite == BoxPurpose::Reinstall) asks.emplace_back("reinstall");
  if (verdict.rewrite == BoxPurpose::Older) asks.emplace_back("older");
  asks.emplace_back("update");
  return asks;
}

std::vector<CheckedDrive> CheckDrives(UpdateDialog& dialog,
                                      const std::vector<std::size_t>& selections) {
  const bool every = std::ranges::all_of(selections, [](std::size_t n) { return n == 0; });
  std::vector<CheckedDrive> checked;
  for (std::size_t index = 0; index < dialog.Drives().size(); ++index) {
    if (!every && std::ranges::find(selections, index + 1) == selections.end()) continue;
    if (std::optional<DriveCheck> check = dialog.CheckDrive(index)) {
      checked.push_back({index + 1, dialog.Drives()[index], std::move(*check)});
    }
  }
  return checked;
}

std::string CheckReportText(const std::vector<CheckedDrive>& drives) {
  std::string text;
  for (const CheckedDrive& checked : drives) {
    text.append("Drive ").append(std::to_string(checked.number)).append(": ");
    text.append(checked.drive.text).append("\n");
    if (checked.drive.greyed) {
      text.append("  greyed: ").append(checked.drive.greyedBecause).append("\n");
    }
    for (const CheckLine& line : CheckLines(checked.check)) {
      text.append("  ").append(line.name).append(": ");
      text.append(line.result == CheckResult::Passed ? "passed" : "failed").append("\n");
    }
    if (checked.check.WouldUpdate()) {
      AppendPlan(checked.check, text);
    } else if (const std::optional<OutcomeCode> refusal = checked.check.Refusal()) {
      text.append("  refused: ").append(OutcomeMessage(*refusal));
      text.append(" (outcome ").append(std::to_string(static_cast<int>(*refusal))).append(")\n");
    } else {
      text.append("  refused: the package names no transfer protocol this tool knows\n");
    }
  }
  if (drives.empty()) text.append("No drive to check.\n");
  return text;
}

}  // namespace tslflash
