#include "app/dialog_controls.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace kav {
namespace {

// Icon controls show the large icon image, whatever their rectangle.
constexpr int kIconControlPixels = 32;

Qt::WindowFlags WindowFlagsFor(const WindowStyles& styles) {
  // A normal top-level window gets a taskbar entry of its own; a dialog window may not.
  Qt::WindowFlags flags = styles.appWindow ? Qt::Window : Qt::Dialog;
  flags |= Qt::CustomizeWindowHint;
  if (styles.caption) {
    flags |= Qt::WindowTitleHint;
  }
  if (styles.systemMenu) {
    flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  }
  if (styles.minimizeBox) {
    flags |= Qt::WindowMinimizeButtonHint;
  }
  if (styles.maximizeBox) {
    flags |= Qt::WindowMaximizeButtonHint;
  }
  return flags;
}

void ShapeDialog(QDialog& dialog, const DialogTemplate& dialogTemplate) {
  // The template names the point size; the family is the desktop's own dialog font.
  QFont font = dialog.font();
  font.setPointSize(dialogTemplate.fontPoints);
  dialog.setFont(font);
  dialog.setWindowTitle(dialogTemplate.title);
  dialog.setWindowFlags(WindowFlagsFor(dialogTemplate.styles));
  const QSize size = ToPixels(dialogTemplate.rect, BaseUnitsOf(font)).size();
  if (dialogTemplate.styles.modalFrame) {
    dialog.setFixedSize(size);
  } else {
    dialog.resize(size);
  }
}

Qt::FocusPolicy FocusPolicyFor(const ControlTemplate& control) {
  switch (control.kind) {
    case ControlKind::kStatic:
    case ControlKind::kGroupFrame:
    case ControlKind::kIcon:
      return Qt::NoFocus;
    default:
      return control.styles.tabStop ? Qt::StrongFocus : Qt::ClickFocus;
  }
}

std::unique_ptr<QWidget> MakeStatic(QDialog& dialog, const ControlTemplate& control) {
  // Qt labels without a buddy show '&' as itself, so the "noprefix" style needs nothing.
  auto label = std::make_unique<QLabel>(control.label, &dialog);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setWordWrap(true);
  return label;
}

std::unique_ptr<QWidget> MakeEdit(QDialog& dialog, const ControlTemplate& control,
                                  QValidator& digitsOnly) {
  // A line edit always scrolls sideways, so the "autoscroll" style needs nothing. Its
  // validator stops typed text only: the program may still put any text there.
  auto edit = std::make_unique<QLineEdit>(control.label, &dialog);
  edit->setFrame(control.styles.border);
  edit->setReadOnly(control.styles.readOnly);
  if (control.styles.digitsOnly) {
    edit->setValidator(&digitsOnly);
  }
  return edit;
}

std::unique_ptr<QWidget> MakeGroupFrame(QDialog& dialog, const ControlTemplate& control) {
  auto frame = std::make_unique<QGroupBox>(control.label, &dialog);
  // A frame only draws; clicks inside it belong to the controls it surrounds.
  frame->setAttribute(Qt::WA_TransparentForMouseEvents);
  return frame;
}

std::unique_ptr<QWidget> MakeIcon(QDialog& dialog, const QIcon& icon) {
  auto label = std::make_unique<QLabel>(&dialog);
  label->setPixmap(icon.pixmap(kIconControlPixels, kIconControlPixels));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

std::unique_ptr<QWidget> MakeControl(QDialog& dialog, const ControlTemplate& control,
                                     const QIcon& icon, QValidator& digitsOnly) {
  // Check boxes and radio buttons of Qt always change when clicked ("auto").
  switch (control.kind) {
    case ControlKind::kPushButton: {
      auto button = std::make_unique<QPushButton>(control.label, &dialog);
      button->setDefault(control.styles.defaultButton);
      return button;
    }
    case ControlKind::kStatic:
      return MakeStatic(dialog, control);
    case ControlKind::kEdit:
      return MakeEdit(dialog, control, digitsOnly);
    case ControlKind::kGroupFrame:
      return MakeGroupFrame(dialog, control);
    case ControlKind::kCheckBox:
      return std::make_unique<QCheckBox>(control.label, &dialog);
    case ControlKind::kRadioButton:
      return std::make_unique<QRadioButton>(control.label, &dialog);
    case ControlKind::kIcon:
      return MakeIcon(dialog, icon);
  }
  return std::make_unique<QWidget>(&dialog);
}

}  // namespace

DialogControls::DialogControls(QDialog& dialog, const DialogTemplate& dialogTemplate,
                               const QIcon& icon)
    : digitsOnly_(std::make_unique<QRegularExpressionValidator>(
          QRegularExpression(QStringLiteral("[0-9]*")))) {
  ShapeDialog(dialog, dialogTemplate);
  baseUnits_ = BaseUnitsOf(dialog.font());
  for (const ControlTemplate& control : dialogTemplate.controls) {
    QWidget& widget = Create(dialog, control, icon);
    inOrder_.push_back(&widget);
    if (control.id) {
      byId_[*control.id] = &widget;
    }
  }
  // Frames go to the back, behind the controls they surround.
  for (QGroupBox* frame : dialog.findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly)) {
    frame->lower();
  }
  ChainTabOrder(dialogTemplate);
}

DialogControls::~DialogControls() = default;

QWidget& DialogControls::Create(QDialog& dialog, const ControlTemplate& control,
                                const QIcon& icon) {
  std::unique_ptr<QWidget> widget = MakeControl(dialog, control, icon, *digitsOnly_);
  widget->setGeometry(ToPixels(control.rect, baseUnits_));
  widget->setFocusPolicy(FocusPolicyFor(control));
  if (control.styles.group) {
    radioGroupOpen_ = false;
  }
  if (auto* radio = qobject_cast<QRadioButton*>(widget.get())) {
    JoinRadioGroup(control, *radio);
  }
  owned_.push_back(std::move(widget));
  return *owned_.back();
}

void DialogControls::JoinRadioGroup(const ControlTemplate& control, QRadioButton& button) {
  if (!radioGroupOpen_) {
    radioGroups_.push_back({.buttons = std::make_unique<QButtonGroup>(), .inOrder = {}});
    radioGroupOpen_ = true;
  }
  RadioGroup& group = radioGroups_.back();
  group.buttons->addButton(&button, control.id.value_or(-1));
  group.inOrder.push_back(&button);
}

void DialogControls::ChainTabOrder(const DialogTemplate& dialogTemplate) {
  QWidget* previous = nullptr;
  for (std::size_t i = 0; i < dialogTemplate.controls.size(); ++i) {
    if (!dialogTemplate.controls[i].styles.tabStop) {
      continue;
    }
    if (previous != nullptr) {
      QWidget::setTabOrder(previous, inOrder_[i]);
    }
    previous = inOrder_[i];
  }
}

QWidget* DialogControls::Find(int id) const {
  const auto found = byId_.find(id);
  return found == byId_.end() ? nullptr : found->second;
}

const RadioGroup* DialogControls::RadioGroupStartingAt(int firstId) const {
  for (const RadioGroup& group : radioGroups_) {
    if (!group.inOrder.empty() && group.inOrder.front() == Find(firstId)) {
      return &group;
    }
  }
  return nullptr;
}

const RadioGroup& DialogControls::RequireRadioGroup(int firstId) const {
  const RadioGroup* group = RadioGroupStartingAt(firstId);
  if (group == nullptr) {
    qFatal("The dialog template has no radio group starting at control %d", firstId);
  }
  return *group;
}

}  // namespace kav
