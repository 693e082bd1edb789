#include "wizard/extra_files.h"

#include <algorithm>

#include "app/brankel_app.h"
#include "packager/session.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/file_lists.h"
#include "project/target_name.h"

namespace wizard {
namespace {

constexpr size_t kPathChars = 259;

std::u16string LineText(int32_t command_index) {
  if (command_index < 0) return {};
  const std::string digits = std::to_string(int64_t{command_index} + 1);
  return std::u16string(digits.begin(), digits.end());
}

// Whether an entry other than `row` that the build packs travels under `name`. The build
// packs only the first file of a name, so a second one would be left out without a word.
bool NameTaken(const project::CMakeExe_FileLists& lists, int row, std::u16string_view name) {
  const project::ExtraFileEntry* entries = lists.ExtraEntries();
  for (int32_t i = 0; i < lists.ExtraCount(); ++i) {
    const project::ExtraFileEntry& entry = entries[i];
    const bool packed =
        entry.TargetName[0] != 0 && entry.OnSearchPath == 0 && (entry.UserAdded != 0 || entry.Excluded == 0);
    if (i != row && packed && plat::EqualNoCase(project::FieldText(entry.TargetName), name)) return true;
  }
  return false;
}

}  // namespace

const std::array<GridColumn, 4>& ExtraFilesPage::Columns() {
  static const std::array<GridColumn, 4> columns = {{{u"IDS_EXTRAFILE_FILE", 150, 30},
                                                     {u"IDS_EXTRAFILE_FILENAME", 200, 30},
                                                     {u"IDS_EXTRAFILE_MACRO", 150, 30},
                                                     {u"IDS_EXTRAFILE_LINE", 50, 50}}};
  return columns;
}

std::vector<GridRow> ExtraFilesPage::Rows() const {
  const project::CMakeExe_FileLists& lists = context_.session.Lists();
  const project::ExtraFileEntry* entries = lists.ExtraEntries();
  std::vector<GridRow> rows;
  for (int32_t i = 0; i < lists.ExtraCount(); ++i) {
    const project::ExtraFileEntry& entry = entries[i];
    std::u16string macro;
    if (entry.ParentIndex != 0xFFFF && entry.ParentIndex < lists.MacroCount()) {
      macro = FileNamePart(project::FieldText(lists.MacroEntries()[entry.ParentIndex].Path));
    }
    rows.push_back({{project::FieldText(entry.TargetName), project::FieldText(entry.SourcePath), macro,
                     LineText(entry.CommandIndex)},
                    entry.UserAdded == 0});
  }
  return rows;
}

bool ExtraFilesPage::OnShow() {
  if (!refresh_) return false;
  packager::PackagingSession& session = context_.session;
  const size_t told = session.Messages().size();
  session.Discover();
  for (size_t i = told; i < session.Messages().size(); ++i) {
    context_.app.MessageBoxFormat(u"%s", context_.owner, app::kMbIconInformation, session.Messages()[i]);
  }
  refresh_ = false;
  return true;
}

ExtraFilesPage::Buttons ExtraFilesPage::ButtonsFor(int row) const {
  const project::CMakeExe_FileLists& lists = context_.session.Lists();
  Buttons buttons;
  if (row < 0 || row >= lists.ExtraCount()) return buttons;
  const project::ExtraFileEntry& entry = lists.ExtraEntries()[row];
  buttons.remove_enabled = true;
  buttons.edit_enabled = entry.UserAdded != 0;
  if (entry.UserAdded == 0) buttons.remove_key = entry.Excluded != 0 ? u"IDS_BTN_INCLUDEFILE" : u"IDS_BTN_EXCLUDEFILE";
  return buttons;
}

int ExtraFilesPage::Add(const std::vector<std::u16string>& paths) {
  project::CMakeExe_FileLists& lists = context_.session.Lists();
  if (paths.empty()) return -1;
  if (lists.ExtraCount() >= project::kMaxListEntries) {
    context_.app.MessageBoxByKey(u"IDS_ERR_EXTRAFILETOOMANY", context_.owner, app::kMbIconError);
    return -1;
  }
  for (const std::u16string& path : paths) {
    if (lists.ExtraCount() >= project::kMaxListEntries) break;
    if (path.empty() || path.size() > kPathChars) continue;
    // A path that gives no name the EXE can unpack under is left out.
    const std::u16string target = project::MakeTargetName(path, context_.session.ScriptFolder());
    if (target.empty()) continue;
    project::ExtraFileEntry entry{};
    entry.ParentIndex = 0xFFFF;
    entry.UserAdded = 1;
    entry.CommandIndex = -1;
    plat::SetFixedText(entry.SourcePath, std::size(entry.SourcePath), path);
    plat::SetFixedText(entry.TargetName, std::size(entry.TargetName), target);
    lists.AddExtraEntry(entry);
  }
  return lists.ExtraCount() - 1;
}

bool ExtraFilesPage::EditValues(int row, EnsureFileValues* values) const {
  const project::CMakeExe_FileLists& lists = context_.session.Lists();
  if (row < 0 || row >= lists.ExtraCount() || lists.ExtraEntries()[row].UserAdded == 0) return false;
  const project::ExtraFileEntry& entry = lists.ExtraEntries()[row];
  *values = {project::FieldText(entry.TargetName), project::FieldText(entry.SourcePath)};
  return true;
}

bool ExtraFilesPage::StoreEdit(int row, const EnsureFileValues& values) {
  project::CMakeExe_FileLists& lists = context_.session.Lists();
  if (row < 0 || row >= lists.ExtraCount() || lists.ExtraEntries()[row].UserAdded == 0) return false;
  const EnsureFileValues result = EnsureFileResult(values);
  // The stub unpacks the file below its own folder under this name.
  if (!project::IsSafeTargetName(result.destination)) {
    context_.app.MessageBoxByKey(u"IDS_ERR_UNSAFETARGETNAME", context_.owner, app::kMbIconError, result.destination);
    return false;
  }
  if (NameTaken(lists, row, result.destination)) {
    context_.app.MessageBoxByKey(u"IDS_ERR_TARGETNAMETAKEN", context_.owner, app::kMbIconError, result.destination);
    return false;
  }
  if (result.position.empty() || result.position.size() > kPathChars) {
    context_.app.MessageBoxByKey(u"IDS_ERR_FILENOTFOUND", context_.owner, app::kMbIconError, result.position);
    return false;
  }
  project::ExtraFileEntry& entry = lists.ExtraEntries()[row];
  plat::SetFixedText(entry.TargetName, std::size(entry.TargetName), result.destination);
  plat::SetFixedText(entry.SourcePath, std::size(entry.SourcePath), result.position);
  return true;
}

int ExtraFilesPage::RemoveOrToggle(int row) {
  project::CMakeExe_FileLists& lists = context_.session.Lists();
  if (row < 0 || row >= lists.ExtraCount()) return -1;
  project::ExtraFileEntry* entries = lists.ExtraEntries();
  if (entries[row].UserAdded != 0) {
    std::move(entries + row + 1, entries + lists.ExtraCount(), entries + row);
    lists.SetExtraCount(lists.ExtraCount() - 1);
  } else {
    entries[row].Excluded = entries[row].Excluded != 0 ? 0 : 1;
  }
  return lists.ExtraCount() - 1;
}

LeaveResult ExtraFilesPage::LeaveForward() {
  const project::CMakeExe_FileLists& lists = context_.session.Lists();
  const project::ExtraFileEntry* entries = lists.ExtraEntries();
  for (int32_t i = 0; i < lists.ExtraCount(); ++i) {
    const project::ExtraFileEntry& entry = entries[i];
    if ((entry.UserAdded == 0 && entry.Excluded != 0) || entry.OnSearchPath != 0) continue;
    const std::u16string path = project::FieldText(entry.SourcePath);
    // A folder of that name is no file the build can pack.
    if (plat::FileExists(path) && !plat::IsDirectory(path)) continue;
    plat::SetLastError(plat::err::kFileNotFound);
    context_.app.MessageBoxByKey(u"IDS_ERR_FILENOTFOUND", context_.owner, app::kMbIconError, path);
    return {false, 0};
  }
  // A file the user added that shares its name with another packed file is named again
  // by the user rather than dropped by the build.
  for (int32_t i = 0; i < lists.ExtraCount(); ++i) {
    const std::u16string name = project::FieldText(entries[i].TargetName);
    if (entries[i].UserAdded == 0 || name.empty() || !NameTaken(lists, i, name)) continue;
    context_.app.MessageBoxByKey(u"IDS_ERR_TARGETNAMETAKEN", context_.owner, app::kMbIconError, name);
    return {false, 0};
  }
  return {};
}

}  // namespace wizard
