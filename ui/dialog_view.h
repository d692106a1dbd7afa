// The one seam between the dialog's logic and a window: controls by id,
// message boxes, the progress bar, timer 1, the drive tree, the system menu,
// the end of the dialog and the start of the update worker. The Qt, Win32 and
// terminal front ends and the test fake each implement it; the logic never
// sees a toolkit.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tslflash {

// Control ids of the main dialog and of the About box.
enum class ControlId : int {
  Ok = 1,
  Exit = 2,  // IDCANCEL
  DevicesLabel = 1001,
  DriveTree = 1002,
  Progress = 1007,
  Upgrade = 1009,
  Log = 1014,
};

enum class BoxButtons : std::uint8_t { Ok, OkCancel };
enum class BoxIcon : std::uint8_t { None, Exclamation, Information, Stop };
enum class BoxAnswer : std::uint8_t { Ok, Cancel };

struct MessageBox {
  std::string text;
  std::optional<std::string> caption;  // nothing: the application's title
  BoxButtons buttons = BoxButtons::Ok;
  BoxIcon icon = BoxIcon::None;
  friend bool operator==(const MessageBox&, const MessageBox&) = default;
};

enum class DialogResult : std::uint8_t { Ok, Cancel };

// A tree item handle; kNoTreeItem stands for none.
using TreeItem = std::uint32_t;
inline constexpr TreeItem kNoTreeItem = 0;

// Tree images of the bitmap strip: the root and a drive.
inline constexpr int kRootImage = 0;
inline constexpr int kDriveImage = 1;

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr int kProgressTimer = 1;
inline constexpr int kAboutCommand = 0x10;

class DialogView {
 public:
  virtual ~DialogView() = default;

  virtual void SetTitle(std::string_view title) = 0;
  virtual void SetControlText(ControlId id, std::string_view text) = 0;
  virtual std::string GetControlText(ControlId id) = 0;
  virtual void EnableControl(ControlId id, bool enable) = 0;
  // Brings the log pane's last line into view.
  virtual void ScrollLogToEnd() = 0;

  // Waits for the user; owned by the dialog.
  virtual BoxAnswer ShowMessageBox(const MessageBox& box) = 0;
  virtual void ShowAboutBox() = 0;

  virtual void SetProgressRange(int low, int high) = 0;
  virtual void SetProgressPosition(int position) = 0;
  virtual void SetProgressStep(int step) = 0;
  virtual void StepProgress() = 0;

  virtual void StartTimer(int id, std::chrono::milliseconds period) = 0;
  virtual void StopTimer(int id) = 0;

  // The drive tree. Items keep insertion order.
  virtual void ClearTree() = 0;
  virtual TreeItem InsertTreeItem(TreeItem parent, std::string_view text, int image) = 0;
  // Draws the item's text in this colour (except while it is selected and the
  // tree has the focus).
  virtual void AssignItemColor(TreeItem item, Rgb color) = 0;
  virtual void ExpandTreeItem(TreeItem item) = 0;
  virtual TreeItem GetRootTreeItem() = 0;
  virtual TreeItem GetSelectedTreeItem() = 0;
  virtual TreeItem GetChildTreeItem(TreeItem item) = 0;
  virtual TreeItem GetNextSiblingTreeItem(TreeItem item) = 0;
  virtual std::size_t GetTreeItemCount() = 0;
  virtual std::string GetTreeItemText(TreeItem item) = 0;

  // The About item of the window's menu; the Close command of the window.
  virtual void AddAboutMenuItem(std::string_view text, int commandId) = 0;
  virtual void EnableCloseCommand(bool enable) = 0;

  virtual void EndDialog(DialogResult result) = 0;
  // Runs the entry on a new worker thread; returns at once.
  virtual void StartWorker(std::function<void()> entry) = 0;
};

}  // namespace tslflash
