#pragma once
// Dialog templates: a dialog's title, size and controls, kept as tables in res/templates.
//
// A template is a text table, one record a line, fields separated by '|'. Blank lines and
// lines starting with '#' are skipped. The first record describes the dialog, each further
// record one control, in template order (which is also the tab order):
//
//   dialog  | id | x | y | width | height | font points | window styles | title
//   <kind>  | id | x | y | width | height | styles                      | label
//
// Positions and sizes are in dialog units (see dialog_units.h). A control without an id
// has "-" there. The label is the rest of the line, so it may hold any character; an icon
// control names its icon resource there. Kinds and styles are the words in kKindNames and
// in the style tables of dialog_template.cpp.
//
// The string table (res/strings.txt) has the records "id | text".

#include <map>
#include <optional>
#include <vector>

#include <QString>

namespace kav {

struct DialogRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const DialogRect&) const = default;
};

enum class ControlKind { kPushButton, kStatic, kEdit, kGroupFrame, kCheckBox, kRadioButton, kIcon };

struct ControlStyles {
  bool tabStop = false;        // reached with the Tab key
  bool group = false;          // starts a group (a radio group runs to the next one)
  bool defaultButton = false;  // pressed by Enter
  bool border = false;         // an edit field's frame
  bool digitsOnly = false;     // an edit field that takes typed digits only
  bool readOnly = false;       // an edit field the user cannot change
  bool scrollsSideways = false;
  bool togglesItself = false;   // a check box or radio button that changes when clicked
  bool ampersandShown = false;  // static text showing '&' as itself
};

struct ControlTemplate {
  ControlKind kind = ControlKind::kStatic;
  std::optional<int> id;
  DialogRect rect;
  ControlStyles styles;
  QString label;
};

struct WindowStyles {
  bool caption = false;
  bool systemMenu = false;  // a window menu and a close box
  bool modalFrame = false;  // a fixed size
  bool minimizeBox = false;
  bool maximizeBox = false;
  bool appWindow = false;  // a taskbar entry of its own
};

struct DialogTemplate {
  int id = 0;
  DialogRect rect;
  int fontPoints = 0;
  WindowStyles styles;
  QString title;
  std::vector<ControlTemplate> controls;
};

// The parsed template, or nullopt with a message naming the line in `error`.
std::optional<DialogTemplate> ParseDialogTemplate(const QString& text, QString& error);

using StringTable = std::map<int, QString>;

std::optional<StringTable> ParseStringTable(const QString& text, QString& error);

// The string with `id`; empty when the table has none.
QString LoadString(const StringTable& strings, int id);

}  // namespace kav
