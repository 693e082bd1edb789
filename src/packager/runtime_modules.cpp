#include "packager/runtime_modules.h"

#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <utility>

#include "analysis/macro_collection.h"
#include "analysis/memory_failure.h"
#include "macro/attachments.h"
#include "macro/macro_file.h"
#include "macro/macro_format.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace packager {
namespace {

constexpr char16_t kKeyNotEnoughMem[] = u"IDS_ERR_NOTENOUGHMEM";
constexpr char16_t kKeyTooManyExtra[] = u"IDS_ERR_TOOMANYEXTRAFILE";
constexpr char16_t kKeyTooManyMacro[] = u"IDS_ERR_TOOMANYMACRO";
constexpr char16_t kKeyGetFileAttrib[] = u"IDS_ERR_GETFILEATTRIB";
constexpr size_t kPathUnits = 260;
constexpr size_t kMaxPathChars = kPathUnits - 1;
// Row 26's formed name keeps room for the program folder's backslash.
constexpr size_t kMaxWebLanguageChars = 258;

struct ModuleRow {
  uint32_t category;
  const char16_t* file_name;
  bool imported;
  bool subfolder;
};

constexpr ModuleRow kModuleRows[kRuntimeModuleCount] = {
    {0x1, u"Docvale.dll", true, false},
    {0x2, u"Datavale.dll", true, false},
    {0x4, u"Dialvale.dll", true, false},
    {0x8, u"Helpvale.dll", true, false},
    {0x8000000, u"vcomp140.dll", true, false},
    {0x10, u"Keyvale.dll", true, false},
    {0x4000000, u"Keyvale64.dll", true, false},
    {0x20, u"Mailvale.dll", true, false},
    {0x40, u"unzip32.dll", true, false},
    {0x80, u"zip32.dll", true, false},
    {0x100, u"Xfervale.dll", true, false},
    {0x800000, u"Visvale.dll", true, false},
    {kModuleTesseract, u"libocrtess.dll", true, false},
    {0x2000000, u"Ocrvale.dll", true, false},
    {kModulePaddle, u"libpaddleocr.dll", true, false},
    {0x200, u"PandrelIo.sys", true, false},
    {0x400, u"Iebvale.dll", false, false},
    {0x1000, u"chrome\\Cbrokvale.exe", false, true},
    {0x2000, u"firefox\\Fbrokvale.exe", false, true},
    {0x4000, u"Webxvale.exe", false, false},
    {0x8000, u"ModuleWebvale.dll", false, false},
    {kModuleWebInstaller, u"Webvale.exe", false, false},
    {0x20000, u"chrome\\Brokvale.crx", false, true},
    {0x40000, u"chrome\\manifest.json", false, true},
    {0x80000, u"firefox\\Brokvale.xpi", false, true},
    {0x100000, u"firefox\\manifest-ff.json", false, true},
    {kModuleWebLanguage, u"Webvale_%s.lng", false, false},
    {0x400000, u"Connvale64.exe", false, false},
};

constexpr uint32_t kAlwaysNeeded[] = {0x8, 0x200, 0x10, 0x4000000, 0x8000000, 0x400000};

// The first web command of a build brings the browser side along with it.
constexpr uint32_t kWebBrowser = 0x400;
constexpr uint32_t kWebGroup[] = {0x1000, 0x2000, 0x8000, kModuleWebInstaller, 0x20000, 0x40000, 0x80000, 0x100000};
constexpr uint32_t kWebExtension = 0x4000;

constexpr uint16_t kGroupWeb = 0x32;
constexpr uint16_t kCmdOcr = 0x6308;
constexpr size_t kOcrEngineAt = 0x514;

// A code of a whole group (`group_only`) matches any low byte.
struct CommandNeed {
  uint16_t code;
  bool group_only;
  uint32_t category;
};
constexpr CommandNeed kCommandNeeds[] = {
    {0x4100, true, 0x2},   {0x4200, true, 0x1},       {0x4307, false, 0x80},     {0x4308, false, 0x40},
    {0x3400, true, 0x100}, {0x2309, false, 0x800000}, {0x230F, false, 0x800000}, {0x3303, false, 0x4},
    {0x3304, false, 0x4},  {0x3106, false, 0x20},
};

// The OCR command's engine value.
constexpr uint32_t kOcrEngines[] = {0x2000000, kModuleTesseract, kModulePaddle};

// The part after the last backslash, or the whole name.
std::u16string_view BareName(std::u16string_view name) {
  const size_t slash = name.rfind(u'\\');
  return slash == std::u16string_view::npos ? name : name.substr(slash + 1);
}

void ReportOutOfMemory(project::CMakeExe_FileLists& lists, std::u16string_view path) noexcept {
  try {
    lists.SetListMessage(kKeyNotEnoughMem, path);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
}

// Appends the build's runtime entries; each refusal leaves its message.
class Appender {
 public:
  explicit Appender(project::CMakeExe_FileLists& lists) : lists_(lists) {}

  bool Extra(std::u16string_view source, std::u16string_view target, uint16_t kind) {
    // Cut, the path would name another file; the build would fail on it all the same.
    if (source.size() > kMaxPathChars || target.size() > kMaxPathChars) return Refuse(kKeyGetFileAttrib, source);
    project::ExtraFileEntry entry{};
    entry.ParentIndex = project::kNoParent;
    entry.FileKind = kind;
    entry.OnSearchPath = 0;
    entry.UserAdded = 1;
    entry.CommandIndex = -1;
    plat::SetFixedText(entry.SourcePath, kPathUnits, source);
    plat::SetFixedText(entry.TargetName, kPathUnits, target);
    if (lists_.AddExtraEntry(entry)) return true;
    // A file listed already (the user added it) travels once; only a full list refuses.
    if (IsListed(source)) return true;
    return Refuse(kKeyTooManyExtra, source);
  }

  bool Macro(std::u16string_view path) {
    if (path.size() > kMaxPathChars) return Refuse(kKeyGetFileAttrib, path);
    project::MacroListEntry entry{};
    entry.EntryType = kLanguageEntryType;
    plat::SetFixedText(entry.Path, kPathUnits, path);
    if (lists_.AddMacroEntry(entry) >= 0) return true;
    return Refuse(kKeyTooManyMacro, path);
  }

  bool Refuse(const char16_t* key, std::u16string_view argument) {
    lists_.SetListMessage(key, argument);
    return false;
  }

 private:
  bool IsListed(std::u16string_view source) const {
    for (int32_t i = 0; i < lists_.ExtraCount(); ++i) {
      if (plat::EqualNoCase(plat::FixedText(lists_.ExtraEntries()[i].SourcePath, kPathUnits), source)) return true;
    }
    return false;
  }

  project::CMakeExe_FileLists& lists_;
};

// Lists `pattern` and hands each entry but "." and ".." to `visit`, which returns false to
// stop; false when a visit did. A pattern that lists nothing gives nothing.
template <typename Visit>
bool ForEachEntry(const std::u16string& pattern, Visit visit) {
  plat::FindData data;
  plat::FindHandle find = plat::FindFirstFile(pattern, &data);
  if (find == nullptr) return true;
  bool result = true;
  try {
    do {
      if (data.name == u"." || data.name == u"..") continue;
      if (!visit(data)) {
        result = false;
        break;
      }
    } while (plat::FindNextFile(find, &data));
  } catch (...) {
    plat::FindClose(find);
    throw;
  }
  plat::FindClose(find);
  return result;
}

// Every file below `folder` + `relative`, named in the EXE by its path below the program
// folder. A folder too deep for any file of it to fit a field refuses the build: its files
// could not be named, and a folder that loops back into itself would grow without end.
bool AddFolderTree(Appender& appender, const std::u16string& folder, const std::u16string& relative) {
  const std::u16string base = folder + relative;
  if (base.size() >= kMaxPathChars) return !plat::IsDirectory(base) || appender.Refuse(kKeyGetFileAttrib, base);
  return ForEachEntry(base + u"*.*", [&](const plat::FindData& data) {
    if (data.attributes & plat::kAttrDirectory) {
      if (!data.name.empty() && data.name.front() == u'.') return true;
      return AddFolderTree(appender, folder, relative + data.name + u"\\");
    }
    return appender.Extra(base + data.name, relative + data.name, 0);
  });
}

}  // namespace

uint32_t CommandModuleNeeds(uint16_t code, plat::ByteView payload) {
  if ((code >> 8) == kGroupWeb) return kWebBrowser | kWebExtension;
  if (code == kCmdOcr) {
    // A record too short to hold the engine value names no engine.
    const std::optional<uint16_t> engine = payload.U16(kOcrEngineAt);
    return engine && *engine < std::size(kOcrEngines) ? kOcrEngines[*engine] : 0;
  }
  for (const CommandNeed& need : kCommandNeeds) {
    const bool match = need.group_only ? (code >> 8) == (need.code >> 8) : code == need.code;
    if (match) return need.category;
  }
  return 0;
}

RuntimeModules::RuntimeModules() {
  for (size_t i = 0; i < rows_.size(); ++i) {
    rows_[i].category = kModuleRows[i].category;
    rows_[i].file_name = kModuleRows[i].file_name;
    rows_[i].imported = kModuleRows[i].imported;
    rows_[i].subfolder = kModuleRows[i].subfolder;
  }
}

RuntimeModule* RuntimeModules::Find(uint32_t category) {
  for (RuntimeModule& row : rows_) {
    if (row.category == category) return &row;
  }
  return nullptr;
}

const RuntimeModule* RuntimeModules::Find(uint32_t category) const {
  for (const RuntimeModule& row : rows_) {
    if (row.category == category) return &row;
  }
  return nullptr;
}

int RuntimeModules::MarkNeeded(uint32_t category) {
  RuntimeModule* row = Find(category);
  if (row == nullptr) return 1;
  if (row->needed) return 0;
  row->needed = true;
  return 1;
}

void RuntimeModules::ResetModuleMarks() {
  for (RuntimeModule& row : rows_) row.needed = false;
  for (uint32_t category : kAlwaysNeeded) MarkNeeded(category);
}

bool RuntimeModules::WebInstallerNeeded() const {
  const RuntimeModule* row = Find(kModuleWebInstaller);
  return row != nullptr && row->needed;
}

std::vector<std::string> RuntimeModules::RemovableImports() const {
  std::vector<std::string> names;
  for (const RuntimeModule& row : rows_) {
    if (row.imported && !row.needed) names.push_back(plat::WideToAnsi(row.file_name));
  }
  return names;
}

void RuntimeModules::MarkWebGroup(std::u16string_view language_code) {
  if (MarkNeeded(kWebBrowser) == 1) {
    for (uint32_t category : kWebGroup) MarkNeeded(category);
    std::u16string name = u"sysdata\\Webvale_";
    name += language_code;
    name += u".lng";
    // A name this long cannot be joined to a folder within a field; AddRuntimeFiles then
    // refuses its path rather than shipping some other file.
    if (name.size() > kMaxWebLanguageChars) name.resize(kMaxWebLanguageChars);
    MarkNeeded(kModuleWebLanguage);
    if (RuntimeModule* row = Find(kModuleWebLanguage)) {
      row->file_name = std::move(name);
      row->subfolder = false;
    }
  }
  MarkNeeded(kWebExtension);
}

void RuntimeModules::MarkCommandNeeds(const macro::MacroCommand& command, plat::ByteView params,
                                      std::u16string_view language_code) {
  const uint32_t needs =
      CommandModuleNeeds(command.Code, macro::ParamRecordPayload(macro::FindParamRecord(command.ParamId, params)));
  if (needs & kWebBrowser) MarkWebGroup(language_code);
  for (uint32_t bit = 1; bit != 0; bit <<= 1) {
    if ((needs & bit) && bit != kWebBrowser) MarkNeeded(bit);
  }
}

void RuntimeModules::ScanMacroFile(std::u16string_view path, std::u16string_view language_code, int nesting) {
  // Kept off the stack: embedded files nest several scans deep.
  const auto file = std::make_unique<macro::CFile_Macro>();
  plat::SetLastError(plat::err::kSuccess);
  if (!file->Open(path)) {
    analysis::ThrowIfOutOfMemory();
    return;
  }
  const macro::MacroCommand* commands = nullptr;
  uint8_t* params = nullptr;
  if (!file->ReadCommands(&commands) || !file->GetParamBlock(&params)) {
    analysis::ThrowIfOutOfMemory();
    return;
  }
  const uint32_t count = commands == nullptr ? 0 : file->Header().CommandCount;
  for (uint32_t i = 0; i < count; ++i) {
    if (commands[i].Flags & macro::kCommandDisabled) continue;
    MarkCommandNeeds(commands[i], file->ParamView(), language_code);
  }

  // A crafted file can nest embedded files as deep as its size allows.
  if (nesting >= analysis::kMaxEmbeddedNesting) return;
  const auto attachments = std::make_unique<macro::CAttachments_Manager>();
  plat::SetLastError(plat::err::kSuccess);
  // A damaged area leaves what it could read; streams that cannot be had fail to extract.
  if (!attachments->ReadFromMacroFile(file->File(), file->Header())) analysis::ThrowIfOutOfMemory();
  std::unique_ptr<analysis::ScratchPath> scratch;
  for (uint32_t i = 0; i < attachments->Count(); ++i) {
    if (!analysis::IsMacroExtension(attachments->Extension(i))) continue;
    if (scratch == nullptr) scratch = std::make_unique<analysis::ScratchPath>();
    const std::u16string& target = scratch->Path();
    if (target.empty()) return;
    plat::SetLastError(plat::err::kSuccess);
    if (!attachments->ExtractStream(attachments->StreamName(i), target)) {
      analysis::ThrowIfOutOfMemory();
      continue;
    }
    try {
      ScanMacroFile(target, language_code, nesting + 1);
    } catch (...) {
      analysis::DeleteQuietly(target);
      throw;
    }
    analysis::DeleteQuietly(target);
  }
}

bool RuntimeModules::ScanModuleNeeds(project::CMakeExe_FileLists& lists, std::u16string_view language_code) {
  std::u16string path;
  try {
    for (int32_t i = 0; i < lists.MacroCount(); ++i) {
      const project::MacroListEntry& entry = lists.MacroEntries()[i];
      if (entry.EntryType != analysis::kMacroEntryType) continue;
      path = plat::FixedText(entry.Path, kPathUnits);
      ScanMacroFile(path, language_code, 0);
    }
    return true;
  } catch (const std::bad_alloc&) {
    ReportOutOfMemory(lists, path);
  } catch (const std::length_error&) {
    ReportOutOfMemory(lists, path);
  }
  return false;
}

bool RuntimeModules::AddRuntimeFiles(project::CMakeExe_FileLists& lists, std::u16string_view program_folder,
                                     std::u16string_view ui_library_path, std::u16string_view language_code) const {
  try {
    Appender appender(lists);
    std::u16string folder(program_folder);
    if (!folder.empty() && folder.back() != u'\\') folder += u'\\';

    for (const RuntimeModule& row : rows_) {
      if (!row.needed) continue;
      const std::u16string_view target = row.subfolder ? std::u16string_view(row.file_name) : BareName(row.file_name);
      if (!appender.Extra(folder + row.file_name, target, 1)) return false;
    }
    if (!appender.Extra(ui_library_path, kUiLibraryTarget, 1)) return false;

    const RuntimeModule* tesseract = Find(kModuleTesseract);
    if (tesseract != nullptr && tesseract->needed) {
      const bool added = ForEachEntry(folder + u"*.traineddata", [&](const plat::FindData& data) {
        if (data.attributes & plat::kAttrDirectory) return true;
        return appender.Extra(folder + data.name, data.name, 0);
      });
      if (!added) return false;
    }
    const RuntimeModule* paddle = Find(kModulePaddle);
    if (paddle != nullptr && paddle->needed && !AddFolderTree(appender, folder, u"modules\\paddleocr\\")) return false;

    for (const std::u16string_view stem : {u"Player_", u"errormsg_"}) {
      std::u16string path = folder + u"sysdata\\";
      path += stem;
      path += language_code;
      path += u".lng";
      if (!appender.Macro(path)) return false;
    }
    return true;
  } catch (const std::bad_alloc&) {
    ReportOutOfMemory(lists, program_folder);
  } catch (const std::length_error&) {
    ReportOutOfMemory(lists, program_folder);
  }
  return false;
}

}  // namespace packager
