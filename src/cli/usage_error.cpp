#include "cli/usage_error.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace kav {
namespace {

constexpr std::size_t kMostEdits = 2;

// The long names ("--format") of the options of `app`, in the order they were added.
std::vector<std::string> LongOptionsOf(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& name : option->get_lnames()) {
      names.push_back("--" + name);
    }
  }
  return names;
}

std::vector<std::string> SubcommandsOf(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* subcommand : app.get_subcommands([](const CLI::App*) { return true; })) {
    names.push_back(subcommand->get_name());
  }
  return names;
}

std::string Guess(std::string_view word, std::span<const std::string> known) {
  const std::optional<std::string> closest = ClosestWithinTwoEdits(word, known);
  return closest ? "; did you mean " + *closest + "?" : "";
}

// The first long option among `arguments` that `known` does not hold, without its "=value".
std::optional<std::string> FirstUnknownOption(std::span<const char* const> arguments,
                                              std::span<const std::string> known) {
  for (const std::string_view argument : arguments) {
    if (argument == "--") {
      break;
    }
    const std::string_view name = argument.substr(0, argument.find('='));
    if (name.starts_with("--") && std::ranges::find(known, name) == known.end()) {
      return std::string(name);
    }
  }
  return std::nullopt;
}

}  // namespace

// Optimal string alignment: the classic table of edit distances over prefixes, where a swap
// of the two characters just before counts as one edit.
std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) {
    d[i][0] = i;
  }
  std::iota(d[0].begin(), d[0].end(), std::size_t{0});
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t replace = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + replace});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

std::optional<std::string> ClosestWithinTwoEdits(std::string_view word,
                                                 std::span<const std::string> known) {
  std::optional<std::string> closest;
  std::size_t fewest = kMostEdits + 1;
  for (const std::string& name : known) {
    if (const std::size_t edits = EditDistance(word, name); edits < fewest) {
      fewest = edits;
      closest = name;
    }
  }
  return closest;
}

// Before a subcommand only --help and --version are known, and the parser's own text names no
// argument, so an unknown word there is named here.
std::string UsageErrorText(const CLI::App& app, const CLI::Error& error,
                           std::span<const char* const> arguments) {
  const std::vector<std::string> subcommands = SubcommandsOf(app);
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (argument == "--") {
      break;
    }
    if (std::ranges::find(subcommands, argument) != subcommands.end()) {
      const std::vector<std::string> options =
          LongOptionsOf(*app.get_subcommand(std::string(argument)));
      const std::optional<std::string> unknown =
          FirstUnknownOption(arguments.subspan(i + 1), options);
      const std::string guess = unknown ? Guess(*unknown, options) : "";
      // The parser may find a missing argument first and not name the unknown option at all.
      if (dynamic_cast<const CLI::ExtrasError*>(&error) == nullptr && !guess.empty()) {
        return "kavconv: unknown option " + *unknown + guess;
      }
      return "kavconv: " + std::string(error.what()) + guess;
    }
    if (argument.starts_with('-') && argument != "--help" && argument != "--version") {
      return "kavconv: unknown option " + std::string(argument) +
             Guess(argument.substr(0, argument.find('=')), LongOptionsOf(app));
    }
    if (!argument.starts_with('-')) {
      return "kavconv: unknown subcommand " + std::string(argument) + Guess(argument, subcommands);
    }
  }
  return "kavconv: " + std::string(error.what());
}

}  // namespace kav
