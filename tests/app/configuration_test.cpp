#include <gtest/gtest.h>

#include "app/brankel_app.h"
#include "platform/testing.h"
#include "platform/unicode.h"
#include "support/machine_config.h"
#include "support/scratch.h"

namespace app {
namespace {

using brankel_test::WriteBytes;

class ConfigurationTest : public brankel_test::MachineConfigTest {
 protected:
  void SetUp() override {
    MachineConfigTest::SetUp();
    if (IsSkipped()) return;
    code_page_ = plat::GetAnsiCodePage();
    app_.SetProgramFolder(u"C:\\Program Files\\Velmora\\Brankel\\");
    app_.SetConfigurationWait(300);
  }
  void TearDown() override {
    MachineConfigTest::TearDown();
    if (code_page_ != 0) plat::testing::SetAnsiCodePage(code_page_);
  }

  uint32_t code_page_ = 0;
  CBrankelApp app_;
};

TEST_F(ConfigurationTest, ProductFolderFromTheRegistry) {
  struct Case {
    int type, version;
    const char16_t* product;
  };
  const Case cases[] = {{3, 4601, kProductFennow},
                        {3, 4602, kProductPandrel},
                        {20, 9999, kProductFennow},
                        {0, 1, kProductPandrel},
                        {-1, -1, kProductPandrel}};
  for (const Case& c : cases) {
    plat::testing::DeleteRegistryKey(kMacroRegistryKey);
    if (c.type >= 0) {
      ASSERT_TRUE(plat::testing::WriteRegistryValue(kMacroRegistryKey, u"Type", c.type));
      ASSERT_TRUE(plat::testing::WriteRegistryValue(kMacroRegistryKey, u"Version", c.version));
    }
    ASSERT_TRUE(app_.LoadConfiguration());
    EXPECT_EQ(app_.ProductFolder(), c.product) << c.type << " " << c.version;
    EXPECT_TRUE(plat::EqualNoCase(app_.SharedDataFolder(), common_ + u"\\" + c.product));
    EXPECT_TRUE(plat::EqualNoCase(app_.UserDataFolder(), roaming_ + u"\\" + c.product));
  }
}

TEST_F(ConfigurationTest, FennowGetsItsOwnUserConfiguration) {
  ASSERT_TRUE(plat::testing::WriteRegistryValue(kMacroRegistryKey, u"Type", 20));
  Install("[General]\r\nLanguage=en\r\n", "[Appearance]\r\nHue=17\r\n", kProductFennow);
  ASSERT_TRUE(app_.LoadConfiguration());
  EXPECT_TRUE(plat::IsDirectory(app_.UserDataFolder()));
  EXPECT_TRUE(plat::FileExists(app_.UserConfigPath())) << "the template was copied";
  EXPECT_EQ(app_.Settings().Hue, 17);
}

TEST_F(ConfigurationTest, UserFolderAndTemplateCopy) {
  Install("[General]\r\nLanguage=en\r\n",
          "[UIFont]\r\nSize=11\r\nFaceName=Verdana\r\n[Options]\r\nUsingSystemAspect=0\r\n");
  ASSERT_TRUE(app_.LoadConfiguration());
  EXPECT_TRUE(app_.ConfigurationLoaded());
  EXPECT_EQ(brankel_test::ReadBytes(app_.UserConfigPath()),
            "[UIFont]\r\nSize=11\r\nFaceName=Verdana\r\n[Options]\r\nUsingSystemAspect=0\r\n");
  EXPECT_EQ(app_.Settings().FontSize, 11);
  EXPECT_EQ(plat::FixedText(app_.Settings().FontFace, 64), u"Verdana");
  EXPECT_EQ(app_.Settings().UseSystemColours, 0);
  // An existing user file is not replaced.
  ASSERT_TRUE(WriteBytes(app_.UserConfigPath(), "[UIFont]\r\nSize=14\r\n"));
  ASSERT_TRUE(app_.LoadConfiguration());
  EXPECT_EQ(app_.Settings().FontSize, 14);
  EXPECT_EQ(plat::FixedText(app_.Settings().FontFace, 64), plat::GetIconTitleFontFace().substr(0, 63));
  EXPECT_EQ(app_.Settings().UseSystemColours, 2);
}

TEST_F(ConfigurationTest, DefaultedLanguageFollowsTheCodePage) {
  Install("[General]\r\nCmd.exe=x\r\n", "[Appearance]\r\nHue=5\r\nSaturation=6\r\nLight=7\r\n");
  if (plat::testing::SetAnsiCodePage(936) || plat::GetAnsiCodePage() == 936) {
    ASSERT_TRUE(app_.LoadConfiguration());
    EXPECT_EQ(app_.LanguageCode(), u"gb");
    ASSERT_EQ(app_.LanguageFiles().size(), 2u);
    EXPECT_EQ(app_.LanguageFiles()[0], u"c:\\program files\\velmora\\brankel\\sysdata\\Packager_gb.lng");
    EXPECT_EQ(app_.LanguageFiles()[1], u"c:\\program files\\velmora\\brankel\\sysdata\\errormsg_gb.lng");
    EXPECT_EQ(app_.Settings().Hue, 30);
    EXPECT_EQ(app_.Settings().Saturation, -53);
    EXPECT_EQ(app_.Settings().Light, 7);
  }
  if (plat::testing::SetAnsiCodePage(1252) || plat::GetAnsiCodePage() == 1252) {
    ASSERT_TRUE(app_.LoadConfiguration());
    EXPECT_EQ(app_.LanguageCode(), u"en");
    EXPECT_TRUE(app_.LanguageDefaulted());
    EXPECT_EQ(app_.ProxyLanguageFile(), u"c:\\program files\\velmora\\brankel\\sysdata\\Proxvale_en.lng");
    EXPECT_EQ(app_.Settings().Hue, 30);
    EXPECT_EQ(app_.Settings().Saturation, -53);
  }
}

TEST_F(ConfigurationTest, ConfiguredLanguageKeepsTheUsersColours) {
  Install("[General]\r\nLanguage=BIG5\r\n", "[Appearance]\r\nHue=5\r\nSaturation=6\r\n");
  ASSERT_TRUE(app_.LoadConfiguration());
  EXPECT_EQ(app_.LanguageCode(), u"BIG5");
  EXPECT_TRUE(app_.IsChineseLanguage());
  EXPECT_FALSE(app_.LanguageDefaulted());
  EXPECT_EQ(app_.Settings().Hue, 5);
  EXPECT_EQ(app_.Settings().Saturation, 6);
  EXPECT_TRUE(app_.LanguageFiles()[0].ends_with(u"Packager_BIG5.lng"));
}

TEST_F(ConfigurationTest, StoredWordDefaultIsAMissingLanguage) {
  Install("[General]\r\nLanguage=default\r\n", "");
  ASSERT_TRUE(app_.LoadConfiguration());
  EXPECT_TRUE(app_.LanguageDefaulted());
}

TEST_F(ConfigurationTest, DataFolderAlwaysEndsInABackslash) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"DataPath=D:\\Macros", u"D:\\Macros\\"}, {"DataPath=D:\\Macros\\", u"D:\\Macros\\"}, {"DataPath=", u""}};
  for (const auto& [line, expected] : cases) {
    Clean();
    Install("[General]\r\nLanguage=en\r\n" + line + "\r\n", "");
    ASSERT_TRUE(app_.LoadConfiguration());
    EXPECT_EQ(app_.DataFolder(), expected.empty() ? app_.SharedDataFolder() + u"data\\" : expected) << line;
  }
}

