#include "tests/app/fake_dialog_view.h"

#include <gtest/gtest.h>

#include <utility>

namespace tslflash::testing {

void FakeDialogView::Record(std::string call) {
  calls.push_back(std::move(call));
  callThreads.push_back(std::this_thread::get_id());
}

const FakeTreeItem* FakeDialogView::Item(TreeItem item) const {
  if (item == kNoTreeItem || item > items.size()) return nullptr;
  return &items[item - 1];
}

void FakeDialogView::Answer(std::initializer_list<BoxAnswer> answers) {
  answers_.insert(answers_.end(), answers.begin(), answers.end());
}

void FakeDialogView::SetTitle(std::string_view text) {
  Record("SetTitle");
  title = text;
}

void FakeDialogView::SetControlText(ControlId id, std::string_view text) {
  Record("SetControlText " + std::to_string(static_cast<int>(id)));
  texts[id] = text;
}

void FakeDialogView::EnableControl(ControlId id, bool enable) {
  Record("EnableControl " + std::to_string(static_cast<int>(id)) + (enable ? " on" : " off"));
  enabled[id] = enable;
}

void FakeDialogView::ScrollLogToEnd() { Record("ScrollLogToEnd"); }

BoxAnswer FakeDialogView::ShowMessageBox(const MessageBox& box) {
  Record("ShowMessageBox " + box.caption.value_or("(title)"));
  boxes.push_back(box);
  if (answers_.empty()) {
    ADD_FAILURE() << "no answer scripted for the message box: " << box.text;
    return BoxAnswer::Cancel;
  }
  const BoxAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void FakeDialogView::ShowAboutBox() {
  Record("ShowAboutBox");
  ++aboutBoxes;
}

void FakeDialogView::SetProgressRange(int low, int high) {
  Record("SetProgressRange");
  progressLow = low;
  progressHigh = high;
}

void FakeDialogView::SetProgressPosition(int position) {
  Record("SetProgressPosition " + std::to_string(position));
  progressPosition = position;
}

void FakeDialogView::SetProgressStep(int step) {
  Record("SetProgressStep");
  progressStep = step;
}

void FakeDialogView::StepProgress() {
  Record("StepProgress");
  progressPosition = std::min(progressHigh, progressPosition + progressStep);
}

void FakeDialogView::ShowTransferProgress(const TransferProgress& progress) {
  Record("ShowTransferProgress");
  transferProgress.push_back(progress);
}

void FakeDialogView::StartTimer(int id, std::chrono::milliseconds period) {
  Record("StartTimer " + std::to_string(id));
  timers[id] = period;
}

void FakeDialogView::StopTimer(int id) {
  Record("StopTimer " + std::to_string(id));
  timers.erase(id);
}

void FakeDialogView::ClearTree() {
  Record("ClearTree");
  items.clear();
  selected_ = kNoTreeItem;
}

TreeItem FakeDialogView::InsertTreeItem(TreeItem parent, std::string_view text, int image) {
  Record("InsertTreeItem");
  items.push_back({parent, std::string(text), image, std::nullopt, {}});
  return static_cast<TreeItem>(items.size());
}

void FakeDialogView::AssignItemColor(TreeItem item, Rgb color) {
  Record("AssignItemColor");
  if (item != kNoTreeItem && item <= items.size()) items[item - 1].color = color;
}

void FakeDialogView::SetTreeItemTip(TreeItem item, std::string_view tip) {
  Record("SetTreeItemTip");
  if (item != kNoTreeItem && item <= items.size()) items[item - 1].tip = tip;
}

void FakeDialogView::SetTreeItemText(TreeItem item, std::string_view text) {
  Record("SetTreeItemText");
  if (item != kNoTreeItem && item <= items.size()) items[item - 1].text = text;
}

void FakeDialogView::ExpandTreeItem(TreeItem item) {
  Record("ExpandTreeItem");
  expanded.push_back(item);
}

TreeItem FakeDialogView::GetSelectedTreeItem() { return selected_; }

void FakeDialogView::AddAboutMenuItem(std::string_view text, int commandId) {
  Record("AddAboutMenuItem");
  menuItems.emplace_back(std::string(text), commandId);
}

void FakeDialogView::AddSaveReportMenuItem(std::string_view text, int commandId) {
  Record("AddSaveReportMenuItem");
  menuItems.emplace_back(std::string(text), commandId);
}

std::optional<std::string> FakeDialogView::AskSaveFileName(std::string_view suggestedName) {
  Record("AskSaveFileName");
  suggestedNames.emplace_back(suggestedName);
  return saveFileName;
}

void FakeDialogView::EnableCloseCommand(bool enable) {
  Record(enable ? "EnableCloseCommand on" : "EnableCloseCommand off");
  closeEnabled = enable;
}

void FakeDialogView::EndDialog(DialogResult result) {
  Record("EndDialog");
  ended = result;
}

void FakeDialogView::QueueWorker(std::function<void()> entry) {
  Record("StartWorker");
  workers.push_back(std::move(entry));
}

}  // namespace tslflash::testing
