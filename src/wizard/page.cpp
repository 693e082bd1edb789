#include "wizard/page.h"

#include <algorithm>
#include <string>

#include "app/vl_win_app.h"
#include "project/file_lists.h"

namespace wizard {
namespace {

// The wide white space of the C runtime's test: the ASCII controls and blank, and the
// Unicode space separators and line breaks.
bool IsWideSpace(char16_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

}  // namespace

std::u16string Trimmed(std::u16string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsWideSpace(text[begin])) ++begin;
  while (end > begin && IsWideSpace(text[end - 1])) --end;
  return std::u16string(text.substr(begin, end - begin));
}

std::vector<std::u16string> SplitChosenFiles(std::u16string_view buffer) {
  std::vector<std::u16string> paths;
  const size_t first_end = std::min(buffer.find(u'\0'), buffer.size());
  const std::u16string_view first = buffer.substr(0, first_end);
  if (first.empty()) return paths;
  if (first_end + 1 >= buffer.size() || buffer[first_end + 1] == u'\0') {
    paths.emplace_back(first);
    return paths;
  }
  // Several files: the folder, then each name up to an empty one. A root folder ("C:\")
  // already ends with its backslash.
  std::u16string folder(first);
  if (folder.back() != u'\\') folder += u'\\';
  size_t at = first_end + 1;
  while (at < buffer.size() && buffer[at] != u'\0') {
    const size_t end = std::min(buffer.find(u'\0', at), buffer.size());
    paths.push_back(folder + std::u16string(buffer.substr(at, end - at)));
    at = end + 1;
  }
  return paths;
}

std::u16string FileNamePart(std::u16string_view path) {
  const size_t slash = path.rfind(u'\\');
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

std::u16string LineText(int32_t command_index) {
  if (command_index < 0) return {};
  const std::string digits = std::to_string(int64_t{command_index} + 1);
  return std::u16string(digits.begin(), digits.end());
}

std::u16string CallerName(const project::CMakeExe_FileLists& lists, uint16_t parent) {
  if (parent == project::kNoParent || parent >= lists.MacroCount()) return {};
  return FileNamePart(project::FieldText(lists.MacroEntries()[parent].Path));
}

std::vector<std::u16string> ListItems(const app::CVLWinApp& app, const ListKeys& keys) {
  std::vector<std::u16string> items;
  for (int n = keys.first; n <= keys.last; ++n) {
    std::u16string text;
    app.GetText(text, keys.format, nullptr, n);
    items.push_back(std::move(text));
  }
  return items;
}

}  // namespace wizard
