// Before packing, each collected macro file gets a rewritten copy in which every file it
// names and every macro it calls is named the way the EXE knows it: by the packed file's
// name relative to the script folder. The copy replaces the macro's temporary copy; the
// user's own macro file is only ever read.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "macro/macro_format.h"
#include "platform/byte_view.h"
#include "project/options.h"

namespace analysis {
class CMakeExe_Builder;
}

namespace packager {

// Where each command keeps the text that names a file or a macro file: what the build
// rewrites and what the player resolves.
enum class TextForm { kOneName, kList, kCommandList, kMacroCall };
struct TextSource {
  uint16_t code;
  uint32_t offset;  // into the parameter record's payload
  TextForm form;
  uint32_t kind_offset = 0;  // calls only: where the reference's kind byte is
};
// The command's text source, or null for a command that names no file.
const TextSource* FindTextSource(uint16_t code);

// One parameter record (head and payload) is rewritten in a block of this size.
inline constexpr size_t kRewriteBlockSize = 0x40000;

// `path` without its leading spaces and, when it lies in `script_folder` (compared without
// regard to case), without that folder; at most 259 characters.
std::u16string ScriptRelativeName(std::u16string_view path, std::u16string_view script_folder);

// Which references a rewrite looks at: the texts of the commands that name files, or the
// calls of other macro files. A call is never matched against the extra files, nor a file
// name against the macro files.
enum class RewriteTargets { kFiles, kMacroCalls };

// What the rewrite of one command needs besides the command.
struct RewriteContext {
  std::u16string_view script_folder;  // ends with a backslash
  std::u16string_view data_folder;    // the user's macro folder, resolves kind-0 calls
  RewriteTargets targets = RewriteTargets::kFiles;
};

// Rewrites the reference texts of `command`'s parameter record `record` (its 4-byte head
// and payload; the view may be larger than the record, up to kRewriteBlockSize) against
// `table`. A name matches the entry with its name hash that `macro_index`'s command
// `command_index` listed, else one `macro_index` listed, else any (the discovery lists
// each file once, under the first command that named it). A call's hash is that of its
// resolved path, lower-cased, so each spelling of a collected macro file matches it. One
// name becomes the script-relative name of the entry's target; each item of a list its
// target (unmatched items stay); a kind-0 call becomes a kind-1 one. A text that would
// not fit its field (260 units, and never past the payload), a list that would not read
// back as the same names, or a record the view does not hold whole is left as it was.
// Command 0x3106's list is rebuilt and may change the record's size, up to the view's
// end: the head then states the new size. True when the record changed; *size_changed
// (when given) is set when its size did. Allocation failures propagate.
bool RewriteCommandReferences(const RewriteContext& context, int32_t macro_index, int32_t command_index,
                              const macro::MacroCommand& command, plat::MutableByteView record,
                              std::span<const project::ExtraFileEntry> table, bool* size_changed = nullptr);

// Rewrites the temporary copy of every collected macro file of `builder`'s lists: its
// file names against the extra-file list, then its calls against every collected macro
// file. The user's file (`Path`) is only read; the copy (`TempPath`) is written anew with
// the attachments of the user's file. A macro file that cannot be read is left as its copy
// is ("IDS_ERR_OPENSCRIPT" with the copy's path, the run goes on). False when the build
// must stop, with the reason as the builder's message: the macro layer's key for a
// command table that cannot be read, the attachments' key with the system's error text
// when they cannot be written back, "IDS_ERR_NOTENOUGHMEM" when memory runs out.
bool RewriteMacroCopies(analysis::CMakeExe_Builder& builder, std::u16string_view data_folder);

}  // namespace packager
