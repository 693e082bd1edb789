// `brankel config show [--json]`: the configuration the program resolves, and why.
#pragma once

#include "cli/cli.h"

namespace CLI {
class App;
}

namespace cli {

void AddConfigCommand(CLI::App& app, const Streams& streams, int& result);

}  // namespace cli
