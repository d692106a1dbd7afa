#include "app/support_report.h"

#include <cstdio>
#include <map>
#include <sstream>

#include "tools/package_report.h"
#include "transport/cdb.h"
#include "transport/command_text.h"
#include "update/command_failure_text.h"

namespace tslflash {
namespace {

constexpr std::size_t kDumpWidth = 16;

void Heading(std::string& report, std::string_view title) {
  report.append("\n== ").append(title).append(" ==\n");
}

// Text with its lines ended as the rest of the report's (the log pane ends
// them as Windows does) and a last line break, or a note that there is none.
void Block(std::string& report, std::string_view text, std::string_view none) {
  if (text.empty()) {
    report.append(none).append("\n");
    return;
  }
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '\r' || at + 1 >= text.size() || text[at + 1] != '\n') report += text[at];
  }
  if (text.back() != '\n') report.append("\n");
}

// "2026-12-11 01:53:11 UTC".
std::string DateAndTime(std::chrono::system_clock::time_point at) {
  using namespace std::chrono;
  const auto day = floor<days>(at);
  const year_month_day date(day);
  const hh_mm_ss<seconds> time(floor<seconds>(at - day));
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d UTC",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
  return text;
}

// Sixteen bytes a line: offset, hex, and the printable characters.
std::string HexDump(std::span<const std::uint8_t> bytes) {
  std::string dump;
  for (std::size_t at = 0; at < bytes.size(); at += kDumpWidth) {
    const std::span<const std::uint8_t> row =
        bytes.subspan(at, std::min(kDumpWidth, bytes.size() - at));
    char offset[32];
    std::snprintf(offset, sizeof offset, "  %04X  ", static_cast<unsigned>(at));
    std::string hex = HexBytes(row);
    hex.resize(kDumpWidth * 3 - 1, ' ');
    dump.append(offset).append(hex).append("  ");
    for (const std::uint8_t byte : row)
      dump += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
    dump += '\n';
  }
  return dump;
}

void ProgramSection(std::string& report, const SupportReportInput& input) {
  Heading(report, "Program");
  report.append(VersionText(input.build, input.package));
}

void SystemSection(std::string& report, const SupportReportInput& input) {
  Heading(report, "System");
  Block(report, WithoutPrivateNames(input.os.system, input.os.privateNames), "unknown");
}

void DriveLines(std::string& report, const SupportReportInput& input) {
  if (input.drives.empty()) report.append("No drive was found.\n");
  for (std::size_t i = 0; i < input.drives.size(); ++i) {
    const ListedDrive& drive = input.drives[i];
    report.append(std::to_string(i + 1)).append(". ").append(drive.text).append("\n");
    report.append("   vendor \"")
        .append(drive.vendor)
        .append("\", product \"")
        .append(drive.product);
    report.append("\", revision \"").append(drive.revision).append("\"\n");
    if (drive.greyed) {
      report.append("   greyed: ")
          .append(drive.greyedBecause.empty() ? "no reason given" : drive.greyedBecause);
    } else {
      report.append("   offered for the update");
    }
    report.append("\n");
  }
}

// Each device's latest reply to each INQUIRY it was sent, in full.
void InquiryReplies(std::string& report, const SupportReportInput& input) {
  std::map<std::pair<std::string, std::vector<std::uint8_t>>, const LoggedCommand*> latest;
  for (const LoggedCommand& command : input.commands.commands) {
    if (!command.cdb.empty() && command.cdb[0] == opcode::kInquiry && !command.replyData.empty()) {
      latest[{command.device, command.cdb}] = &command;
    }
  }
  if (latest.empty()) return;
  report.append("\nINQUIRY replies:\n");
  for (const auto& [key, command] : latest) {
    report.append(WithoutPrivateNames(command->device, input.os.privateNames));
    report.append(", ").append(HexBytes(command->cdb)).append(", ");
    report.append(std::to_string(command->replyData.size())).append(" bytes:\n");
    report.append(HexDump(command->replyData));
  }
}

void DrivesSection(std::string& report, const SupportReportInput& input) {
  Heading(report, "Drives");
  std::string drives;
  DriveLines(drives, input);
  report.append(WithoutPrivateNames(drives, input.os.privateNames));
  InquiryReplies(report, input);
}

void PackageSection(std::string& report, const SupportReportInput& input) {
  Heading(report, "Package");
  std::ostringstream inspection;
  (void)InspectPackage(input.package, inspection);
  report.append(inspection.str());
}

void LastRunSection(std::string& report, const SupportReportInput& input) {
  Heading(report, "Failed command");
  report.append(input.lastFailure ? FormatCommandFailure(*input.lastFailure) : "none").append("\n");
  Heading(report, "Log");
  Block(report, WithoutPrivateNames(input.logPane, input.os.privateNames), "(empty)");
}

void CommandsSection(std::string& report, const SupportReportInput& input) {
  Heading(report, "Commands");
  const CommandLog::Snapshot& log = input.commands;
  report.append(std::to_string(log.commands.size())).append(" commands");
  if (log.dropped != 0) {
    report.append(", the last ones; ")
        .append(std::to_string(log.dropped))
        .append(" earlier ones were not kept");
  }
  report.append(
      ". Each: time (UTC), device, CDB, data direction, length, time-out -> reply, bytes moved, "
      "duration.\n");
  for (LoggedCommand command : log.commands) {
    command.device = WithoutPrivateNames(command.device, input.os.privateNames);
    report.append(FormatLoggedCommand(command)).append("\n");
  }
}

}  // namespace

std::string SupportReportText(const SupportReportInput& input) {
  std::string report =
      "Tessel Flash support report, written " + DateAndTime(input.writtenAt) + ".\n";
  report.append(
      "Home folders, user names and the computer's name are replaced by <home>, <user> and "
      "<host>.\n");
  ProgramSection(report, input);
  SystemSection(report, input);
  DrivesSection(report, input);
  PackageSection(report, input);
  LastRunSection(report, input);
  CommandsSection(report, input);
  Heading(report, "History");
  Block(report, WithoutPrivateNames(input.history, input.os.privateNames), "(none)");
  return report;
}

}  // namespace tslflash
