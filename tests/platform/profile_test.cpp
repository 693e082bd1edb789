#include <gtest/gtest.h>

#include "support/scratch.h"

namespace brankel_test {
namespace {

class ProfileTest : public ScratchTest {
 protected:
  // Reads [section] key with a buffer of `size` units, returning the text and the count.
  std::pair<std::u16string, uint32_t> Read(std::u16string_view section, std::u16string_view key,
                                           std::u16string_view fallback = u"dflt", uint32_t size = 64,
                                           std::u16string_view file = {}) {
    std::u16string buffer(size + 1, u'#');
    const uint32_t count = plat::GetPrivateProfileString(section, key, fallback, buffer.data(), size,
                                                         file.empty() ? std::u16string_view(ini_) : file);
    if (size == 0) return {u"", count};
    EXPECT_LE(count, size - 1);
    EXPECT_EQ(buffer[count], u'\0') << "the result is terminated";
    return {buffer.substr(0, count), count};
  }

  void Write(std::string_view bytes) {
    ini_ = Path(u"test.ini");
    ASSERT_TRUE(WriteBytes(ini_, bytes));
  }

  std::u16string ini_;
};

TEST_F(ProfileTest, SectionsKeysBlanksAndQuotes) {
  Write(
      "; a comment\r\n"
      "[General]\r\n"
      "Language=en\r\n"
      "  Padded  =   spaced value   \r\n"
      "Quoted=\"  kept inside  \"\r\n"
      "Single='x'\r\n"
      "Half=\"open\r\n"
      "Empty=\r\n"
      "Twice=first\r\n"
      "Twice=second\r\n"
      ";Commented=yes\r\n"
      "[Other]\n"
      "Language=de\n");
  EXPECT_EQ(Read(u"General", u"Language").first, u"en");
  EXPECT_EQ(Read(u"general", u"LANGUAGE").first, u"en") << "names match without regard to case";
  EXPECT_EQ(Read(u"Other", u"Language").first, u"de");
  EXPECT_EQ(Read(u"General", u"Padded").first, u"spaced value");
  EXPECT_EQ(Read(u"General", u"Quoted").first, u"  kept inside  ");
  EXPECT_EQ(Read(u"General", u"Single").first, u"x");
  EXPECT_EQ(Read(u"General", u"Half").first, u"\"open");
  EXPECT_EQ(Read(u"General", u"Empty"), std::make_pair(std::u16string(), 0u));
  EXPECT_EQ(Read(u"General", u"Twice").first, u"first");
  EXPECT_EQ(Read(u"General", u"Commented").first, u"dflt");
  EXPECT_EQ(Read(u"General", u"Missing").first, u"dflt");
  EXPECT_EQ(Read(u"Nowhere", u"Language").first, u"dflt");
}

TEST_F(ProfileTest, ShortBuffersAndDefaults) {
  Write("[S]\nLong=abcdef\n");
  EXPECT_EQ(Read(u"S", u"Long", u"", 4), std::make_pair(std::u16string(u"abc"), 3u));
  EXPECT_EQ(Read(u"S", u"Long", u"", 7), std::make_pair(std::u16string(u"abcdef"), 6u));
  EXPECT_EQ(Read(u"S", u"Long", u"", 1), std::make_pair(std::u16string(), 0u));
  EXPECT_EQ(Read(u"S", u"Long", u"", 0).second, 0u);
  // The default loses its trailing blanks and is cut like a value.
  EXPECT_EQ(Read(u"S", u"None", u"default   ").first, u"default");
  EXPECT_EQ(Read(u"S", u"None", u"default", 4), std::make_pair(std::u16string(u"def"), 3u));
  EXPECT_EQ(Read(u"S", u"None", u""), std::make_pair(std::u16string(), 0u));
}

TEST_F(ProfileTest, MissingFileGivesTheDefault) {
  EXPECT_EQ(Read(u"S", u"K", u"fallback", 64, Path(u"absent.ini")).first, u"fallback");
  EXPECT_EQ(plat::GetPrivateProfileInt(u"S", u"K", 77, Path(u"absent.ini")), 77u);
}

TEST_F(ProfileTest, Integers) {
  Write("[Appearance]\nHue=30\nSaturation=-53\nTrailing=12abc\nEmpty=\nWord=abc\nSpaced=  8  \n");
  EXPECT_EQ(plat::GetPrivateProfileInt(u"Appearance", u"Hue", 0, ini_), 30u);
  EXPECT_EQ(static_cast<int32_t>(plat::GetPrivateProfileInt(u"Appearance", u"Saturation", 0, ini_)), -53);
  EXPECT_EQ(plat::GetPrivateProfileInt(u"Appearance", u"Trailing", 0, ini_), 12u);
  EXPECT_EQ(plat::GetPrivateProfileInt(u"Appearance", u"Word", 5, ini_), 0u);
  EXPECT_EQ(plat::GetPrivateProfileInt(u"Appearance", u"Spaced", 5, ini_), 8u);
  EXPECT_EQ(plat::GetPrivateProfileInt(u"Appearance", u"Empty", 90, ini_), 90u);
  EXPECT_EQ(plat::GetPrivateProfileInt(u"Appearance", u"Missing", 90, ini_), 90u);
  EXPECT_EQ(static_cast<int32_t>(plat::GetPrivateProfileInt(u"Appearance", u"Missing", -7, ini_)), -7);
}

// The Windows builds run the same table against the system's own GetPrivateProfileIntW.
TEST_F(ProfileTest, IntegersWrapAndTakeBasePrefixesAsTheSystemDoes) {
  struct Case {
    const char* text;
    uint32_t value;
  };
  static constexpr Case kCases[] = {
      {"2147483647", 2147483647u},
      {"2147483648", 0x80000000u},
      {"4294967295", 0xFFFFFFFFu},
      {"4294967296", 0u},
      {"4294967297", 1u},
      {"99999999999", 1215752191u},  // 99999999999 modulo 2^32: no saturation here
      {"-99999999999", 0u - 1215752191u},
      {"-2147483649", 2147483647u},
      {"-4294967297", 0xFFFFFFFFu},
      {"0x10", 16u},
      {"0xfFfFfFfF", 0xFFFFFFFFu},
      {"0x100000001", 1u},
      {"-0x10", 0u - 16u},
      {"0o17", 15u},
      {"0b101", 5u},
      {"0b102", 2u},
      {"0X10", 0u},  // the prefixes are lower case only
      {"0x", 0u},
      {"0xg", 0u},
      {"010", 10u},
      {"+-3", 0u},
      {"- 5", 0u},
  };
  const auto key = [](size_t i) { return std::string(1, 'K').append(std::to_string(i)); };
  std::string file = "[S]\r\n";
  for (size_t i = 0; i < std::size(kCases); ++i) file.append(key(i)).append("=").append(kCases[i].text).append("\r\n");
  Write(file);
  for (size_t i = 0; i < std::size(kCases); ++i) {
    EXPECT_EQ(plat::GetPrivateProfileInt(u"S", plat::AsciiToUtf16(key(i)), 77, ini_), kCases[i].value)
        << kCases[i].text;
  }
}

TEST_F(ProfileTest, Utf16FileWithByteOrderMark) {
  const std::u16string text = u"[Header]\r\nLocale=German\r\nGreeting=Gr\u00fc\u00dfe \u4e2d\r\n";
  Write("\xFF\xFE" + plat::ToUtf16Le(text));
  EXPECT_EQ(Read(u"Header", u"Locale").first, u"German");
  EXPECT_EQ(Read(u"header", u"greeting").first, u"Gr\u00fc\u00dfe \u4e2d");
}

TEST_F(ProfileTest, Utf8FileWithByteOrderMark) {
  Write("\xEF\xBB\xBF[Header]\nCRC=0123abcd\nSign=\xE2\x82\xAC 5\n");
  EXPECT_EQ(Read(u"Header", u"CRC").first, u"0123abcd");
  EXPECT_EQ(Read(u"Header", u"Sign").first, u"\u20ac 5");
}

TEST_F(ProfileTest, AnsiFileUsesTheCodePage) {
  if (plat::GetAnsiCodePage() != 1252) GTEST_SKIP() << "needs the Western code page";
  Write("[S]\nName=Caf\xE9 \x80\n");
  EXPECT_EQ(Read(u"S", u"Name").first, u"Caf\u00e9 \u20ac");
}

}  // namespace
}  // namespace brankel_test
