// Arbitrary bytes as the parameter record of every command that names files: whatever the
// record holds, the scan reads inside it only, lists each path once and normalised, never a
// path that does not fit its field or is empty, gives each a safe target name, and keeps
// the list within its capacity. The same bytes also go through the name-list split.
//
// Names are resolved against the real file system; the system search dominates the time
// of a run, so a short PATH (env PATH=/nonexistent) and -max_len=8192 (the 0x3106 names
// start past 4 KB) make a run far more productive.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis/extra_files.h"
#include "analysis/make_exe_builder.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/file_lists.h"
#include "project/target_name.h"

namespace {

void CheckLists(const project::CMakeExe_FileLists& lists) {
  const int32_t count = lists.ExtraCount();
  if (count < 0 || count > project::kExtraCapacity) __builtin_trap();
  std::vector<std::u16string> seen;
  for (int32_t i = 0; i < count; ++i) {
    const project::ExtraFileEntry& entry = lists.ExtraEntries()[i];
    const std::u16string path = plat::FixedText(entry.SourcePath, 260);
    if (path.empty() || path.size() >= 260) __builtin_trap();
    // Every listed file has a name that keeps it below the folder it is unpacked to.
    if (!project::IsSafeTargetName(plat::FixedText(entry.TargetName, 260))) __builtin_trap();
    if (project::NormalizePath(path) != path) __builtin_trap();
    if (entry.OnSearchPath != 0 && entry.OnSearchPath != 1) __builtin_trap();
    if (entry.UserAdded != 0 || entry.Excluded != 0 || entry.NameHash > 0x7FFFFFFFu) __builtin_trap();
    for (const std::u16string& other : seen) {
      if (plat::EqualNoCase(other, path)) __builtin_trap();
    }
    seen.push_back(path);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static analysis::CMakeExe_Builder* builder = [] {
    auto* made = new analysis::CMakeExe_Builder();
    made->SetScriptPath(u"C:\\Fuzz\\script.msd", plat::GetTempPath());
    return made;
  }();
  // A copy of exactly `size` bytes, so that any read past the record is caught.
  const std::vector<uint8_t> record(data, data + size);
  builder->FileLists().SetExtraCount(0);
  int32_t index = 0;
  for (uint16_t code : analysis::kExtraFileCommandCodes) {
    macro::MacroCommand command{};
    command.Code = code;
    const int32_t before = builder->FileLists().ExtraCount();
    bool full = false;
    const bool grew = builder->CollectCommandExtraFiles(1, command, std::span<const uint8_t>(record), index++, &full);
    if (grew != (builder->FileLists().ExtraCount() > before)) __builtin_trap();
    if (full && builder->FileLists().ExtraCount() != project::kExtraCapacity) __builtin_trap();
  }
  CheckLists(builder->FileLists());

  // The bytes as a list of names: every name lies inside the text, and the folder is a
  // start of it.
  std::u16string text(size / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  const analysis::CVLMultipleFilename names(text);
  if (names.Count() == 0 || text.compare(0, names.Folder().size(), names.Folder()) != 0) __builtin_trap();
  for (size_t i = 0; i < names.Count(); ++i) {
    if (names.Name(i).size() > text.size()) __builtin_trap();
  }
  return 0;
}
