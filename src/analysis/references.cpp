#include "analysis/references.h"

#include "platform/platform.h"
#include "project/target_name.h"

namespace analysis {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; }
bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

}  // namespace

bool IsAbsolutePath(std::u16string_view path) {
  const size_t start = path.find_first_not_of(u' ');
  if (start == std::u16string_view::npos) return false;
  path.remove_prefix(start);
  if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == u':' && path[2] == u'\\') return true;
  return path.size() >= 3 && path[0] == u'\\' && path[1] == u'\\' && path[2] != u'\\';
}

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool StartsWithInput(std::u16string_view text) {
  if (text.size() < 3) return false;
  return (text[0] == u'i' || text[0] == u'I') && (text[1] == u'n' || text[1] == u'N') && text[2] == u':';
}

bool ResolveMacroReference(uint8_t kind, std::u16string_view name, std::u16string_view script_folder,
                           std::u16string_view data_folder, std::u16string& path) {
  if (kind == kRefNotAFile) {
    path.assign(name);
    return true;
  }
  if (kind != kRefLibraryName && kind != kRefFilePath) return true;
  const std::u16string_view trimmed = TrimBlanks(name);
  if (trimmed.find(u'%') != std::u16string_view::npos) return false;
  std::u16string joined;
  if (kind == kRefLibraryName) {
    std::u16string_view stored = name;
    if (!stored.empty() && stored.front() == u'\\') stored.remove_prefix(1);
    // Without a name the data folder itself would be listed as a macro file.
    if (TrimBlanks(stored).empty()) return false;
    joined.assign(data_folder);
    joined.append(stored);
  } else {
    if (trimmed.empty()) return false;
    if (IsAbsolutePath(trimmed)) {
      joined.assign(trimmed);
    } else {
      joined.assign(script_folder);
      joined.append(trimmed);
    }
  }
  // One spelling per file, so that "sub\..\a.msd" and "a.msd" are one entry; a path that
  // ends at a folder names no macro file.
  std::u16string normal = project::NormalizePath(joined);
  if (normal.empty() || normal.back() == u'\\') return false;
  path = std::move(normal);
  return true;
}

bool IsExistingFile(std::u16string_view path) {
  const uint32_t attributes = plat::GetFileAttributes(path);
  return attributes != plat::kInvalidAttributes && (attributes & plat::kAttrDirectory) == 0;
}

bool IsExistingFolder(std::u16string_view path) {
  const uint32_t attributes = plat::GetFileAttributes(path);
  return attributes != plat::kInvalidAttributes && (attributes & plat::kAttrDirectory) != 0;
}

}  // namespace analysis
