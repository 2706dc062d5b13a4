#pragma once
// The program's resources, built into it from res/: the two dialog templates, the string
// table and the icon.

#include <optional>

#include <QIcon>
#include <QString>

#include "app/dialog_template.h"

namespace kav {

inline constexpr int kMainDialogTemplate = 102;
inline constexpr int kAboutBoxTemplate = 100;
inline constexpr int kAboutItemString = 101;  // the window menu's About item

struct AppResources {
  DialogTemplate mainDialog;
  DialogTemplate aboutBox;
  StringTable strings;
  QIcon icon;  // 32 x 32 and 16 x 16
};

// Reads every resource; nullopt with the reason in `error` when one is missing or broken.
std::optional<AppResources> LoadAppResources(QString& error);

}  // namespace kav
