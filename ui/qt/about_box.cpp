#include "ui/qt/about_box.h"

#include <QLabel>
#include <QPushButton>

#include "resources/texts.h"
#include "ui/dialog_view.h"
#include "ui/qt/artwork.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_text.h"

namespace tslflash {
namespace {

constexpr int kIconPixels = 32;

void AddText(QDialog& box, const QRect& at, std::string_view text) {
  auto* label = new QLabel(ToQt(text), &box);
  label->setTextFormat(Qt::PlainText);  // shown as written, '&' included
  label->setGeometry(at);
}

}  // namespace

// Laid out in dialog units: 235 x 55, icon at (11, 17), texts at (40, 10) and
// (40, 25), OK at (178, 7).
AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setFont(DialogFont());
  const DialogUnits units(font());
  setWindowTitle(ToQt(kAboutCaption));
  setFixedSize(units.Size(235, 55));

  auto* icon = new QLabel(this);
  icon->setPixmap(WindowIcon().pixmap(kIconPixels, kIconPixels));
  icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  icon->setGeometry(units.Rect(11, 17, 20, 20));
  icon->setAccessibleName(QStringLiteral("Tessel Flash icon"));

  AddText(*this, units.Rect(40, 10, 119, 8), kAboutVersion);
  AddText(*this, units.Rect(40, 25, 119, 8), kAboutSecondLine);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QString::number(static_cast<int>(ControlId::Ok)));
  ok->setDefault(true);
  ok->setGeometry(units.Rect(178, 7, 50, 14));
  ok->setFocus();
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace tslflash
