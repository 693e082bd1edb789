#include "app/startup.h"

#include <algorithm>
#include <new>

#include "app/vl_reg.h"
#include "platform/platform.h"

namespace app {
namespace {

constexpr size_t kPathChars = 260;
constexpr size_t kFilterChars = 257;

size_t LastBackslash(std::u16string_view path) { return path.find_last_of(u'\\'); }

}  // namespace

bool IsWideSpace(char16_t c) {
  if ((c >= 0x09 && c <= 0x0D) || c == 0x20) return true;
  switch (c) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

std::u16string ScriptPathFromCommandLine(std::u16string_view tail) {
  while (!tail.empty() && IsWideSpace(tail.front())) tail.remove_prefix(1);
  while (!tail.empty() && IsWideSpace(tail.back())) tail.remove_suffix(1);
  return std::u16string(tail);
}

std::optional<std::u16string> ProgramFolderOf(std::u16string_view module_path) {
  const size_t slash = LastBackslash(module_path);
  if (slash == std::u16string_view::npos) return std::nullopt;
  return plat::ToLower(module_path.substr(0, slash + 1));
}

std::u16string FolderOfPath(std::u16string_view path) {
  const size_t slash = LastBackslash(path);
  return slash == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, slash + 1));
}

std::u16string FileNameOfPath(std::u16string_view path) {
  if (!path.empty() && path.back() == u':') return {};
  const size_t slash = LastBackslash(path);
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

std::u16string FileChooserFilter(std::u16string_view text) {
  text = text.substr(0, std::min(text.size(), kFilterChars));
  std::u16string filter;
  bool separated = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\\' && i + 1 < text.size() && text[i + 1] == u'0') {
      filter += u'\0';
      separated = true;
      ++i;
    } else {
      filter += text[i];
    }
  }
  if (!separated) {
    filter = std::u16string(text) + u'\0' + std::u16string(text);
  }
  // Each part ends with a NUL and the list with one more.
  if (filter.empty() || filter.back() != u'\0') filter += u'\0';
  filter += u'\0';
  return filter;
}

bool UiLibraryVersionOk(const FixedFileVersion& version) { return version.file_ms > 4096 && version.file_ls > 1; }

bool SiblingVersionOk(const FixedFileVersion& version) { return (version.product_ms & 0x000FFFF0u) == 0x00040000u; }

uint8_t ResolveSystemColours(uint8_t setting, uint32_t os_kind) {
  if (setting != 2) return setting;
  return os_kind > 5 ? 1 : 0;
}

int Startup::Message(const char16_t* key, uint32_t type, std::vector<std::u16string> args) {
  return host_.MessageByKey(key, type, args);
}

StartupEnd Startup::Run(std::u16string_view command_tail) {
  std::u16string script = ScriptPathFromCommandLine(command_tail);

  const std::optional<std::u16string> folder = ProgramFolderOf(host_.ModulePath());
  if (!folder) {
    host_.ShowStringResource(kIdsProgramFolderFailed);
    return StartupEnd::kNoProgramFolder;
  }
  app_.SetProgramFolder(*folder);

  if (!app_.LoadConfiguration()) {
    host_.ShowStringResource(kIdsConfigurationFailed);
    return StartupEnd::kConfigurationFailed;
  }
  app_.SetHelpFilePath(app_.ProgramFolder() + u"Brankel.chm");

  const std::u16string& main_file = app_.LanguageFiles().empty() ? std::u16string() : app_.LanguageFiles().front();
  if (!main_file.empty() && host_.FileExists(main_file)) {
    char16_t locale[kPathChars] = {};
    CVLReg::ReadIniString(main_file, u"Header", u"Locale", locale, u"", kPathChars);
    host_.SetLocale(locale);
  }

  if (std::optional<StartupEnd> end = LoadLanguageAndSkin()) return *end;

  FixedFileVersion library_version;
  if (!host_.ReadFileVersion(app_.ResourceFile(), &library_version) || !UiLibraryVersionOk(library_version)) {
    Message(u"IDS_ERR_UIDLL_WRONVER", kMbIconError);
    return StartupEnd::kUiLibraryVersion;
  }

  char16_t crc[kPathChars] = {};
  CVLReg::ReadIniString(main_file, u"Header", u"CRC", crc, u"", kPathChars);
  if (!table_->CheckCrc(crc)) {
    Message(u"IDS_ERR_INVALID_RESFILE", kMbIconError);
    return StartupEnd::kLanguageFileDamaged;
  }

  if (std::optional<StartupEnd> end = CheckMacroFolder()) return *end;

  if (script.empty() && !host_.ChooseFile(script, u"IDS_FILEFILTER_SPT")) return StartupEnd::kScriptChoiceCancelled;
  if (!host_.FileExists(script)) {
    Message(u"IDS_ERR_SCRIPTFILENOTEXIST", kMbIconError, {script});
    return StartupEnd::kScriptMissing;
  }

  if (std::optional<StartupEnd> end = CheckSibling()) return *end;

  std::u16string script_folder = FolderOfPath(script);
  if (!script_folder.empty()) host_.SetCurrentDirectory(script_folder);
  app_.SetScriptPath(std::move(script), std::move(script_folder));
  host_.RunWizard(app_);
  return StartupEnd::kWizardRan;
}

