// printf-style formatting of UTF-16 texts. Language texts are printf formats that
// translators write, so a format that asks for more arguments than were given, or for a
// different kind, must give a sound text rather than undefined behaviour: a missing
// number formats as 0 and a missing text as empty.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace app {

// One argument: a number or a text. "%s" (and "%S") take texts, the numeric conversions
// take numbers; a text given to a number conversion counts as 0, a number given to "%s"
// is written in decimal.
class FormatArg {
 public:
  FormatArg(int32_t v) : value_(static_cast<int64_t>(v)) {}
  FormatArg(uint32_t v) : value_(static_cast<uint64_t>(v)) {}
  FormatArg(long v) : value_(static_cast<int64_t>(v)) {}
  FormatArg(unsigned long v) : value_(static_cast<uint64_t>(v)) {}
  FormatArg(long long v) : value_(static_cast<int64_t>(v)) {}
  FormatArg(unsigned long long v) : value_(static_cast<uint64_t>(v)) {}
  FormatArg(double v) : value_(v) {}
  FormatArg(std::u16string_view v) : value_(v) {}
  FormatArg(const std::u16string& v) : value_(std::u16string_view(v)) {}
  FormatArg(const char16_t* v) : value_(v == nullptr ? std::u16string_view() : std::u16string_view(v)) {}

  bool IsText() const { return std::holds_alternative<std::u16string_view>(value_); }
  std::u16string_view Text() const;  // empty for numbers
  int64_t Signed() const;            // 0 for texts
  uint64_t Unsigned() const;         // 0 for texts
  double Real() const;               // 0 for texts

 private:
  std::variant<int64_t, uint64_t, double, std::u16string_view> value_;
};

// Formats `format` with `args` into at most `max_chars` characters (the text is cut
// there, as a fixed buffer of max_chars + 1 would cut it). Supports the flags "-+ #0",
// width and precision (also "*"), the length modifiers h, l, ll, I64, and the
// conversions d i u x X o c C s S f F e E g G p and "%%".
std::u16string FormatText(std::u16string_view format, std::initializer_list<FormatArg> args,
                          size_t max_chars = SIZE_MAX);
std::u16string FormatTextArgs(std::u16string_view format, const FormatArg* args, size_t count,
                              size_t max_chars = SIZE_MAX);

}  // namespace app
