// The update worker's view calls reach the window on the GUI thread, in
// order, one at a time, while the Qt event loop runs.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QThread>
#include <string>
#include <thread>
#include <vector>

#include "app/run_worker.h"
#include "qt_test_support.h"
#include "ui/qt/qt_dialog_window.h"
#include "ui/qt/qt_dispatcher.h"
#include "ui/ui_thread_view.h"

namespace tslflash {
namespace {

// The window, noting on which thread each log update ran.
class RecordingWindow final : public QtDialogWindow {
 public:
  void SetControlText(ControlId id, std::string_view text) override {
    threads.push_back(QThread::currentThread());
    QtDialogWindow::SetControlText(id, text);
  }
  std::vector<QThread*> threads;
};

// Appends a line on the GUI thread: read, extend, write back.
void AppendLine(QtDialogWindow& window, UiDispatcher& dispatcher, int index) {
  InvokeOnUiThread(dispatcher, [&] {
    window.SetControlText(ControlId::Log, window.GetControlText(ControlId::Log) + "\r\nline " +
                                              std::to_string(index));
  });
}

std::string ExpectedLog(int lines) {
  std::string log;
  for (int i = 0; i < lines; ++i) log += "\r\nline " + std::to_string(i);
  return log;
}

TEST(QtWorkerHandOver, WorkerCallsRunOnTheGuiThreadInOrder) {
  constexpr int kLines = 50;
  RecordingWindow window;
  window.SetProgressStep(1);
  QtDispatcher dispatcher;
  UiThreadView view(window, dispatcher);
  const qt_test::ModalAnswerer user({QMessageBox::Cancel});
  QEventLoop loop;
  BoxAnswer answer = BoxAnswer::Ok;
  bool workerWasUiThread = true;
  window.threads.clear();

  std::thread worker([&] {
    workerWasUiThread = dispatcher.IsUiThread();
    for (int i = 0; i < kLines; ++i) {
      AppendLine(window, dispatcher, i);
      view.StepProgress();
    }
    answer = view.ShowMessageBox(
        {"Do you really want to upgrade ?", std::nullopt, BoxButtons::OkCancel, BoxIcon::None});
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();

  EXPECT_FALSE(workerWasUiThread);
  EXPECT_TRUE(dispatcher.IsUiThread());
  EXPECT_EQ(window.GetControlText(ControlId::Log), ExpectedLog(kLines));
  ASSERT_EQ(window.threads.size(), static_cast<std::size_t>(kLines));
  for (QThread* thread : window.threads) EXPECT_EQ(thread, QApplication::instance()->thread());
  EXPECT_EQ(static_cast<QProgressBar*>(window.Control(ControlId::Progress))->value(), kLines);
  EXPECT_EQ(answer, BoxAnswer::Cancel);
}

TEST(QtWorkerHandOver, StartedWorkerIsServedWhileTheWindowWaitsForIt) {
  constexpr int kLines = 20;
  QtDialogWindow window;
  QtDispatcher dispatcher;
  ThreadRunWorker worker(dispatcher);
  std::thread::id workerThread;

  worker.Start([&] {
    workerThread = std::this_thread::get_id();
    for (int i = 0; i < kLines; ++i) AppendLine(window, dispatcher, i);
  });
  // No event loop runs here: waiting for the worker must serve its calls.
  worker.Join();

  EXPECT_NE(workerThread, std::this_thread::get_id());
  EXPECT_EQ(window.GetControlText(ControlId::Log), ExpectedLog(kLines));
}

TEST(QtWorkerHandOver, ANewRunWaitsForThePreviousWorker) {
  QtDialogWindow window;
  QtDispatcher dispatcher;
  ThreadRunWorker worker(dispatcher);
  worker.Start([&] { AppendLine(window, dispatcher, 0); });
  worker.Start([&] { AppendLine(window, dispatcher, 1); });
  worker.Join();
  EXPECT_EQ(window.GetControlText(ControlId::Log), ExpectedLog(2));
}

}  // namespace
}  // namespace tslflash
