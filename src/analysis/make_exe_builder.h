// The context of one packaging run: its own copy of the file lists, the script it packages
// and the message text its operations leave when they fail. The extra files page runs the
// extra-file discovery through it; the build runs on the same object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "macro/macro_format.h"
#include "project/file_lists.h"

namespace app {
class CVLWinApp;
}

namespace analysis {

inline constexpr size_t kBuilderPathChars = 260;
inline constexpr size_t kBuilderMessageChars = 260;

class CMakeExe_Builder {
 public:
  // `texts` gives the language texts of the messages; without one a key shows as itself.
  explicit CMakeExe_Builder(const app::CVLWinApp* texts = nullptr);
  CMakeExe_Builder(const CMakeExe_Builder&) = delete;
  CMakeExe_Builder& operator=(const CMakeExe_Builder&) = delete;

  // The script and its folder, which ends with a backslash (each at most 259 characters).
  void SetScriptPath(std::u16string_view script_path, std::u16string_view script_folder);
  std::u16string_view ScriptPath() const;
  std::u16string_view ScriptFolder() const;

  project::CMakeExe_FileLists& FileLists() { return lists_; }
  const project::CMakeExe_FileLists& FileLists() const { return lists_; }

  // What the last failing operation reports; empty when it had nothing to say.
  std::u16string_view Message() const;
  // Leaves a message the way the builder's own operations do (key text with one argument,
  // empty for an empty key, the system's text for no key), for the build steps that run
  // on this object.
  void SetBuilderMessage(const char16_t* key, std::u16string_view argument = {}) { SetMessage(key, argument); }

  // Adds an extra entry for every distinct file that the commands of the macro file at
  // `macro_path` name; `macro_index` is that file's entry in the macro list. Each entry
  // gets its target name (project::MakeTargetName); a file that has no safe one is not
  // listed. Entries found before stay. False with the message "IDS_ERR_OPENSCRIPT", the
  // macro file layer's key (or the system's text), "IDS_ERR_TOOMANYEXTRAFILE" or
  // "IDS_ERR_NOTENOUGHMEM", each with the path.
  bool CollectExtraFiles(int32_t macro_index, std::u16string_view macro_path);

  // One command: offers an entry for each file its record's `payload` names and returns
  // whether the extra list grew. *list_full tells that a new file found no room, the
  // list being at its capacity; the command's remaining names are then not looked at.
  // Memory running out leaves "IDS_ERR_NOTENOUGHMEM" (with the script path) as the
  // message.
  bool CollectCommandExtraFiles(int32_t macro_index, const macro::MacroCommand& command,
                                std::span<const uint8_t> payload, int32_t command_index, bool* list_full = nullptr);

 private:
  // SetListMessage's rules (key text with one argument, empty, or the system's text).
  void SetMessage(const char16_t* key, std::u16string_view argument = {});
  // CollectExtraFiles inside its boundary: allocation failures propagate.
  bool ScanMacroFile(int32_t macro_index, std::u16string_view macro_path);
  void ReportOutOfMemory(std::u16string_view path) noexcept;

  project::CMakeExe_FileLists lists_;
  char16_t script_path_[kBuilderPathChars] = {};
  char16_t script_folder_[kBuilderPathChars] = {};
  char16_t message_[kBuilderMessageChars] = {};
};

}  // namespace analysis
