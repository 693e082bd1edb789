// Small texts of fixed protocols (command-line words, key names, environment values)
// compared and trimmed the ASCII way: no language's case rules apply to them.
#pragma once

#include <string_view>

#include "platform/unicode.h"

namespace plat {

inline bool IsSpaceOrTab(char16_t c) { return c == u' ' || c == u'\t'; }

inline std::u16string_view TrimSpacesAndTabs(std::u16string_view text) {
  while (!text.empty() && IsSpaceOrTab(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpaceOrTab(text.back())) text.remove_suffix(1);
  return text;
}

inline bool StartsWithAsciiNoCase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
  }
  return true;
}

inline bool EqualAsciiNoCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && StartsWithAsciiNoCase(a, b);
}

}  // namespace plat
