// The libraries and programs the player needs at run time, most of them only for certain
// kinds of commands. A build ships only what its macros use: the command scan marks the
// modules needed, the player copy loses its imports of the others, and the needed files
// join the build's lists.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_view.h"
#include "project/file_lists.h"

namespace macro {
struct MacroCommand;
}

namespace packager {

inline constexpr int kRuntimeModuleCount = 28;

// Categories the build itself asks about; the others are only in the table.
inline constexpr uint32_t kModuleTesseract = 0x1000000;   // "libocrtess.dll"
inline constexpr uint32_t kModulePaddle = 0x10000000;     // "libpaddleocr.dll"
inline constexpr uint32_t kModuleWebInstaller = 0x10000;  // "Webvale.exe"
inline constexpr uint32_t kModuleWebLanguage = 0x200000;  // the web language file
inline constexpr uint8_t kLanguageEntryType = 4;          // the player's language files in the macro list
inline constexpr char16_t kUiLibraryTarget[] = u"vllib_ui_defresu.dll";

// The categories (a mask of them) of the modules a command with `code` and the parameter
// payload `payload` needs; 0 for none. A web command needs the browser side (0x400) and
// the extension program; the build brings the rest of the web group along with them.
uint32_t CommandModuleNeeds(uint16_t code, plat::ByteView payload);

struct RuntimeModule {
  uint32_t category = 0;
  std::u16string file_name;  // relative to the program folder
  bool imported = false;     // the player imports this library
  bool needed = false;
  bool subfolder = false;  // the folder part of the name stays in the name inside the EXE
};

// The module table of one build, its needed marks reset by the build's start. One table
// per build rather than one per process, so that two builds (or tests) never share marks.
class RuntimeModules {
 public:
  RuntimeModules();

  // 1 when it set the mark of the row with `category` (also when no row has it), 0 when
  // the mark was set already.
  int MarkNeeded(uint32_t category);
  // Clears every mark, then marks the modules every build needs.
  void ResetModuleMarks();
  // Marks what the enabled commands of every macro file of `lists` need, and of the macro
  // files their attachments carry; `language_code` names the web language file. Files that
  // cannot be read mark nothing. False only when memory ran out: the marks are then
  // incomplete, and the lists' message is "IDS_ERR_NOTENOUGHMEM".
  bool ScanModuleNeeds(project::CMakeExe_FileLists& lists, std::u16string_view language_code);
  // The ANSI names of the player's imports that this build does not need.
  std::vector<std::string> RemovableImports() const;
  // Appends the needed runtime files, the UI resource library and the OCR data to the extra
  // list and the player's two language files to the macro list. `program_folder` ends with
  // a backslash (one is supplied when it does not). False, with the lists' message saying
  // why, when a list is full ("IDS_ERR_TOOMANYEXTRAFILE", "IDS_ERR_TOOMANYMACRO"), when a
  // path does not fit a 260-character field ("IDS_ERR_GETFILEATTRIB" with the path, as for
  // a missing file) or when memory ran out; entries appended before stay.
  bool AddRuntimeFiles(project::CMakeExe_FileLists& lists, std::u16string_view program_folder,
                       std::u16string_view ui_library_path, std::u16string_view language_code) const;

  const RuntimeModule& Row(int index) const { return rows_[static_cast<size_t>(index)]; }
  // True when the web extension installer ("Webvale.exe") is part of the build.
  bool WebInstallerNeeded() const;

 private:
  RuntimeModule* Find(uint32_t category);
  const RuntimeModule* Find(uint32_t category) const;
  // `nesting` counts the embedded files on the chain of scans that led here.
  void ScanMacroFile(std::u16string_view path, std::u16string_view language_code, int nesting);
  void MarkCommandNeeds(const macro::MacroCommand& command, plat::ByteView params, std::u16string_view language_code);
  void MarkWebGroup(std::u16string_view language_code);

  std::array<RuntimeModule, kRuntimeModuleCount> rows_;
};

}  // namespace packager
