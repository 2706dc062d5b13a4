#pragma once
// Whole numbers as typed into the dialog's edit fields.

#include <cstdint>
#include <optional>

#include <QString>

namespace kav {

// The signed decimal whole number that `text` holds: optional spaces, an optional sign,
// at least one digit, optional spaces. Nullopt for anything else, and for a number that
// does not fit a signed 32-bit integer.
std::optional<std::int32_t> ParseWholeNumber(const QString& text);

}  // namespace kav
