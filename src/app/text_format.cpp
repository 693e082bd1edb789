#include "app/text_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace app {

std::u16string_view FormatArg::Text() const {
  const auto* text = std::get_if<std::u16string_view>(&value_);
  return text != nullptr ? *text : std::u16string_view();
}

int64_t FormatArg::Signed() const {
  if (const auto* v = std::get_if<int64_t>(&value_)) return *v;
  if (const auto* v = std::get_if<uint64_t>(&value_)) return static_cast<int64_t>(*v);
  if (const auto* v = std::get_if<double>(&value_)) {
    return std::isfinite(*v) && std::fabs(*v) < 9.2e18 ? static_cast<int64_t>(*v) : 0;
  }
  return 0;
}

uint64_t FormatArg::Unsigned() const { return static_cast<uint64_t>(Signed()); }

double FormatArg::Real() const {
  if (const auto* v = std::get_if<double>(&value_)) return *v;
  if (const auto* v = std::get_if<int64_t>(&value_)) return static_cast<double>(*v);
  if (const auto* v = std::get_if<uint64_t>(&value_)) return static_cast<double>(*v);
  return 0.0;
}

namespace {

struct ConversionSpec {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  int width = -1;
  int precision = -1;
  int length = 0;  // 0 int, 1 short, 2 long, 3 long long / I64
  char16_t conversion = 0;
};

class Formatter {
 public:
  Formatter(const FormatArg* args, size_t count, size_t max_chars) : args_(args), count_(count), max_(max_chars) {}

  void Put(std::u16string_view text) {
    for (char16_t c : text) Put(c);
  }
  void Put(char16_t c) {
    if (out_.size() < max_) out_.push_back(c);
  }
  bool Full() const { return out_.size() >= max_; }

  const FormatArg* Next() { return next_ < count_ ? &args_[next_++] : nullptr; }

  // Pads `body` (with its sign or prefix in `prefix`) to the width.
  void Emit(std::u16string_view prefix, std::u16string_view body, const ConversionSpec& conv, bool numeric) {
    const size_t length = prefix.size() + body.size();
    const size_t pad = conv.width > 0 && static_cast<size_t>(conv.width) > length ? conv.width - length : 0;
    if (conv.left) {
      Put(prefix), Put(body);
      for (size_t i = 0; i < pad; ++i) Put(u' ');
    } else if (conv.zero && numeric) {
      Put(prefix);
      for (size_t i = 0; i < pad; ++i) Put(u'0');
      Put(body);
    } else {
      for (size_t i = 0; i < pad; ++i) Put(u' ');
      Put(prefix), Put(body);
    }
  }

  std::u16string Take() { return std::move(out_); }

 private:
  const FormatArg* args_;
  size_t count_;
  size_t max_;
  size_t next_ = 0;
  std::u16string out_;
};

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::u16string Digits(uint64_t value, unsigned base, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::u16string out;
  do {
    out.insert(out.begin(), static_cast<char16_t>(digits[value % base]));
    value /= base;
  } while (value != 0);
  return out;
}

void FormatInteger(Formatter& f, const ConversionSpec& conv, const FormatArg* arg) {
  const bool is_signed = conv.conversion == u'd' || conv.conversion == u'i';
  int64_t signed_value = arg != nullptr ? arg->Signed() : 0;
  uint64_t value = arg != nullptr ? arg->Unsigned() : 0;
  // The length modifier decides the width of the value, as it does for a C vararg.
  switch (conv.length) {
    case 0:
      signed_value = static_cast<int32_t>(signed_value);
      value = static_cast<uint32_t>(value);
      break;
    case 1:
      signed_value = static_cast<int16_t>(signed_value);
      value = static_cast<uint16_t>(value);
      break;
    case 2:  // long is 32 bits on Windows
      signed_value = static_cast<int32_t>(signed_value);
      value = static_cast<uint32_t>(value);
      break;
    default:
      break;
  }
  std::u16string prefix;
  if (is_signed) {
    if (signed_value < 0) {
      prefix = u"-";
      value = 0 - static_cast<uint64_t>(signed_value);
    } else {
      value = static_cast<uint64_t>(signed_value);
      if (conv.plus)
        prefix = u"+";
      else if (conv.space)
        prefix = u" ";
    }
  }
  unsigned base = 10;
  bool upper = false;
  if (conv.conversion == u'x' || conv.conversion == u'X' || conv.conversion == u'p') {
    base = 16;
    upper = conv.conversion != u'x';
    if (conv.alt && value != 0) prefix += upper ? u"0X" : u"0x";
  } else if (conv.conversion == u'o') {
    base = 8;
  }
  std::u16string body = (conv.precision == 0 && value == 0) ? u"" : Digits(value, base, upper);
  if (conv.conversion == u'o' && conv.alt && (body.empty() || body[0] != u'0')) body.insert(body.begin(), u'0');
  if (conv.precision > 0 && body.size() < static_cast<size_t>(conv.precision)) {
    body.insert(body.begin(), conv.precision - body.size(), u'0');
  }
  ConversionSpec padded = conv;
  if (conv.precision >= 0) padded.zero = false;
  f.Emit(prefix, body, padded, true);
}

void FormatReal(Formatter& f, const ConversionSpec& conv, const FormatArg* arg) {
  std::string format = "%";
  if (conv.plus) format += '+';
  if (conv.space) format += ' ';
  if (conv.alt) format += '#';
  if (conv.precision >= 0) {
    format += '.';
    format += std::to_string(std::min(conv.precision, 300));
  }
  format += static_cast<char>(conv.conversion);
  char buffer[400];
  const int written = std::snprintf(buffer, sizeof buffer, format.c_str(), arg != nullptr ? arg->Real() : 0.0);
  std::string text = written > 0 ? std::string(buffer, std::min<size_t>(written, sizeof buffer - 1)) : "";
  std::u16string prefix;
  if (!text.empty() && (text[0] == '-' || text[0] == '+' || text[0] == ' ')) {
    prefix = std::u16string(1, static_cast<char16_t>(text[0]));
    text.erase(0, 1);
  }
  f.Emit(prefix, Widen(text), conv, std::isfinite(arg != nullptr ? arg->Real() : 0.0));
}

void FormatString(Formatter& f, const ConversionSpec& conv, const FormatArg* arg) {
  std::u16string text;
  if (arg != nullptr) text = arg->IsText() ? std::u16string(arg->Text()) : Widen(std::to_string(arg->Signed()));
  if (conv.precision >= 0 && text.size() > static_cast<size_t>(conv.precision)) text.resize(conv.precision);
  f.Emit(u"", text, conv, false);
}

}  // namespace

