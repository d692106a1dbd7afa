#include "ui/win32/win32_dialog_window.h"

#include <algorithm>
#include <string>
#include <utility>

#include "resources/texts.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/win32_about_box.h"
#include "ui/win32/win32_resources.h"
#include "ui/win32/win32_tree_control.h"
#include "update/windows_run_shield.h"

namespace tslflash {
namespace {

constexpr COLORREF ColorOf(Rgb color) {
  return static_cast<COLORREF>(color.red) | (static_cast<COLORREF>(color.green) << 8) |
         (static_cast<COLORREF>(color.blue) << 16);
}

constexpr int kTreeImageWidth = 16;
constexpr int kTreeImageGrowth = 1;
constexpr COLORREF kTreeImageMask = ColorOf({255, 0, 0});

constexpr WORD LowWord(WPARAM value) { return static_cast<WORD>(value & 0xFFFF); }
constexpr WORD HighWord(WPARAM value) { return static_cast<WORD>((value >> 16) & 0xFFFF); }

UINT BoxIconFlag(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Exclamation:
      return MB_ICONEXCLAMATION;
    case BoxIcon::Information:
      return MB_ICONINFORMATION;
    case BoxIcon::Stop:
      return MB_ICONSTOP;
    case BoxIcon::None:
      break;
  }
  return 0;
}

template <typename Pointer>
LPARAM AsLParam(Pointer pointer) {
  return reinterpret_cast<LPARAM>(pointer);
}

// Where the icon of a minimised window goes: centred, rounding up.
POINT MinimisedIconOrigin(SIZE client, SIZE icon) {
  return {(client.cx - icon.cx + 1) / 2, (client.cy - icon.cy + 1) / 2};
}

}  // namespace

Win32DialogWindow::Win32DialogWindow(Win32Dispatcher& dispatcher)
    : dispatcher_(dispatcher),
      instance_(ResourceModule()),
      icon_(LoadIconA(instance_, ResourceName(IDI_TSLFLASH))) {}

Win32DialogWindow::~Win32DialogWindow() {
  if (images_ != nullptr) ImageList_Destroy(images_);
}

std::optional<DialogResult> Win32DialogWindow::Run() {
  const INT_PTR ended = DialogBoxParamA(instance_, ResourceName(IDD_UPDATE_DIALOG), nullptr,
                                        &DialogProc, AsLParam(this));
  if (ended == -1 || ended == 0) return std::nullopt;
  return ended == IDOK ? DialogResult::Ok : DialogResult::Cancel;
}

INT_PTR CALLBACK Win32DialogWindow::DialogProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    return reinterpret_cast<Win32DialogWindow*>(lParam)->OnInitDialog(window);
  }
  auto* self = reinterpret_cast<Win32DialogWindow*>(GetWindowLongPtrA(window, DWLP_USER));
  return self == nullptr ? FALSE : self->OnMessage(message, wParam, lParam);
}

INT_PTR Win32DialogWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kRunTasksMessage:
      dispatcher_.RunPending();
      return TRUE;
    case WM_COMMAND:
      return OnCommand(wParam) ? TRUE : FALSE;
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<NMHDR*>(lParam)) ? TRUE : FALSE;
    case WM_SYSCOMMAND: {
      // The dialog's own commands (the About item); the rest are the window's.
      const bool own = events_.sysCommand && events_.sysCommand(static_cast<int>(LowWord(wParam)));
      return own ? TRUE : FALSE;
    }
    case WM_TIMER:
      if (events_.timer) events_.timer(static_cast<int>(wParam));
      return FALSE;
    case WM_PAINT:
      return PaintMinimised() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_CLOSE:
      // A greyed Close command cannot be chosen; else Close acts as Exit.
      if (closeEnabled_) return FALSE;
      MessageBeep(MB_OK);
      return TRUE;
    case WM_QUERYENDSESSION:
      // No shutdown while firmware is written; the reason says why.
      if (!ShutdownBlocked()) return FALSE;
      SetWindowLongPtrA(window_, DWLP_MSGRESULT, FALSE);
      return TRUE;
    case kShutdownUnblockMessage:
      FinishShutdownBlock(SystemRunShieldCalls());
      return TRUE;
    case WM_DESTROY:
      SetShutdownBlockWindow(nullptr);
      OnDestroy();
      return FALSE;
    default:
      return FALSE;
  }
}

