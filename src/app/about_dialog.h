#pragma once
// The About box: the icon, the program's name and version, and an OK button.

#include <memory>

#include <QDialog>

namespace Ui {
class AboutDialog;
}

namespace kav {

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent);
  ~AboutDialog() override;

 private:
  std::unique_ptr<Ui::AboutDialog> ui;
};

}  // namespace kav
