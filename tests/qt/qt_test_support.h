// Helpers for the Qt front end's tests: they run on the offscreen platform
// with one QApplication (qt_test_main.cpp) and never wait for real time.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <vector>

namespace tslflash::qt_test {

// What a modal box showed when it was answered.
struct SeenBox {
  QString title;
  QString text;  // a message box's text; empty for other dialogs
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
};

// Answers each modal box that opens while it lives: message boxes with the
// next of `answers` (OK once they run out), other dialogs with their default
// button. Polls from the event loop, so it also answers boxes that nested
// loops run.
class ModalAnswerer {
 public:
  explicit ModalAnswerer(std::vector<QMessageBox::StandardButton> answers = {})
      : answers_(std::move(answers)) {
    QObject::connect(&poll_, &QTimer::timeout, [this] { AnswerOpenBox(); });
    poll_.start(0);
  }

  const std::vector<SeenBox>& Seen() const { return seen_; }

 private:
  void AnswerOpenBox() {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return;
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
      seen_.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
      const bool more = next_ < answers_.size();
      box->button(more ? answers_[next_++] : QMessageBox::Ok)->click();
      return;
    }
    seen_.push_back({dialog->windowTitle(), {}, QMessageBox::NoIcon, {}});
    for (auto* button : dialog->findChildren<QPushButton*>()) {
      if (button->isDefault()) button->click();
    }
  }

  std::vector<QMessageBox::StandardButton> answers_;
  std::size_t next_ = 0;
  std::vector<SeenBox> seen_;
  QTimer poll_;
};

// Runs the event loop until `done` holds or `limit` has passed; a loaded
// machine gets the whole limit, not a number of rounds. A short timer wakes
// the loop, so `done` is looked at often even when nothing else happens.
inline bool ProcessEventsUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  const QDeadlineTimer deadline(limit);
  QTimer wake;
  wake.start(10);
  while (!done() && !deadline.hasExpired()) {
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return done();
}

}  // namespace tslflash::qt_test
