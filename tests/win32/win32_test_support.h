// Helpers for the Win32 window's tests under wine. The dialog runs modally on
// a UI thread of its own, as in the program; the test's thread plays the user:
// it finds the windows of that thread, reads them, sends them messages and
// answers the message boxes the dialog owns. Waits are bounded by a deadline,
// never by a count of rounds.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "app/dialog_setup.h"
#include "emulator/drive_description.h"
#include "emulator/emulated_transport.h"
#include "package/embedded_package.h"
#include "transport/clock.h"
#include "ui/win32/win32_front_end.h"
#include "ui/win32/win32_tree_control.h"
#include "ui/win32/windows_api.h"

namespace tslflash::win32_test {

using namespace std::chrono_literals;

// Runs until `done` holds or `limit` has passed; true when it holds.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return done();
    Sleep(5);
  }
  return true;
}

inline std::string WindowText(HWND window) {
  char text[2048] = {};
  GetWindowTextA(window, text, static_cast<int>(sizeof(text)));
  return text;
}

inline std::string ClassName(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, static_cast<int>(sizeof(name)));
  return name;
}

// The windows of `window` in z-order, which for a dialog is template order.
inline std::vector<HWND> Children(HWND window) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

// A rectangle that tests compare and print.
struct Area {
  LONG left = 0;
  LONG top = 0;
  LONG right = 0;
  LONG bottom = 0;
  friend bool operator==(const Area&, const Area&) = default;
  friend void PrintTo(const Area& a, std::ostream* out) {
    *out << "(" << a.left << "," << a.top << ")-(" << a.right << "," << a.bottom << ")";
  }
};

inline Area AreaOf(const RECT& rect) { return {rect.left, rect.top, rect.right, rect.bottom}; }

// A rectangle in dialog units of `dialog`, in its client's pixels. Position
// and size are converted each on its own, as the dialog places controls.
inline Area DialogUnits(HWND dialog, int x, int y, int width, int height) {
  RECT place{x, y, width, height};
  MapDialogRect(dialog, &place);
  return {place.left, place.top, place.left + place.right, place.top + place.bottom};
}

// Where `control` sits in its dialog's client area.
inline Area PlaceInDialog(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return AreaOf(rect);
}

inline Area ClientArea(HWND window) {
  RECT rect{};
  GetClientRect(window, &rect);
  return AreaOf(rect);
}

// The drive tree's root item, and its drives by position.
inline HTREEITEM RootItem(HWND tree) { return tree_control::NextItem(tree, TVGN_ROOT); }
inline HTREEITEM DriveItem(HWND tree, int index) {
  HTREEITEM item = tree_control::NextItem(tree, TVGN_CHILD, RootItem(tree));
  for (int i = 0; i < index && item != nullptr; ++i) {
    item = tree_control::NextItem(tree, TVGN_NEXT, item);
  }
  return item;
}

// Selects the item as a click would: the dialog hears of the change.
inline void SelectItem(HWND tree, HTREEITEM item) {
  SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

// What a message box showed.
struct SeenBox {
  std::string text;
  std::string caption;
  bool hasCancel = false;
  bool hasIcon = false;
};

// Fails the test at once, with the way to fix it, when wine has no X display
// to open windows on.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* display = std::getenv("DISPLAY");
    ASSERT_TRUE(display != nullptr && *display != '\0')
        << "These tests open windows: run them with DISPLAY naming an X server, e.g. "
           "Xvfb :37 & DISPLAY=:37 ctest";
  }
};

// The demo's emulated drives and the embedded package: the first drive is the
// one the package is for, the other two are greyed.
inline DialogSetup DemoSetup(std::vector<std::shared_ptr<emu::DriveEmulator>>* drives = nullptr) {
  const emu::LoadedDrives loaded =
      emu::LoadDriveDescriptionFile(TSLFLASH_EMULATOR_DRIVES_DIR "/demo.json");
  EXPECT_TRUE(loaded.Ok()) << loaded.error;
  auto emulators = emu::MakeEmulators(loaded.drives);
  if (drives != nullptr) *drives = emulators;
  DialogSetup setup;
  setup.makeTransport = [emulators] { return std::make_unique<emu::EmulatedTransport>(emulators); };
  setup.package = EmbeddedPackage();
  setup.options.emulatedDrives = true;
  setup.skipWaits = true;
  return setup;
}

// A clock that holds the update run in its first pause of a second or more
// (the drive's settle wait after the transfer) until the test releases it;
// shorter pauses pass at once.
class HoldingClock final : public Clock {
 public:
  void Sleep(std::chrono::milliseconds duration) override {
    if (duration < 1s) return;
    std::unique_lock lock(mutex_);
    held_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
  }
  bool WaitUntilHeld() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 30s, [this] { return held_; });
  }
  void Release() {
    const std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  bool released_ = false;
};

