// Reading a private-profile (INI) file's text the way GetPrivateProfileStringW does. Kept
// apart from the file access so it can be fuzzed on its own.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plat::posix {

// The file's bytes as UTF-16: a UTF-16LE or UTF-8 byte-order mark selects that encoding,
// anything else is text in the ANSI code page.
std::u16string DecodeProfileText(std::string_view bytes);

// The value of `key` in `section` (both matched without regard to case, the first
// occurrence wins), with surrounding blanks and one pair of matching quotes removed.
// A key line without '=' has an empty value. nullopt when the key is not there.
std::optional<std::u16string> FindProfileValue(std::u16string_view text, std::u16string_view section,
                                               std::u16string_view key);

}  // namespace plat::posix
