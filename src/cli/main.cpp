// kavconv: converts 8-bit BMP images to MZR, RLE and RLS files, and inspects and renders
// the converted files.
//
// Exit status: 0 on success, 1 when any file failed, 2 for a usage error.

#include <csignal>
#include <iostream>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "platform/file.h"

int main(int argc, char** argv) {
  // A write beyond the file size limit then fails with an error instead of ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
  kav::InstallInterruptCleanup();

  CLI::App app{
      "Converts 8-bit BMP images to MZR, RLE and RLS asset files, and inspects and "
      "renders converted files.",
      "kavconv"};
  app.set_version_flag("--version", KAV_VERSION);
  app.require_subcommand(1);
  const std::vector<std::unique_ptr<kav::Command>> commands = [&app] {
    std::vector<std::unique_ptr<kav::Command>> all;
    all.push_back(kav::AddConvertCommand(app));
    all.push_back(kav::AddInfoCommand(app));
    all.push_back(kav::AddRenderCommand(app));
    return all;
  }();
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kav::kExitUsage;
  }
  for (const std::unique_ptr<kav::Command>& command : commands) {
    if (command->Chosen()) {
      return command->Run();
    }
  }
  return kav::kExitUsage;
}