// The program's dialog over `setup`, run by RunWin32FrontEnd on a thread of
// its own; `saveFileAsker`, when given, answers in place of the save-file
// dialog.
class DialogThread {
 public:
  explicit DialogThread(DialogSetup setup, Clock* clock = nullptr,
                        SaveFileAsker saveFileAsker = nullptr)
      : setup_(std::move(setup)), thread_([this, clock, ask = std::move(saveFileAsker)] {
          uiThread_ = GetCurrentThreadId();
          exitCode_ = RunWin32FrontEnd(setup_, clock, [&ask](Win32DialogWindow& window) {
            if (ask) window.UseSaveFileAsker(ask);
          });
          finished_ = true;
        }) {}

  // Answers what is still open with Cancel and presses Exit until the dialog
  // has ended; a dialog that will not end stops the test program.
  ~DialogThread() {
    if (!WaitUntil([this] { return TryToEnd(); }, 20s)) {
      std::fputs("The dialog under test did not end.\n", stderr);
      std::abort();
    }
    thread_.join();
  }
  DialogThread(const DialogThread&) = delete;
  DialogThread& operator=(const DialogThread&) = delete;

  // The main dialog, once it exists (it is hidden while start-up runs).
  HWND Dialog() {
    HWND dialog = nullptr;
    WaitUntil([&] { return (dialog = FindDialog()) != nullptr; });
    return dialog;
  }
  HWND Control(int id) { return GetDlgItem(Dialog(), id); }

  // The next box the dialog owns (a message box, or the About box); null when
  // none opens.
  HWND WaitForOwnedBox() {
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindOwnedBox()) != nullptr || finished_; });
    return box;
  }

  // Waits for the next message box, reads it and presses `answer`.
  std::optional<SeenBox> Answer(BoxAnswer answer) {
    HWND box = WaitForOwnedBox();
    if (box == nullptr || GetDlgItem(box, kBoxTextId) == nullptr) return std::nullopt;
    const SeenBox seen = Read(box);
    Press(box, answer == BoxAnswer::Ok ? IDOK : IDCANCEL);
    return seen;
  }

  // Presses a button of a box and waits until the box has gone.
  static void Press(HWND box, int button) {
    PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
    WaitUntil([box] { return IsWindow(box) == 0; });
  }

  // The window with the keyboard focus on the dialog's thread.
  HWND Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(uiThread_, &info) != 0 ? info.hwndFocus : nullptr;
  }
  // Gives the focus to a control of the dialog, as Tab would.
  void FocusOn(HWND control) {
    SendMessageA(Dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
  }

  bool Finished() const { return finished_; }
  // The exit code of RunWin32FrontEnd, once the dialog has ended.
  std::optional<int> ExitCode() {
    if (!WaitUntil([this] { return finished_.load(); })) return std::nullopt;
    return exitCode_.load();
  }

  static constexpr int kBoxTextId = 0xFFFF;  // a message box's text

  static SeenBox Read(HWND box) {
    SeenBox seen{WindowText(GetDlgItem(box, kBoxTextId)), WindowText(box),
                 GetDlgItem(box, IDCANCEL) != nullptr, false};
    for (HWND child : Children(box)) {
      const auto style = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
      if (ClassName(child) == "Static" && (style & SS_TYPEMASK) == SS_ICON &&
          IsWindowVisible(child) != 0 && SendMessageA(child, STM_GETICON, 0, 0) != 0) {
        seen.hasIcon = true;
      }
    }
    return seen;
  }

 private:
  template <typename Match>
  HWND FindThreadWindow(Match match) const {
    struct Search {
      Match match;
      HWND found = nullptr;
    } search{match};
    EnumThreadWindows(
        uiThread_,
        [](HWND window, LPARAM data) -> BOOL {
          auto& s = *reinterpret_cast<Search*>(data);
          if (ClassName(window) != "#32770" || !s.match(window)) return TRUE;
          s.found = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  HWND FindDialog() const {
    if (uiThread_ == 0) return nullptr;
    return FindThreadWindow(
        [](HWND w) { return GetWindow(w, GW_OWNER) == nullptr && GetDlgItem(w, 1002) != nullptr; });
  }

  HWND FindOwnedBox() const {
    HWND dialog = FindDialog();
    if (dialog == nullptr) return nullptr;
    return FindThreadWindow(
        [dialog](HWND w) { return GetWindow(w, GW_OWNER) == dialog && IsWindowVisible(w) != 0; });
  }

  bool TryToEnd() {
    if (finished_) return true;
    if (HWND box = FindOwnedBox()) {
      PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
    } else if (HWND dialog = FindDialog()) {
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
    Sleep(20);
    return finished_;
  }

  DialogSetup setup_;
  std::atomic<DWORD> uiThread_ = 0;
  std::atomic<int> exitCode_ = -1;
  std::atomic<bool> finished_ = false;
  std::thread thread_;
};

}  // namespace tslflash::win32_test
