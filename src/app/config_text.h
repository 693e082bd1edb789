// The configuration reader of the shared settings: the file is read whole and searched in
// memory by its own rules, which differ from the system's profile reads (UTF-16LE only,
// values not trimmed, a section found wherever its bracketed name stands on a line).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace app {

// Reads a configuration file whole as UTF-16LE (a leading 0xFEFF skipped). While another
// program holds it (sharing violation) the read is tried again every `retry_ms` for up to
// `limit_ms`; any other failure, or the limit, gives nullopt.
std::optional<std::u16string> ReadConfigText(std::u16string_view path, uint32_t retry_ms = 50,
                                             uint32_t limit_ms = 2000);

class ConfigText {
 public:
  explicit ConfigText(std::u16string text);

  // The value of `key` in `section`: the text after "=" to the line end, untrimmed;
  // nullopt when the key is not there.
  std::optional<std::u16string_view> Find(std::u16string_view section, std::u16string_view key) const;
  // The value cut to length-1 units, or `fallback` when the key is missing.
  std::u16string String(std::u16string_view section, std::u16string_view key, std::u16string_view fallback,
                        size_t length) const;
  // The value (at most 63 units) as _wtoi reads it, saturating outside the int range; a
  // missing or empty value gives `fallback`.
  int32_t Int(std::u16string_view section, std::u16string_view key, int32_t fallback) const;

 private:
  std::u16string text_;
  std::u16string folded_;  // the text upper-cased once, for the lookups without case
};

}  // namespace app