BOOL Win32DialogWindow::OnInitDialog(HWND window) {
  window_ = window;
  dispatcher_.AttachWindow(window);
  SetShutdownBlockWindow(window);
  SendMessageA(window, WM_SETICON, ICON_BIG, AsLParam(icon_));
  SendMessageA(window, WM_SETICON, ICON_SMALL, AsLParam(icon_));
  tree_.Attach(Tree());
  if (images_ == nullptr) {
    images_ = ImageList_LoadImageA(instance_, ResourceName(IDB_TREE_IMAGES), kTreeImageWidth,
                                   kTreeImageGrowth, kTreeImageMask, IMAGE_BITMAP, 0);
  }
  SendMessageA(Tree(), TVM_SETIMAGELIST, TVSIL_NORMAL, AsLParam(images_));
  const bool startedUp = !events_.initDialog || events_.initDialog();
  return startedUp ? TRUE : FALSE;  // TRUE: the first control of the tab order gets the focus
}

bool Win32DialogWindow::OnCommand(WPARAM wParam) {
  const int id = LowWord(wParam);
  switch (id) {
    case IDOK:
      TryToEnd(DialogResult::Ok);
      return true;
    case IDCANCEL:
      TryToEnd(DialogResult::Cancel);
      return true;
    case IDC_UPGRADE:
      if (HighWord(wParam) != BN_CLICKED) return false;
      if (events_.upgrade) events_.upgrade();
      return true;
    default:
      return false;
  }
}

bool Win32DialogWindow::OnNotify(NMHDR& header) {
  if (header.idFrom != IDC_DRIVE_TREE) return false;
  // The tip text is copied into the tree's own buffer; no result to set.
  if (header.code == TVN_GETINFOTIPA) {
    return GiveItemTip(*reinterpret_cast<NMTVGETINFOTIPA*>(&header));
  }
  if (header.code != TVN_SELCHANGEDA && header.code != TVN_SELCHANGEDW) return false;
  if (!clearingTree_ && events_.driveSelectionChanged) events_.driveSelectionChanged();
  SetWindowLongPtrA(window_, DWLP_MSGRESULT, 0);
  return true;
}

bool Win32DialogWindow::PaintMinimised() {
  if (IsIconic(window_) == 0) return false;
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(window_, &paint);
  SendMessageA(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client{};
  GetClientRect(window_, &client);
  const POINT origin =
      MinimisedIconOrigin({client.right - client.left, client.bottom - client.top},
                          {GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)});
  DrawIcon(dc, origin.x, origin.y, icon_);
  EndPaint(window_, &paint);
  return true;
}

// From here on a task of the worker wakes the UI thread's own queue, which
// the dispatcher serves.
void Win32DialogWindow::OnDestroy() {
  dispatcher_.AttachWindow(nullptr);
  window_ = nullptr;
}

void Win32DialogWindow::TryToEnd(DialogResult result) {
  if (events_.canClose && !events_.canClose()) {
    MessageBeep(MB_OK);
    return;
  }
  EndDialog(result);
}

HWND Win32DialogWindow::Control(ControlId id) const {
  return GetDlgItem(window_, static_cast<int>(id));
}

LRESULT Win32DialogWindow::SendToControl(ControlId id, UINT message, WPARAM wParam,
                                         LPARAM lParam) const {
  return SendMessageA(Control(id), message, wParam, lParam);
}

void Win32DialogWindow::SetTitle(std::string_view title) {
  SetWindowTextA(window_, std::string(title).c_str());
}

void Win32DialogWindow::SetControlText(ControlId id, std::string_view text) {
  SetWindowTextA(Control(id), std::string(text).c_str());
}

