#include "platform/posix/profile_text.h"

#include "platform/platform.h"
#include "platform/unicode.h"

namespace plat::posix {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::u16string DecodeProfileText(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE) {
    return FromUtf16Le(bytes.substr(2));
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    return Utf8ToUtf16(bytes.substr(3));
  }
  return AnsiToWide(bytes);
}

std::optional<std::u16string> FindProfileValue(std::u16string_view text, std::u16string_view section,
                                               std::u16string_view key) {
  const std::u16string_view wanted_section = Trim(section);
  const std::u16string_view wanted_key = Trim(key);
  bool in_section = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of(u"\r\n", pos);
    if (end == std::u16string_view::npos) end = text.size();
    const std::u16string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == u';') continue;
    if (line.front() == u'[') {
      const size_t close = line.find(u']');
      const std::u16string_view name =
          Trim(line.substr(1, close == std::u16string_view::npos ? std::u16string_view::npos : close - 1));
      in_section = EqualNoCase(name, wanted_section);
      continue;
    }
    if (!in_section) continue;
    const size_t equals = line.find(u'=');
    const std::u16string_view name = Trim(line.substr(0, equals));
    if (!EqualNoCase(name, wanted_key)) continue;
    if (equals == std::u16string_view::npos) return std::u16string();
    std::u16string_view value = Trim(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::u16string(value);
  }
  return std::nullopt;
}

}  // namespace plat::posix
