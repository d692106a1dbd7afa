// The About box: the tool's icon, name and version, and an OK button.
#pragma once

#include <QDialog>

namespace tslflash {

class AboutBox final : public QDialog {
 public:
  explicit AboutBox(QWidget* parent);
};

}  // namespace tslflash
