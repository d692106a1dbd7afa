// Message boxes and the About box wait for the user, who here is a
// ModalAnswerer, and give back what the user chose.
#include <gtest/gtest.h>

#include <QLabel>

#include "qt_test_support.h"
#include "ui/qt/qt_dialog_window.h"
#include "ui/qt/qt_text.h"

namespace tslflash {
namespace {

TEST(QtMessageBox, ShowsTheBoxAndReturnsTheAnswer) {
  struct Case {
    MessageBox box;
    QMessageBox::StandardButton click;
    BoxAnswer answer;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QString title;
  };
  const Case cases[] = {
      {{"Command Fail.", "Warning", BoxButtons::Ok, BoxIcon::Exclamation},
       QMessageBox::Ok,
       BoxAnswer::Ok,
       QMessageBox::Warning,
       QMessageBox::Ok,
       QStringLiteral("Warning")},
      {{"Do you really want to upgrade ?", "Question", BoxButtons::OkCancel, BoxIcon::Information},
       QMessageBox::Cancel,
       BoxAnswer::Cancel,
       QMessageBox::Information,
       QMessageBox::Ok | QMessageBox::Cancel,
       QStringLiteral("Question")},
      {{"Restart now?", "Restart", BoxButtons::OkCancel, BoxIcon::Stop},
       QMessageBox::Ok,
       BoxAnswer::Ok,
       QMessageBox::Critical,
       QMessageBox::Ok | QMessageBox::Cancel,
       QStringLiteral("Restart")},
      // No caption of its own: the application's name.
      {{"User cancelled.", std::nullopt, BoxButtons::Ok, BoxIcon::None},
       QMessageBox::Ok,
       BoxAnswer::Ok,
       QMessageBox::NoIcon,
       QMessageBox::Ok,
       ToQt(kApplicationName)},
      // Line feeds and '<' are shown as written, not as markup.
      {{"Updating incomplete! \n\n<b>retry</b>", "Warning", BoxButtons::Ok, BoxIcon::Exclamation},
       QMessageBox::Ok,
       BoxAnswer::Ok,
       QMessageBox::Warning,
       QMessageBox::Ok,
       QStringLiteral("Warning")},
  };
  QtDialogWindow window;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box.text);
    const qt_test::ModalAnswerer user({c.click});
    EXPECT_EQ(window.ShowMessageBox(c.box), c.answer);
    ASSERT_EQ(user.Seen().size(), 1U);
    const qt_test::SeenBox& seen = user.Seen().front();
    EXPECT_EQ(seen.text, QString::fromLatin1(c.box.text));
    EXPECT_EQ(seen.title, c.title);
    EXPECT_EQ(seen.icon, c.icon);
    EXPECT_EQ(seen.buttons, c.buttons);
  }
}

TEST(QtMessageBox, IsOwnedByTheDialog) {
  QtDialogWindow window;
  QWidget* owner = nullptr;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      owner = box->parentWidget();
    }
  });
  probe.start(0);
  const qt_test::ModalAnswerer user;
  window.ShowMessageBox({"No Device found!", std::nullopt, BoxButtons::Ok, BoxIcon::None});
  EXPECT_EQ(owner, &window);
}

TEST(QtAboutBox, ShowsNameAndVersionAndEndsWithOk) {
  QtDialogWindow window;
  QStringList texts;
  QSize size;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (about == nullptr || !texts.isEmpty()) return;
    size = about->size();
    for (const QLabel* label : about->findChildren<QLabel*>()) {
      if (!label->text().isEmpty()) texts << label->text();
    }
  });
  probe.start(0);
  const qt_test::ModalAnswerer user;
  window.ShowAboutBox();
  ASSERT_EQ(user.Seen().size(), 1U);
  EXPECT_EQ(user.Seen().front().title, QStringLiteral("About Tessel Flash Tool"));
  EXPECT_TRUE(texts.contains(QStringLiteral("Tessel Flash Ver. A-7.8")));
  EXPECT_EQ(texts.size(), 2);
  // 235 x 55 units against the main dialog's 310 x 156.
  EXPECT_NEAR(static_cast<double>(size.width()) / window.width(), 235.0 / 310, 0.01);
  EXPECT_NEAR(static_cast<double>(size.height()) / window.height(), 55.0 / 156, 0.01);
}

}  // namespace
}  // namespace tslflash
