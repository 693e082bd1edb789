// `brankel inspect EXE [--json] [--extract DIR]`: looks into a built EXE the way the stub
// and the player will. It reads the payload of the EXE's ".mdata" section, checks every
// packed file against its MD5 digest, finds the player copy among them, reads that
// program's own payload and lists the player options a user cares about and the packed
// macro files.
//
// The report (also as one JSON object with --json):
//   "file"       the EXE's full Windows path
//   "payload_b"  null when unreadable, else {"count", "total_size", "first_record",
//                "language_file_size", "run_mode", "web_installer", "exe_name",
//                "records": [{"kind", "target", "size", "md5_ok"}]}; "md5_ok" is null
//                when this build has no MD5 digest
//   "payload_a"  null without a readable player copy, else {"count", "script_name",
//                "options": {"log_level", "play_times", "exe_name", "related_url",
//                "author_tips"}, "records": [{"type", "name", "size"}]}
//   "extracted"  [target, ...] the files written under DIR (only with --extract)
//   "failures"   [text, ...] every check that failed, naming the record and why
// With --extract every packed file is written under DIR by its target name (subfolders
// made as needed); a target name that is empty, absolute, holds a drive or a colon or a
// ".." part is refused and counts as a failure.
//
// Exit codes: 0 every check passed, 1 any failed (each is printed on the error stream),
// 2 a usage error.
#pragma once

#include "cli/cli.h"

namespace CLI {
class App;
}

namespace cli {

void AddInspectCommand(CLI::App& app, const Streams& streams, int& result);

}  // namespace cli
