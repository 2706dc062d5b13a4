#pragma once
// The About box: the icon, the program's name and version, and an OK button.

#include <QDialog>

#include "app/dialog_controls.h"

namespace kav {

inline constexpr int kAboutOkId = 1;

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  AboutDialog(const DialogTemplate& aboutBox, const QIcon& icon, QWidget* parent);

 private:
  DialogControls controls_;
};

}  // namespace kav
