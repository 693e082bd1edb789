#include "macro/vl_error.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "app/res_string.h"
#include "macro/error_state.h"
#include "platform/platform.h"

namespace macro {
namespace {

using Texts = std::vector<std::u16string>;
constexpr char16_t kSentinel = 0xAAAA;
constexpr int32_t kHrAccessDenied = static_cast<int32_t>(0x80070005u);

std::u16string SystemText(uint32_t code) {
  std::u16string text = plat::FormatSystemMessage(code).value_or(u"\r\n");
  return text.substr(0, text.size() - 2);
}

std::u16string Messages(CVLError& errors, bool all, bool with_codes) {
  const char16_t* text = errors.GetMessages(all, with_codes);
  return text == nullptr ? u"<none>" : std::u16string(text);
}

app::CVLResString Table(const std::string& lines) {
  app::CVLResString table;
  EXPECT_TRUE(table.LoadText("[String]\r\n" + lines));
  return table;
}

TEST(ErrorArgText, EachTypeAtItsWidth) {
  const struct {
    ErrorArg arg;
    std::u16string text;
  } cases[] = {
      {ErrorArg::Text(u"a %s.msd"), u"a %s.msd"},
      {ErrorArg::Bool(true), u"TRUE"},
      {ErrorArg::Integer(kArgBool, 0x100), u"FALSE"},  // one byte
      {ErrorArg::Int(std::numeric_limits<int32_t>::min()), u"-2147483648"},
      {ErrorArg::Integer(kArgLong, 0x1FFFFFFFFll, true), u"-1"},  // no hex for signed types
      {ErrorArg::Float(-0.25f), u"-0.250000"},
      {ErrorArg::Double(16777217.0), u"1.67772e+07"},
      {ErrorArg::Integer(kArgByte, 0x1FF), u"255"},
      {ErrorArg::Byte(200, true), u"0xc8"},
      {ErrorArg::Integer(kArgWord, 0x12345, true), u"0x2345"},
      {ErrorArg::Integer(kArgDword, -1), u"4294967295"},
      {ErrorArg::Int64(std::numeric_limits<int64_t>::min()), u"-9223372036854775808"},
      {ErrorArg::Integer(10, 0x1FFFFFFFEll), u"4294967294"},  // unlisted types: 32 unsigned bits
      {ErrorArg::Integer(1000, 255, true), u"0xff"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorArgText(c.arg), c.text) << "type " << c.arg.type;
  ErrorArg wide = ErrorArg::Float(0.0f);
  wide.real = 16777217.0;  // a float cannot hold it
  EXPECT_EQ(ErrorArgText(wide), u"16777216.000000");
}

// Substitutes into a buffer of out_chars (checked for overruns); "text|length|used".
std::u16string Sub(std::u16string_view format, const Texts& args, size_t out_chars = 100) {
  std::vector<char16_t> out(out_chars + 2, kSentinel);
  size_t used = 99;
  const size_t length = SubstituteTexts(format, args, out.data(), out_chars, &used);
  EXPECT_EQ(out[out_chars], kSentinel) << "wrote past the buffer";
  std::string counts = "|";
  counts += std::to_string(length);
  counts += '|';
  counts += std::to_string(used);
  return (out_chars == 0 ? u"" : std::u16string(out.data())) + std::u16string(counts.begin(), counts.end());
}

TEST(ErrorSubstitution, MarkersArgumentsAndCuts) {
  EXPECT_EQ(Sub(u"%s to %s", {u"a", u"b"}), u"a to b|6|2");
  EXPECT_EQ(Sub(u"File %s, %s.", {u"a"}), u"File a, %s.|11|1");  // leftover marker stays
  EXPECT_EQ(Sub(u"%d%% %s %x", {u"it", u"more"}), u"%d%% it %x|10|1");
  EXPECT_EQ(Sub(u"%s%s", {u"%s", u"x"}), u"%sx|3|2");  // an argument's marker is text
  EXPECT_EQ(Sub(u"%s", {}), u"%s|2|0");
  // "abcXYZdef" with cuts at every interesting place.
  EXPECT_EQ(Sub(u"abc%sdef", {u"XYZ"}, 10), u"abcXYZdef|9|1");
  EXPECT_EQ(Sub(u"abc%sdef", {u"XYZ"}, 9), u"abcXYZde|8|1");
  EXPECT_EQ(Sub(u"abc%sdef", {u"XYZ"}, 6), u"abcXY|5|1");
  EXPECT_EQ(Sub(u"abc%sdef", {u"XYZ"}, 4), u"abc|3|0");
  EXPECT_EQ(Sub(u"abc%sdef", {u"XYZ"}, 1), u"|0|0");
  EXPECT_EQ(Sub(u"abc%sdef", {u"XYZ"}, 0), u"|0|0");
  EXPECT_EQ(Sub(u"ab%s%s", {u"", u"Z"}, 3), u"ab|2|1");  // an empty argument is used
}

TEST(VLErrorRecording, CodesAndKinds) {
  CVLError errors;
  errors.SetSuppressRepeats(false);
  EXPECT_EQ(errors.AddKeyError(u"IDS_X", 0), nullptr);  // code 0 records nothing
  EXPECT_EQ(errors.RecordCount(), 0u);
  EXPECT_EQ(errors.GetLastCode(), 0);

  const uint32_t before = plat::GetTickCount();
  const ErrorRecord* key = errors.AddKeyError(u"IDS_ERR_FILEOPEN", 5);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->code, kHrAccessDenied);
  EXPECT_EQ(key->kind, kRecordKey);
  EXPECT_EQ(key->text, u"IDS_ERR_FILEOPEN");
  EXPECT_LE(key->tick - before, 5000u);
  EXPECT_EQ(errors.AddTextError(u"x", 0xFFFF)->kind, kRecordText);
  EXPECT_EQ(static_cast<uint32_t>(errors.GetLastCode()), 0x8007FFFFu);
  EXPECT_EQ(errors.AddKeyError(u"", 0x10000)->kind, kRecordCode);  // no text, no key
  EXPECT_EQ(errors.GetLastCode(), 0x10000);
  EXPECT_EQ(errors.AddError(u"y", -1, nullptr, kRecordText, 0x1234)->source, 0x1234u);
  EXPECT_EQ(errors.GetLastCode(), -1);
  EXPECT_EQ(errors.RecordCount(), 4u);
}

TEST(VLErrorRecording, RepeatsOfTheCurrentRecord) {
  CVLError errors;
  const ErrorArg a = ErrorArg::Text(u"a"), b = ErrorArg::Text(u"b");
  ErrorRecord* record = errors.AddKeyError(kKeyBadFile, kErrBadFile, &a);
  record->tick -= 100000u;
  const uint32_t old_tick = record->tick;
  EXPECT_EQ(errors.AddKeyError(kKeyBadFile, kErrBadFile, &b), nullptr);
  EXPECT_EQ(errors.AddTextError(kKeyBadFile, kErrBadFile), nullptr);  // the kind is not compared
  EXPECT_NE(record->tick, old_tick);                                  // refreshed
  EXPECT_EQ(record->arguments, Texts{u"a"});                          // no argument added

  EXPECT_NE(errors.AddKeyError(u"ids_err_badfile", kErrBadFile), nullptr);  // case counts
  EXPECT_NE(errors.AddKeyError(kKeyBadFile, kErrBadFile), nullptr);         // only the current one
  EXPECT_NE(errors.AddKeyError(kKeyBadFile, kErrFileFormat), nullptr);
  EXPECT_EQ(errors.RecordCount(), 4u);

  // The stored code is compared with the code as passed: a bare 5 never matches 0x80070005.
  errors.AddCodeError(5);
  EXPECT_NE(errors.AddCodeError(5), nullptr);
  EXPECT_EQ(errors.AddCodeError(kHrAccessDenied), nullptr);
  EXPECT_EQ(errors.AddKeyError(u"", kHrAccessDenied), nullptr);  // empty and absent are equal
  EXPECT_EQ(errors.RecordCount(), 6u);

  errors.SetSuppressRepeats(false);
  EXPECT_NE(errors.AddCodeError(kHrAccessDenied), nullptr);
}

TEST(VLErrorRecording, NotFoundAndNoMoreItemsAreOneError) {
  CVLError errors;
  errors.AddCodeError(kErrHrNoMoreItems);
  EXPECT_EQ(errors.AddCodeError(kErrHrNotFound), nullptr);
  EXPECT_EQ(errors.GetLastCode(), kErrHrNoMoreItems);
  EXPECT_NE(errors.AddCodeError(0x490), nullptr);  // only in HRESULT form

  errors.AddTextError(u"end", kErrHrNotFound);
  EXPECT_EQ(errors.AddTextError(u"end", kErrHrNoMoreItems), nullptr);
  EXPECT_NE(errors.AddTextError(u"End", kErrHrNoMoreItems), nullptr);
  EXPECT_EQ(errors.RecordCount(), 4u);
}

TEST(VLErrorRecording, ArgumentsDetailWin32AndClear) {
  CVLError errors;
  const ErrorArg number = ErrorArg::Int(42), hex = ErrorArg::Dword(255, true);
  errors.AddArgument(&number);  // no record: nothing happens
  errors.SetDetail(u"lost");
  EXPECT_EQ(errors.GetLastWin32Error(), -1);

  errors.AddKeyError(u"IDS_A", static_cast<int32_t>(0x80070020u), &number);
  errors.AddArgument(&hex);
  errors.AddArgument(nullptr);
  errors.SetDetail(u"detail");
  EXPECT_EQ(errors.GetLastRecord()->arguments, (Texts{u"42", u"0xff"}));
  EXPECT_EQ(errors.GetLastRecord()->detail, u"detail");
  EXPECT_EQ(errors.GetLastWin32Error(), 32);
  errors.AddCodeError(kErrFileFormat);
  EXPECT_EQ(errors.GetLastWin32Error(), -1);
  errors.AddCodeError(0x00070002);
  EXPECT_EQ(errors.GetLastWin32Error(), 2);

  ASSERT_NE(errors.GetMessages(true, false), nullptr);
  errors.Clear();
  EXPECT_EQ(errors.RecordCount(), 0u);
  EXPECT_EQ(errors.ComposedMessage(), u"");
  EXPECT_EQ(errors.GetMessages(true, true), nullptr);
}

TEST(VLErrorRecording, CopyToReplacesTheOtherList) {
  CVLError from;
  const ErrorArg number = ErrorArg::Int(-3);
  from.AddError(u"IDS_A %s", 5, &number, kRecordKey, 99);
  from.SetDetail(u"detail a");
  from.AddCodeError(kErrFileOpen);
  CMacroError to;
  to.AddCodeError(8);
  from.CopyTo(to);
  ASSERT_EQ(to.RecordCount(), 2u);
  const ErrorRecord& first = to.RecordAt(0);
  EXPECT_EQ(first.kind, kRecordKey);
  EXPECT_EQ(first.code, kHrAccessDenied);
  EXPECT_EQ(first.text, u"IDS_A %s");
  EXPECT_EQ(first.detail, u"detail a");
  EXPECT_EQ(first.arguments, Texts{u"-3"});
  EXPECT_EQ(first.source, 0u);
  from.Clear();  // the copies are independent
  EXPECT_EQ(Messages(to, true, true), u"0x80070005 - IDS_A -3\r\n10019 - 10019");
  to.CopyTo(to);
  EXPECT_EQ(to.RecordCount(), 2u);
  from.CopyTo(to);
  EXPECT_EQ(to.RecordCount(), 0u);
}

TEST(VLErrorMessages, PlainListWritesEveryCodeByItsLowWord) {
  CVLError errors;
  const ErrorArg path = ErrorArg::Text(u"a.msd");
  errors.AddTextError(u"50%s done", 1, &path);  // literal: no substitution, no code
  errors.AddKeyError(u"Cannot open %s (%s)", kErrFileOpen, &path);
  errors.AddCodeError(kHrAccessDenied);
  errors.AddKeyError(u"minus", -1);  // never written with a code
  errors.AddCodeError(kErrBadFile);  // no table: the system has no text for it
  EXPECT_EQ(Messages(errors, true, true), u"50%s done\r\n10019 - Cannot open a.msd (%s)\r\n5 - " + SystemText(5) +
                                              u"\r\nminus\r\n10025 - Failed to get system error message on error "
                                              u"0x80902729 for the error 0x13d");
  EXPECT_EQ(Messages(errors, false, false),
            u"Failed to get system error message on error 0x80902729 for the error 0x13d");
  const char16_t* composed = errors.GetMessages(false, true);
  EXPECT_EQ(composed, errors.ComposedMessage().c_str());
}

TEST(VLErrorMessages, RecordBuffersAndSizeQueries) {
  CVLError errors;
  errors.AddKeyError(std::u16string(3000, u'k'), 1);  // through the 1040-character buffer
  EXPECT_EQ(Messages(errors, true, false), std::u16string(kRecordMessageChars - 1, u'k'));
  errors.AddTextError(std::u16string(3000, u't'), 1);  // literal text is not
  EXPECT_EQ(Messages(errors, false, false).size(), 3000u);

  const ErrorArg xyz = ErrorArg::Text(u"XYZ");
  const ErrorRecord* record = errors.AddKeyError(u"ab%scd", 2, &xyz);
  EXPECT_EQ(errors.FormatRecord(*record, nullptr, 0), 9u);  // text and arguments
  std::vector<char16_t> out(8, kSentinel);
  EXPECT_EQ(errors.FormatRecord(*record, out.data(), 6), 5u);
  EXPECT_EQ(std::u16string(out.data()), u"abXYZ");
  EXPECT_EQ(out[6], kSentinel);

  // Code records ask the system: the size query counts its CR LF, a module has no table.
  EXPECT_EQ(errors.FormatRecord(*errors.AddCodeError(5), nullptr, 0), SystemText(5).size() + 2);
  EXPECT_EQ(errors.FormatRecord(*errors.AddCodeError(0x2FFFFFF0), nullptr, 0), 0u);
  EXPECT_EQ(errors.FormatRecord(*errors.AddError(u"", 2, nullptr, kRecordCode, 0x400000), nullptr, 0), 0u);
  out.assign(16, kSentinel);
  EXPECT_EQ(errors.GetSystemMessage(2, out.data(), 12, {}, 0), 11u);  // too small for the system
  EXPECT_EQ(std::u16string(out.data()), u"Failed to g");
}

TEST(MacroErrorMessages, KeysAndWin32Codes) {
  const app::CVLResString table = Table("IDS_COPY=Cannot copy %s to %s.\r\nIDS_A=Text of A\r\n");
  CMacroError errors(&table);
  errors.AddKeyError(kKeyBadFile, kErrBadFile);  // missing from the table
  errors.AddCodeError(5);
  errors.AddKeyErrorWithTexts(u"IDS_COPY", 0x7A, u"x.msd", u"D:\\y.msd");
  EXPECT_EQ(Messages(errors, true, true), u"10025 - IDS_ERR_BADFILE\r\n0x80070005 - " + SystemText(5) +
                                              u"\r\n0x8007007a - Cannot copy x.msd to D:\\y.msd.");
#ifndef _WIN32
  EXPECT_NE(Messages(errors, true, true).find(u"0x80070005 - Access is denied.\r\n"), std::u16string::npos);
#endif
  EXPECT_TRUE(errors.IsOwnCode(0x00901234));
  EXPECT_FALSE(errors.IsOwnCode(0x10025));

  errors.SetSuppressRepeats(false);
  EXPECT_EQ(errors.ResolveText(*errors.AddKeyError(u"IDS_A", 1)), u"Text of A");
  EXPECT_EQ(errors.ResolveText(*errors.AddTextError(u"IDS_A", 1)), u"IDS_A");
  const std::u16string long_key = u"IDS_" + std::u16string(400, u'Z');
  EXPECT_EQ(errors.ResolveText(*errors.AddKeyError(long_key, 1)), long_key.substr(0, 260));
  const app::CVLResString long_table = Table("IDS_LONG=" + std::string(300, 'T') + "\r\n");
  CMacroError long_errors(&long_table);
  EXPECT_EQ(long_errors.ResolveText(*long_errors.AddKeyError(u"IDS_LONG", 1)), std::u16string(260, u'T'));
}

TEST(MacroErrorMessages, OwnCodesThroughTheTable) {
  const app::CVLResString table =
      Table("10021=Macro %s has a wrong format.\r\n10025=\r\nPERR_MACRO_GENERIC=Macro error %d.\r\n");
  CMacroError errors(&table);
  const ErrorArg path = ErrorArg::Text(u"m.msd");
  errors.AddCodeError(kErrFileFormat, &path);
  EXPECT_EQ(Messages(errors, true, true), u"10021 - Macro m.msd has a wrong format.");
  errors.Reset();
  errors.AddCodeError(kErrFileFormat);             // without arguments the text is taken whole
  errors.AddCodeError(kErrBadFile);                // empty text: the generic one
  errors.AddCodeError(kErrAttachmentsBad, &path);  // missing: the generic one
  EXPECT_EQ(Messages(errors, true, false), u"Macro %s has a wrong format.\r\nMacro error 10025.\r\nMacro error 10028.");

  std::vector<char16_t> out(32, kSentinel);
  EXPECT_EQ(errors.GetSystemMessage(kErrBadFile, out.data(), 6, {}, 0), 5u);
  EXPECT_EQ(std::u16string(out.data()), u"Macro");
  EXPECT_EQ(out[6], kSentinel);
  EXPECT_EQ(errors.GetSystemMessage(kErrBadFile, nullptr, 0, {}, 0), 18u);

  const app::CVLResString sparse = Table("IDS_OTHER=x\r\n");
  CMacroError no_generic(&sparse);
  no_generic.AddCodeError(kErrFileVersion);
  EXPECT_EQ(Messages(no_generic, true, true), u"10024 - PERR_MACRO_GENERIC");

  CMacroError no_table;
  no_table.AddCodeError(kErrNotEnoughMem);
  no_table.AddKeyError(kKeyAccessDenied, kErrAccessDenied);
  EXPECT_EQ(Messages(no_table, true, true), u"10023 - 10023\r\n10009 - IDS_ERR_ACCESSDENIED");
}

TEST(MacroErrorMessages, KeyErrorWithTexts) {
  CMacroError errors;
  errors.SetSuppressRepeats(false);
  EXPECT_EQ(errors.AddKeyErrorWithTexts(u"IDS_K", 1, u"one", u"two")->arguments, (Texts{u"one", u"two"}));
  EXPECT_EQ(errors.AddKeyErrorWithTexts(u"IDS_K", 1, u"one", nullptr)->arguments, Texts{u"one"});
  EXPECT_EQ(errors.AddKeyErrorWithTexts(u"IDS_K", 1, nullptr, u"two")->arguments, Texts{});
  EXPECT_EQ(errors.AddKeyErrorWithTexts(u"IDS_K", 1, u"", u"")->arguments, (Texts{u"", u""}));

  // A suppressed repeat records nothing, but the second text still joins the current record.
  errors.SetSuppressRepeats(true);
  ErrorRecord* record = errors.AddKeyErrorWithTexts(kKeyBadFile, kErrBadFile, u"a", u"b");
  EXPECT_EQ(errors.AddKeyErrorWithTexts(kKeyBadFile, kErrBadFile, u"c", u"d"), nullptr);
  EXPECT_EQ(record->arguments, (Texts{u"a", u"b", u"d"}));
}

}  // namespace
}  // namespace macro
