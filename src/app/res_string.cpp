#include "app/res_string.h"

#include <algorithm>

#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace app {
namespace {

bool IsLineSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }
bool IsLineEnd(char16_t c) { return c == u'\r' || c == u'\n'; }

constexpr size_t kMaxLine = 65535;

}  // namespace

bool OpensStringSection(std::u16string_view line) {
  static constexpr std::u16string_view kHeader = u"[string]";
  if (line.size() > kHeader.size()) return false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (plat::AsciiLower(line[i]) != kHeader[i]) return false;
  }
  return true;
}

namespace {

// Where the string section starts in `text`: after the line that opens it and the
// blanks that follow. A text without such a line has an empty section at its end.
size_t FindStringSection(std::u16string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && IsLineSpace(text[pos])) ++pos;
    size_t end = pos;
    while (end < text.size() && !IsLineEnd(text[end])) ++end;
    if (pos < text.size() && OpensStringSection(text.substr(pos, end - pos))) {
      pos = end;
      while (pos < text.size() && IsLineSpace(text[pos])) ++pos;
      return pos;
    }
    pos = end;
  }
  return text.size();
}

std::u16string_view SkipBlanks(std::u16string_view key) {
  while (!key.empty() && (key.front() == u' ' || key.front() == u'\t')) key.remove_prefix(1);
  return key;
}

// The C runtime's _wtoi: blanks, a sign, digits; anything else ends the number.
int32_t WideAtoi(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  uint32_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10u + static_cast<uint32_t>(text[i] - u'0');
  }
  return static_cast<int32_t>(negative ? 0u - value : value);
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return 0;  // lower case and anything else count as 0, as the check always has
}

}  // namespace

uint32_t KeyHash(std::u16string_view text) {
  uint32_t h = 0;
  for (char16_t c : text) h = h * 131u + c;
  return h & 0x7FFFFFFFu;
}

std::u16string DecodeLanguageText(std::string_view bytes, TextEncoding* encoding) {
  TextEncoding found = TextEncoding::kAnsi;
  std::u16string text;
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    found = TextEncoding::kUtf8Bom;
    text = plat::Utf8ToUtf16(bytes.substr(3));
  } else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
    found = TextEncoding::kUtf16Le;
    text = plat::FromUtf16Le(bytes.substr(2));
  } else if (bytes.size() > 2 && plat::IsTextUnicode(bytes.data(), bytes.size())) {
    found = TextEncoding::kUtf16Le;
    text = plat::FromUtf16Le(bytes);
  } else if (plat::IsValidUtf8(bytes)) {
    found = TextEncoding::kUtf8;
    text = plat::Utf8ToUtf16(bytes);
  } else {
    text = plat::AnsiToWide(bytes);
  }
  if (encoding != nullptr) *encoding = found;
  return text;
}

bool CVLResString::LoadFile(std::u16string_view path) {
  if (path.empty()) return true;
  const std::optional<std::string> bytes = plat::ReadWholeFile(path);
  return bytes && LoadText(*bytes);
}

bool CVLResString::LoadText(std::string_view bytes) {
  if (bytes.empty()) return false;
  const std::u16string text = DecodeLanguageText(bytes);
  const size_t start = FindStringSection(text);

  Section section;
  section.length = text.size() - start;
  section.text = std::make_unique<char16_t[]>(section.length + 1);
  std::copy(text.begin() + static_cast<std::ptrdiff_t>(start), text.end(), section.text.get());
  section.text[section.length] = 0;

  char16_t* const base = section.text.get();
  const size_t length = section.length;
  size_t pos = 0;
  while (pos < length) {
    while (pos < length && IsLineSpace(base[pos])) ++pos;
    if (pos >= length) break;
    const size_t line = pos;
    if (base[line] == u'\'') {
      while (pos < length && !IsLineEnd(base[pos])) ++pos;
      continue;
    }
    size_t equals = line;
    while (equals < length && base[equals] != u'=' && !IsLineEnd(base[equals])) ++equals;
    if (equals >= length || base[equals] != u'=') {
      pos = equals;
      continue;
    }
    const uint32_t hash = KeyHash(std::u16string_view(base + line, equals - line));
    if (hash == 0) {
      pos = equals + 1;
      while (pos < length && !IsLineEnd(base[pos])) ++pos;
      continue;
    }
    // The value runs to the line end, which becomes its terminator; "\n" escapes turn
    // into CR LF in place and do not end it.
    size_t end = equals + 1;
    while (end < length && !IsLineEnd(base[end])) {
      if (base[end] == u'\\' && end + 1 < length && (base[end + 1] == u'n' || base[end + 1] == u'N')) {
        base[end] = u'\r';
        base[end + 1] = u'\n';
        end += 2;
        continue;
      }
      ++end;
    }
    if (end < length) base[end] = 0;
    pos = end + 1;
    const size_t value_end = end - line;
    // Positions are kept in 16 bits; a longer line defines nothing rather than a cut text.
    if (value_end > kMaxLine) continue;
    entries_.try_emplace(
        hash, Entry{static_cast<uint16_t>(value_end), static_cast<uint16_t>(equals - line + 1), base + line});
  }
  if (!entries_.empty()) file_mode_ = true;
  sections_.push_back(std::move(section));
  return true;
}

