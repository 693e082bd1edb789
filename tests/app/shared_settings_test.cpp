#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "app/shared_settings.h"
#include "platform/unicode.h"
#include "support/scratch.h"

namespace app {
namespace {

std::string Utf16File(std::u16string_view text) { return "\xFF\xFE" + plat::ToUtf16Le(text); }

class SharedSettingsTest : public brankel_test::ScratchTest {
 protected:
  void Files(std::u16string_view general, std::optional<std::u16string_view> config) {
    ASSERT_TRUE(brankel_test::WriteBytes(Path(u"General.ini"), Utf16File(general)));
    if (config) {
      ASSERT_TRUE(brankel_test::WriteBytes(Path(u"Config.ini"), Utf16File(*config)));
    }
  }
  bool Load() { return LoadSharedSettings(&block_, Path(u"General.ini"), Path(u"Config.ini")); }
  SharedSettings block_{};
};

TEST_F(SharedSettingsTest, MissingSharedFileLeavesTheBlockAlone) {
  block_.Hue = 12345;
  EXPECT_FALSE(Load());
  EXPECT_EQ(block_.Hue, 12345);
}

TEST_F(SharedSettingsTest, MissingUserFileKeepsTheStartingValues) {
  Files(u"[General]\r\nLockCurProcess=1\r\n", std::nullopt);
  std::memset(&block_, 0x5A, sizeof block_);
  EXPECT_FALSE(Load());
  EXPECT_EQ(block_.StopKey.KeyCode, 81);
  EXPECT_EQ(block_.StopKey.Modifiers, 7u);
  EXPECT_EQ(block_.PauseKey.KeyCode, 80);
  EXPECT_EQ(block_.Hue, 30);
  EXPECT_EQ(block_.Saturation, -53);
  EXPECT_EQ(block_.FontSize, 80);
  EXPECT_EQ(plat::FixedText(block_.FontFace, 64), u"Tahoma");
  EXPECT_EQ(block_.MonitorTransparency, 85);
  EXPECT_EQ(block_.LockCurrentProcess, 1);
  EXPECT_EQ(block_.Reserved0[0], 0) << "the rest of the block is cleared";
  EXPECT_EQ(block_.Reserved9104[7], 0);
}

TEST_F(SharedSettingsTest, DefaultsOfAnEmptyUserFile) {
  Files(u"", u"[Other]\r\n");
  ASSERT_TRUE(Load());
  EXPECT_EQ(block_.PauseKey.KeyCode, 80);
  EXPECT_EQ(block_.PauseKey.Modifiers, 7u);
  EXPECT_EQ(block_.StopKey.KeyCode, 83) << "not the starting value 81";
  EXPECT_EQ(block_.StopKey.Modifiers, 7u);
  EXPECT_EQ(block_.Hue, 0);
  EXPECT_EQ(block_.Saturation, 0);
  EXPECT_EQ(block_.FontSize, 90);
  EXPECT_EQ(plat::FixedText(block_.FontFace, 64), plat::GetIconTitleFontFace().substr(0, 63));
  EXPECT_EQ(block_.UseSystemColours, 2);
  EXPECT_EQ(block_.FastestSpeedFactor, 100);
  EXPECT_EQ(block_.SlowestSpeedFactor, 5);
  EXPECT_EQ(block_.MonitorTransparency, 85);
}

TEST_F(SharedSettingsTest, EveryKeyLandsInItsField) {
  Files(u"[General]\r\nLockCurProcess=2\r\n",
        u"[Appearance]\r\nHue=10\r\nLight=-4\r\nSaturation=7\r\n"
        u"[UIFont]\r\nSize= 12\r\nFaceName=Courier New\r\n"
        u"[HotKey]\r\nPause_VK=120\r\nPause_Modifiers=3\r\nPlayStop_VK=121\r\nPlayStop_Modifiers=16\r\n"
        u"[Options]\r\nUsingSystemAspect=1\r\nPlayMonitorTransparent=40\r\n"
        u"[Play]\r\nPauseBeforePlay=1\r\nStopByHotkey=1\r\nAlertBefore=1\r\nDodgeMouse=1\r\nQuickMouse=1\r\n"
        u"AlertSound=C:\\sounds\\ding.wav\r\nSpeed_FatestFactor=999\r\nSpeed_SlowestFactor=250\r\n"
        u"[QuickMacro]\r\nAlertBeforePlaying=1\r\n"
        u"[ConnectionPara]\r\nConnectSecurity=3\r\nServer=mail.example\r\nPort=587\r\nAuthNeed=1\r\n"
        u"UserName=me\r\nPassword=00112233445566778899AABBCCDDEEFF00\r\nProxyType=2\r\nProxyServer=proxy\r\n"
        u"ProxyPort=8080\r\nProxyAuthNeed=1\r\nProxyUsername=pu\r\nProxyPassword=pp\r\n");
  ASSERT_TRUE(Load());
  EXPECT_EQ(block_.LockCurrentProcess, 2);
  EXPECT_EQ(block_.Hue, 10);
  EXPECT_EQ(block_.Light, -4);
  EXPECT_EQ(block_.Saturation, 7);
  EXPECT_EQ(block_.FontSize, 12) << "a blank before the number is skipped";
  EXPECT_EQ(plat::FixedText(block_.FontFace, 64), u"Courier New");
  EXPECT_EQ(block_.PauseKey.KeyCode, 120);
  EXPECT_EQ(block_.PauseKey.SecondKeyCode, 0);
  EXPECT_EQ(block_.PauseKey.Modifiers, 3u);
  EXPECT_EQ(block_.StopKey.KeyCode, 121);
  EXPECT_EQ(block_.StopKey.Modifiers, 16u);
  EXPECT_EQ(block_.UseSystemColours, 1);
  EXPECT_EQ(block_.MonitorTransparency, 40);
  EXPECT_EQ(block_.PauseBeforePlay, 1);
  EXPECT_EQ(block_.StopByHotKey, 1);
  EXPECT_EQ(block_.AlertBeforePlay, 1);
  EXPECT_EQ(block_.DodgeMouse, 1);
  EXPECT_EQ(block_.QuickMouse, 1);
  EXPECT_EQ(block_.AlertBeforeQuickMacro, 1);
  EXPECT_EQ(plat::FixedText(block_.AlertSound, 260), u"C:\\sounds\\ding.wav");
  EXPECT_EQ(block_.FastestSpeedFactor, 999);
  EXPECT_EQ(block_.SlowestSpeedFactor, 100);
  EXPECT_EQ(block_.ConnectSecurity, 12) << "3 shifted left by 2";
  EXPECT_EQ(plat::FixedText(block_.Server, 128), u"mail.example");
  EXPECT_EQ(block_.Port, 587);
  EXPECT_EQ(block_.AuthNeeded, 1);
  EXPECT_EQ(plat::FixedText(block_.UserName, 128), u"me");
  EXPECT_EQ(plat::FixedText(block_.Password, 128), u"") << "the enciphered password stays opaque";
  EXPECT_EQ(block_.ProxyType, 2);
  EXPECT_EQ(plat::FixedText(block_.ProxyServer, 128), u"proxy");
  EXPECT_EQ(block_.ProxyPort, 8080);
  EXPECT_EQ(block_.ProxyAuthNeeded, 1);
  EXPECT_EQ(plat::FixedText(block_.ProxyUserName, 128), u"pu");
  EXPECT_EQ(plat::FixedText(block_.ProxyPassword, 128), u"pp") << "stored as read";
}

TEST_F(SharedSettingsTest, SpeedFactorClamps) {
  const std::pair<int, int> fastest[] = {{0, 1000}, {999, 999}, {1000, 1000}, {5000, 1000}};
  for (auto [stored, expected] : fastest) {
    Files(u"", u"[Play]\r\nSpeed_FatestFactor=" + plat::AsciiToUtf16(std::to_string(stored)) + u"\r\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(block_.FastestSpeedFactor, expected) << stored;
  }
  const std::pair<int, int> slowest[] = {{0, 5}, {1, 1}, {99, 99}, {100, 100}, {250, 100}};
  for (auto [stored, expected] : slowest) {
    Files(u"", u"[Play]\r\nSpeed_SlowestFactor=" + plat::AsciiToUtf16(std::to_string(stored)) + u"\r\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(block_.SlowestSpeedFactor, expected) << stored;
  }
}

TEST_F(SharedSettingsTest, EmptyFontSizeAndOverlongTexts) {
  Files(u"", u"[UIFont]\r\nSize=\r\nFaceName=" + std::u16string(100, u'F') + u"\r\n[Play]\r\nAlertSound=" +
                 std::u16string(400, u's') + u"\r\n");
  ASSERT_TRUE(Load());
  EXPECT_EQ(block_.FontSize, 90);
  EXPECT_EQ(plat::FixedText(block_.FontFace, 64), std::u16string(63, u'F'));
  EXPECT_EQ(plat::FixedText(block_.AlertSound, 260), std::u16string(259, u's'));
  EXPECT_EQ(block_.Reserved5424[0], 0) << "nothing spills past the field";
}

TEST_F(SharedSettingsTest, OnlyOneByteOrderMarkIsSkipped) {
  Files(u"", u"\xFEFF[Appearance]\r\nHue=10\r\n");
  ASSERT_TRUE(Load());
  EXPECT_EQ(block_.Hue, 0) << "a second mark keeps the first line from being a section";
}

TEST_F(SharedSettingsTest, FilesInAnotherEncodingGiveDefaults) {
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"General.ini"), "[General]\r\nLockCurProcess=1\r\n"));
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"Config.ini"), "[Appearance]\r\nHue=10\r\n"));
  ASSERT_TRUE(Load());
  EXPECT_EQ(block_.LockCurrentProcess, 0);
  EXPECT_EQ(block_.Hue, 0);
}

}  // namespace
}  // namespace app

