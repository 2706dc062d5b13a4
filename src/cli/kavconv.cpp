#include "cli/kavconv.h"

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "cli/printable.h"

namespace kav {

int RunKavconv(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CLI::App app{
      "Converts BMP and PNG images to MZR, RLE and RLS asset files, and inspects and "
      "renders converted files.",
      "kavconv"};
  app.set_version_flag("--version", KAV_VERSION);
  app.require_subcommand(1);
  // A message may quote an argument, and so a file name.
  app.failure_message([](const CLI::App* /*failed*/, const CLI::Error& error) {
    return Printable(error.what()) + "\nRun with --help for more information.\n";
  });
  const std::vector<std::unique_ptr<Command>> commands = [&app] {
    std::vector<std::unique_ptr<Command>> all;
    all.push_back(AddConvertCommand(app));
    all.push_back(AddInfoCommand(app));
    all.push_back(AddRenderCommand(app));
    all.push_back(AddThumbnailCommand(app));
    return all;
  }();
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e, out, err);
  } catch (const CLI::ParseError& e) {
    app.exit(e, out, err);
    return kExitUsage;
  }
  for (const std::unique_ptr<Command>& command : commands) {
    if (command->Chosen()) {
      return command->Run(out, err);
    }
  }
  return kExitUsage;
}

}  // namespace kav
