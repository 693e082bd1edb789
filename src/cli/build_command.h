// `brankel build`: a script and its answers in, one EXE out, on the wizard's own steps.
#pragma once

#include "cli/cli.h"

namespace CLI {
class App;
}

namespace cli {

void AddBuildCommand(CLI::App& app, const Streams& streams, int& result);

}  // namespace cli
