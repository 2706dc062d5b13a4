#include "app/dialog_template.h"

#include <array>
#include <utility>

#include <QStringList>

namespace kav {
namespace {

// Field positions of a record.
constexpr qsizetype kKindField = 0;
constexpr qsizetype kIdField = 1;
constexpr qsizetype kXField = 2;
constexpr qsizetype kYField = 3;
constexpr qsizetype kWidthField = 4;
constexpr qsizetype kHeightField = 5;
constexpr qsizetype kControlStylesField = 6;
constexpr qsizetype kControlLabelField = 7;  // the rest of the line
constexpr qsizetype kFontPointsField = 6;
constexpr qsizetype kWindowStylesField = 7;
constexpr qsizetype kTitleField = 8;  // the rest of the line
constexpr qsizetype kStringIdField = 0;
constexpr qsizetype kStringTextField = 1;  // the rest of the line

constexpr QChar kSeparator = u'|';
constexpr QStringView kDialogKind = u"dialog";
constexpr QStringView kNoId = u"-";

const std::array<std::pair<QStringView, ControlKind>, 7> kKindNames{{
    {u"button", ControlKind::kPushButton},
    {u"static", ControlKind::kStatic},
    {u"edit", ControlKind::kEdit},
    {u"frame", ControlKind::kGroupFrame},
    {u"check", ControlKind::kCheckBox},
    {u"radio", ControlKind::kRadioButton},
    {u"icon", ControlKind::kIcon},
}};

const std::array<std::pair<QStringView, bool ControlStyles::*>, 9> kControlStyleNames{{
    {u"tabstop", &ControlStyles::tabStop},
    {u"group", &ControlStyles::group},
    {u"default", &ControlStyles::defaultButton},
    {u"border", &ControlStyles::border},
    {u"digits", &ControlStyles::digitsOnly},
    {u"readonly", &ControlStyles::readOnly},
    {u"autoscroll", &ControlStyles::scrollsSideways},
    {u"auto", &ControlStyles::togglesItself},
    {u"noprefix", &ControlStyles::ampersandShown},
}};

const std::array<std::pair<QStringView, bool WindowStyles::*>, 6> kWindowStyleNames{{
    {u"caption", &WindowStyles::caption},
    {u"sysmenu", &WindowStyles::systemMenu},
    {u"modalframe", &WindowStyles::modalFrame},
    {u"minimizebox", &WindowStyles::minimizeBox},
    {u"maximizebox", &WindowStyles::maximizeBox},
    {u"appwindow", &WindowStyles::appWindow},
}};

// One line of a table that is neither blank nor a comment.
struct Record {
  int line = 0;
  QString text;
};

std::vector<Record> ReadRecords(const QString& table) {
  std::vector<Record> records;
  const QStringList lines = table.split(u'\n');
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QString line = lines[i].trimmed();
    if (!line.isEmpty() && !line.startsWith(u'#')) {
      records.push_back({.line = static_cast<int>(i + 1), .text = line});
    }
  }
  return records;
}

// At most `fieldCount` trimmed fields; the last one takes the rest of the line.
QStringList SplitFields(const Record& record, qsizetype fieldCount) {
  QStringList fields;
  QString rest = record.text;
  while (fields.size() + 1 < fieldCount) {
    const qsizetype at = rest.indexOf(kSeparator);
    if (at < 0) {
      break;
    }
    fields.append(rest.left(at).trimmed());
    rest = rest.mid(at + 1);
  }
  fields.append(rest.trimmed());
  return fields;
}

QString LineError(const Record& record, const QString& what) {
  return QStringLiteral("line %1: %2").arg(record.line).arg(what);
}

std::optional<int> ParseNumber(const QString& field) {
  bool ok = false;
  const int value = field.toInt(&ok);
  return ok ? std::optional<int>(value) : std::nullopt;
}

std::optional<ControlKind> ParseKind(const QString& field) {
  for (const auto& [name, kind] : kKindNames) {
    if (field == name) {
      return kind;
    }
  }
  return std::nullopt;
}

// Sets the flag of every word of `field` in `flags`; false when a word names no flag.
template <typename Flags, std::size_t kCount>
bool ParseStyles(const QString& field,
                 const std::array<std::pair<QStringView, bool Flags::*>, kCount>& names,
                 Flags& flags, QString& unknown) {
  for (const QString& word : field.split(u' ', Qt::SkipEmptyParts)) {
    bool known = false;
    for (const auto& [name, member] : names) {
      if (word == name) {
        flags.*member = true;
        known = true;
      }
    }
    if (!known) {
      unknown = word;
      return false;
    }
  }
  return true;
}

// Reads the four rectangle fields; they are the same in dialog and control records.
bool ParseRect(const Record& record, const QStringList& fields, DialogRect& rect, QString& error) {
  const std::array<std::pair<qsizetype, int DialogRect::*>, 4> parts{{
      {kXField, &DialogRect::x},
      {kYField, &DialogRect::y},
      {kWidthField, &DialogRect::width},
      {kHeightField, &DialogRect::height},
  }};
  for (const auto& [field, member] : parts) {
    const std::optional<int> value = ParseNumber(fields[field]);
    if (!value || *value < 0) {
      error =
          LineError(record, QStringLiteral("\"%1\" is not a position or size").arg(fields[field]));
      return false;
    }
    rect.*member = *value;
  }
  return true;
}

bool ParseDialogRecord(const Record& record, DialogTemplate& dialog, QString& error) {
  const QStringList fields = SplitFields(record, kTitleField + 1);
  if (fields.size() != kTitleField + 1 || fields[kKindField] != kDialogKind) {
    error = LineError(record, QStringLiteral("the first record must describe the dialog"));
    return false;
  }
  const std::optional<int> id = ParseNumber(fields[kIdField]);
  const std::optional<int> points = ParseNumber(fields[kFontPointsField]);
  if (!id || !points || *points <= 0) {
    error = LineError(record, QStringLiteral("the dialog needs a number and a font size"));
    return false;
  }
  QString unknown;
  if (!ParseStyles(fields[kWindowStylesField], kWindowStyleNames, dialog.styles, unknown)) {
    error = LineError(record, QStringLiteral("unknown window style \"%1\"").arg(unknown));
    return false;
  }
  dialog.id = *id;
  dialog.fontPoints = *points;
  dialog.title = fields[kTitleField];
  return ParseRect(record, fields, dialog.rect, error);
}

bool ParseControlRecord(const Record& record, ControlTemplate& control, QString& error) {
  const QStringList fields = SplitFields(record, kControlLabelField + 1);
  if (fields.size() != kControlLabelField + 1) {
    error =
        LineError(record, QStringLiteral("a control needs %1 fields").arg(kControlLabelField + 1));
    return false;
  }
  const std::optional<ControlKind> kind = ParseKind(fields[kKindField]);
  if (!kind) {
    error =
        LineError(record, QStringLiteral("unknown control kind \"%1\"").arg(fields[kKindField]));
    return false;
  }
  control.kind = *kind;
  if (fields[kIdField] != kNoId) {
    control.id = ParseNumber(fields[kIdField]);
    if (!control.id) {
      error = LineError(record, QStringLiteral("\"%1\" is not a control id").arg(fields[kIdField]));
      return false;
    }
  }
  QString unknown;
  if (!ParseStyles(fields[kControlStylesField], kControlStyleNames, control.styles, unknown)) {
    error = LineError(record, QStringLiteral("unknown control style \"%1\"").arg(unknown));
    return false;
  }
  control.label = fields[kControlLabelField];
  return ParseRect(record, fields, control.rect, error);
}

}  // namespace