namespace app {
namespace {

TEST(InstalledConfiguration, LoadsWithTheDocumentedDefaults) {
  const std::u16string config = plat::PathFromHost(BRANKEL_INSTALL_DIR) + u"\\Config\\";
  SharedSettings block{};
  ASSERT_TRUE(LoadSharedSettings(&block, config + u"General.ini", config + u"Config.ini"));
  EXPECT_EQ(block.PauseKey.KeyCode, 80);
  EXPECT_EQ(block.StopKey.KeyCode, 83);
  EXPECT_EQ(block.PauseKey.Modifiers, 7u);
  EXPECT_EQ(block.FontSize, 90);
  EXPECT_EQ(block.UseSystemColours, 2);
  EXPECT_EQ(block.MonitorTransparency, 85);
  EXPECT_EQ(block.FastestSpeedFactor, 100);
  EXPECT_EQ(block.SlowestSpeedFactor, 5);
  EXPECT_EQ(plat::FixedText(block.FontFace, 64), plat::GetIconTitleFontFace().substr(0, 63));
  // The system's profile reads see the same files.
  char16_t buffer[32];
  plat::GetPrivateProfileString(u"General", u"Language", u"", buffer, 32, config + u"General.ini");
  EXPECT_EQ(std::u16string(buffer), u"en");
  plat::GetPrivateProfileString(u"General", u"Cmd.exe", u"", buffer, 32, config + u"General.ini");
  EXPECT_NE(std::u16string(buffer), u"");
}

}  // namespace
}  // namespace app