TEST_F(ConfigurationTest, ResourceLibraryPath) {
  Install("[General]\r\nLanguage=en\r\n", "[General]\r\nResourceFile=skin2.dll\r\n");
  ASSERT_TRUE(app_.LoadConfiguration());
  EXPECT_EQ(app_.ResourceFile(), u"c:\\program files\\velmora\\brankel\\SysData\\skin2.dll");
  const std::u16string existing = app_.SharedDataFolder() + u"Config\\General.ini";
  ASSERT_TRUE(WriteBytes(app_.UserConfigPath(), "[General]\r\nResourceFile=" + plat::Utf16ToUtf8(existing) + "\r\n"));
  ASSERT_TRUE(app_.LoadConfiguration());
  EXPECT_EQ(app_.ResourceFile(), existing);
  ASSERT_TRUE(WriteBytes(app_.UserConfigPath(), ""));
  ASSERT_TRUE(app_.LoadConfiguration());
  EXPECT_EQ(app_.ResourceFile(), u"c:\\program files\\velmora\\brankel\\SysData\\vllib_ui_defresu.dll");
}

TEST_F(ConfigurationTest, WaitsForTheSharedConfiguration) {
  Install("[General]\r\nCmd.exe=\r\nLanguage=en\r\n", "");
  EXPECT_FALSE(app_.LoadConfiguration()) << "an empty Cmd.exe is still being written";
  EXPECT_FALSE(app_.ConfigurationLoaded());
  Clean();
  // No shared file at all: the key reads as present, nothing to wait for.
  EXPECT_TRUE(app_.LoadConfiguration());
}

TEST(ProgramFolder, LowerCasedWithATrailingBackslash) {
  CBrankelApp app;
  ASSERT_TRUE(app.DetermineProgramFolder());
  EXPECT_EQ(app.ProgramFolder().back(), u'\\');
  EXPECT_EQ(app.ProgramFolder(), plat::ToLower(app.ProgramFolder()));
  EXPECT_TRUE(plat::IsDirectory(app.ProgramFolder()));
  app.SetProgramFolder(u"D:\\Apps\\X");
  EXPECT_EQ(app.ProgramFolder(), u"d:\\apps\\x\\");
}

}  // namespace
}  // namespace app