std::optional<StartupEnd> Startup::LoadLanguageAndSkin() {
  table_.reset(new (std::nothrow) CVLResString);
  if (!table_ || !host_.CreateUiObject()) {
    host_.ShowStringResource(kIdsUiObjectFailed);
    return StartupEnd::kUiObjectFailed;
  }
  for (const std::u16string& file : app_.LanguageFiles()) {
    if (!table_->LoadFile(file)) {
      host_.ShowStringResource(kIdsLanguageFileFailed);
      return StartupEnd::kLanguageFileFailed;
    }
  }
  SharedSettings& settings = app_.Settings();
  if (!host_.LoadSkin(app_.ResourceFile(), settings.Hue, settings.Light, settings.Saturation)) {
    host_.ShowStringResource(kIdsUiLibraryFailed);
    return StartupEnd::kUiLibraryFailed;
  }

  const char16_t* face_end = std::find(std::begin(settings.FontFace), std::end(settings.FontFace), u'\0');
  host_.SetFont(std::u16string_view(settings.FontFace, static_cast<size_t>(face_end - settings.FontFace)),
                settings.FontSize);
  settings.UseSystemColours = ResolveSystemColours(settings.UseSystemColours, host_.OsKind());
  if (settings.UseSystemColours != 0) host_.UseSystemColours(true);
  app_.SetLanguageTable(table_.get());
  host_.LanguageReady();
  return std::nullopt;
}

std::optional<StartupEnd> Startup::CheckMacroFolder() {
  while (!host_.DirectoryExists(app_.DataFolder())) {
    Message(u"IDS_ERR_INVALID_MACROFOLDER", kMbIconError, {app_.DataFolder()});
    std::u16string title;
    app_.GetText(title, u"IDS_MES_SELECTMACROFOLDER");
    std::u16string chosen = host_.CurrentDirectory();
    if (!host_.ChooseFolder(chosen, title) || chosen.empty()) return StartupEnd::kMacroFolderCancelled;
    if (chosen.size() > kPathChars - 1) chosen.resize(kPathChars - 1);
    app_.SetDataFolder(std::move(chosen));
  }
  return std::nullopt;
}

std::optional<StartupEnd> Startup::CheckSibling() {
  const std::u16string path = app_.ProgramFolder() + u"Deskvale.exe";
  FixedFileVersion version;
  if (!host_.ReadFileVersion(path, &version)) {
    Message(u"IDS_ERR_GETVERSION", kMbIconError, {path});
    return StartupEnd::kSiblingNoVersion;
  }
  if (SiblingVersionOk(version)) return std::nullopt;
  if (Message(u"IDS_ERR_MANAGER_WRONVER", kMbYesNoError) != kIdYes) return StartupEnd::kSiblingVersionDeclined;
  std::u16string address;
  if (table_->GetString(address, u"IDS_URL_DOWNLOAD", u"") && !address.empty()) host_.ShellOpen(address);
  return std::nullopt;
}

}  // namespace app
