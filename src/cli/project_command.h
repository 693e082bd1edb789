// `brankel project show FILE [--json]`: what a packaging project file holds.
#pragma once

#include "cli/cli.h"

namespace CLI {
class App;
}

namespace cli {

void AddProjectCommand(CLI::App& app, const Streams& streams, int& result);

}  // namespace cli
