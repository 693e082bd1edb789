// Start-up from the command line to the wizard, on the portable side: every decision is
// here, and what needs a window or the system goes through StartupHost, so the whole
// sequence runs natively in tests against a fake host.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/brankel_app.h"
#include "app/res_string.h"

namespace app {

// Start-up's string resources, shown before the language table is usable.
inline constexpr uint32_t kIdsLanguageFileFailed = 102;
inline constexpr uint32_t kIdsUiObjectFailed = 103;
inline constexpr uint32_t kIdsProgramFolderFailed = 104;
inline constexpr uint32_t kIdsUiLibraryFailed = 105;
inline constexpr uint32_t kIdsConfigurationFailed = 107;

// The message-box type of a question with an error icon (Yes and No).
inline constexpr uint32_t kMbYesNoError = kMbYesNo | kMbIconError;

// The system's fixed version information, as its 52 bytes lie in a version resource.
struct FixedFileVersion {
  uint32_t signature = 0;
  uint32_t struct_version = 0;
  uint32_t file_ms = 0;
  uint32_t file_ls = 0;
  uint32_t product_ms = 0;
  uint32_t product_ls = 0;
  uint32_t flags_mask = 0;
  uint32_t flags = 0;
  uint32_t os = 0;
  uint32_t type = 0;
  uint32_t subtype = 0;
  uint32_t date_ms = 0;
  uint32_t date_ls = 0;
};
static_assert(sizeof(FixedFileVersion) == 52);

// The script path from the command line's text after the program name: white space at
// both ends removed (the C runtime's wide white-space set), nothing else; quotation marks
// stay, so a quoted path names no file.
std::u16string ScriptPathFromCommandLine(std::u16string_view tail);
// The C runtime's wide white-space test.
bool IsWideSpace(char16_t c);

// The executable's path cut after its last backslash and lower-cased; none without one.
std::optional<std::u16string> ProgramFolderOf(std::u16string_view module_path);
// Up to and including the last backslash; empty without one.
std::u16string FolderOfPath(std::u16string_view path);
// After the last backslash (the whole text without one); empty for a path ending in ':'.
std::u16string FileNameOfPath(std::u16string_view path);

// The file chooser's filter from a language text: each backslash-zero pair becomes a NUL,
// at most 257 characters of the text are taken, and a text without a separator is one
// filter whose description and pattern are the text. Ends with the double NUL.
std::u16string FileChooserFilter(std::u16string_view text);

// The UI resource library is new enough: file version MS above 4096, LS above 1.
bool UiLibraryVersionOk(const FixedFileVersion& version);
// The sibling editor is one start-up works with: bits 4 to 19 of its product MS dword
// are 0x40000 (major 4 modulo 16, minor 0 to 15).
bool SiblingVersionOk(const FixedFileVersion& version);
// "UsingSystemAspect" with 2 (automatic) resolved: on for kinds above 5 (Vista on).
uint8_t ResolveSystemColours(uint8_t setting, uint32_t os_kind);

// What start-up needs from the system and the user.
class StartupHost {
 public:
  virtual ~StartupHost() = default;

  virtual std::u16string ModulePath() = 0;
  virtual uint32_t OsKind() = 0;
  // A string resource in the system's message box with an error icon.
  virtual void ShowStringResource(uint32_t id) = 0;
  // A message by language key; returns the button pressed.
  virtual int MessageByKey(const char16_t* key, uint32_t type, const std::vector<std::u16string>& args) = 0;
  // The folder browser; on OK `folder` ends with a backslash.
  virtual bool ChooseFolder(std::u16string& folder, std::u16string_view title) = 0;
  // The open dialog for one file with the filter of `filter_key`.
  virtual bool ChooseFile(std::u16string& path, const char16_t* filter_key) = 0;
  virtual bool FileExists(std::u16string_view path) = 0;  // a file, not a folder
  virtual bool DirectoryExists(std::u16string_view path) = 0;
  virtual bool ReadFileVersion(std::u16string_view path, FixedFileVersion* version) = 0;
  virtual std::u16string CurrentDirectory() = 0;
  virtual bool SetCurrentDirectory(std::u16string_view path) = 0;
  // The C runtime's locale for all categories; empty is the user's default.
  virtual void SetLocale(std::u16string_view locale) = 0;
  virtual void ShellOpen(std::u16string_view target) = 0;
  virtual bool CreateUiObject() = 0;
  virtual bool LoadSkin(std::u16string_view library, int32_t hue, int32_t light, int32_t saturation) = 0;
  virtual void SetFont(std::u16string_view face, int32_t size) = 0;
  virtual void UseSystemColours(bool use) = 0;
  // From here on messages go through the skinned display.
  virtual void LanguageReady() = 0;
  virtual void RunWizard(CBrankelApp& app) = 0;
};

// How start-up ended, for tests and the exit code.
enum class StartupEnd {
  kWizardRan,
  kNoProgramFolder,
  kConfigurationFailed,
  kUiObjectFailed,
  kLanguageFileFailed,
  kUiLibraryFailed,
  kUiLibraryVersion,
  kLanguageFileDamaged,
  kMacroFolderCancelled,
  kScriptChoiceCancelled,
  kScriptMissing,
  kSiblingNoVersion,
  kSiblingVersionDeclined,
};

// InitInstance from the command line on (OLE and GDI+ are the Windows program's own).
class Startup {
 public:
  Startup(CBrankelApp& app, StartupHost& host) : app_(app), host_(host) {}

  StartupEnd Run(std::u16string_view command_tail);

  const CVLResString* LanguageTable() const { return table_.get(); }

 private:
  std::optional<StartupEnd> LoadLanguageAndSkin();
  std::optional<StartupEnd> CheckMacroFolder();
  std::optional<StartupEnd> CheckSibling();
  int Message(const char16_t* key, uint32_t type, std::vector<std::u16string> args = {});

  CBrankelApp& app_;
  StartupHost& host_;
  std::unique_ptr<CVLResString> table_;
};

}  // namespace app