bool CVLResString::Lookup(uint32_t hash, std::u16string& out, size_t max_units) const {
  const auto found = entries_.find(hash);
  if (found == entries_.end()) return false;
  const Entry& entry = found->second;
  // The text is the terminated string at the value's start, as long as the value end
  // allows (a NUL unit inside the file's text ends it early).
  const size_t room = std::min<size_t>(entry.value_end > 0 ? entry.value_end - 1u : 0u, max_units);
  const char16_t* text = entry.line + entry.value_start;
  size_t count = 0;
  while (count < room && text[count] != 0) ++count;
  out.assign(text, count);
  return true;
}

bool CVLResString::ResourceFallback(std::u16string_view key, std::u16string& out, size_t max_units) const {
  const int32_t id = WideAtoi(key);
  if (id == 0) return false;
  out = LoadStringResource(static_cast<uint32_t>(id), max_units);
  return !out.empty();
}

bool CVLResString::GetString(std::u16string& result, std::u16string_view key, const char16_t* fallback) const {
  std::u16string text;
  const bool hit = file_mode_ ? Lookup(KeyHash(key), text, SIZE_MAX) : ResourceFallback(key, text, 260);
  if (hit) {
    result = std::move(text);
  } else {
    result = fallback != nullptr ? std::u16string(fallback) : std::u16string(key);
  }
  return hit;
}

bool CVLResString::GetString(char16_t* buffer, size_t buffer_size, std::u16string_view key,
                             const char16_t* fallback) const {
  if (buffer == nullptr || buffer_size == 0) return false;
  key = SkipBlanks(key);
  std::u16string text;
  const bool hit =
      file_mode_ ? Lookup(KeyHash(key), text, buffer_size - 1) : ResourceFallback(key, text, buffer_size - 1);
  if (!hit) text = fallback != nullptr ? std::u16string(fallback) : std::u16string();
  const size_t count = std::min(text.size(), buffer_size - 1);
  std::copy_n(text.begin(), count, buffer);
  buffer[count] = 0;
  return hit;
}

bool CVLResString::GetStringById(std::u16string& result, uint32_t id, const char16_t* fallback) const {
  std::u16string text;
  bool hit = false;
  if (file_mode_) {
    const std::string key = std::to_string(static_cast<int32_t>(id));
    hit = Lookup(KeyHash(plat::AsciiToUtf16(key)), text, SIZE_MAX);
  } else {
    text = LoadStringResource(id, 260);
    hit = !text.empty();
  }
  result = hit ? std::move(text) : std::u16string(fallback != nullptr ? fallback : u"");
  return hit;
}

std::u16string CVLResString::ComputeCrc() const {
  if (sections_.empty()) return {};
  const Section& first = sections_.front();
  const std::string bytes = plat::ToUtf16Le(std::u16string_view(first.text.get(), first.length));
  const plat::Md5Digest digest = plat::Md5(bytes.data(), bytes.size());
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string crc;
  for (uint8_t byte : digest) {
    const uint8_t complement = static_cast<uint8_t>(~byte);
    crc.push_back(kHex[complement >> 4]);
    crc.push_back(kHex[complement & 0xF]);
  }
  return crc;
}

bool CVLResString::CheckCrc(std::u16string_view crc_text) const {
  if (sections_.empty() || crc_text.size() < 32) return false;
  const std::u16string expected = ComputeCrc();
  for (size_t i = 0; i < 16; ++i) {
    const int byte = HexDigit(crc_text[2 * i]) * 16 + HexDigit(crc_text[2 * i + 1]);
    const int want = HexDigit(expected[2 * i]) * 16 + HexDigit(expected[2 * i + 1]);
    if (byte != want) return false;
  }
  return true;
}

}  // namespace app
