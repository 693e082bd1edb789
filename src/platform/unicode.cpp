#include "platform/unicode.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/byte_view.h"

namespace plat {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one sequence at `i`; returns false (and advances one byte) when malformed.
bool DecodeUtf8(std::string_view text, size_t& i, char32_t& out) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = byte(i);
  if (lead < 0x80) {
    out = lead;
    ++i;
    return true;
  }
  size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    ++i;
    return false;
  }
  if (text.size() - i < length) {
    ++i;
    return false;
  }
  for (size_t k = 1; k < length; ++k) {
    const uint8_t next = byte(i + k);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return false;
    }
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    ++i;
    return false;
  }
  out = value;
  i += length;
  return true;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  char32_t c = 0;
  while (i < text.size()) {
    if (!DecodeUtf8(text, i, c)) return false;
  }
  return true;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char32_t c = 0;
    if (!DecodeUtf8(text, i, c)) c = kReplacement;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::u16string FromUtf16Le(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  const ByteView view(bytes);
  for (uint64_t i = 0; view.Fits(i, 2); i += 2) text.push_back(static_cast<char16_t>(*view.U16(i)));
  return text;
}

std::string ToUtf16Le(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

void SetFixedText(char16_t* field, size_t units, std::u16string_view text) {
  if (units == 0) return;
  std::vector<char16_t> copy(units, 0);
  std::copy_n(text.begin(), std::min(text.size(), units - 1), copy.begin());
  std::memcpy(field, copy.data(), units * sizeof(char16_t));
}

std::u16string FixedText(const char16_t* field, size_t units) {
  std::vector<char16_t> copy(units);
  std::memcpy(copy.data(), field, units * sizeof(char16_t));
  size_t length = 0;
  while (length < units && copy[length] != 0) ++length;
  return std::u16string(copy.data(), length);
}

}  // namespace plat
