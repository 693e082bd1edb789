// The ordinary files that macro commands name (pictures, programs, documents, lists of
// names): where a command keeps its name text, how a list of names splits, how a name
// becomes a path on this computer, and the name a found file travels under in the EXE.
// CMakeExe_Builder (make_exe_builder.h) runs the walk over a macro file's commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_view.h"

namespace analysis {

// The command codes whose parameter records name files.
inline constexpr uint16_t kExtraFileCommandCodes[] = {0x1205, 0x210A, 0x2301, 0x2309, 0x230A, 0x2311, 0x2315,
                                                      0x2501, 0x3106, 0x4201, 0x430C, 0x4311, 0x4312, 0x650F};

// Above this many extra entries the walk of a macro file stops before its next command.
inline constexpr int32_t kExtraFileStopCount = 512;

inline constexpr char16_t kKeyTooManyExtraFiles[] = u"IDS_ERR_TOOMANYEXTRAFILE";

// One name a command's parameters give, as the resolver takes it.
struct CommandName {
  std::u16string name;
  // app::KeyHash of the name trimmed and lower-cased (before a leading ".\\" goes).
  uint32_t hash = 0;
  // Where in the payload the text that holds the name starts.
  size_t text_offset = 0;
};

// What one command names, read from its parameter payload alone: no disk, no lists.
struct CommandNames {
  std::vector<CommandName> names;
  // The one-name and list commands offer their entry buffer once more after their names
  // (it still holds the last path that resolved, so this adds nothing unless the list
  // refused that path before).
  bool offer_again = false;
};

// The names the command `code` keeps in `payload`, in the order they are offered:
// variables, inputs and the texts a command's mode does not use left out, a text the
// payload cuts short ending with it. A code that names no files gives none.
CommandNames ReadCommandNames(uint16_t code, plat::ByteView payload);

// A text that lists file names: "C:\Pics\a.bmp;b.bmp;c.bmp" names three files in C:\Pics\.
// Without a ";" the whole text is the one name and the folder is empty. Otherwise the
// first piece gives the folder (up to and including its last backslash) and the first
// name (after it; the whole piece without a backslash, empty when that piece ends with a
// colon); every further piece is a name as it stands, except an empty last piece.
class CVLMultipleFilename {
 public:
  explicit CVLMultipleFilename(std::u16string_view text);

  size_t Count() const { return names_.size(); }
  std::u16string_view Folder() const { return folder_; }
  std::u16string_view Name(size_t index) const { return names_[index]; }
  // The folder followed by the name.
  std::u16string Path(size_t index) const { return folder_ + names_[index]; }

  // The other way: the names trimmed and separated by ";". The first name that is no
  // input ("IN:") is written whole and gives the folder; a later name in that folder
  // (compared without regard to case) is written as its bare file name, any other name
  // and every input whole. The text is not cut: a caller with a fixed field checks it.
  static std::u16string Join(std::span<const std::u16string> names);

 private:
  std::u16string folder_;
  std::vector<std::u16string> names_;
};

// Where a command name resolves to: an absolute name stands as it is; a name that, put
// after `script_folder`, is an existing file becomes that path; a name the system's
// search for files finds (the folders a program's own look-ups search) stays the bare
// name with *on_search_path 1 (such files belong to the system and are never packed).
// Each path is normalised (project::NormalizePath: "." and ".." parts and repeated
// separators go), so every spelling of a file gives one list key. Nothing else resolves,
// and `*path` is then left as it was. A path needs to fit an entry's 260-character field
// with its terminator, so a longer one does not resolve rather than being cut into a
// different path; nor does a name that can only be a folder (empty, or ending with a
// separator once normalised). *on_search_path is 0 unless found by the search.
// Allocation failures propagate (std::bad_alloc) to the caller's boundary.
bool ResolveExtraFile(std::u16string_view name, std::u16string_view script_folder, std::u16string* path,
                      int32_t* on_search_path);

// The payload of the parameter record at `record` inside a loaded block of `block_size`
// bytes, cut at the block's end should its stated size reach past it.
std::span<const uint8_t> RecordPayload(const uint8_t* record, const uint8_t* block, size_t block_size);

}  // namespace analysis