// A control that is switched off while it has the focus hands the focus on,
// so the keyboard keeps working during an update.
void Win32DialogWindow::EnableControl(ControlId id, bool enable) {
  HWND control = Control(id);
  if (!enable && GetFocus() == control) SendMessageA(window_, WM_NEXTDLGCTL, 0, FALSE);
  EnableWindow(control, enable ? TRUE : FALSE);
}

void Win32DialogWindow::ScrollLogToEnd() {
  const LRESULT lines = SendToControl(ControlId::Log, EM_GETLINECOUNT, 0, 0);
  SendToControl(ControlId::Log, EM_LINESCROLL, 0, lines);
}

BoxAnswer Win32DialogWindow::ShowMessageBox(const MessageBox& box) {
  const std::string caption = box.caption.value_or(std::string(kApplicationName));
  const UINT buttons = box.buttons == BoxButtons::OkCancel ? MB_OKCANCEL : MB_OK;
  const int answer =
      ::MessageBoxA(window_, box.text.c_str(), caption.c_str(), buttons | BoxIconFlag(box.icon));
  return answer == IDOK ? BoxAnswer::Ok : BoxAnswer::Cancel;
}

void Win32DialogWindow::ShowAboutBox() { ShowWin32AboutBox(instance_, window_); }

void Win32DialogWindow::SetProgressRange(int low, int high) {
  const auto range = (static_cast<DWORD>(high & 0xFFFF) << 16) | static_cast<DWORD>(low & 0xFFFF);
  SendToControl(ControlId::Progress, PBM_SETRANGE, 0, static_cast<LPARAM>(range));
}

