// Finding every macro file a script reaches: its call commands, followed recursively, and
// the macro files carried in attachments. Each distinct file becomes one entry of the macro
// list, with the entry of the file that calls it and the calling command.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "project/file_lists.h"

namespace analysis {

// The two commands that call another macro file, and where their payload keeps the
// reference kind and the name text.
inline constexpr uint16_t kCmdCallMacro = 0x6105;  // kind at 1, name at 8, tested as stored
inline constexpr uint16_t kCmdRunMacro = 0x6605;   // kind at 0, name at 258, tested trimmed
inline constexpr uint8_t kMacroEntryType = 3;

// An embedded macro file is always smaller than the file carrying it, so embedding cannot
// loop; but a crafted file can nest embedded files as deep as its size allows, and every
// level holds open files and temporary copies. Walks of embedded files nest at most this
// deep along one chain of walks; deeper attachments are not examined.
inline constexpr int kMaxEmbeddedNesting = 8;

// What a collection works with. The caller owns both; `data_folder` (the user's macro
// folder, ending with a backslash) resolves calls by library name.
struct MacroCollection {
  project::CMakeExe_FileLists& lists;
  std::u16string_view data_folder;
};

// Walks the macro file at `macro_path`: each enabled call command adds an entry for its
// target with `caller` as parent, a new target that exists as a file is walked in turn,
// and each embedded ".msd"/".msl" attachment is extracted to `scratch_path` and walked with
// `caller` as the caller of its calls. Calls with a blank name name no file. False when
// this file cannot be opened or read, when any call of the walk, at any depth and in
// embedded files too, met the 512-entry limit (the message is then "IDS_ERR_TOOMANYMACRO"
// whatever failed after it), or when memory ran out ("IDS_ERR_NOTENOUGHMEM" with
// `macro_path`); the reason is the lists' message. Other failures of nested walks only
// leave their message.
bool CollectMacroFiles(const MacroCollection& collection, int32_t caller, std::u16string_view script_folder,
                       std::u16string_view macro_path, std::u16string_view scratch_path);

// Starts a collection for a script as the wizard does when it opens: the script's own
// entry (no parent, no command, its path as given; an equal path already listed is reused)
// becomes the root, and the walk runs with a fresh scratch path. `*root` (when given)
// receives the root's index, or -1 when the list had no room for it.
bool CollectScriptMacros(const MacroCollection& collection, std::u16string_view script_path,
                         std::u16string_view script_folder, int32_t* root = nullptr);

// A scratch path for extracted macro files: a unique "~mt" name in the temporary folder,
// without the ".tmp" of the empty file that the name request creates. That file keeps the
// name reserved while the path is in use and is deleted with this object. The path is
// empty when the temporary folder or a name cannot be had.
class ScratchPath {
 public:
  ScratchPath();
  ScratchPath(const ScratchPath&) = delete;
  ScratchPath& operator=(const ScratchPath&) = delete;
  ~ScratchPath();

  const std::u16string& Path() const { return path_; }

 private:
  std::u16string reserved_;  // the created ".tmp" file
  std::u16string path_;
};

// Whether an attachment's extension names a macro file (".msd" or ".msl", any case).
bool IsMacroExtension(std::u16string_view extension);
// Deletes a file, for destructors and clean-ups: the platform's file calls allocate, and a
// failure to clean up must not end the program.
void DeleteQuietly(std::u16string_view path) noexcept;

}  // namespace analysis
