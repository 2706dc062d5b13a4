#include "app/about_dialog.h"

namespace kav {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  ui.setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  connect(ui.okButton, &QPushButton::clicked, this, &QDialog::accept);
  ui.okButton->setFocus();
}

}  // namespace kav
