#include "packager/session.h"

#include <iterator>

#include "analysis/macro_collection.h"
#include "analysis/make_exe_builder.h"
#include "app/brankel_app.h"
#include "app/system_error.h"
#include "app/text_format.h"
#include "macro/error_state.h"
#include "macro/legacy_upgrade.h"
#include "macro/macro_file.h"
#include "platform/file_retry.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/project_file.h"

namespace packager {
namespace {

bool IsCollectedMacro(const project::MacroListEntry& entry) {
  return entry.UserAdded == 0 && entry.EntryType == analysis::kMacroEntryType;
}

}  // namespace

PackagingSession::PackagingSession(app::CBrankelApp& application)
    : application_(application), record_(std::make_unique<project::MakeExeOptions>()), lists_(&application) {}

PackagingSession::~PackagingSession() {
  // The platform's file calls allocate; a failed clean-up must not end the program.
  try {
    RemoveCopies();
    if (!previous_folder_.empty()) plat::SetCurrentDirectory(previous_folder_);
  } catch (...) {
  }
}

std::u16string PackagingSession::KeyText(const char16_t* key, std::u16string_view argument) const {
  std::u16string format = key;
  application_.GetText(format, key);
  return app::FormatText(format, {std::u16string(argument)});
}

bool PackagingSession::Open(std::u16string_view script_path) {
  script_ = std::u16string(script_path);
  folder_ = script_.substr(0, script_.find_last_of(u'\\') + 1);

  // The script must be a whole macro file before anything is collected from it.
  char16_t key[260] = {};
  uint16_t version = 0;
  bool whole = macro::CheckMacroFileSize(script_, &header_, key, &version) == 1;
  if (!whole && version != 0 && version < macro::kMacroVersion) {
    // A script of an older version is upgraded in place, and what the second look finds
    // is what counts, whatever the upgrade reported.
    macro::UpgradeMacroFile(script_, version, key);
    key[0] = 0;
    macro::ClearMacroFileError();
    whole = macro::CheckMacroFileSize(script_, &header_, key, &version) == 1;
  }
  if (!whole) {
    if (key[0] != 0) {
      AddMessage(KeyText(key, script_));
    } else if (const char16_t* layer_key = macro::GetMacroFileError(nullptr); layer_key != nullptr) {
      AddMessage(KeyText(layer_key, script_));
    } else {
      AddMessage(KeyText(u"IDS_ERR_OPENSCRIPT", script_) + u"\r\n" +
                 app::SystemErrorText(plat::GetLastError(), script_));
    }
    return false;
  }

  std::u16string previous = plat::GetCurrentDirectory();
  if (!plat::SetCurrentDirectory(folder_)) {
    AddMessage(app::SystemErrorText(plat::GetLastError(), folder_));
    return false;
  }
  previous_folder_ = std::move(previous);

  // A refused project is told, but the lists are still whole without it.
  std::u16string refused;
  project_loaded_ = project::LoadProject(*record_, script_, lists_, application_, &refused) == 1;
  if (!refused.empty()) AddMessage(refused);
  if (record_->Magic[0] == 0) {
    project::ApplyNewProjectDefaults(*record_, header_, application_.Settings(), true);
  }
  return true;
}

bool PackagingSession::Analyze() {
  bool complete = Collect();
  if (!MakeCopies()) complete = false;
  if (!Discover()) complete = false;
  return complete;
}

bool PackagingSession::Collect() {
  const analysis::MacroCollection collection{lists_, application_.DataFolder()};
  if (analysis::CollectScriptMacros(collection, script_, folder_)) return true;
  AddMessage(std::u16string(lists_.Message()));
  return false;
}

bool PackagingSession::MakeCopies(bool stop_at_first) {
  bool complete = true;
  // Hundreds of copies go into one temporary folder: inside a batch its listing takes in
  // each new copy instead of being read again for the next name.
  const plat::LookupBatch batch;
  project::MacroListEntry* entries = lists_.MacroEntries();
  for (int32_t i = 0; i < lists_.MacroCount(); ++i) {
    project::MacroListEntry& entry = entries[i];
    if (entry.UserAdded != 0) continue;
    if (entry.TempPath[0] != 0) plat::DeleteFile(project::FieldText(entry.TempPath));
    entry.TempPath[0] = 0;
    if (entry.EntryType != analysis::kMacroEntryType) continue;
    const std::u16string path = project::FieldText(entry.Path);
    if (!plat::FileExists(path)) {
      plat::SetLastError(plat::err::kFileNotFound);
      AddMessage(KeyText(u"IDS_ERR_FILENOTFOUND", path));
      complete = false;
      if (stop_at_first) break;
      continue;
    }
    const std::u16string copy = plat::GetTempFileName(plat::GetTempPath(), u"~PDPA");
    if (copy.empty() || !plat::CopyFile(path, copy, false)) {
      const uint32_t error = plat::GetLastError();
      if (!copy.empty()) plat::DeleteFile(copy);
      AddMessage(KeyText(u"IDS_ERR_CREATETEMPFILE", app::SystemErrorText(error, path)));
      complete = false;
      if (stop_at_first) break;
      continue;
    }
    plat::SetFixedText(entry.TempPath, std::size(entry.TempPath), copy);
  }
  if (!complete && stop_at_first) RemoveCopies();
  return complete;
}

bool PackagingSession::Discover() {
  // The discovery runs on a copy of the lists, as the extra files page's builder does, so
  // that a walk stopped half-way leaves the session's lists as they were.
  analysis::CMakeExe_Builder builder(&application_);
  builder.SetScriptPath(script_, folder_);
  if (builder.FileLists().CopyFrom(lists_) < 0) {
    AddMessage(KeyText(u"IDS_ERR_TOOMANYEXTRAFILE", script_));
    return false;
  }
  bool complete = true;
  // One batch for all the walks: they share the folders the search for files looks in.
  const plat::LookupBatch batch;
  const project::MacroListEntry* entries = builder.FileLists().MacroEntries();
  for (int32_t i = 0; i < builder.FileLists().MacroCount(); ++i) {
    const std::u16string temp = project::FieldText(entries[i].TempPath);
    if (temp.empty()) continue;
    if (!builder.CollectExtraFiles(i, temp) && !builder.Message().empty()) {
      complete = false;
      AddMessage(std::u16string(builder.Message()));
      break;
    }
  }
  if (lists_.CopyFrom(builder.FileLists()) < 0) {
    AddMessage(KeyText(u"IDS_ERR_TOOMANYEXTRAFILE", script_));
    return false;
  }
  return complete;
}

std::vector<MissingFile> PackagingSession::MissingFiles() const {
  std::vector<MissingFile> missing;
  const project::MacroListEntry* macros = lists_.MacroEntries();
  auto caller = [&](uint16_t index) -> std::u16string {
    return index < lists_.MacroCount() ? project::FieldText(macros[index].Path) : std::u16string();
  };
  auto line = [](int32_t command) { return command < 0 ? 0 : command + 1; };
  for (int32_t i = 0; i < lists_.MacroCount(); ++i) {
    const project::MacroListEntry& entry = macros[i];
    const std::u16string path = project::FieldText(entry.Path);
    if (!IsCollectedMacro(entry) || plat::FileExists(path)) continue;
    missing.push_back({path, true, caller(entry.ParentIndex), line(entry.CommandIndex)});
  }
  const project::ExtraFileEntry* extras = lists_.ExtraEntries();
  for (int32_t i = 0; i < lists_.ExtraCount(); ++i) {
    const project::ExtraFileEntry& entry = extras[i];
    const bool packed =
        entry.TargetName[0] != 0 && entry.OnSearchPath == 0 && (entry.UserAdded != 0 || entry.Excluded == 0);
    const std::u16string path = project::FieldText(entry.SourcePath);
    if (!packed || plat::FileExists(path)) continue;
    const bool user = entry.UserAdded != 0;
    missing.push_back(
        {path, false, user ? std::u16string() : caller(entry.ParentIndex), user ? 0 : line(entry.CommandIndex)});
  }
  return missing;
}

bool PackagingSession::SaveProject() {
  if (project::SaveProject(*record_, script_, lists_) == 1) return true;
  const uint32_t error = plat::GetLastError();
  const std::u16string path = project::ProjectFilePath(script_).value_or(script_);
  if (plat::IsFileInUse(error)) {
    AddMessage(KeyText(u"IDS_ERR_FILEINUSE", path));
    return false;
  }
  AddMessage(path + u":\r\n" + app::SystemErrorText(error, path));
  return false;
}

void PackagingSession::RemoveCopies() {
  project::MacroListEntry* entries = lists_.MacroEntries();
  for (int32_t i = 0; i < lists_.MacroCount(); ++i) {
    if (entries[i].TempPath[0] == 0) continue;
    plat::DeleteFile(project::FieldText(entries[i].TempPath));
    entries[i].TempPath[0] = 0;
  }
}

}  // namespace packager
