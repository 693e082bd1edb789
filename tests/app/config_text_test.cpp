#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "app/config_text.h"
#include "app/vl_reg.h"
#include "platform/testing.h"
#include "support/scratch.h"

namespace app {
namespace {

std::string Utf16File(std::u16string_view text, bool mark = true) {
  return (mark ? "\xFF\xFE" : "") + plat::ToUtf16Le(text);
}

TEST(ConfigText, SectionsAndKeysByTheirOwnRules) {
  const ConfigText text(
      u"[General]\r\nLanguage=en\r\n"
      u"[  UIFont\t]\r\n  Size = 12\r\nFaceName=  Arial  \r\n"
      u";Pause_VK=1\r\n"
      u"[HotKey]\r\n;Pause_VK=9\r\nx Pause_VK=8\r\nPause_VK=70\r\n"
      u"[Play]\nspeed_fatestfactor=250\n[Empty]\nKey=\n");
  EXPECT_EQ(text.Find(u"uifont", u"size"), std::u16string_view(u" 12"));
  EXPECT_EQ(text.Find(u"UIFont", u"FaceName"), std::u16string_view(u"  Arial  ")) << "values are not trimmed";
  EXPECT_EQ(text.Find(u"HotKey", u"Pause_VK"), std::u16string_view(u"70")) << "commented and prefixed keys skipped";
  EXPECT_EQ(text.Find(u"General", u"Size"), std::nullopt) << "a key of another section";
  EXPECT_EQ(text.Find(u"Play", u"Speed_FatestFactor"), std::u16string_view(u"250"));
  EXPECT_EQ(text.Int(u"UIFont", u"Size", 90), 12);
  EXPECT_EQ(text.Int(u"Empty", u"Key", 90), 90) << "an empty value gives the default";
  EXPECT_EQ(text.Int(u"Empty", u"Missing", -4), -4);
  EXPECT_EQ(text.String(u"UIFont", u"FaceName", u"x", 5), u"  Ar") << "cut to the buffer less one";
  EXPECT_EQ(text.String(u"None", u"Key", u"dflt", 64), u"dflt");
}

TEST(ConfigText, SectionNameMustStandInBrackets) {
  const ConfigText text(u"General=[x]\r\nHotKey here\r\n [ HotKey ] \r\nPause_VK=1\r\n");
  EXPECT_EQ(text.Find(u"HotKey", u"Pause_VK"), std::u16string_view(u"1"));
  const ConfigText unclosed(u"[HotKey\r\nPause_VK=1\r\n");
  EXPECT_EQ(unclosed.Find(u"HotKey", u"Pause_VK"), std::nullopt);
  const ConfigText header_line(u"[HotKey] Pause_VK=1\r\n");
  EXPECT_EQ(header_line.Find(u"HotKey", u"Pause_VK"), std::nullopt);
}

TEST(ConfigText, IntegersFollowTheRuntimeRule) {
  struct Case {
    std::u16string text;
    int32_t value;
  };
  const Case cases[] = {
      {u"  -53x", -53},
      {u"+7", 7},
      {u"abc", 0},
      {u"2147483647", INT32_MAX},
      {u"2147483648", INT32_MAX},
      {u"99999999999", INT32_MAX},
      {u"4294967297", INT32_MAX},
      {u"-2147483648", INT32_MIN},
      {u"-2147483649", INT32_MIN},
      {u"-99999999999", INT32_MIN},
      {std::u16string(70, u'1'), INT32_MAX},  // read from its first 63 units, no overrun
  };
  for (const Case& c : cases) {
    const ConfigText text(u"[S]\nK=" + c.text + u"\n");
    EXPECT_EQ(text.Int(u"S", u"K", 9), c.value) << plat::Utf16ToUtf8(c.text);
#ifdef _WIN32
    // The rule is the runtime's own.
    EXPECT_EQ(::_wtoi(reinterpret_cast<const wchar_t*>(c.text.c_str())), c.value) << plat::Utf16ToUtf8(c.text);
#endif
  }
}

class ConfigFileTest : public brankel_test::ScratchTest {};

TEST_F(ConfigFileTest, ReadsUtf16AndSkipsTheMark) {
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"c.ini"), Utf16File(u"[S]\r\nK=v\r\n")));
  const std::optional<std::u16string> text = ReadConfigText(Path(u"c.ini"));
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, u"[S]\r\nK=v\r\n");
  EXPECT_FALSE(ReadConfigText(Path(u"missing.ini")).has_value());
  // Another encoding yields no matches.
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"a.ini"), "[S]\r\nK=v\r\n"));
  EXPECT_EQ(ConfigText(*ReadConfigText(Path(u"a.ini"))).Find(u"S", u"K"), std::nullopt);
}

