// A packaging project file's bytes, read as the wizard reads one at start.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/unicode.h"
#include "project/project_file.h"
#include "project/target_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Most inputs are far shorter than a record; pad some so the checks past it are reached.
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (!bytes.empty() && bytes[0] == 'M' && bytes.size() < project::kOptionsSize) {
    bytes.resize(project::kOptionsSize + static_cast<uint8_t>(bytes.back()) * 4u, '\0');
  }
  std::optional<project::ProjectContents> contents = project::ParseProject(bytes);
  if (!contents) return 0;
  project::CMakeExe_FileLists lists;
  project::TakeUserEntries(*contents, lists, u"C:\\scripts\\");
  // Whatever the file says, no entry taken over may travel outside the EXE's folder.
  for (int32_t i = 0; i < lists.ExtraCount(); ++i) {
    if (!project::IsSafeTargetName(plat::FixedText(lists.ExtraEntries()[i].TargetName, 260))) __builtin_trap();
  }
  return 0;
}
