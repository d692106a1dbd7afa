#include "ui/terminal/terminal_view.h"

#include <istream>
#include <ostream>
#include <utility>

#include "resources/texts.h"
#include "ui/dialog_view.h"
#include "ui/terminal/terminal_text.h"

namespace tslflash::terminal {
namespace {

std::string_view AnswerWord(BoxAnswer answer) { return answer == BoxAnswer::Ok ? "ok" : "cancel"; }

std::string_view ChoicesFor(BoxButtons buttons) {
  return buttons == BoxButtons::OkCancel ? "[O]K/[C]ancel > " : "[O]K > ";
}

}  // namespace

TerminalView::TerminalView(std::istream& in, std::ostream& out, std::ostream& err,
                           EventLoopDispatcher& dispatcher, TerminalSettings settings)
    : in_(in),
      out_(out),
      err_(err),
      settings_(std::move(settings)),
      answers_(settings_.answers.begin(), settings_.answers.end()),
      // The captions of the dialog's template, until the dialog relabels it.
      texts_{{ControlId::DevicesLabel, "&Devices:"},
             {ControlId::Exit, "E&xit"},
             {ControlId::Upgrade, "&Upgrade"},
             {ControlId::Log, ""}},
      timers_(dispatcher, [this](int timerId) {
        if (onTick_) onTick_(timerId);
      }) {}

TerminalView::~TerminalView() { EnableCloseCommand(true); }

void TerminalView::SetTimerHandler(TimerThread::TickHandler handler) {
  onTick_ = std::move(handler);
}

std::ostream& TerminalView::Line() {
  if (barOnLine_) out_ << '\n';
  barOnLine_ = false;
  return out_;
}

void TerminalView::PrintLine(std::string_view text) { Line() << text << '\n' << std::flush; }

// ---- window and controls ----

void TerminalView::SetTitle(std::string_view title) {
  if (title == title_) return;
  title_ = title;
  PrintLine("=== " + title_ + " ===");
}

void TerminalView::SetControlText(ControlId id, std::string_view text) {
  std::string& current = texts_[id];
  if (id == ControlId::Log) {
    for (const std::string& line : NewLogLines(current, text)) PrintLine(line);
  }
  current = text;
}

std::string TerminalView::GetControlText(ControlId id) { return texts_[id]; }

void TerminalView::EnableControl(ControlId id, bool enable) { enabled_[id] = enable; }

bool TerminalView::IsControlEnabled(ControlId id) const {
  const auto state = enabled_.find(id);
  return state == enabled_.end() || state->second;
}

// A terminal keeps the newest lines in view by itself.
void TerminalView::ScrollLogToEnd() {}

// A terminal has no window menu; the front end offers the About box itself.
void TerminalView::AddAboutMenuItem(std::string_view /*text*/, int /*commandId*/) {}

// The terminal writes its report with --report when the session ends.
void TerminalView::AddSaveReportMenuItem(std::string_view /*text*/, int /*commandId*/) {}

std::optional<std::string> TerminalView::AskSaveFileName(std::string_view /*suggestedName*/) {
  return std::nullopt;
}

// The terminal's Close command is Ctrl-C, which the run's shield holds for
// the whole run (run_shield.h), not only while Close is greyed.
void TerminalView::EnableCloseCommand(bool /*enable*/) {}

// The session ends when the handler that ended the dialog returns (start-up
// says so through OnInitDialog's result); nothing is left to close here.
void TerminalView::EndDialog(DialogResult /*result*/) {}

// ---- message boxes ----

BoxAnswer TerminalView::ShowMessageBox(const MessageBox& box) {
  const std::string caption(box.caption.value_or(std::string(kApplicationName)));
  PrintLine("[" + caption + "]");
  for (const std::string& line : SplitLines(box.text)) PrintLine(line);
  if (const std::optional<BoxAnswer> answer = AnswerFor(box)) return *answer;

  // Never a silent OK: the box counts as cancelled and the session reports it.
  answerMissing_ = true;
  err_ << "tslflash: no answer given for the message box \"" << caption
       << "\": " << SplitLines(box.text).front() << '\n'
       << std::flush;
  return BoxAnswer::Cancel;
}

std::optional<BoxAnswer> TerminalView::AnswerFor(const MessageBox& box) {
  if (box.buttons == BoxButtons::Ok && (!settings_.interactive || settings_.consent)) {
    PrintLine("[O]K");
    return BoxAnswer::Ok;
  }
  if (box.buttons == BoxButtons::OkCancel && settings_.consent) {
    return AnswerByConsent(box, *settings_.consent);
  }
  if (box.buttons == BoxButtons::OkCancel && !answers_.empty()) {
    const BoxAnswer answer = answers_.front();
    answers_.pop_front();
    PrintLine(std::string(ChoicesFor(box.buttons)) + std::string(AnswerWord(answer)));
    return answer;
  }
  if (!settings_.interactive) return std::nullopt;
  return Prompt(box.buttons);
}

// A box the consent does not answer is refused, and the session says which
// option would have answered it.
std::optional<BoxAnswer> TerminalView::AnswerByConsent(const MessageBox& box,
                                                       const Consent& consent) {
  const ConsentAnswer consented = terminal::AnswerByConsent(box.purpose, consent);
  PrintLine(std::string(ChoicesFor(box.buttons)) + std::string(AnswerWord(consented.answer)));
  if (!consented.missing.empty()) {
    consentMissing_ = true;
    err_ << "tslflash: the message box \"" << box.caption.value_or(std::string(kApplicationName))
         << "\" needs " << consented.missing << ": " << SplitLines(box.text).front() << '\n'
         << std::flush;
  }
  return consented.answer;
}

std::optional<BoxAnswer> TerminalView::Prompt(BoxButtons buttons) {
  while (true) {
    Line() << ChoicesFor(buttons) << std::flush;
    const std::optional<std::string> typed = ReadLine();
    // OK is the only answer a box without Cancel can get, end of input or not.
    if (buttons == BoxButtons::Ok) return BoxAnswer::Ok;
    if (!typed) return std::nullopt;
    if (const auto answer = ParseBoxAnswer(*typed, buttons)) return answer;
    PrintLine(AcceptedAnswers(buttons));
  }
}

std::optional<MenuChoice> TerminalView::AskMenu() {
  while (true) {
    Line() << "[U]pgrade / [S]elect another / E[x]it > " << std::flush;
    const std::optional<std::string> typed = ReadLine();
    if (!typed) return std::nullopt;
    if (const auto choice = ParseMenuChoice(*typed)) return choice;
    PrintLine("Please answer u (upgrade), s (select another) or x (exit).");
  }
}

std::optional<std::string> TerminalView::ReadLine() {
  std::string line;
  if (!std::getline(in_, line)) {
    out_ << '\n' << std::flush;
    return std::nullopt;
  }
  if (settings_.echoInput) out_ << line << '\n' << std::flush;
  return line;
}

void TerminalView::ShowAboutBox() {
  PrintLine("[" + std::string(kAboutCaption) + "]");
  PrintLine(kAboutVersion);
  PrintLine(kAboutSecondLine);
}

// ---- progress bar ----

void TerminalView::SetProgressRange(int low, int high) {
  low_ = low;
  high_ = high;
  transfer_.reset();  // a new run
  ShowProgress();
}

void TerminalView::SetProgressPosition(int position) {
  position_ = position;
  ShowProgress();
}

void TerminalView::SetProgressStep(int step) { step_ = step; }

void TerminalView::StepProgress() {
  position_ += step_;
  // Past the end the bar starts over, as a stepped progress control does.
  if (position_ > high_) position_ = low_ + (position_ - high_);
  ShowProgress();
}

// The bar is redrawn whenever the time's share or the drive's count moves;
// as lines, a line for each new share and one when the last unit is sent.
void TerminalView::ShowTransferProgress(const TransferProgress& progress) {
  transfer_ = progress;
  if (settings_.progressBar || progress.sent == progress.total) DrawProgress();
}

void TerminalView::ShowProgress() {
  const int percent = ProgressPercent(low_, high_, position_);
  if (percent == shownPercent_) return;
  shownPercent_ = percent;
  DrawProgress();
}

void TerminalView::DrawProgress() {
  const std::string work = transfer_ ? ", " + TransferText(*transfer_) : std::string();
  if (settings_.progressBar) {
    out_ << '\r' << ProgressBar(shownPercent_, kBarWidth) << work << std::flush;
    barOnLine_ = true;
  } else {
    PrintLine("progress " + std::to_string(shownPercent_) + "%" + work);
  }
}

void TerminalView::StartTimer(int id, std::chrono::milliseconds period) {
  timers_.Start(id, period);
}

void TerminalView::StopTimer(int id) { timers_.Stop(id); }

// ---- drive tree ----

void TerminalView::ClearTree() {
  items_.clear();
  selected_ = kNoTreeItem;
}

// A terminal shows no images: the tree's layout says what is root and drive.
TreeItem TerminalView::InsertTreeItem(TreeItem parent, std::string_view text, int /*image*/) {
  items_.push_back({parent, std::string(text), std::nullopt, {}});
  return static_cast<TreeItem>(items_.size());
}

void TerminalView::AssignItemColor(TreeItem item, Rgb color) {
  if (item != kNoTreeItem && item <= items_.size()) items_[item - 1].color = color;
}

void TerminalView::SetTreeItemTip(TreeItem item, std::string_view tip) {
  if (item != kNoTreeItem && item <= items_.size()) items_[item - 1].tip = tip;
}

void TerminalView::SetTreeItemText(TreeItem item, std::string_view text) {
  if (item != kNoTreeItem && item <= items_.size()) items_[item - 1].text = text;
}

// A printed tree is always expanded.
void TerminalView::ExpandTreeItem(TreeItem /*item*/) {}

const TerminalView::Item* TerminalView::Find(TreeItem item) const {
  if (item == kNoTreeItem || item > items_.size()) return nullptr;
  return &items_[item - 1];
}

TreeItem TerminalView::NextUnder(TreeItem parent, TreeItem after) const {
  for (std::size_t index = after; index < items_.size(); ++index) {
    if (items_[index].parent == parent) return static_cast<TreeItem>(index + 1);
  }
  return kNoTreeItem;
}

TreeItem TerminalView::GetRootTreeItem() { return NextUnder(kNoTreeItem, kNoTreeItem); }

TreeItem TerminalView::GetSelectedTreeItem() { return selected_; }

TreeItem TerminalView::GetChildTreeItem(TreeItem item) {
  return Find(item) != nullptr ? NextUnder(item, item) : kNoTreeItem;
}

TreeItem TerminalView::GetNextSiblingTreeItem(TreeItem item) {
  const Item* found = Find(item);
  return found != nullptr ? NextUnder(found->parent, item) : kNoTreeItem;
}

std::size_t TerminalView::GetTreeItemCount() { return items_.size(); }

std::string TerminalView::GetTreeItemText(TreeItem item) {
  const Item* found = Find(item);
  return found != nullptr ? found->text : std::string();
}

std::vector<TreeItem> TerminalView::Drives() const {
  std::vector<TreeItem> drives;
  const TreeItem root = NextUnder(kNoTreeItem, kNoTreeItem);
  if (root == kNoTreeItem) return drives;
  for (TreeItem drive = NextUnder(root, root); drive != kNoTreeItem;
       drive = NextUnder(root, drive)) {
    drives.push_back(drive);
  }
  return drives;
}

std::string TerminalView::DriveMarks(const Item& item) const {
  std::string marks = settings_.emulatedDrives ? "emulated" : "";
  if (item.color == kGreyedDrive) {
    marks += marks.empty() ? "not for this package" : ", not for this package";
    if (!item.tip.empty()) marks.append(": ").append(item.tip);
  }
  return marks.empty() ? marks : "  (" + marks + ")";
}

void TerminalView::PrintTree() {
  PrintLine(WithoutMnemonics(texts_[ControlId::DevicesLabel]));
  const TreeItem root = GetRootTreeItem();
  if (root == kNoTreeItem) return;
  PrintLine(GetTreeItemText(root));
  std::size_t number = 0;
  for (const TreeItem drive : Drives()) {
    const Item& item = *Find(drive);
    PrintLine("  " + std::to_string(++number) + ". " + item.text + DriveMarks(item));
  }
}

std::size_t TerminalView::DriveCount() const { return Drives().size(); }

bool TerminalView::SelectDrive(std::size_t number) {
  const std::vector<TreeItem> drives = Drives();
  if (number > drives.size()) return false;
  const TreeItem item = number == 0 ? GetRootTreeItem() : drives[number - 1];
  if (item == kNoTreeItem) return false;
  selected_ = item;
  return true;
}

std::optional<std::size_t> TerminalView::AskForDrive() {
  const std::size_t count = DriveCount();
  const std::string range = count == 1 ? "1" : "1-" + std::to_string(count);
  while (true) {
    Line() << "Select a drive [" << range << ", 0 = none]: " << std::flush;
    const std::optional<std::string> typed = ReadLine();
    if (!typed) return std::nullopt;
    if (const auto number = ParseDriveNumber(*typed, count)) return number;
  }
}

}  // namespace tslflash::terminal
