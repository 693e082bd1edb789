#include "macro/vl_error.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <new>
#include <optional>

#include "app/res_string.h"
#include "app/text_format.h"
#include "macro/error_state.h"
#include "platform/platform.h"

namespace macro {
namespace {

// The scratch size the size query asks the system with; a longer message counts as none.
constexpr size_t kSystemMessageScratch = 2048;
// A resolved key text is cut to this many characters.
constexpr size_t kResolvedTextChars = 260;

size_t CopyCut(std::u16string_view text, char16_t* out, size_t out_chars) {
  const size_t count = std::min(text.size(), out_chars - 1);
  std::copy_n(text.begin(), count, out);
  out[count] = 0;
  return count;
}

// Walks `format` once, handing the literal pieces and the arguments to `emit` in output
// order; `emit` returns how many characters of a piece it took, and the walk stops at the
// first piece that did not fit whole. Returns the number of arguments used: those of
// which anything was written, and empty ones whose marker was reached. The marker is
// found as a plain substring, so "%%s" also holds one.
template <typename Emit>
size_t WalkMarkers(std::u16string_view format, std::span<const std::u16string> args, Emit emit) {
  size_t used = 0;
  size_t pos = 0;
  while (used < args.size()) {
    const size_t marker = format.find(u"%s", pos);
    if (marker == std::u16string_view::npos) break;
    const std::u16string_view before = format.substr(pos, marker - pos);
    if (emit(before) < before.size()) return used;
    const std::u16string_view argument = args[used];
    const size_t taken = emit(argument);
    if (taken > 0 || argument.empty()) ++used;
    if (taken < argument.size()) return used;
    pos = marker + 2;
  }
  emit(format.substr(pos));
  return used;
}

std::u16string SubstituteToString(std::u16string_view format, std::span<const std::u16string> args) {
  std::u16string result;
  WalkMarkers(format, args, [&](std::u16string_view piece) {
    result.append(piece);
    return piece.size();
  });
  return result;
}

constexpr bool IsEndOfItemsCode(int32_t code) { return code == kErrHrNotFound || code == kErrHrNoMoreItems; }

void AppendArgument(ErrorRecord& record, const ErrorArg& arg) {
  try {
    record.arguments.push_back(ErrorArgText(arg));
  } catch (const std::bad_alloc&) {
    // Best effort: the message then shows the marker instead of the value.
  }
}

}  // namespace

// ---- Arguments ---------------------------------------------------------------------------

ErrorArg ErrorArg::Text(std::u16string_view value) {
  ErrorArg arg;
  arg.type = kArgText;
  arg.text.assign(value);
  return arg;
}

ErrorArg ErrorArg::Bool(bool value) { return Integer(kArgBool, value ? 1 : 0); }
ErrorArg ErrorArg::Int(int32_t value) { return Integer(kArgInt, value); }

ErrorArg ErrorArg::Float(float value) {
  ErrorArg arg;
  arg.type = kArgFloat;
  arg.real = value;
  return arg;
}

ErrorArg ErrorArg::Double(double value) {
  ErrorArg arg;
  arg.type = kArgDouble;
  arg.real = value;
  return arg;
}

ErrorArg ErrorArg::Byte(uint8_t value, bool hex) { return Integer(kArgByte, value, hex); }
ErrorArg ErrorArg::Word(uint16_t value, bool hex) { return Integer(kArgWord, value, hex); }
ErrorArg ErrorArg::Dword(uint32_t value, bool hex) { return Integer(kArgDword, value, hex); }
ErrorArg ErrorArg::Int64(int64_t value) { return Integer(kArgInt64, value); }

ErrorArg ErrorArg::Integer(int32_t type, int64_t value, bool hex) {
  ErrorArg arg;
  arg.type = type;
  arg.integer = value;
  arg.hex = hex;
  return arg;
}

std::u16string ErrorArgText(const ErrorArg& arg) {
  switch (arg.type) {
    case kArgText:
      return arg.text;
    case kArgBool:
      return static_cast<uint8_t>(arg.integer) != 0 ? u"TRUE" : u"FALSE";
    case kArgInt:
    case kArgLong:
      return app::FormatText(u"%d", {static_cast<int32_t>(arg.integer)});
    case kArgFloat: {
      // A double beyond the float range has no float value; it reads as an infinity.
      constexpr float kInfinity = std::numeric_limits<float>::infinity();
      float value = 0.0f;
      if (std::isfinite(arg.real) && std::fabs(arg.real) > FLT_MAX) {
        value = std::signbit(arg.real) ? -kInfinity : kInfinity;
      } else {
        value = static_cast<float>(arg.real);
      }
      return app::FormatText(u"%f", {static_cast<double>(value)});
    }
    case kArgDouble:
      return app::FormatText(u"%g", {arg.real});
    case kArgInt64:
      return app::FormatText(u"%lld", {static_cast<long long>(arg.integer)});
    default:
      break;
  }
  // The unsigned types, and every type number without a meaning of its own.
  uint32_t value = static_cast<uint32_t>(arg.integer);
  if (arg.type == kArgByte) value = static_cast<uint8_t>(arg.integer);
  if (arg.type == kArgWord) value = static_cast<uint16_t>(arg.integer);
  return app::FormatText(arg.hex ? u"0x%x" : u"%u", {value});
}

size_t SubstituteTexts(std::u16string_view format, std::span<const std::u16string> args, char16_t* out, size_t outChars,
                       size_t* substituted) {
  if (substituted != nullptr) *substituted = 0;
  if (out == nullptr || outChars == 0) return 0;
  const size_t limit = outChars - 1;
  size_t written = 0;
  const size_t used = WalkMarkers(format, args, [&](std::u16string_view piece) {
    const size_t count = std::min(piece.size(), limit - written);
    std::copy_n(piece.begin(), count, out + written);
    written += count;
    return count;
  });
  out[written] = 0;
  if (substituted != nullptr) *substituted = used;
  return written;
}

// ---- CVLError ----------------------------------------------------------------------------

CVLError::~CVLError() = default;

bool CVLError::IsRepeat(std::u16string_view text, int32_t code) const {
  if (records_.empty()) return false;
  const ErrorRecord& current = *records_.back();
  // The stored code is compared with the code as passed, before the Win32 conversion.
  const bool same_code = current.code == code || (IsEndOfItemsCode(current.code) && IsEndOfItemsCode(code));
  return same_code && std::u16string_view(current.text) == text;
}

ErrorRecord* CVLError::AddError(std::u16string_view text, int32_t code, const ErrorArg* arg, int32_t kind,
                                uint32_t source) {
  if (code == kNoError) return nullptr;
  if (suppress_repeats_ && IsRepeat(text, code)) {
    records_.back()->tick = plat::GetTickCount();
    return nullptr;
  }
  ErrorRecord* added = nullptr;
  try {
    auto record = std::make_unique<ErrorRecord>();
    record->code = StoredErrorCode(code);
    if (!text.empty()) {
      record->kind = kind;
      record->text.assign(text);
    } else {
      record->kind = kRecordCode;
    }
    record->tick = plat::GetTickCount();
    added = record.get();
    records_.push_back(std::move(record));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (arg != nullptr) AppendArgument(*added, *arg);
  added->source = source;
  return added;
}

ErrorRecord* CVLError::AddTextError(std::u16string_view text, int32_t code, const ErrorArg* arg) {
  return AddError(text, code, arg, kRecordText, 0);
}

ErrorRecord* CVLError::AddKeyError(std::u16string_view key, int32_t code, const ErrorArg* arg) {
  return AddError(key, code, arg, kRecordKey, 0);
}

ErrorRecord* CVLError::AddCodeError(int32_t code, const ErrorArg* arg) {
  return AddError({}, code, arg, kRecordCode, 0);
}

void CVLError::SetDetail(std::u16string_view text) {
  ErrorRecord* current = GetLastRecord();
  if (current == nullptr) return;
  try {
    current->detail.assign(text);
  } catch (const std::bad_alloc&) {
    current->detail.clear();
  }
}

void CVLError::AddArgument(const ErrorArg* arg) {
  ErrorRecord* current = GetLastRecord();
  if (current == nullptr || arg == nullptr) return;
  AppendArgument(*current, *arg);
}

void CVLError::CopyTo(CVLError& other) const {
  if (&other == this) return;  // clearing first would lose what is to be copied
  other.Clear();
  for (const auto& record : records_) {
    try {
      auto copy = std::make_unique<ErrorRecord>();
      copy->kind = record->kind;
      copy->code = record->code;
      copy->text = record->text;
      copy->detail = record->detail;
      copy->arguments = record->arguments;
      copy->tick = plat::GetTickCount();
      other.records_.push_back(std::move(copy));
    } catch (const std::bad_alloc&) {
      return;
    }
  }
}

int32_t CVLError::GetLastWin32Error() const {
  const int32_t code = GetLastCode();
  return IsWin32ErrorCode(code) ? static_cast<int32_t>(static_cast<uint32_t>(code) & 0xFFFFu) : -1;
}

void CVLError::Clear() {
  records_.clear();
  std::u16string().swap(composed_);
}

size_t CVLError::FormatRecord(const ErrorRecord& record, char16_t* out, size_t outChars) const {
  if (record.kind != kRecordCode && !record.text.empty()) {
    if (out == nullptr) {
      size_t needed = record.text.size();
      for (const std::u16string& argument : record.arguments) needed += argument.size();
      return needed;
    }
    if (outChars == 0) return 0;
    try {
      const std::u16string format = ResolveText(record);
      return SubstituteTexts(format, record.arguments, out, outChars);
    } catch (const std::bad_alloc&) {
      out[0] = 0;
      return 0;
    }
  }
  return GetSystemMessage(record.code, out, outChars, record.arguments, record.source);
}

size_t CVLError::GetSystemMessage(int32_t code, char16_t* out, size_t outChars,
                                  std::span<const std::u16string> /*args*/, uint32_t source) const {
  if (out != nullptr && outChars != 0) {
    out[0] = 0;
    FormatSystemError(static_cast<uint32_t>(code), out, outChars, false);
    return std::char_traits<char16_t>::length(out);
  }
  // The platform layer offers no message tables of modules, so a message asked for from
  // a module is never found; only the system's own table answers.
  if (source != 0) return 0;
  try {
    const std::optional<std::u16string> message = plat::FormatSystemMessage(static_cast<uint32_t>(code));
    if (!message || message->size() + 1 > kSystemMessageScratch) return 0;
    return message->size();
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

std::u16string CVLError::ResolveText(const ErrorRecord& record) const { return record.text; }

bool CVLError::IsOwnCode(int32_t /*code*/) const { return true; }

const ErrorRecord* CVLError::GetLastRecord() const { return records_.empty() ? nullptr : records_.back().get(); }

ErrorRecord* CVLError::GetLastRecord() { return records_.empty() ? nullptr : records_.back().get(); }

int32_t CVLError::GetLastCode() const {
  const ErrorRecord* current = GetLastRecord();
  return current == nullptr ? kNoError : current->code;
}

const char16_t* CVLError::GetMessages(bool all, bool withCodes) {
  if (records_.empty()) {
    composed_.clear();
    return nullptr;
  }
  try {
    std::u16string result;
    const size_t first = all ? 0 : records_.size() - 1;
    for (size_t i = first; i < records_.size(); ++i) {
      const ErrorRecord& record = *records_[i];
      if (i != first) result += u"\r\n";
      // Literal text is shown as written: it may hold "%" of its own.
      if (record.kind == kRecordText && !record.text.empty()) {
        result += record.text;
        continue;
      }
      char16_t buffer[kRecordMessageChars] = {};
      FormatRecord(record, buffer, kRecordMessageChars);
      const std::u16string_view message(buffer);
      if (withCodes && record.code != -1) {
        if (IsOwnCode(record.code)) {
          result += app::FormatText(u"%ld - %s", {OwnMessageNumber(record.code), message});
        } else {
          result += app::FormatText(u"0x%x - %s", {static_cast<uint32_t>(record.code), message});
        }
      } else {
        result += message;
      }
    }
    composed_ = std::move(result);
    return composed_.c_str();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// ---- CMacroError -------------------------------------------------------------------------

std::u16string CMacroError::OwnCodeMessage(int32_t code, std::span<const std::u16string> args) const {
  const int32_t number = OwnMessageNumber(code);
  std::u16string key = app::FormatText(u"%d", {number});
  if (table_ == nullptr) return key;
  std::u16string text;
  table_->GetString(text, key, u"");
  if (!args.empty()) text = SubstituteToString(text, args);
  if (!text.empty()) return text;
  // No text for the number: the generic text names it.
  std::u16string generic;
  table_->GetString(generic, u"PERR_MACRO_GENERIC");
  return app::FormatText(generic, {number});
}

size_t CMacroError::GetSystemMessage(int32_t code, char16_t* out, size_t outChars, std::span<const std::u16string> args,
                                     uint32_t source) const {
  if (!IsOwnCode(code)) return CVLError::GetSystemMessage(code, out, outChars, args, source);
  const bool has_room = out != nullptr && outChars != 0;
  try {
    const std::u16string text = OwnCodeMessage(code, args);
    return has_room ? CopyCut(text, out, outChars) : text.size();
  } catch (const std::bad_alloc&) {
    if (has_room) out[0] = 0;
    return 0;
  }
}

std::u16string CMacroError::ResolveText(const ErrorRecord& record) const {
  if (record.kind != kRecordKey) return record.text;
  char16_t buffer[kResolvedTextChars + 1] = {};
  if (table_ != nullptr && table_->GetString(buffer, kResolvedTextChars + 1, record.text)) {
    return std::u16string(buffer);
  }
  return record.text.substr(0, kResolvedTextChars);
}

bool CMacroError::IsOwnCode(int32_t code) const { return IsOwnErrorCode(code); }

ErrorRecord* CMacroError::AddKeyErrorWithTexts(std::u16string_view key, int32_t code, const char16_t* firstText,
                                               const char16_t* secondText) {
  ErrorRecord* record = nullptr;
  try {
    std::optional<ErrorArg> first;
    if (firstText != nullptr) first = ErrorArg::Text(firstText);
    record = AddError(key, code, first ? &*first : nullptr, kRecordKey, 0);
    if (firstText != nullptr && secondText != nullptr) {
      const ErrorArg second = ErrorArg::Text(secondText);
      AddArgument(&second);
    }
  } catch (const std::bad_alloc&) {
    // Best effort, as every recording.
  }
  return record;
}

void CMacroError::Reset() { Clear(); }

}  // namespace macro
