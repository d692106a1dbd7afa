// The Windows run shield followed through fake system calls: the system kept
// awake for the run by one thread, the console's events held, the window's
// shutdown blocked with its reason and given back on the window's thread;
// without the sleep lock, the console's events alone.
#include "update/windows_run_shield.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "update/held_signals.h"

namespace tslflash {
namespace {

struct Record {
  std::vector<std::string> calls;
  std::vector<std::thread::id> awakeThreads;
  EXECUTION_STATE awakeAnswer = ES_CONTINUOUS;
  PHANDLER_ROUTINE handler = nullptr;
  std::wstring reason;
  HWND posted = nullptr;
  UINT postedMessage = 0;
};
Record record;

const auto fakeWindow = reinterpret_cast<HWND>(0x5A);

EXECUTION_STATE WINAPI FakeExecutionState(EXECUTION_STATE flags) {
  record.awakeThreads.push_back(std::this_thread::get_id());
  record.calls.push_back(flags == (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) ? "awake" : "asleep");
  return flags == ES_CONTINUOUS ? ES_CONTINUOUS : record.awakeAnswer;
}
BOOL WINAPI FakeConsoleHandler(PHANDLER_ROUTINE handler, BOOL add) {
  record.calls.push_back(add ? "console handler added" : "console handler removed");
  record.handler = add ? handler : nullptr;
  return TRUE;
}
BOOL WINAPI FakeBlockCreate(HWND window, LPCWSTR reason) {
  EXPECT_EQ(window, fakeWindow);
  record.calls.push_back("block");
  record.reason = reason;
  return TRUE;
}
BOOL WINAPI FakeBlockDestroy(HWND window) {
  EXPECT_EQ(window, fakeWindow);
  record.calls.push_back("unblock");
  return TRUE;
}
BOOL WINAPI FakePost(HWND window, UINT message, WPARAM, LPARAM) {
  record.calls.push_back("post");
  record.posted = window;
  record.postedMessage = message;
  return TRUE;
}

constexpr RunShieldCalls kFakeCalls{&FakeExecutionState, &FakeConsoleHandler, &FakeBlockCreate,
                                    &FakeBlockDestroy, &FakePost};

class WindowsRunShieldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    record = {};
    SetShutdownBlockWindow(fakeWindow);
    (void)held_signals::TakeHeldEnd();
  }
  void TearDown() override { SetShutdownBlockWindow(nullptr); }
};

TEST_F(WindowsRunShieldTest, ARunIsShieldedFromRaiseToLower) {
  const auto shield = MakeWindowsRunShield(kFakeCalls, SleepLock::Take);
  EXPECT_TRUE(shield->Raise());
  EXPECT_TRUE(ShutdownBlocked());
  EXPECT_EQ(record.reason, L"Writing drive firmware");
  ASSERT_NE(record.handler, nullptr);

  // Ctrl-C and Ctrl-Break are handled (held) and remembered, the first one.
  EXPECT_TRUE(record.handler(CTRL_C_EVENT));
  EXPECT_TRUE(record.handler(CTRL_BREAK_EVENT));
  PHANDLER_ROUTINE handler = record.handler;

  // Lowered from another thread, as the run's worker does.
  std::thread([&] { shield->Lower(); }).join();
  EXPECT_FALSE(ShutdownBlocked());
  EXPECT_EQ(record.posted, fakeWindow);
  EXPECT_EQ(record.postedMessage, kShutdownUnblockMessage);
  FinishShutdownBlock(kFakeCalls);  // the window's thread, on the message
  EXPECT_EQ(record.calls,
            (std::vector<std::string>{"console handler added", "block", "awake", "asleep", "post",
                                      "console handler removed", "unblock"}));
  // Set and cleared on the same thread: the state belongs to it.
  ASSERT_EQ(record.awakeThreads.size(), 2U);
  EXPECT_EQ(record.awakeThreads[0], record.awakeThreads[1]);
  EXPECT_EQ(held_signals::TakeHeldEnd(), SIGINT);
  // Outside the run an event has its default effect.
  EXPECT_FALSE(handler(CTRL_C_EVENT));
}

TEST_F(WindowsRunShieldTest, ASystemThatWillNotStayAwakeIsReported) {
  record.awakeAnswer = 0;
  const auto shield = MakeWindowsRunShield(kFakeCalls, SleepLock::Take);
  EXPECT_FALSE(shield->Raise());
  shield->Lower();
  EXPECT_FALSE(ShutdownBlocked());
}

// An emulated drive's run: the console's events are held as ever, but the
// system is neither kept awake nor kept from shutting down.
TEST_F(WindowsRunShieldTest, WithoutTheSleepLockOnlyTheConsoleEventsAreHeld) {
  record.awakeAnswer = 0;  // asking would fail: the shield must not ask
  const auto shield = MakeWindowsRunShield(kFakeCalls, SleepLock::None);
  EXPECT_TRUE(shield->Raise());
  EXPECT_FALSE(ShutdownBlocked());
  ASSERT_NE(record.handler, nullptr);
  EXPECT_TRUE(record.handler(CTRL_C_EVENT));
  shield->Lower();
  EXPECT_EQ(record.calls,
            (std::vector<std::string>{"console handler added", "console handler removed"}));
  EXPECT_EQ(held_signals::TakeHeldEnd(), SIGINT);
}

}  // namespace
}  // namespace tslflash
