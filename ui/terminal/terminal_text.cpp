#include "ui/terminal/terminal_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace tslflash::terminal {
namespace {

constexpr std::string_view kLineBreak = "\r\n";

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameLetters(std::string_view typed, std::string_view word) {
  return std::equal(typed.begin(), typed.end(), word.begin(), word.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == b;
  });
}

bool OneOf(std::string_view typed, std::initializer_list<std::string_view> words) {
  return std::ranges::any_of(words,
                             [typed](std::string_view word) { return SameLetters(typed, word); });
}

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (true) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::string_view::npos) return lines;
    text.remove_prefix(end + 1);
  }
}

std::vector<std::string> NewLogLines(std::string_view before, std::string_view after) {
  if (after.starts_with(before)) {
    const std::string_view added = after.substr(before.size());
    if (added.starts_with(kLineBreak)) return SplitLines(added.substr(kLineBreak.size()));
  }
  if (after.empty()) return {};
  return SplitLines(after);
}

std::optional<BoxAnswer> ParseBoxAnswer(std::string_view typed, BoxButtons buttons) {
  typed = Trimmed(typed);
  if (OneOf(typed, {"o", "ok", "y", "yes"})) return BoxAnswer::Ok;
  if (buttons == BoxButtons::OkCancel && OneOf(typed, {"c", "cancel", "n", "no"})) {
    return BoxAnswer::Cancel;
  }
  return std::nullopt;
}

std::string_view AcceptedAnswers(BoxButtons buttons) {
  return buttons == BoxButtons::OkCancel ? "Please answer ok (o, y, yes) or cancel (c, n, no)."
                                         : "Please answer ok (o, y, yes).";
}

ConsentAnswer AnswerByConsent(BoxPurpose purpose, const Consent& consent) {
  const auto needs = [](bool given, std::string_view missing) {
    return given ? ConsentAnswer{BoxAnswer::Ok, {}} : ConsentAnswer{BoxAnswer::Cancel, missing};
  };
  switch (purpose) {
    case BoxPurpose::StartupWarning:
    case BoxPurpose::ConfirmUpdate:
      return needs(consent.yes, "--yes");
    case BoxPurpose::Reinstall:
      if (!consent.yes) return needs(false, "--yes --allow-reinstall");
      return needs(consent.allowReinstall, "--allow-reinstall");
    case BoxPurpose::Older:
      if (!consent.yes) return needs(false, "--yes --allow-older");
      return needs(consent.allowOlder, "--allow-older");
    case BoxPurpose::Restart:
      return {consent.restart ? BoxAnswer::Ok : BoxAnswer::Cancel, {}};
    case BoxPurpose::Notice:
      break;
  }
  return needs(false, "--answer");
}

std::optional<MenuChoice> ParseMenuChoice(std::string_view typed) {
  typed = Trimmed(typed);
  if (OneOf(typed, {"u", "upgrade"})) return MenuChoice::Upgrade;
  if (OneOf(typed, {"s", "select"})) return MenuChoice::SelectAnother;
  if (OneOf(typed, {"x", "exit"})) return MenuChoice::Exit;
  return std::nullopt;
}

std::string TransferText(const TransferProgress& progress) {
  std::string text = std::to_string(progress.sent);
  text.append(" of ").append(std::to_string(progress.total)).append(" ");
  text.append(progress.unit).append(" sent");
  return text;
}

std::optional<std::size_t> ParseDriveNumber(std::string_view typed, std::size_t driveCount) {
  typed = Trimmed(typed);
  std::size_t number = 0;
  const auto [end, error] = std::from_chars(typed.data(), typed.data() + typed.size(), number);
  if (typed.empty() || error != std::errc{} || end != typed.data() + typed.size()) {
    return std::nullopt;
  }
  if (number > driveCount) return std::nullopt;
  return number;
}

int ProgressPercent(int low, int high, int position) {
  if (high <= low) return 0;
  const long long clamped = std::clamp(position, low, high);
  return static_cast<int>((clamped - low) * 100 / (static_cast<long long>(high) - low));
}

std::string ProgressBar(int percent, std::size_t width) {
  const int shown = std::clamp(percent, 0, 100);
  const std::size_t filled = static_cast<std::size_t>(shown) * width / 100;
  const std::string number = std::to_string(shown);
  // Appended rather than "[" + text, whose insert at the front GCC 12 at -O3
  // wrongly reports as an overlapping copy (-Wrestrict).
  std::string bar = "[";
  bar.append(filled, '#').append(width - filled, ' ').append("] ");
  bar.append(3 - number.size(), ' ').append(number).push_back('%');
  return bar;
}

std::string WithoutMnemonics(std::string_view caption) {
  std::string plain;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) ++i;
    plain += caption[i];
  }
  return plain;
}

}  // namespace tslflash::terminal
