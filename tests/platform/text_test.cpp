#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/testing.h"
#include "platform/unicode.h"

namespace brankel_test {
namespace {

TEST(Utf, RoundTripsThroughBothForms) {
  const std::u16string text = u"Grüße \u4e2d\u6587 \U0001F600 end";
  const std::string utf8 = plat::Utf16ToUtf8(text);
  EXPECT_TRUE(plat::IsValidUtf8(utf8));
  EXPECT_EQ(plat::Utf8ToUtf16(utf8), text);
  EXPECT_EQ(utf8.substr(utf8.size() - 8, 4), "\xF0\x9F\x98\x80");
}

TEST(Utf, RejectsMalformedUtf8) {
  const char* bad[] = {"\xC0\x80", "\xED\xA0\x80", "\xE2\x82", "\xF4\x90\x80\x80", "\x80", "\xFF", "ok\xC3"};
  for (const char* text : bad) {
    EXPECT_FALSE(plat::IsValidUtf8(text)) << text;
    EXPECT_NE(plat::Utf8ToUtf16(text).find(u'\uFFFD'), std::u16string::npos) << text;
  }
  EXPECT_EQ(plat::Utf8ToUtf16("ok\xC3"), u"ok\uFFFD");
  EXPECT_TRUE(plat::IsValidUtf8(""));
  EXPECT_TRUE(plat::IsValidUtf8("\xEF\xBF\xBF"));
}

TEST(Utf, LoneSurrogatesBecomeReplacement) {
  const std::u16string lone = {u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
  EXPECT_EQ(plat::Utf16ToUtf8(lone),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
}

TEST(Utf, LittleEndianUnitsBothWays) {
  EXPECT_EQ(plat::ToUtf16Le(u"A\u4e2d"), std::string("A\0\x2d\x4e", 4));
  EXPECT_EQ(plat::FromUtf16Le(std::string("A\0\x2d\x4e", 4)), u"A\u4e2d");
  EXPECT_EQ(plat::FromUtf16Le(std::string("A\0B", 3)), u"A") << "an odd last byte is dropped";
  EXPECT_EQ(plat::FromUtf16Le(""), u"");
}

TEST(CaseMapping, LatinGreekCyrillic) {
  EXPECT_EQ(plat::ToUpper(u"macro.msd"), u"MACRO.MSD");
  EXPECT_EQ(plat::ToLower(u"MACRO.MSD"), u"macro.msd");
  EXPECT_EQ(plat::ToUpper(u"\u00e0\u00e9\u00ee\u00f6\u00fd"), u"\u00c0\u00c9\u00ce\u00d6\u00dd");
  EXPECT_EQ(plat::ToLower(u"\u0100\u0141\u017d"), u"\u0101\u0142\u017e");
  EXPECT_EQ(plat::ToUpper(u"\u03b1\u03c9\u0430\u044f\u0451"), u"\u0391\u03a9\u0410\u042f\u0401");
  EXPECT_EQ(plat::ToLower(u"\u00d7\u00f7 1-2"), u"\u00d7\u00f7 1-2") << "signs have no case";
  EXPECT_TRUE(plat::EqualNoCase(u"\u00c4rger.TXT", u"\u00e4RGER.txt"));
  EXPECT_FALSE(plat::EqualNoCase(u"abc", u"abcd"));
  EXPECT_FALSE(plat::EqualNoCase(u"abc", u"abd"));
}

TEST(AnsiCodePage, Western) {
  if (plat::GetAnsiCodePage() != 1252 && !plat::testing::SetAnsiCodePage(1252)) {
    GTEST_SKIP() << "the system's code page is " << plat::GetAnsiCodePage();
  }
  EXPECT_EQ(plat::AnsiToWide("Caf\xE9 \x80\x9F"), u"Caf\u00e9 \u20ac\u0178");
  EXPECT_EQ(plat::WideToAnsi(u"Caf\u00e9 \u20ac"), "Caf\xE9 \x80");
  EXPECT_EQ(plat::WideToAnsi(u"\u4e2d"), "?");
  EXPECT_EQ(plat::AnsiToWide(""), u"");
  std::string all;
  for (int byte = 1; byte < 256; ++byte) all.push_back(static_cast<char>(byte));
  EXPECT_EQ(plat::WideToAnsi(plat::AnsiToWide(all)), all) << "every byte survives a round trip";
}

TEST(AnsiCodePage, SimplifiedChinese) {
  const uint32_t previous = plat::GetAnsiCodePage();
  if (previous != 936 && !plat::testing::SetAnsiCodePage(936)) {
    GTEST_SKIP() << "the system's code page is " << previous;
  }
  EXPECT_EQ(plat::GetAnsiCodePage(), 936u);
  EXPECT_EQ(plat::AnsiToWide("\xD6\xD0\xCE\xC4 ok"), u"\u4e2d\u6587 ok");
  EXPECT_EQ(plat::WideToAnsi(u"\u4e2d\u6587 ok"), "\xD6\xD0\xCE\xC4 ok");
  EXPECT_EQ(plat::WideToAnsi(u"\u0100"), "?") << "a letter GBK lacks";
  plat::testing::SetAnsiCodePage(previous);
}

}  // namespace
}  // namespace brankel_test
