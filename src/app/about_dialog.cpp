#include "app/about_dialog.h"

#include <QPushButton>

namespace kav {

AboutDialog::AboutDialog(const DialogTemplate& aboutBox, const QIcon& icon, QWidget* parent)
    : QDialog(parent), controls_(*this, aboutBox, icon) {
  auto& ok = controls_.Require<QPushButton>(kAboutOkId);
  connect(&ok, &QPushButton::clicked, this, &QDialog::accept);
  ok.setFocus();
}

}  // namespace kav
