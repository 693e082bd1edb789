// `brankel analyze SCRIPT [--json]`: what the wizard works out before its build page,
// without windows. The project file beside the script (or the defaults), the script's
// header check, every macro file the script reaches, the temporary copies the macro list
// page makes, and the extra files their commands name; the copies are removed afterwards.
// As in the wizard, the script's folder is the current folder while the lists are worked
// out (the search for named files looks there); the caller's comes back afterwards.
//
// The report (also as one JSON object with --json):
//   "script", "project_file_loaded",
//   "macros": [{"index", "file", "used_in", "line", "path", "user_added", "missing"}],
//   "extra_files": [{"target_name", "source_path", "macro", "line", "on_search_path",
//                    "excluded", "user_added"}],
//   "complete": true when both lists are complete, "messages": the failures met.
// "line" counts commands from 1 (0 for the script itself and for user entries);
// "used_in" and "macro" are file names of macro list entries.
// Exit code 0 when the lists are complete, 1 otherwise.
#pragma once

#include "cli/cli.h"

namespace CLI {
class App;
}

namespace cli {

void AddAnalyzeCommand(CLI::App& app, const Streams& streams, int& result);

}  // namespace cli