std::u16string FormatTextArgs(std::u16string_view format, const FormatArg* args, size_t count, size_t max_chars) {
  Formatter f(args, count, max_chars);
  size_t i = 0;
  const auto at = [&](size_t k) -> char16_t { return k < format.size() ? format[k] : 0; };
  while (i < format.size() && !f.Full()) {
    if (format[i] != u'%') {
      f.Put(format[i++]);
      continue;
    }
    const size_t start = i++;
    if (at(i) == u'%') {
      f.Put(u'%');
      ++i;
      continue;
    }
    ConversionSpec conv;
    for (;; ++i) {
      const char16_t c = at(i);
      if (c == u'-')
        conv.left = true;
      else if (c == u'+')
        conv.plus = true;
      else if (c == u' ')
        conv.space = true;
      else if (c == u'#')
        conv.alt = true;
      else if (c == u'0')
        conv.zero = true;
      else
        break;
    }
    const auto number = [&](int& target) {
      if (at(i) == u'*') {
        const FormatArg* arg = f.Next();
        target = static_cast<int>(std::clamp<int64_t>(arg != nullptr ? arg->Signed() : 0, -4096, 4096));
        ++i;
        return;
      }
      int value = 0;
      bool any = false;
      while (at(i) >= u'0' && at(i) <= u'9') {
        value = std::min(value * 10 + (at(i) - u'0'), 4096);
        ++i, any = true;
      }
      if (any) target = value;
    };
    number(conv.width);
    if (conv.width < 0 && conv.width != -1) {
      conv.left = true;
      conv.width = -conv.width;
    }
    if (at(i) == u'.') {
      ++i;
      conv.precision = 0;
      number(conv.precision);
      if (conv.precision < 0) conv.precision = -1;
    }
    if (at(i) == u'h') {
      conv.length = 1, ++i;
      if (at(i) == u'h') ++i;
    } else if (at(i) == u'l') {
      conv.length = 2, ++i;
      if (at(i) == u'l') conv.length = 3, ++i;
    } else if (at(i) == u'I' && at(i + 1) == u'6' && at(i + 2) == u'4') {
      conv.length = 3, i += 3;
    } else if (at(i) == u'z' || at(i) == u'j' || at(i) == u't' || at(i) == u'L' || at(i) == u'w') {
      conv.length = at(i) == u'w' ? 2 : 3, ++i;
    }
    conv.conversion = at(i);
    switch (conv.conversion) {
      case u'd':
      case u'i':
      case u'u':
      case u'x':
      case u'X':
      case u'o':
        ++i;
        FormatInteger(f, conv, f.Next());
        break;
      case u'p':
        ++i;
        conv.length = 3;
        conv.precision = 2 * static_cast<int>(sizeof(void*));
        FormatInteger(f, conv, f.Next());
        break;
      case u'f':
      case u'F':
      case u'e':
      case u'E':
      case u'g':
      case u'G':
        ++i;
        FormatReal(f, conv, f.Next());
        break;
      case u's':
      case u'S':
        ++i;
        FormatString(f, conv, f.Next());
        break;
      case u'c':
      case u'C': {
        ++i;
        const FormatArg* arg = f.Next();
        const char16_t c = arg == nullptr  ? 0
                           : arg->IsText() ? (arg->Text().empty() ? 0 : arg->Text()[0])
                                           : static_cast<char16_t>(arg->Unsigned());
        f.Emit(u"", c == 0 ? std::u16string_view() : std::u16string_view(&c, 1), conv, false);
        break;
      }
      default:
        // Not a conversion: the text stands as written.
        f.Put(format.substr(start, i - start));
        break;
    }
  }
  return f.Take();
}

std::u16string FormatText(std::u16string_view format, std::initializer_list<FormatArg> args, size_t max_chars) {
  return FormatTextArgs(format, args.begin(), args.size(), max_chars);
}

}  // namespace app
