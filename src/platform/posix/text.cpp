// The ANSI code page and the system's case mapping, as a Western (1252) or Simplified
// Chinese (936) Windows has them.
#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/host.h"
#include "platform/testing.h"

namespace plat {
namespace {

std::atomic<uint32_t> ansi_code_page{1252};

// Windows-1252 bytes 0x80-0x9F; the rest of the page is Latin-1. The five bytes Windows
// leaves undefined map to the C1 controls of the same value, as MultiByteToWideChar does.
constexpr char16_t k1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char Wide1252(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i) {
    if (k1252High[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

// One iconv conversion; a sequence it cannot take becomes `replacement`, one unit at a time.
template <typename Out>
Out Convert(const char* to, const char* from, const char* data, size_t size, size_t unit, const Out& replacement) {
  Out out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return replacement;
  char buffer[1024];
  char* in = const_cast<char*>(data);
  size_t left = size;
  while (left > 0) {
    char* put = buffer;
    size_t room = sizeof buffer;
    const size_t result = iconv(cd, &in, &left, &put, &room);
    out.append(reinterpret_cast<const typename Out::value_type*>(buffer),
               static_cast<size_t>(put - buffer) / sizeof(typename Out::value_type));
    if (result == static_cast<size_t>(-1) && errno != E2BIG) {
      out += replacement;
      const size_t skip = std::min(left, unit);
      in += skip;
      left -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

// Simple one-to-one case pairs of the scripts a Windows name meets most.
char16_t UpperOf(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c < 0xB5) return c;
  if (c == 0xB5) return 0x39C;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 32);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 0) ? char16_t(c - 1) : c;
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F || c == 0x178) return c;
    return (c % 2 == 1) ? char16_t(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 32);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 32);
  return c;
}

char16_t LowerOf(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c < 0xC0) return c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x17F) {
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 1) ? char16_t(c + 1) : c;
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c % 2 == 0) ? char16_t(c + 1) : c;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<char16_t>(c + 32);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 32);
  return c;
}

}  // namespace

uint32_t GetAnsiCodePage() { return ansi_code_page.load(); }

std::u16string AnsiToWide(std::string_view text) {
  if (ansi_code_page.load() == 936) {
    return Convert<std::u16string>("UTF-16LE", "CP936", text.data(), text.size(), 1, u"?");
  }
  std::u16string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto byte = static_cast<uint8_t>(ch);
    out.push_back(byte >= 0x80 && byte < 0xA0 ? k1252High[byte - 0x80] : char16_t(byte));
  }
  return out;
}

std::string WideToAnsi(std::u16string_view text) {
  if (ansi_code_page.load() == 936) {
    return Convert<std::string>("CP936", "UTF-16LE", reinterpret_cast<const char*>(text.data()), text.size() * 2, 2,
                                "?");
  }
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) out.push_back(Wide1252(c));
  return out;
}

bool IsTextUnicode(const void* data, size_t size) {
  // Latin text in UTF-16LE has a zero in most high bytes and almost none in the low
  // bytes; 8-bit text has no zero bytes at all.
  if (size < 2 || size % 2 != 0) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t zero_high = 0, zero_low = 0;
  for (size_t i = 0; i + 1 < size; i += 2) {
    if (bytes[i] == 0) ++zero_low;
    if (bytes[i + 1] == 0) ++zero_high;
  }
  const size_t units = size / 2;
  return zero_high * 2 > units && zero_low * 8 < units;
}

std::u16string ToLower(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = LowerOf(c);
  return out;
}

std::u16string ToUpper(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = UpperOf(c);
  return out;
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    // Most characters of paths compared are the same as they stand.
    if (a[i] != b[i] && UpperOf(a[i]) != UpperOf(b[i])) return false;
  }
  return true;
}

bool testing::SetAnsiCodePage(uint32_t code_page) {
  if (code_page != 1252 && code_page != 936) return false;
  ansi_code_page.store(code_page);
  return true;
}

}  // namespace plat
