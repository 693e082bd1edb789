// The libraries and programs the player needs at run time, most of them only for certain
// kinds of commands. A build ships only what its macros use: the command scan marks the
// modules needed, the player copy loses its imports of the others, and the needed files
// join the build's lists.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "project/file_lists.h"

namespace packager {

inline constexpr int kRuntimeModuleCount = 28;

struct RuntimeModule {
  uint32_t category = 0;
  std::u16string file_name;  // relative to the program folder
  bool imported = false;     // the player imports this library
  bool needed = false;
  bool subfolder = false;  // the folder part of the name stays in the name inside the EXE
};

// The module table of one build, its needed marks reset by the build's start.
class RuntimeModules {
 public:
  RuntimeModules();

  // 1 when it set the mark of the row with `category` (also when no row has it), 0 when
  // the mark was set already.
  int MarkNeeded(uint32_t category);
  // Clears every mark, then marks the modules every build needs.
  void ResetModuleMarks();
  // Marks what the commands of every macro file of `lists` need (and of the macro files
  // their attachments carry); `language_code` names the web language file.
  void ScanModuleNeeds(const project::CMakeExe_FileLists& lists, std::u16string_view language_code);
  // The ANSI names of the player's imports that this build does not need.
  std::vector<std::string> RemovableImports() const;
  // Appends the needed runtime files, the UI resource library and the OCR data to the extra
  // list and the player's two language files to the macro list. False when a list is full.
  bool AddRuntimeFiles(project::CMakeExe_FileLists& lists, std::u16string_view program_folder,
                       std::u16string_view ui_library_path, std::u16string_view language_code) const;

  const RuntimeModule& Row(int index) const { return rows_[index]; }
  // True when the web extension installer ("Webvale.exe") is part of the build.
  bool WebInstallerNeeded() const;

 private:
  std::vector<RuntimeModule> rows_;
};

}  // namespace packager
