// GetPrivateProfileStringW / GetPrivateProfileIntW over host files.
#include <algorithm>
#include <fstream>
#include <iterator>

#include "platform/platform.h"
#include "platform/posix/host.h"
#include "platform/posix/profile_text.h"

namespace plat {
namespace {

// Windows looks for a profile named without a folder in the Windows folder.
std::u16string ProfilePath(std::u16string_view file) {
  if (file.find_first_of(u"\\/") == std::u16string_view::npos) {
    return u"C:\\windows\\" + std::u16string(file);
  }
  return std::u16string(file);
}

std::optional<std::string> ReadWholeFile(std::u16string_view path) {
  posix::HostPath host;
  if (!posix::ResolvePath(ProfilePath(path), &host)) return std::nullopt;
  if (!host.exists) {
    SetLastError(err::kFileNotFound);
    return std::nullopt;
  }
  std::ifstream stream(host.host, std::ios::binary);
  if (!stream) {
    SetLastError(err::kAccessDenied);
    return std::nullopt;
  }
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

uint32_t CopyOut(std::u16string_view text, char16_t* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  const uint32_t count = static_cast<uint32_t>(std::min<size_t>(text.size(), size - 1));
  std::copy_n(text.begin(), count, buffer);
  buffer[count] = 0;
  return count;
}

}  // namespace

uint32_t GetPrivateProfileString(std::u16string_view section, std::u16string_view key, std::u16string_view fallback,
                                 char16_t* buffer, uint32_t size, std::u16string_view file) {
  std::optional<std::u16string> value;
  if (const std::optional<std::string> bytes = ReadWholeFile(file)) {
    value = posix::FindProfileValue(posix::DecodeProfileText(*bytes), section, key);
    SetLastError(value ? err::kSuccess : err::kFileNotFound);
  }
  if (value) return CopyOut(*value, buffer, size);
  while (!fallback.empty() && fallback.back() == u' ') fallback.remove_suffix(1);
  return CopyOut(fallback, buffer, size);
}

uint32_t GetPrivateProfileInt(std::u16string_view section, std::u16string_view key, int32_t fallback,
                              std::u16string_view file) {
  char16_t buffer[64];
  const uint32_t count = GetPrivateProfileString(section, key, u"", buffer, 64, file);
  if (count == 0) return static_cast<uint32_t>(fallback);
  // The system's RtlUnicodeStringToInteger with base 0: a sign, then "0x", "0o" or "0b"
  // for base 16, 8 or 2, else decimal. The digits add up modulo 2^32, so a value out of
  // range wraps ("4294967297" reads 1): unlike the C runtime's conversions, this one does
  // not saturate.
  const std::u16string_view text(buffer, count);
  size_t i = 0;
  const bool negative = text[0] == u'-';
  if (text[0] == u'-' || text[0] == u'+') i = 1;
  uint32_t base = 10;
  if (count - i >= 2 && text[i] == u'0') {
    if (text[i + 1] == u'x') base = 16;
    if (text[i + 1] == u'o') base = 8;
    if (text[i + 1] == u'b') base = 2;
    if (base != 10) i += 2;
  }
  uint32_t value = 0;
  for (; i < count; ++i) {
    const char16_t c = text[i];
    uint32_t digit = base;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
    if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
    if (digit >= base) break;
    value = value * base + digit;
  }
  return negative ? 0u - value : value;
}

}  // namespace plat
