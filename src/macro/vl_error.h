// Error-record lists. A class that can fail in several steps carries a CVLError as a base
// and records what went wrong; callers compose the messages afterwards. CMacroError adds
// the language table, so that language keys and our own codes turn into readable texts.
//
// Recording is best effort: when memory runs out a record or an argument is dropped
// without a report, and no exception leaves these classes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace app {
class CVLResString;
}

namespace macro {

// ---- Arguments ---------------------------------------------------------------------------

// Argument types: how a value becomes the text that fills a "%s" of the message.
enum ErrorArgType : int32_t {
  kArgText = 0,    // the text itself
  kArgBool = 1,    // one byte: "TRUE" or "FALSE"
  kArgInt = 2,     // signed 32-bit, "%d"
  kArgLong = 3,    // signed 32-bit, "%d"
  kArgFloat = 4,   // 32-bit float, "%f"
  kArgDouble = 5,  // 64-bit float, "%g"
  kArgByte = 6,    // unsigned 8-bit, "%u" or "0x%x"
  kArgWord = 7,    // unsigned 16-bit, "%u" or "0x%x"
  kArgDword = 8,   // unsigned 32-bit, "%u" or "0x%x"; so is every type not listed here
  kArgInt64 = 9,   // signed 64-bit, "%lld"
};

// A value with its type. Type kArgText reads `text`, the float types read `real`, every
// other type reads `integer`, cut to the type's width when it is turned into text.
struct ErrorArg {
  int32_t type = kArgText;
  std::u16string text;
  int64_t integer = 0;
  double real = 0.0;
  bool hex = false;

  static ErrorArg Text(std::u16string_view value);
  static ErrorArg Bool(bool value);
  static ErrorArg Int(int32_t value);
  static ErrorArg Float(float value);
  static ErrorArg Double(double value);
  static ErrorArg Byte(uint8_t value, bool hex = false);
  static ErrorArg Word(uint16_t value, bool hex = false);
  static ErrorArg Dword(uint32_t value, bool hex = false);
  static ErrorArg Int64(int64_t value);
  // Any integer type by number, with a value that may be wider than the type.
  static ErrorArg Integer(int32_t type, int64_t value, bool hex = false);
};

// The text an argument contributes. May throw std::bad_alloc.
std::u16string ErrorArgText(const ErrorArg& arg);

// ---- Records -----------------------------------------------------------------------------

enum ErrorRecordKind : int32_t {
  kRecordKey = 1,   // the text is a language key
  kRecordText = 2,  // the text is literal text
  kRecordCode = 3,  // no text: the message comes from the code
};

struct ErrorRecord {
  int32_t kind = 0;
  uint32_t tick = 0;  // GetTickCount of the recording, refreshed by a suppressed repeat
  int32_t code = 0;
  std::u16string text;
  std::u16string detail;
  std::vector<std::u16string> arguments;  // already turned into text, in the order added
  uint32_t source = 0;                    // module whose message table explains the code; 0: the system's
};

// Replaces the "%s" markers of `format`, left to right, with the arguments in order;
// markers beyond the last argument and every other "%" stay as they are. Writes at most
// outChars - 1 characters and a terminator and returns the count written (0, writing
// nothing, when out is null or outChars is 0). *substituted receives the number of
// arguments used: those written at least in part, and empty ones whose marker was reached.
size_t SubstituteTexts(std::u16string_view format, std::span<const std::u16string> args, char16_t* out, size_t outChars,
                       size_t* substituted = nullptr);

// The size of the buffer each record is formatted into when the messages are composed.
inline constexpr size_t kRecordMessageChars = 1040;

// ---- CVLError ----------------------------------------------------------------------------

class CVLError {
 public:
  CVLError() = default;
  CVLError(const CVLError&) = delete;
  CVLError& operator=(const CVLError&) = delete;
  virtual ~CVLError();

