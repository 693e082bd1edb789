// The player's walk over the packed macros, apart from its window: what it reads from
// payload A, which calls and references it resolves, and the trace it writes.
//
// The commands themselves are the system's to carry out; this player plays a dry run. It
// walks the script's commands in order, follows each call into the packed macro or the
// embedded macro file it names, and resolves every file a command names the way the run
// would find it. One trace line per command, UTF-8, fields separated by a tab:
//
//   <macro name> TAB <line> TAB <code> TAB <what it resolved to>
//
// <macro name> is the packed record's name ("sub\b.msd"), and for a macro file embedded in
// another one's attachments the host's name, " IN:" and the stream name ("a.msd IN:x.msd");
// <line> the 1-based index of the command in its macro; <code> four upper-case hex digits;
// the last field one of:
//   (empty)               the command names nothing
//   disabled              a disabled command, not played
//   call <name>           a call played into the packed or embedded macro <name>
//   file <path>           a file found: the full path, or "IN:<stream>" for an attachment
//   variable <text>       a name given by a variable, known only when the macro runs
//   unresolved <text>     a call or a file that the run would not find
//   cycle <name>          a call into a macro already on the call chain, not followed
//   too deep <name>       a call past the nesting limit, not followed
// A command with several names (lists) gives its results joined by "; ". A called macro
// the reader refuses gives one line "<name> TAB 0 TAB 0000 TAB unresolved ..."; a walk cut
// short by kMaxPlayedCommands ends with a line "... TAB 0000 TAB unresolved the walk stopped". A command that
// needs a module the program does not have loaded adds "; module <file> not loaded".
// After the commands, the program adds a line "# module <file> ready <answer>" for each
// module a played command needed that it called.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "packager/payload.h"
#include "platform/byte_view.h"

namespace runtime {

inline constexpr int kExitPlayed = 0;      // every call and file reference resolved
inline constexpr int kExitUnresolved = 1;  // at least one did not (or the walk was cut short)
inline constexpr int kExitRefused = 2;     // the payload is missing or damaged

// Calls nest at most this deep; the walk plays at most this many commands in all (a
// crafted payload could otherwise call one macro from every command, level after level).
inline constexpr int kMaxCallDepth = 32;
inline constexpr uint32_t kMaxPlayedCommands = 100000;

// Payload A as the player accepts it: ReadPayloadA's checks, and the first record at
// 0x4000. The count may be larger than the number of records (entries the user added get
// no record), never smaller: ReadPayloadA refuses a record beyond the count.
std::optional<packager::PayloadA> ReadPlayerPayload(plat::ByteView section, std::string* refusal);

// The player options' fields the program shows (option bytes are the options record's
// from offset 16 on).
struct PlayerOptions {
  bool show_startup = false;
  std::u16string author_tips;
  std::u16string address;  // the related web address
};
PlayerOptions ReadPlayerOptions(plat::ByteView options);

// The bytes of the first language record (type 4) whose file part starts with `prefix`
// (without regard to case), e.g. "Player_"; nothing without one.
std::optional<plat::ByteView> FindLanguageRecord(const packager::PayloadA& payload, std::u16string_view prefix);

struct DryRunResult {
  int exit_code = kExitRefused;
  std::string refusal;             // why the payload was refused (exit code 2)
  std::vector<std::string> trace;  // the lines, without line ends
  std::string first_unresolved;    // "<macro> line <n>: <text>", empty when all resolved
  uint32_t module_needs = 0;       // categories of the modules the played commands need
};

// Walks the script of `payload` with `run_folder` (no trailing backslash needed) as the
// folder relative names resolve against. Reads files' existence only, writes nothing.
// `loaded` says whether a module (by category) is loaded; when given, a played command
// whose module is not loaded says so in its line (the walk goes on).
using ModuleLoaded = bool (*)(uint32_t category);
DryRunResult WalkPayload(const packager::PayloadA& payload, std::u16string_view run_folder,
                         ModuleLoaded loaded = nullptr);
// ReadPlayerPayload, then WalkPayload; a refused payload gives exit code 2 and no trace.
DryRunResult PlayDryRun(plat::ByteView section, std::u16string_view run_folder, ModuleLoaded loaded = nullptr);

// The trace as a file's text: each line followed by "\n".
std::string TraceText(const DryRunResult& result);

}  // namespace runtime
