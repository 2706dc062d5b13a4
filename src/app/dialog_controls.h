#pragma once
// The controls of a dialog, created from its template: each at its rectangle, with its
// label, kind, styles and place in the tab order. The dialog window itself gets the
// template's title, size, font and frame.

#include <map>
#include <memory>
#include <vector>

#include <QtGlobal>

#include "app/dialog_template.h"
#include "app/dialog_units.h"

class QButtonGroup;
class QDialog;
class QIcon;
class QObject;
class QRadioButton;
class QValidator;
class QWidget;

namespace kav {

// A run of radio buttons from one that starts a group to the next control that starts one;
// exactly one of them is checked at a time, or none.
struct RadioGroup {
  std::unique_ptr<QButtonGroup> buttons;
  std::vector<QRadioButton*> inOrder;
};

class DialogControls {
 public:
  // Creates the controls of `dialogTemplate` as children of `dialog`; `icon` is what icon
  // controls show. The controls live as long as this object.
  DialogControls(QDialog& dialog, const DialogTemplate& dialogTemplate, const QIcon& icon);
  ~DialogControls();
  DialogControls(const DialogControls&) = delete;
  DialogControls& operator=(const DialogControls&) = delete;

  // The control with `id`, which must exist and be a `Widget`; a template that lacks it is a
  // broken build, so this ends the program with a message naming the control.
  template <typename Widget>
  Widget& Require(int id) const {
    Widget* widget = qobject_cast<Widget*>(Find(id));
    if (widget == nullptr) {
      qFatal("The dialog template has no control %d of the expected kind", id);
    }
    return *widget;
  }
  QWidget* Find(int id) const;

  // The radio group whose first button has `firstId`; nullptr when there is none.
  const RadioGroup* RadioGroupStartingAt(int firstId) const;
  // As above, for a group the template must have (see Require).
  const RadioGroup& RequireRadioGroup(int firstId) const;

  // Every control in template order.
  const std::vector<QWidget*>& InTemplateOrder() const { return inOrder_; }
  DialogBaseUnits baseUnits() const { return baseUnits_; }

 private:
  QWidget& Create(QDialog& dialog, const ControlTemplate& control, const QIcon& icon);
  void JoinRadioGroup(const ControlTemplate& control, QRadioButton& button);
  void ChainTabOrder(const DialogTemplate& dialogTemplate);

  DialogBaseUnits baseUnits_;
  std::unique_ptr<QValidator> digitsOnly_;  // shared by the digits-only edit fields
  std::vector<RadioGroup> radioGroups_;
  bool radioGroupOpen_ = false;  // whether radio buttons now join the last radio group
  std::vector<std::unique_ptr<QWidget>> owned_;
  std::vector<QWidget*> inOrder_;
  std::map<int, QWidget*> byId_;
};

}  // namespace kav