  // Records an error and returns the new record, or nullptr when nothing was recorded:
  // code 0, a suppressed repeat of the current record, or no memory. An empty text makes
  // a kRecordCode record whatever `kind` says; `arg` (may be null) becomes the first
  // argument.
  virtual ErrorRecord* AddError(std::u16string_view text, int32_t code, const ErrorArg* arg, int32_t kind,
                                uint32_t source);
  virtual ErrorRecord* AddTextError(std::u16string_view text, int32_t code, const ErrorArg* arg = nullptr);
  virtual ErrorRecord* AddKeyError(std::u16string_view key, int32_t code, const ErrorArg* arg = nullptr);
  virtual ErrorRecord* AddCodeError(int32_t code, const ErrorArg* arg = nullptr);
  // Both act on the current record and do nothing without one (or without a value).
  virtual void SetDetail(std::u16string_view text);
  virtual void AddArgument(const ErrorArg* arg);
  // Replaces the records of `other` with copies of ours (arguments as texts).
  virtual void CopyTo(CVLError& other) const;
  // The Win32 number inside the current code when it is a FACILITY_WIN32 code; else -1.
  virtual int32_t GetLastWin32Error() const;
  virtual void Clear();
  // The message of one record into `out` (never more than outChars, terminator
  // included); returns its length. With out null: the room a caller needs.
  virtual size_t FormatRecord(const ErrorRecord& record, char16_t* out, size_t outChars) const;
  // The message the system (or, on derived classes, the program) has for a code. With out
  // null or outChars 0 nothing is written and the length of the message is returned.
  virtual size_t GetSystemMessage(int32_t code, char16_t* out, size_t outChars, std::span<const std::u16string> args,
                                  uint32_t source) const;
  // The template of a record's message: here the record's own text.
  virtual std::u16string ResolveText(const ErrorRecord& record) const;
  // Whether a code is written as its message number ("%ld" of the low word) rather than
  // in hexadecimal. The base class answers true for every code.
  virtual bool IsOwnCode(int32_t code) const;

  const ErrorRecord* GetLastRecord() const;
  ErrorRecord* GetLastRecord();
  int32_t GetLastCode() const;  // 0 without records

  // Composes the messages (all records, or only the current one) joined with CR LF,
  // optionally each after its code; keeps the result until the next call or Clear and
  // returns it. nullptr without records (the composed message is then empty) or when
  // memory runs out (the previous composed message stays).
  const char16_t* GetMessages(bool all, bool withCodes);
  const std::u16string& ComposedMessage() const { return composed_; }

  size_t RecordCount() const { return records_.size(); }
  const ErrorRecord& RecordAt(size_t index) const { return *records_[index]; }

  bool SuppressRepeats() const { return suppress_repeats_; }
  void SetSuppressRepeats(bool on) { suppress_repeats_ = on; }

 private:
  bool IsRepeat(std::u16string_view text, int32_t code) const;

  std::vector<std::unique_ptr<ErrorRecord>> records_;  // the last one is the current error
  bool suppress_repeats_ = true;
  std::u16string composed_;
};

// ---- CMacroError -------------------------------------------------------------------------

class CMacroError : public CVLError {
 public:
  // The table is not owned and may be null; it must outlive this object.
  explicit CMacroError(const app::CVLResString* table = nullptr) : table_(table) {}

  // Own codes: the text of the key named by the message number in decimal (with the
  // arguments substituted), else "PERR_MACRO_GENERIC" formatted with the number; without
  // a table the number itself. Other codes: as CVLError.
  size_t GetSystemMessage(int32_t code, char16_t* out, size_t outChars, std::span<const std::u16string> args,
                          uint32_t source) const override;
  // Key records: the key's text, or the key itself (at most 260 characters) when the table
  // is absent or lacks it.
  std::u16string ResolveText(const ErrorRecord& record) const override;
  bool IsOwnCode(int32_t code) const override;

  // A key error whose template takes two texts. The second text goes to the current
  // record whenever the first was given, even when the key error was a suppressed repeat.
  virtual ErrorRecord* AddKeyErrorWithTexts(std::u16string_view key, int32_t code, const char16_t* firstText,
                                            const char16_t* secondText);
  virtual void Reset();

  const app::CVLResString* Table() const { return table_; }

 private:
  std::u16string OwnCodeMessage(int32_t code, std::span<const std::u16string> args) const;

  const app::CVLResString* table_;
};

}  // namespace macro
