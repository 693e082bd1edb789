#include "macro/error_state.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace macro {
namespace {

constexpr char16_t kSentinel = 0xAAAA;
const std::u16string kFailure = u"Failed to get system error message on error 0x5 for the error 0x7a";

// The system's message without its closing CR LF, as FormatSystemError shows it.
std::u16string SystemText(uint32_t code) {
  std::u16string text = plat::FormatSystemMessage(code).value_or(u"\r\n");
  return text.substr(0, text.size() - 2);
}

TEST(MacroFileErrorState, SetGetAndClear) {
  std::u16string key = u"IDS_ERR_FILEFORMAT";
  SetMacroFileError(kErrFileFormat, key.c_str());
  key[0] = u'X';  // the state keeps its own copy
  int32_t code = 0;
  EXPECT_EQ(std::u16string(GetMacroFileError(&code)), u"IDS_ERR_FILEFORMAT");
  EXPECT_EQ(code, kErrFileFormat);

  SetMacroFileError(5, u"");  // codes are kept as given; an empty key reads as none
  EXPECT_EQ(GetMacroFileError(&code), nullptr);
  EXPECT_EQ(code, 5);
  SetMacroFileError(kErrFileVersion, nullptr);
  EXPECT_EQ(GetMacroFileError(nullptr), nullptr);

  ClearMacroFileError();
  code = 77;
  EXPECT_EQ(GetMacroFileError(&code), nullptr);
  EXPECT_EQ(code, 0);
}

TEST(MacroFileErrorState, KeyIsCutAfter259Characters) {
  std::u16string longer(300, u'q');
  longer[258] = u'L';
  SetMacroFileError(1, longer.c_str());
  EXPECT_EQ(std::u16string(GetMacroFileError(nullptr)), longer.substr(0, 259));
  SetMacroFileError(1, u"IDS_X");  // nothing of the longer key stays behind
  EXPECT_EQ(std::u16string(GetMacroFileError(nullptr)), u"IDS_X");
  ClearMacroFileError();
}

TEST(ErrorCodes, OwnCodesNumbersAndKeys) {
  const struct {
    int32_t code;
    uint32_t raw;
    int32_t number;
    std::u16string key;
  } owns[] = {
      {kErrAccessDenied, 0x80902719u, 10009, u"IDS_ERR_ACCESSDENIED"},
      {kErrFileOpen, 0x80902723u, 10019, u"IDS_ERR_FILEOPEN"},
      {kErrFileFormat, 0x80902725u, 10021, u"IDS_ERR_FILEFORMAT"},
      {kErrNotEnoughMem, 0x80902727u, 10023, u"IDS_ERR_NOTENOUGHMEM"},
      {kErrFileVersion, 0x80902728u, 10024, u"IDS_ERR_FILEVERSION"},
      {kErrBadFile, 0x80902729u, 10025, u"IDS_ERR_BADFILE"},
      {kErrAttachmentsBad, 0x8090272Cu, 10028, u"IDS_ERR_ATTACHMENTS_BAD"},
  };
  for (const auto& own : owns) {
    EXPECT_EQ(static_cast<uint32_t>(own.code), own.raw);
    EXPECT_TRUE(IsOwnErrorCode(own.code)) << own.raw;
    EXPECT_EQ(OwnMessageNumber(own.code), own.number) << own.raw;
    EXPECT_EQ(std::u16string(OwnErrorKey(own.code)), own.key);
  }
  EXPECT_EQ(OwnErrorKey(static_cast<int32_t>(0x8090272Au)), nullptr);
  EXPECT_EQ(OwnErrorKey(static_cast<int32_t>(0x80070005u)), nullptr);
}

TEST(ErrorCodes, ClassificationBoundaries) {
  EXPECT_TRUE(IsOwnErrorCode(0x00900000));
  EXPECT_FALSE(IsOwnErrorCode(static_cast<int32_t>(0x80910000u)));
  EXPECT_FALSE(IsOwnErrorCode(0x90));

  EXPECT_EQ(StoredErrorCode(0), 0);
  EXPECT_EQ(static_cast<uint32_t>(StoredErrorCode(1)), 0x80070001u);
  EXPECT_EQ(static_cast<uint32_t>(StoredErrorCode(0xFFFF)), 0x8007FFFFu);
  EXPECT_EQ(StoredErrorCode(0x10000), 0x10000);
  EXPECT_EQ(StoredErrorCode(-1), -1);
  EXPECT_EQ(StoredErrorCode(kErrFileFormat), kErrFileFormat);

  // The facility is bits 16 to 28; the three bits above it do not count.
  EXPECT_TRUE(IsWin32ErrorCode(static_cast<int32_t>(0xE0070001u)));
  EXPECT_FALSE(IsWin32ErrorCode(static_cast<int32_t>(0x90070001u)));
  EXPECT_FALSE(IsWin32ErrorCode(kErrFileFormat));
  EXPECT_FALSE(IsWin32ErrorCode(32));
}

TEST(SystemErrorText, MessageWithAndWithoutPrefix) {
  std::vector<char16_t> buffer(260, kSentinel);
  EXPECT_EQ(FormatSystemError(0x80070005u, buffer.data(), buffer.size(), false), 1);
  EXPECT_EQ(std::u16string(buffer.data()), SystemText(5));
#ifndef _WIN32
  EXPECT_EQ(std::u16string(buffer.data()), u"Access is denied.");
#endif
  EXPECT_EQ(FormatSystemError(0x8007007Au, buffer.data(), buffer.size(), true), 1);
  EXPECT_EQ(std::u16string(buffer.data()), u"(0x8007007A) " + SystemText(122));

  // No message: the code and the system's error for the failed request.
  EXPECT_EQ(FormatSystemError(0x80902729u, buffer.data(), buffer.size(), true), 0);
  EXPECT_EQ(std::u16string(buffer.data()),
            u"(0x80902729) Failed to get system error message on error 0x80902729 for the error 0x13d");
}

// The system gets one character less than remains and refuses a message (CR LF and
// terminator included) that does not fit, so n characters need a buffer of n + 4.
TEST(SystemErrorText, BufferBoundaries) {
  const size_t fits = SystemText(5).size() + 4;
  const auto run = [](size_t chars, bool prefix, int expected_result) {
    std::vector<char16_t> buffer(chars + 4, kSentinel);
    EXPECT_EQ(FormatSystemError(5, buffer.data(), chars, prefix), expected_result) << chars;
    EXPECT_EQ(buffer[chars], kSentinel) << "wrote past " << chars;
    return chars == 0 ? std::u16string() : std::u16string(buffer.data());
  };
  EXPECT_EQ(run(fits, false, 1), SystemText(5));
  EXPECT_EQ(run(fits - 1, false, 0), kFailure.substr(0, fits - 2));  // ERROR_INSUFFICIENT_BUFFER
  EXPECT_EQ(run(fits + 6, true, 1), u"(0x5) " + SystemText(5));
  EXPECT_EQ(run(fits + 5, true, 0), u"(0x5) " + kFailure.substr(0, fits - 2));
  EXPECT_EQ(run(5, true, 0), u"(0x5");
  EXPECT_EQ(run(1, true, 0), u"");
  EXPECT_EQ(run(0, true, 0), u"");
  EXPECT_EQ(FormatSystemError(5, nullptr, 10, false), 0);
}

}  // namespace
}  // namespace macro
