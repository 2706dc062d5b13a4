#pragma once
// The text of a usage error that the option parser found, with a guess at what was meant when
// an unknown option or subcommand is a slip of the keys away from a known one.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <CLI/CLI.hpp>

namespace kav {

// The fewest edits that turn `a` into `b`, each inserting, deleting or replacing one
// character or swapping two neighbours ("--fromat" is 1 from "--format").
std::size_t EditDistance(std::string_view a, std::string_view b);

// The first of `known` closest to `word` and at most two edits from it, or nullopt.
std::optional<std::string> ClosestWithinTwoEdits(std::string_view word,
                                                 std::span<const std::string> known);

// "kavconv: " and what `error`, thrown parsing `arguments` (the program's name first) against
// `app`, says, with "; did you mean X?" when an unknown option or subcommand is within two
// edits of one that `app` knows. Not a line: no newline at its end.
std::string UsageErrorText(const CLI::App& app, const CLI::Error& error,
                           std::span<const char* const> arguments);

}  // namespace kav
