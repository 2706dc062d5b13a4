#pragma once
// The subcommands of kavconv. Each adds its options to the parser and runs once parsed,
// returning the process's exit status.

#include <iosfwd>
#include <memory>

#include <CLI/CLI.hpp>

namespace kav {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

class Command {
 public:
  explicit Command(CLI::App* subcommand) : subcommand_(subcommand) {}
  virtual ~Command() = default;
  Command(const Command&) = delete;
  Command& operator=(const Command&) = delete;

  // Whether the command line named this command.
  bool Chosen() const { return subcommand_->parsed(); }
  // Runs the command, printing its lines on `out` (standard output) and `err`.
  virtual int Run(std::ostream& out, std::ostream& err) = 0;

 protected:
  CLI::App* subcommand_;
};

// Refuses an empty value of an option that names a path: an empty -o must not read as none.
inline const CLI::Validator kPathNotEmpty(
    [](const std::string& path) {
      return path.empty() ? std::string("an empty path names no file") : std::string();
    },
    "");

// Each registers its subcommand with `app` and returns the command that runs it.
std::unique_ptr<Command> AddConvertCommand(CLI::App& app);
std::unique_ptr<Command> AddInfoCommand(CLI::App& app);
std::unique_ptr<Command> AddRenderCommand(CLI::App& app);

}  // namespace kav
