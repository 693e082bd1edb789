#include "wizard/macro_list.h"

#include <algorithm>
#include <cstring>

#include "app/brankel_app.h"
#include "packager/session.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/file_lists.h"
#include "wizard/extra_files.h"

namespace wizard {
namespace {

// A caller's index after the entry at `removed` left the list.
uint16_t Shifted(uint16_t parent, int removed) {
  if (parent == 0xFFFF || parent < removed) return parent;
  return parent == removed ? 0xFFFF : static_cast<uint16_t>(parent - 1);
}

}  // namespace

const std::array<GridColumn, 4>& MacroListPage::Columns() {
  static const std::array<GridColumn, 4> columns = {{{u"IDS_FILE_MACRO", 150, 30},
                                                     {u"IDS_FILE_USEDIN", 150, 30},
                                                     {u"IDS_FILE_LINE", 30, 30},
                                                     {u"IDS_FILE_SCRIPTFILEPATH", 500, 30}}};
  return columns;
}

std::vector<GridRow> MacroListPage::Rows() const {
  const project::CMakeExe_FileLists& lists = context_.session.Lists();
  const project::MacroListEntry* entries = lists.MacroEntries();
  std::vector<GridRow> rows;
  for (int32_t i = 0; i < lists.MacroCount(); ++i) {
    const project::MacroListEntry& entry = entries[i];
    const std::u16string path = project::FieldText(entry.Path);
    rows.push_back({{FileNamePart(path), CallerName(lists, entry.ParentIndex), LineText(entry.CommandIndex), path},
                    entry.UserAdded == 0});
  }
  return rows;
}

bool MacroListPage::CanChange(int row) const {
  const project::CMakeExe_FileLists& lists = context_.session.Lists();
  return row >= 0 && row < lists.MacroCount() && lists.MacroEntries()[row].UserAdded != 0;
}

bool MacroListPage::CanAdd() const {
  if (context_.session.Lists().MacroCount() < project::kMaxListEntries) return true;
  context_.app.MessageBoxByKey(u"IDS_ERR_MACROFILETOOMANY", context_.owner, app::kMbIconError);
  return false;
}

int MacroListPage::Add(const std::vector<std::u16string>& paths) {
  project::CMakeExe_FileLists& lists = context_.session.Lists();
  for (const std::u16string& path : paths) {
    if (lists.MacroCount() >= project::kMaxListEntries) break;
    // A path the entry cannot hold whole would name another file.
    if (path.empty() || path.size() > kPathChars) continue;
    project::MacroListEntry entry{};
    plat::SetFixedText(entry.Path, std::size(entry.Path), path);
    entry.UserAdded = 1;
    entry.CommandIndex = -1;
    entry.ParentIndex = 0xFFFF;
    entry.EntryType = 3;
    lists.AddMacroEntry(entry);
  }
  changed_ = true;
  return lists.MacroCount() - 1;
}

bool MacroListPage::Edit(int row, std::u16string_view path) {
  if (!CanChange(row) || path.empty() || path.size() > kPathChars) return false;
  project::MacroListEntry& entry = context_.session.Lists().MacroEntries()[row];
  // A copy of the file the entry named before would be packed or scanned in its place.
  if (entry.TempPath[0] != 0) plat::DeleteFile(project::FieldText(entry.TempPath));
  entry.TempPath[0] = 0;
  plat::SetFixedText(entry.Path, std::size(entry.Path), path);
  changed_ = true;
  return true;
}

bool MacroListPage::Remove(int row, int* select) {
  if (!CanChange(row)) return false;
  project::CMakeExe_FileLists& lists = context_.session.Lists();
  project::MacroListEntry* entries = lists.MacroEntries();
  if (entries[row].TempPath[0] != 0) plat::DeleteFile(project::FieldText(entries[row].TempPath));
  std::move(entries + row + 1, entries + lists.MacroCount(), entries + row);
  lists.SetMacroCount(lists.MacroCount() - 1);
  // Entries point at their calling macro by index: a project's own entries come before the
  // found ones, so the callers below the removed row move up with it.
  for (int32_t i = 0; i < lists.MacroCount(); ++i) entries[i].ParentIndex = Shifted(entries[i].ParentIndex, row);
  project::ExtraFileEntry* extras = lists.ExtraEntries();
  for (int32_t i = 0; i < lists.ExtraCount(); ++i) extras[i].ParentIndex = Shifted(extras[i].ParentIndex, row);
  changed_ = true;
  if (select != nullptr) *select = lists.MacroCount() - 1;
  return true;
}

LeaveResult MacroListPage::LeaveForward() {
  if (changed_) extras_.SetRefresh();
  packager::PackagingSession& session = context_.session;
  const size_t told = session.Messages().size();
  if (session.MakeCopies(true)) return {};
  for (size_t i = told; i < session.Messages().size(); ++i) {
    context_.app.MessageBoxFormat(u"%s", context_.owner, app::kMbIconError, session.Messages()[i]);
  }
  return {false, 0};
}

}  // namespace wizard
