#include "app/config_text.h"

#include <algorithm>

#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace app {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
bool IsLineBreak(char16_t c) { return c == u'\r' || c == u'\n'; }

// `folded` and `word` are both upper-cased.
bool MatchesAt(std::u16string_view folded, size_t at, std::u16string_view word) {
  return folded.size() - at >= word.size() && folded.compare(at, word.size(), word) == 0;
}

size_t LineStart(std::u16string_view text, size_t at) {
  while (at > 0 && !IsLineBreak(text[at - 1])) --at;
  return at;
}

// The _wtoi rule: blanks, a sign, decimal digits; a value beyond the int range saturates
// to INT_MAX or INT_MIN, as the runtime's conversion does.
int32_t WideToInt(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  const int64_t limit = negative ? -int64_t{INT32_MIN} : INT32_MAX;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = std::min<int64_t>(value * 10 + (text[i] - u'0'), limit);
  }
  return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace

std::optional<std::u16string> ReadConfigText(std::u16string_view path, uint32_t retry_ms, uint32_t limit_ms) {
  const uint32_t start = plat::GetTickCount();
  // The tick count is monotonic; the attempt cap also ends the wait should it stall.
  const uint32_t max_attempts = (retry_ms == 0 ? limit_ms : limit_ms / retry_ms) + 2;
  plat::FileHandle file = nullptr;
  for (uint32_t attempt = 0;; ++attempt) {
    file = plat::OpenFile(path, plat::kGenericRead, plat::kShareRead | plat::kShareWrite,
                          plat::Disposition::kOpenExisting);
    if (file != nullptr) break;
    if (plat::GetLastError() != plat::err::kSharingViolation) return std::nullopt;
    if (plat::GetTickCount() - start >= limit_ms || attempt + 1 >= max_attempts) return std::nullopt;
    plat::Sleep(retry_ms);
  }
  const std::optional<std::string> bytes = plat::ReadOpenFile(file, 64u << 20);
  plat::CloseFile(file);
  if (!bytes) return std::nullopt;
  std::u16string text = plat::FromUtf16Le(*bytes);
  if (!text.empty() && text[0] == 0xFEFF) text.erase(0, 1);
  return text;
}

ConfigText::ConfigText(std::u16string text) : text_(std::move(text)), folded_(plat::ToUpper(text_)) {}

std::optional<std::u16string_view> ConfigText::Find(std::u16string_view section, std::u16string_view key) const {
  const std::u16string_view text = text_;
  if (section.empty() || key.empty()) return std::nullopt;
  const std::u16string wanted_section = plat::ToUpper(section);
  const std::u16string wanted_key = plat::ToUpper(key);
  // 1. The section: "[" name "]" with blanks allowed around the name, first on its line.
  size_t body = std::u16string_view::npos;
  for (size_t at = 0; at + section.size() <= text.size(); ++at) {
    if (!MatchesAt(folded_, at, wanted_section)) continue;
    size_t before = at;
    while (before > 0 && IsBlank(text[before - 1])) --before;
    if (before == 0 || text[before - 1] != u'[') continue;
    size_t open = before - 1;
    while (open > 0 && IsBlank(text[open - 1])) --open;
    if (open != LineStart(text, open)) continue;
    size_t after = at + section.size();
    while (after < text.size() && IsBlank(text[after])) ++after;
    if (after >= text.size() || text[after] != u']') continue;
    body = after + 1;
    break;
  }
  if (body == std::u16string_view::npos) return std::nullopt;
  // 2. Its lines run to the next line that starts with "[".
  size_t end = body;
  while (end < text.size()) {
    size_t line = end;
    while (line < text.size() && !IsLineBreak(text[line])) ++line;
    while (line < text.size() && IsLineBreak(text[line])) ++line;
    end = line;
    if (end < text.size() && text[end] == u'[') break;
  }
  // 3. The key: only blanks before it on its line, optional blanks and "=" after it.
  for (size_t at = body; at + key.size() <= end; ++at) {
    if (!MatchesAt(folded_, at, wanted_key)) continue;
    // Only blanks may stand before the key on its line, and the line must be one of the
    // section's (not the rest of its header line).
    const size_t line_start = LineStart(text, at);
    if (line_start < body) continue;
    bool only_blanks = true;
    for (size_t k = line_start; k < at && only_blanks; ++k) only_blanks = IsBlank(text[k]);
    if (!only_blanks) continue;
    size_t after = at + key.size();
    while (after < end && IsBlank(text[after])) ++after;
    if (after >= end || text[after] != u'=') continue;
    size_t value_end = after + 1;
    while (value_end < text.size() && !IsLineBreak(text[value_end])) ++value_end;
    return text.substr(after + 1, value_end - after - 1);
  }
  return std::nullopt;
}

std::u16string ConfigText::String(std::u16string_view section, std::u16string_view key, std::u16string_view fallback,
                                  size_t length) const {
  const std::optional<std::u16string_view> value = Find(section, key);
  const std::u16string_view text = value ? *value : fallback;
  return std::u16string(text.substr(0, length > 0 ? length - 1 : 0));
}

int32_t ConfigText::Int(std::u16string_view section, std::u16string_view key, int32_t fallback) const {
  const std::optional<std::u16string_view> value = Find(section, key);
  if (!value || value->empty()) return fallback;
  return WideToInt(value->substr(0, 63));
}

}  // namespace app
