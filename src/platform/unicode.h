// UTF-8 / UTF-16 conversions that every host shares. Malformed input never reads past
// the text: invalid sequences become U+FFFD and the validity test reports them.
#pragma once

#include <string>
#include <string_view>

namespace plat {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, <= U+10FFFF).
bool IsValidUtf8(std::string_view text);
std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-16LE bytes as text (an odd last byte is dropped), and text as UTF-16LE bytes; no
// byte-order mark is read or written.
std::u16string FromUtf16Le(std::string_view bytes);
std::string ToUtf16Le(std::u16string_view text);

// Fixed UTF-16 fields of stored records: text is NUL-terminated inside the field and cut
// to leave room for the terminator; reading stops at the terminator or the field's end.
void SetFixedText(char16_t* field, size_t units, std::u16string_view text);
std::u16string FixedText(const char16_t* field, size_t units);

// ASCII-only helpers for fixed protocol texts (drive letters, extensions, keys).
inline char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }
inline std::u16string AsciiToUtf16(std::string_view text) { return {text.begin(), text.end()}; }

}  // namespace plat
