#include "project/project_file.h"

#include <cstring>
#include <vector>

#include "app/brankel_app.h"
#include "app/startup.h"
#include "app/system_error.h"
#include "app/text_format.h"
#include "platform/byte_view.h"
#include "platform/file_io.h"
#include "platform/file_retry.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/target_name.h"

namespace project {
namespace {

constexpr char kProjectMagic[8] = {'M', 'S', 'D', 'P', 'R', 'O', 'J', 0};
// The largest project the wizard's lists can fill and save; the lists hold more than the
// 512 entries the wizard adds on its own, since user entries come on top of found ones.
constexpr uint64_t kMaxProjectSize =
    kOptionsSize + uint64_t{kMacroCapacity} * kMacroEntrySize + uint64_t{kExtraCapacity} * kExtraEntrySize;

constexpr char16_t kRefusedRead[] = u"IDS_ERR_PROJECT_READ";
constexpr char16_t kRefusedFormat[] = u"IDS_ERR_PROJECT_FORMAT";
constexpr char16_t kRefusedDamaged[] = u"IDS_ERR_PROJECT_DAMAGED";

uint64_t ExpectedSize(int64_t macros, int64_t extras) {
  return kOptionsSize + static_cast<uint64_t>(macros) * kMacroEntrySize +
         static_cast<uint64_t>(extras) * kExtraEntrySize;
}

// The key of what is wrong with a record read from a file of `file_size` bytes, or null.
const char16_t* ProjectDefect(const MakeExeOptions& record, uint64_t file_size) {
  const bool magic = std::strncmp(record.Magic, kProjectMagic, sizeof record.Magic) == 0;
  if (record.Version != kProjectVersion || !magic) return kRefusedFormat;
  const bool counts = record.MacroCount >= 0 && record.ExtraFileCount >= 0 && record.MacroCount <= kMacroCapacity &&
                      record.ExtraFileCount <= kExtraCapacity;
  if (!counts || record.TotalSize != file_size ||
      record.TotalSize != ExpectedSize(record.MacroCount, record.ExtraFileCount)) {
    return kRefusedDamaged;
  }
  return nullptr;
}

std::optional<ProjectContents> Refuse(ProjectRefusal* why, const char16_t* key, uint32_t system_error = 0) {
  if (why != nullptr) *why = ProjectRefusal{key, system_error};
  return std::nullopt;
}

// The settings of a project that has none: the user's configuration. The folders follow
// the product the configuration resolved, so a Fennow installation reads its own files;
// before any configuration is loaded that is the Pandrel product.
int LoadDefaults(MakeExeOptions& record, const app::CBrankelApp& app) {
  record = MakeExeOptions{};
  const std::u16string product =
      app.ProductFolder().empty() ? std::u16string(app::kProductPandrel) : app.ProductFolder();
  const std::optional<std::u16string> common = plat::GetKnownFolder(plat::KnownFolder::kCommonAppData);
  const std::optional<std::u16string> roaming = plat::GetKnownFolder(plat::KnownFolder::kRoamingAppData);
  if (!common || !roaming) return 0;
  app::LoadSharedSettings(&record.Settings, *common + u"\\" + product + u"Config\\General.ini",
                          *roaming + u"\\" + product + u"Config.ini");
  return 0;
}

}  // namespace

std::optional<std::u16string> ProjectFilePath(std::u16string_view script) {
  const std::u16string path =
      std::u16string(script.substr(0, script.size() >= 4 ? script.size() - 4 : 0)) + u".packproj";
  if (path.size() > 259) return std::nullopt;
  return path;
}

int SaveProject(MakeExeOptions& record, std::u16string_view script, const CMakeExe_FileLists& lists) {
  const std::optional<std::u16string> path = ProjectFilePath(script);
  if (!path) return 0;
  std::memcpy(record.Magic, kProjectMagic, sizeof record.Magic);
  record.Version = kProjectVersion;
  record.TotalSize = static_cast<uint32_t>(ExpectedSize(lists.MacroCount(), lists.ExtraCount()));

  // Written beside the project first: a full disk or a crash leaves the old file whole.
  const size_t slash = path->find_last_of(u'\\');
  const std::u16string folder = slash == std::u16string::npos ? u"." : path->substr(0, slash);
  const std::u16string temporary = plat::GetTempFileName(folder, u"prj");
  if (temporary.empty()) return 0;
  plat::FileHandle file =
      plat::OpenFile(temporary, plat::kGenericWrite, plat::kShareRead, plat::Disposition::kCreateAlways);
  if (file == nullptr) {
    const uint32_t error = plat::GetLastError();
    plat::DeleteFileRetrying(temporary);
    plat::SetLastError(error);
    return 0;
  }
  record.MacroCount = lists.MacroCount();
  record.ExtraFileCount = lists.ExtraCount();
  const bool written =
      plat::WriteExact(file, &record, sizeof record) &&
      plat::WriteExact(file, lists.MacroEntries(), sizeof(MacroListEntry) * static_cast<size_t>(lists.MacroCount())) &&
      plat::WriteExact(file, lists.ExtraEntries(), sizeof(ExtraFileEntry) * static_cast<size_t>(lists.ExtraCount()));
  const uint32_t write_error = plat::GetLastError();
  plat::CloseFile(file);
  if (!written) plat::SetLastError(write_error);
  if (!written || !plat::MoveFileRetrying(temporary, *path, true)) {
    const uint32_t error = plat::GetLastError();
    plat::DeleteFileRetrying(temporary);
    // The caller words the failure from the last error, which must be the save's.
    plat::SetLastError(error);
    return 0;
  }
  return 1;
}

std::optional<ProjectContents> ParseProject(std::string_view bytes, ProjectRefusal* why) {
  if (bytes.size() < kOptionsSize) return Refuse(why, kRefusedFormat);
  if (bytes.size() > kMaxProjectSize) return Refuse(why, kRefusedDamaged);
  const plat::ByteView view(bytes);
  ProjectContents contents;
  contents.record = std::make_unique<MakeExeOptions>();
  if (!view.CopyTo(0, contents.record.get(), sizeof(MakeExeOptions))) return Refuse(why, kRefusedFormat);
  if (const char16_t* defect = ProjectDefect(*contents.record, bytes.size()); defect != nullptr) {
    return Refuse(why, defect);
  }
  contents.macros.resize(static_cast<size_t>(contents.record->MacroCount));
  contents.extras.resize(static_cast<size_t>(contents.record->ExtraFileCount));
  const size_t macro_bytes = contents.macros.size() * kMacroEntrySize;
  // An empty list has no storage to copy into, not even zero bytes.
  const bool copied =
      (contents.macros.empty() || view.CopyTo(kOptionsSize, contents.macros.data(), macro_bytes)) &&
      (contents.extras.empty() || view.CopyTo(uint64_t{kOptionsSize} + macro_bytes, contents.extras.data(),
                                              contents.extras.size() * kExtraEntrySize));
  if (!copied) return Refuse(why, kRefusedDamaged);
  return contents;
}

std::optional<ProjectContents> ReadProjectFile(std::u16string_view path, ProjectRefusal* why) {
  plat::FileHandle file = plat::OpenFile(path, plat::kGenericRead, plat::kShareRead, plat::Disposition::kOpenExisting);
  if (file == nullptr) return Refuse(why, kRefusedRead, plat::GetLastError());
  uint64_t size = 0;
  const bool sized = plat::GetFileSize(file, &size);
  // Too long to be a project at all: refused by its size, without reading it.
  std::optional<std::string> bytes =
      sized && size <= kMaxProjectSize ? plat::ReadOpenFile(file, kMaxProjectSize) : std::nullopt;
  const uint32_t error = plat::GetLastError();
  plat::CloseFile(file);
  if (sized && size > kMaxProjectSize) return Refuse(why, kRefusedDamaged);
  if (!bytes) return Refuse(why, kRefusedRead, error != 0 ? error : plat::err::kHandleEof);
  return ParseProject(*bytes, why);
}

std::u16string ProjectRefusalText(const ProjectRefusal& why, std::u16string_view format, std::u16string_view path) {
  std::u16string text = app::FormatText(format, {path});
  if (why.system_error != 0) {
    char16_t system[260] = {};
    app::FormatSystemError(why.system_error, system, 260, false);
    text += u"\r\n";
    text += system;
  }
  return text;
}

void TakeUserEntries(ProjectContents& contents, CMakeExe_FileLists& lists, std::u16string_view script_folder) {
  for (MacroListEntry& entry : contents.macros) {
    if (entry.UserAdded == 0) continue;
    entry.TempPath[0] = 0;
    lists.AddMacroEntry(entry);
  }
  for (ExtraFileEntry& entry : contents.extras) {
    if (entry.UserAdded == 0) continue;
    // A project file is only data: a name with "..", a drive or a colon would have the
    // EXE unpack a file outside its own folder.
    if (!IsSafeTargetName(plat::FixedText(entry.TargetName, 260))) {
      const std::u16string safe = MakeTargetName(plat::FixedText(entry.SourcePath, 260), script_folder);
      if (safe.empty()) continue;
      plat::SetFixedText(entry.TargetName, 260, safe);
    }
    lists.AddExtraEntry(entry);
  }
}

int LoadProject(MakeExeOptions& record, std::u16string_view script, CMakeExe_FileLists& lists,
                const app::CBrankelApp& app, std::u16string* refused) {
  if (refused != nullptr) refused->clear();
  const std::optional<std::u16string> path = ProjectFilePath(script);
  if (!path || !plat::FileExists(*path)) return LoadDefaults(record, app);
  ProjectRefusal why;
  std::optional<ProjectContents> contents = ReadProjectFile(*path, &why);
  if (!contents) {
    if (refused != nullptr) {
      std::u16string format, consequence;
      app.GetText(format, why.key);
      app.GetText(consequence, u"IDS_MES_PROJECT_NEWANSWERS");
      *refused = ProjectRefusalText(why, format, *path) + u"\r\n" + consequence;
    }
    return LoadDefaults(record, app);
  }
  record = *contents->record;
  TakeUserEntries(*contents, lists, app::FolderOfPath(script));
  return 1;
}

void ApplyNewProjectDefaults(MakeExeOptions& record, const macro::MacroFileHeader& header,
                             const app::SharedSettings& app_settings, bool vista_or_later) {
  const std::u16string variables = plat::FixedText(header.VariableValues, 520);
  record.ShowPlayOption = 1;
  record.LogLevel = 0;
  record.PlayTimes = 1;
  record.PlayFlags = variables.empty() ? kPlayOwnParameters : (kPlayOwnParameters | kPlayVariableValues);
  plat::SetFixedText(record.ExeName, 130, plat::FixedText(header.MacroName, 128));
  plat::SetFixedText(record.VariableValues, 520, variables);
  record.EmulationLevel = static_cast<uint8_t>((record.EmulationLevel & 0xF0) | (header.EmulationLevel & 0x0F));
  record.PlaySpeed = header.PlaySpeed;

  // Each mode: 1 is off, 2-15 on, 0 the installation's default.
  const uint8_t dodge = header.DodgeMouseMode & 0x0F;
  record.DodgeMouseMode = dodge == 1 ? 0 : dodge >= 2 ? 1 : (app_settings.DodgeMouse != 0 ? 1 : 0);
  const uint8_t progress = header.ProgressMode & 0x0F;
  const uint8_t progress_on = progress == 1 ? 0 : progress >= 2 ? 1 : (app_settings.MonitorTransparency < 30 ? 1 : 0);
  record.ProgressMode = static_cast<uint8_t>((record.ProgressMode & 0xFC) | progress_on);

  app::SharedSettings& settings = record.Settings;
  settings.Hue = app_settings.Hue;
  settings.Saturation = app_settings.Saturation;
  settings.FontSize = app_settings.FontSize;
  std::memcpy(settings.FontFace, app_settings.FontFace, sizeof settings.FontFace);
  settings.UseSystemColours = vista_or_later ? 1 : 0;
  for (auto [to, from] :
       {std::pair{&settings.PauseKey, &app_settings.PauseKey}, std::pair{&settings.StopKey, &app_settings.StopKey}}) {
    to->KeyCode = from->KeyCode;
    to->SecondKeyCode = from->SecondKeyCode;
    to->Modifiers = from->Modifiers;
  }
}

}  // namespace project
