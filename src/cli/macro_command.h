// `brankel macro info FILE [--json]`: what a macro file holds, as the packager reads it.
#pragma once

#include <string>
#include <vector>

#include "cli/cli.h"

namespace CLI {
class App;
}

namespace cli {

// Adds the `macro` command to `app`; `result` receives the exit code of what ran.
void AddMacroCommand(CLI::App& app, const Streams& streams, int& result);

}  // namespace cli