std::optional<DialogTemplate> ParseDialogTemplate(const QString& text, QString& error) {
  const std::vector<Record> records = ReadRecords(text);
  if (records.empty()) {
    error = QStringLiteral("the template is empty");
    return std::nullopt;
  }
  DialogTemplate dialog;
  if (!ParseDialogRecord(records.front(), dialog, error)) {
    return std::nullopt;
  }
  for (std::size_t i = 1; i < records.size(); ++i) {
    ControlTemplate control;
    if (!ParseControlRecord(records[i], control, error)) {
      return std::nullopt;
    }
    dialog.controls.push_back(std::move(control));
  }
  return dialog;
}

std::optional<StringTable> ParseStringTable(const QString& text, QString& error) {
  StringTable strings;
  for (const Record& record : ReadRecords(text)) {
    const QStringList fields = SplitFields(record, kStringTextField + 1);
    const std::optional<int> id = ParseNumber(fields[kStringIdField]);
    if (fields.size() != kStringTextField + 1 || !id) {
      error = LineError(record, QStringLiteral("a string needs a number and a text"));
      return std::nullopt;
    }
    if (!strings.emplace(*id, fields[kStringTextField]).second) {
      error = LineError(record, QStringLiteral("string %1 is defined twice").arg(*id));
      return std::nullopt;
    }
  }
  return strings;
}

QString LoadString(const StringTable& strings, int id) {
  const auto found = strings.find(id);
  return found == strings.end() ? QString() : found->second;
}

}  // namespace kav
