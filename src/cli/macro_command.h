// `brankel macro info FILE [--json]`: what a macro file holds, as the packager reads it.
#pragma once

#include <string>
#include <vector>

#include "cli/lng_command.h"

namespace CLI {
class App;
}

namespace cli {

// Adds the `macro` command to `app`; `result` receives the exit code of what ran.
void AddMacroCommand(CLI::App& app, const Streams& streams, int& result);

// The sysdata folders tried, in order, for the English language files that give failure
// messages their text: the program's own installation first, then the build's.
std::vector<std::u16string> LanguageFolders();

}  // namespace cli