void Win32DialogWindow::SetProgressPosition(int position) {
  SendToControl(ControlId::Progress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Win32DialogWindow::SetProgressStep(int step) {
  SendToControl(ControlId::Progress, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
}

void Win32DialogWindow::StepProgress() { SendToControl(ControlId::Progress, PBM_STEPIT, 0, 0); }

// The progress control has no text of its own: the bar shows the share.
void Win32DialogWindow::ShowTransferProgress(const TransferProgress& /*progress*/) {}

void Win32DialogWindow::StartTimer(int id, std::chrono::milliseconds period) {
  SetTimer(window_, static_cast<UINT_PTR>(id), static_cast<UINT>(period.count()), nullptr);
}

void Win32DialogWindow::StopTimer(int id) { KillTimer(window_, static_cast<UINT_PTR>(id)); }

// Emptying the tree is no choice of the user's.
void Win32DialogWindow::ClearTree() {
  clearingTree_ = true;
  SendMessageA(Tree(), TVM_DELETEITEM, 0, AsLParam(TVI_ROOT));
  clearingTree_ = false;
  items_.clear();
  handles_.clear();
  tips_.clear();
}

TreeItem Win32DialogWindow::InsertTreeItem(TreeItem parent, std::string_view text, int image) {
  HTREEITEM parentItem = ItemOf(parent);
  if (parent != kNoTreeItem && parentItem == nullptr) return kNoTreeItem;
  std::string itemText(text);
  TVINSERTSTRUCTA insert{};
  insert.hParent = parentItem == nullptr ? TVI_ROOT : parentItem;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  insert.item.pszText = itemText.data();
  insert.item.iImage = image;
  insert.item.iSelectedImage = image;
  auto* item =
      reinterpret_cast<HTREEITEM>(SendMessageA(Tree(), TVM_INSERTITEMA, 0, AsLParam(&insert)));
  if (item == nullptr) return kNoTreeItem;
  const TreeItem handle = ++lastHandle_;
  items_[handle] = item;
  handles_[item] = handle;
  return handle;
}

void Win32DialogWindow::AssignItemColor(TreeItem item, Rgb color) {
  HTREEITEM node = ItemOf(item);
  if (node == nullptr) return;
  tree_.AssignItemColor(node, ColorOf(color));
  InvalidateRect(Tree(), nullptr, FALSE);
}

void Win32DialogWindow::ExpandTreeItem(TreeItem item) {
  if (HTREEITEM node = ItemOf(item)) SendMessageA(Tree(), TVM_EXPAND, TVE_EXPAND, AsLParam(node));
}

void Win32DialogWindow::SetTreeItemTip(TreeItem item, std::string_view tip) {
  if (HTREEITEM node = ItemOf(item)) tips_[node] = tip;
}

void Win32DialogWindow::SetTreeItemText(TreeItem item, std::string_view text) {
  HTREEITEM node = ItemOf(item);
  if (node == nullptr) return;
  std::string itemText(text);
  TVITEMA change{};
  change.mask = TVIF_TEXT;
  change.hItem = node;
  change.pszText = itemText.data();
  SendMessageA(Tree(), TVM_SETITEMA, 0, AsLParam(&change));
}

bool Win32DialogWindow::GiveItemTip(NMTVGETINFOTIPA& request) const {
  const auto tip = tips_.find(request.hItem);
  if (tip == tips_.end() || request.pszText == nullptr || request.cchTextMax <= 0) return false;
  const auto room = static_cast<std::size_t>(request.cchTextMax) - 1;
  const std::size_t length = std::min(room, tip->second.size());
  std::copy_n(tip->second.data(), length, request.pszText);
  request.pszText[length] = '\0';
  return true;
}

TreeItem Win32DialogWindow::GetSelectedTreeItem() const {
  return HandleOf(tree_control::NextItem(Tree(), TVGN_CARET, nullptr));
}

HTREEITEM Win32DialogWindow::ItemOf(TreeItem handle) const {
  const auto found = items_.find(handle);
  return found == items_.end() ? nullptr : found->second;
}

TreeItem Win32DialogWindow::HandleOf(HTREEITEM item) const {
  const auto found = handles_.find(item);
  return found == handles_.end() ? kNoTreeItem : found->second;
}

void Win32DialogWindow::AddAboutMenuItem(std::string_view text, int commandId) {
  HMENU menu = GetSystemMenu(window_, FALSE);
  if (menu == nullptr || text.empty()) return;
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(commandId), std::string(text).c_str());
}

// Right after About, in the same group.
void Win32DialogWindow::AddSaveReportMenuItem(std::string_view text, int commandId) {
  HMENU menu = GetSystemMenu(window_, FALSE);
  if (menu == nullptr || text.empty()) return;
  AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(commandId), std::string(text).c_str());
}

// The common dialog, owned by the dialog, offering plain-text files; it
// leaves the process's current folder as it was.
std::optional<std::string> Win32DialogWindow::AskSaveFileName(std::string_view suggestedName) {
  if (askSaveFile_) return askSaveFile_(suggestedName);
  std::string path(suggestedName.substr(0, MAX_PATH - 1));
  path.resize(MAX_PATH, '\0');
  std::string filter(kSaveReportFileFilter);
  filter.append(1, '\0').append("*.txt").append(2, '\0');
  const std::string title(kSaveReportCaption);
  OPENFILENAMEA request{};
  request.lStructSize = sizeof(request);
  request.hwndOwner = window_;
  request.lpstrFilter = filter.c_str();
  request.lpstrFile = path.data();
  request.nMaxFile = MAX_PATH;
  request.lpstrTitle = title.c_str();
  request.lpstrDefExt = "txt";
  request.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (GetSaveFileNameA(&request) == 0) return std::nullopt;
  return std::string(path.c_str());
}

void Win32DialogWindow::EnableCloseCommand(bool enable) {
  closeEnabled_ = enable;
  const UINT state = enable ? MF_ENABLED : MF_GRAYED;
  EnableMenuItem(GetSystemMenu(window_, FALSE), SC_CLOSE, MF_BYCOMMAND | state);
}

void Win32DialogWindow::EndDialog(DialogResult result) {
  ::EndDialog(window_, result == DialogResult::Ok ? IDOK : IDCANCEL);
}

}  // namespace tslflash
