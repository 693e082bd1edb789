// `brankel macro upgrade FILE [--dry-run] [--json]`: a macro file of an older version
// (258, 259) rewritten in place as a current one, with its version-259 bytes kept beside it
// as FILE.old, and what the conversion changed.
#pragma once

#include <string>

#include "cli/cli.h"

namespace CLI {
class App;
}

namespace cli {

struct MacroUpgradeOptions {
  std::string file;
  bool dry_run = false;  // report what would change; write nothing
  bool json = false;
};

// Exit codes: 0 upgraded (or would be), or nothing to upgrade; 1 the file was refused or
// could not be rewritten, and is as it was.
int UpgradeMacro(const MacroUpgradeOptions& options, const Streams& io);

// Adds `upgrade` to the `macro` command.
void AddMacroUpgradeCommand(CLI::App& macro, const Streams& streams, int& result);

}  // namespace cli
