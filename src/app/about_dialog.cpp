#include "app/about_dialog.h"

#include "ui_about_dialog.h"

namespace kav {

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::AboutDialog>()) {
  ui->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  connect(ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
  ui->okButton->setFocus();
}

AboutDialog::~AboutDialog() = default;

}  // namespace kav
