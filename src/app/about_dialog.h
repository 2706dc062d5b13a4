#pragma once
// The About box: the icon, the program's name and version, and an OK button.

#include <QDialog>

#include "ui_about_dialog.h"

namespace kav {

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent);

 private:
  Ui::AboutDialog ui;
};

}  // namespace kav