TEST_F(ConfigFileTest, WaitsWhileAnotherProgramHoldsTheFile) {
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"held.ini"), Utf16File(u"[S]\r\nK=v\r\n")));
  plat::FileHandle holder = plat::OpenFile(Path(u"held.ini"), plat::kGenericWrite, 0, plat::Disposition::kOpenExisting);
  ASSERT_NE(holder, nullptr);
  std::thread release([holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    plat::CloseFile(holder);
  });
  const std::optional<std::u16string> text = ReadConfigText(Path(u"held.ini"));
  release.join();
  EXPECT_TRUE(text.has_value()) << "read once the holder let go";

  holder = plat::OpenFile(Path(u"held.ini"), plat::kGenericWrite, 0, plat::Disposition::kOpenExisting);
  ASSERT_NE(holder, nullptr);
  EXPECT_FALSE(ReadConfigText(Path(u"held.ini"), 10, 100).has_value()) << "gives up at the limit";
  plat::CloseFile(holder);
}

class IniDefaultsTest : public brankel_test::ScratchTest {
 protected:
  std::u16string Read(std::u16string_view key, const char16_t* fallback, uint32_t length, bool* got = nullptr) {
    std::u16string buffer(length + 4, u'#');
    const bool read = CVLReg::ReadIniString(Path(u"r.ini"), u"S", key, buffer.data(), fallback, length);
    if (got != nullptr) *got = read;
    EXPECT_EQ(buffer[length], u'#') << "nothing past the buffer";
    return buffer.substr(0, std::char_traits<char16_t>::length(buffer.c_str()));
  }
};

TEST_F(IniDefaultsTest, StoredDefaultReadsAsTheCallersDefault) {
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"r.ini"), "[S]\r\nLiteral=default\r\nEmpty=\r\nValue=abc\r\n"));
  bool got = false;
  EXPECT_EQ(Read(u"Literal", u"mine", 260, &got), u"mine");
  EXPECT_TRUE(got);
  EXPECT_EQ(Read(u"Missing", u"mine", 260, &got), u"mine");
  EXPECT_TRUE(got) << "a missing key reads as present: the system returned its default";
  EXPECT_EQ(Read(u"Missing", nullptr, 260), u"");
  EXPECT_EQ(Read(u"Empty", u"mine", 260, &got), u"");
  EXPECT_FALSE(got);
  EXPECT_EQ(Read(u"Value", u"mine", 260), u"abc");
  // The system gets one unit less: "default" needs nine units to be seen whole.
  EXPECT_EQ(Read(u"Missing", u"mine", 9), u"mine");
  EXPECT_EQ(Read(u"Missing", u"mine", 8), u"defaul");
  EXPECT_EQ(Read(u"Missing", u"mine", 5), u"def");
  EXPECT_EQ(Read(u"Value", u"mine", 3), u"a");
  EXPECT_EQ(Read(u"Value", u"mine", 1), u"");
}

TEST_F(IniDefaultsTest, Integers) {
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"r.ini"), "[S]\r\nHue=-20\r\n"));
  EXPECT_EQ(CVLReg::ReadIniInt(Path(u"r.ini"), u"S", u"Hue", 0), -20);
  EXPECT_EQ(CVLReg::ReadIniInt(Path(u"r.ini"), u"S", u"Light", 7), 7);
}

TEST(RegistryReads, DwordOrFallback) {
  constexpr std::u16string_view kKey = u"Software\\BrankelTest\\Reg";
  ASSERT_TRUE(plat::testing::WriteRegistryValue(kKey, u"Version", 4601));
  ASSERT_TRUE(plat::testing::WriteRegistryValue(kKey, u"Name", 3, true));
  CVLReg reg;
  uint32_t value = 0;
  EXPECT_FALSE(reg.ReadDword(u"Version", &value, 11)) << "no key open";
  EXPECT_EQ(value, 11u);
  ASSERT_EQ(reg.OpenLocalMachine(kKey), 0u);
  EXPECT_TRUE(reg.ReadDword(u"Version", &value, 0));
  EXPECT_EQ(value, 4601u);
  EXPECT_FALSE(reg.ReadDword(u"Name", &value, 5)) << "not a DWORD";
  EXPECT_EQ(value, 5u);
  EXPECT_FALSE(reg.ReadDword(u"Missing", &value, 6));
  EXPECT_EQ(value, 6u);
  reg.Close();
  EXPECT_NE(reg.OpenLocalMachine(u"Software\\BrankelTest\\None"), 0u);
  plat::testing::DeleteRegistryKey(kKey);
}

}  // namespace
}  // namespace app
