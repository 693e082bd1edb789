// `brankel pe info|set-icon|set-bitmap|blank-version EXE ...`: looks at a Windows
// executable, or applies one of the EXE build's resource edits to it in place, through the
// very code the build runs, so that what a build did to a program can be checked and any
// one step redone by hand.
//
// `brankel pe info EXE --json` prints one object whose keys are always all present:
//   "file"       the executable's full Windows path
//   "format"     "PE32" or "PE32+"
//   "size"       the file's length in bytes
//   "checksum"   {"stored", "computed", "matches"}: the optional header's value, the
//                value worked out over the file, and whether the two agree
//   "sections"   [{"name", "virtual_address", "virtual_size", "raw_pointer", "raw_size",
//                "characteristics"}], in table order, as the section headers hold them
//   "imports"    [library name, ...], in the import table's order
//   "resources"  [{"type", "type_name", "name", "language", "code_page", "size"}], in the
//                directory's order; "type" and "name" are numbers, or texts for named
//                ones; "type_name" is the standard name ("ICON", "GROUP_ICON", "VERSION",
//                ...), else the number in decimal or the name
//   "version"    null without a version resource (type 16, name 1), else
//                {"file_version", "fixed_file_version", "fixed_product_version"}, each a
//                text ("1.2.3.4") or null when the block does not hold it
//   "notes"      [text, ...]: what could not be read; a damaged import table or resource
//                directory ends its list with a note here instead of failing the command
// Numbers are JSON numbers. Without --json the same facts are printed as text, the
// section fields and the checksums in hexadecimal.
//
// Exit codes: 0 done, 1 the file could not be read or the edit failed (the executable is
// then exactly as it was), 2 a usage error.
#pragma once

#include <cstdint>
#include <string_view>

#include "cli/cli.h"
#include "pe/resource_edits.h"

namespace CLI {
class App;
}

namespace cli {

// Adds the `pe` command to `app`; `result` receives the exit code of what ran.
void AddPeCommand(CLI::App& app, const Streams& streams, int& result);

}  // namespace cli
