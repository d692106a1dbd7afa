#include "app/history_text.h"

#include <sstream>
#include <string_view>

namespace tslflash {
namespace {

// The file's texts came from drives and may have been edited: control
// characters (C0, DEL, and C1 as UTF-8 writes them) would steer the
// terminal, so each shows as '?'.
std::string Shown(std::string_view text) {
  std::string shown;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const bool c1 = byte == 0xC2 && at + 1 < text.size() &&
                    static_cast<unsigned char>(text[at + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[at + 1]) <= 0x9F;
    if (byte < 0x20 || byte == 0x7F || c1) {
      shown.push_back('?');
      at += c1 ? 1 : 0;
    } else {
      shown.push_back(text[at]);
    }
  }
  return shown;
}

std::string DriveText(const HistoryDrive& drive) {
  std::string text = Shown(drive.vendor) + " " + Shown(drive.product) + " " + Shown(drive.revision);
  if (!drive.enclosureIdentity.empty())
    text += " (enclosure " + Shown(drive.enclosureIdentity) + ")";
  return text + " at " + Shown(drive.location);
}

// A message box's text on one line: its line breaks and the blank lines
// between its paragraphs become single spaces.
std::string OneLine(std::string_view text) {
  std::string line;
  for (char c : text) {
    const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (!blank) {
      line.push_back(c);
    } else if (!line.empty() && line.back() != ' ') {
      line.push_back(' ');
    }
  }
  if (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string SentText(const HistoryRecord& record) {
  const std::string total = std::to_string(record.unitsTotal) + " " + Shown(record.unit);
  if (IsCutOff(record)) return "not recorded (" + total + " to send)";
  return std::to_string(record.unitsSent) + " of " + total;
}

std::string OutcomeText(const HistoryRecord& record) {
  if (record.open) return "not recorded: the update is still running, or it was cut off";
  if (record.outcome) {
    return Shown(OneLine(record.outcome->text)) + " (code " + std::to_string(record.outcome->code) +
           ")";
  }
  return record.completed ? "completed" : "did not complete";
}

std::string ConfirmationLine(const HistoryRecord& record) {
  std::string text(ConfirmationText(record.confirmation));
  if (!record.reportedRevision.empty()) {
    text += "; the drive reported revision " + Shown(record.reportedRevision);
  }
  if (!record.confirmationTime.empty()) text += " (checked " + Shown(record.confirmationTime) + ")";
  return text;
}

void WriteRecord(std::ostream& out, const HistoryRecord& record) {
  const HistoryPackage& package = record.package;
  out << Shown(record.time) << "  " << DriveText(record.drive) << "\n"
      << "  Package:      " << Shown(package.id) << " revision " << Shown(package.revision)
      << " (SHA-256 " << Shown(package.sha256) << ")\n"
      << "  Protocol:     " << Shown(package.protocol) << "\n"
      << "  Sent:         " << SentText(record) << "\n"
      << "  Outcome:      " << OutcomeText(record) << "\n"
      << "  Confirmation: " << ConfirmationLine(record) << "\n";
}

}  // namespace

std::string HistoryText(const std::vector<HistoryRecord>& records) {
  if (records.empty()) return "No updates are recorded.\n";
  std::ostringstream out;
  // Newest first; reverse iterators, as clang with this standard library
  // rejects views::reverse.
  for (auto record = records.rbegin(); record != records.rend(); ++record) {
    if (out.tellp() > 0) out << "\n";
    WriteRecord(out, *record);
  }
  return out.str();
}

}  // namespace tslflash
