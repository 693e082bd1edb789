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

// One parameter record (head and payload) is rewritten in a block of this size.
inline constexpr size_t kRewriteBlockSize = 0x40000;

// `path` without its leading spaces and, when it lies in `script_folder` (compared without
// regard to case), without that folder; at most 259 characters.
std::u16string ScriptRelativeName(std::u16string_view path, std::u16string_view script_folder);

// What the rewrite of one command needs besides the command.
struct RewriteContext {
  std::u16string_view script_folder;  // ends with a backslash
  std::u16string_view data_folder;    // the user's macro folder, resolves kind-0 calls
};

// Rewrites the reference texts of `command`'s parameter record `record` (its 4-byte head
// and payload; the view may be larger than the record, up to kRewriteBlockSize) against
// `table`. True when the record changed; *size_changed (when given) is set when its size
// did.
bool RewriteCommandReferences(const RewriteContext& context, int32_t macro_index, int32_t command_index,
                              const macro::MacroCommand& command, plat::MutableByteView record,
                              std::span<const project::ExtraFileEntry> table, bool* size_changed = nullptr);

// Rewrites the temporary copy of every collected macro file of `builder`'s lists. False
// when the build must stop; the reason is then the builder's message.
bool RewriteMacroCopies(analysis::CMakeExe_Builder& builder, std::u16string_view data_folder);

}  // namespace packager
