#include "cli/cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "brankel_version.h"

#include "cli/analyze_command.h"
#include "cli/build_command.h"
#include "cli/config_command.h"
#include "cli/inspect_command.h"
#include "cli/lng_command.h"
#include "cli/macro_command.h"
#include "cli/pe_command.h"
#include "cli/project_command.h"

namespace cli {

int RunBrankel(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  CLI::App app("brankel: packages a macro script into one stand-alone Windows program", "brankel");
  app.require_subcommand(1);
  app.set_version_flag("--version", "brankel " BRANKEL_VERSION_TEXT, "print the version and exit");
  int result = 0;
  const Streams streams{out, err};
  AddAnalyzeCommand(app, streams, result);
  AddBuildCommand(app, streams, result);
  AddConfigCommand(app, streams, result);
  AddInspectCommand(app, streams, result);
  AddLngCommand(app, streams, result);
  AddMacroCommand(app, streams, result);
  AddPeCommand(app, streams, result);
  AddProjectCommand(app, streams, result);

  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForVersion& version) {
    std::fprintf(out, "%s\n", version.what());
    return 0;
  } catch (const CLI::CallForHelp&) {
    // The help of the command that was asked about, not always the top level's.
    const CLI::App* command = &app;
    while (!command->get_subcommands().empty()) command = command->get_subcommands().front();
    std::fputs(command->help().c_str(), out);
    return 0;
  } catch (const CLI::ParseError& error) {
    std::string help;
    for (const CLI::App* command = &app; command != nullptr;) {
      const auto used = command->get_subcommands();
      if (used.empty()) {
        help = command->help();
        break;
      }
      command = used.front();
    }
    std::fprintf(err, "brankel: %s\n", error.what());
    if (error.get_exit_code() != 0) std::fputs(help.c_str(), err);
    return error.get_exit_code() == 0 ? 0 : 2;
  }
  return result;
}

}  // namespace cli
