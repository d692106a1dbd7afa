// The one seam between the dialog's presenter and a window: what the window
// shows (controls by id, the progress bar, the drive tree, the system menu),
// message boxes, timer 1 and the end of the dialog. The window only renders
// and asks: the presenter keeps the state and never reads it back. The Qt,
// Win32 and terminal front ends and the test fake each implement it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "update/run_events.h"

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

// The colour of a drive the package is not for.
inline constexpr Rgb kGreyedDrive{125, 125, 125};

inline constexpr int kProgressTimer = 1;
// System-menu commands keep their low 4 bits free, as the window system asks.
// Save report stays clear of About's neighbours, which stay the window's.
inline constexpr int kAboutCommand = 0x10;
inline constexpr int kSaveReportCommand = 0x200;

// What asks where to save a file in place of a window's file dialog, so that
// tests need not drive one; none: cancelled.
using SaveFileAsker = std::function<std::optional<std::string>(std::string_view suggestedName)>;

class DialogView {
 public:
  virtual ~DialogView() = default;

  virtual void SetTitle(std::string_view title) = 0;
  virtual void SetControlText(ControlId id, std::string_view text) = 0;
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
  // How much of the image the drive has accepted, beside the bar's share of
  // the time.
  virtual void ShowTransferProgress(const TransferProgress& progress) = 0;

  virtual void StartTimer(int id, std::chrono::milliseconds period) = 0;
  virtual void StopTimer(int id) = 0;

  // The drive tree. Items keep insertion order.
  virtual void ClearTree() = 0;
  virtual TreeItem InsertTreeItem(TreeItem parent, std::string_view text, int image) = 0;
  // Draws the item's text in this colour (except while it is selected and the
  // tree has the focus).
  virtual void AssignItemColor(TreeItem item, Rgb color) = 0;
  virtual void ExpandTreeItem(TreeItem item) = 0;
  // One line telling why the item is as it is (why a drive is greyed), shown
  // where the pointer rests on it.
  virtual void SetTreeItemTip(TreeItem item, std::string_view tip) = 0;
  // A drive's text once it reports another revision.
  virtual void SetTreeItemText(TreeItem item, std::string_view text) = 0;

  // The About item of the window's menu; the Close command of the window.
  virtual void AddAboutMenuItem(std::string_view text, int commandId) = 0;
  // The item that saves the support report, right after the About item.
  virtual void AddSaveReportMenuItem(std::string_view text, int commandId) = 0;
  virtual void EnableCloseCommand(bool enable) = 0;

  // Asks where to save a file, suggesting this name; none: cancelled.
  virtual std::optional<std::string> AskSaveFileName(std::string_view suggestedName) = 0;

  virtual void EndDialog(DialogResult result) = 0;
};

}  // namespace tslflash
