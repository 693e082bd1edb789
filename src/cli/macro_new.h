// `brankel macro new DESCRIPTION.json OUT`: a macro file written from a small JSON description,
// for people and build scripts without the macro editor.
#pragma once

#include <string>
#include <string_view>

#include "cli/cli.h"
#include "macro/macro_builder.h"

namespace CLI {
class App;
}

namespace cli {

// What the description may say; also the command's help.
extern const char* const kMacroDescriptionHelp;

// Fills `builder` from the description `json_text`; files named by "from" are read
// relative to `folder` (a Windows path). False with a one-line reason in `error` when the
// description is not valid JSON or says something a macro file cannot hold.
bool BuildMacroFromDescription(std::string_view json_text, std::u16string_view folder, macro::MacroBuilder& builder,
                               std::string& error);

// Exit codes: 0 written, 1 a file could not be read or OUT could not be written, 2 the
// description was refused. OUT is replaced only by a whole file.
int NewMacro(const std::string& description_path, const std::string& out, const Streams& io);

// Adds `new` to the `macro` command.
void AddMacroNewCommand(CLI::App& macro, const Streams& streams, int& result);

}  // namespace cli
