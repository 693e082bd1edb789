// `brankel lng check|sign FILE`: the language files of an installation.
#pragma once

#include <cstdio>
#include <string>

#include "cli/cli.h"

namespace CLI {
class App;
}

namespace cli {

// Adds the `lng` command to `app`; `result` receives the exit code of what ran.
void AddLngCommand(CLI::App& app, const Streams& streams, int& result);

}  // namespace cli
