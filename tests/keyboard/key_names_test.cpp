#include "keyboard/key_names.h"

#include <gtest/gtest.h>

#include <string>

#include "app/res_string.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace keyboard {
namespace {

struct Row {
  uint8_t code;
  const char16_t* english;
  const char* language_key;  // nullptr: the name is never translated
};

// Every code with a name of its own, as the user reads it in English.
constexpr Row kRows[] = {
    {0x01, u"Left Button", "IDS_VK_MOUSE_LEFT"},
    {0x02, u"Right Button", "IDS_VK_MOUSE_RIGHT"},
    {0x03, u"Cancel", "IDS_VK_CANCEL"},
    {0x04, u"Middle button", "IDS_VK_MOUSE_MIDDLE"},
    {0x05, u"XButton1", "IDS_VK_MOUSE_XBUTTON1"},
    {0x06, u"XButton2", "IDS_VK_MOUSE_XBUTTON2"},
    {0x08, u"Backspace", "IDS_VK_BACKSPACE"},
    {0x09, u"TAB", "IDS_VK_TAB"},
    {0x0C, u"NumPad Clear", "IDS_VK_NUMPAD_CLEAR"},
    {0x0D, u"Return", "IDS_VK_RETURN"},
    {0x0E, u"Numpad Return", "IDS_VK_NUMPAD_RETURN"},
    {0x10, u"Shift", "IDS_VK_SHIFT"},
    {0x11, u"Control", "IDS_VK_CONTROL"},
    {0x12, u"Alt", "IDS_VK_ALT"},
    {0x13, u"Pause Break", "IDS_VK_PAUSE"},
    {0x14, u"Caps Lock", "IDS_VK_CAPSLOCK"},
    {0x1B, u"ESC", "IDS_VK_ESC"},
    {0x20, u"Space", "IDS_VK_SPACE"},
    {0x21, u"Page up", "IDS_VK_PAGEUP"},
    {0x22, u"Page down", "IDS_VK_PAGEDOWN"},
    {0x23, u"End", "IDS_VK_END"},
    {0x24, u"Home", "IDS_VK_HOME"},
    {0x25, u"Left", "IDS_VK_LEFT"},
    {0x26, u"Up", "IDS_VK_UP"},
    {0x27, u"Right", "IDS_VK_RIGHT"},
    {0x28, u"Down", "IDS_VK_DOWN"},
    {0x29, u"Select", "IDS_VK_SELECT"},
    {0x2A, u"Print", "IDS_VK_PRINT"},
    {0x2B, u"Execute", "IDS_VK_EXECUTE"},
    {0x2C, u"Print Screen", "IDS_VK_PRINTSCREEN"},
    {0x2D, u"Insert", "IDS_VK_INSERT"},
    {0x2E, u"Delete", "IDS_VK_DELETE"},
    {0x2F, u"Help", "IDS_VK_HELP"},
    {0x30, u"0", nullptr},
    {0x39, u"9", nullptr},
    {0x41, u"A", nullptr},
    {0x5A, u"Z", nullptr},
    {0x5B, u"Left Win", "IDS_VK_WIN_LEFT"},
    {0x5C, u"Right Win", "IDS_VK_WIN_RIGHT"},
    {0x5D, u"Apps", "IDS_VK_APPS"},
    {0x5F, u"Sleep", "IDS_VK_SLEEP"},
    {0x60, u"NumPad 0", nullptr},
    {0x69, u"NumPad 9", nullptr},
    {0x6A, u"NumPad *", "IDS_VK_NUMPAD_MULT"},
    {0x6B, u"NumPad +", "IDS_VK_NUMPAD_PLUS"},
    {0x6C, u"Separator", "IDS_VK_NUMPAD_SEP"},
    {0x6D, u"NumPad -", "IDS_VK_NUMPAD_SUB"},
    {0x6E, u"NumPad .", "IDS_VK_NUMPAD_PERIOD"},
    {0x6F, u"NumPad /", "IDS_VK_NUMPAD_DIV"},
    {0x70, u"F1", nullptr},
    {0x7B, u"F12", nullptr},
    {0x87, u"F24", nullptr},
    {0x90, u"Num Lock", "IDS_VK_NUMLOCK"},
    {0x91, u"Scroll Lock", "IDS_VK_SCROLLLOCK"},
    {0xA0, u"Left Shift", "IDS_VK_SHIFT_LEFT"},
    {0xA1, u"Right Shift", "IDS_VK_SHIFT_RIGHT"},
    {0xA2, u"Left Control", "IDS_VK_CONTROL_LEFT"},
    {0xA3, u"Right Control", "IDS_VK_CONTROL_RIGHT"},
    {0xA4, u"Left Alt", "IDS_VK_ALT_LEFT"},
    {0xA5, u"Right Alt", "IDS_VK_ALT_RIGHT"},
    {0xA6, u"Browser Back", "IDS_VK_BROWSER_BACK"},
    {0xA7, u"Browser Forward", "IDS_VK_BROWSER_FORWARD"},
    {0xA8, u"Browser Refresh", "IDS_VK_BROWSER_REFESH"},
    {0xA9, u"Browser Stop", "IDS_VK_BROWSER_STOP"},
    {0xAA, u"Browser Search", "IDS_VK_BROWSER_SEARCH"},
    {0xAB, u"Browser Favorites", "IDS_VK_BROWSER_FAV"},
    {0xAC, u"Browser Home", "IDS_VK_BROWSER_HOME"},
    {0xAD, u"Volume Mute", "IDS_VK_VOLUMN_MUTE"},
    {0xAE, u"Volume Down", "IDS_VK_VOLUMN_DOWN"},
    {0xAF, u"Volume Up", "IDS_VK_VOLUMN_UP"},
    {0xB0, u"Next Track", "IDS_VK_TRACK_NEXT"},
    {0xB1, u"Prev Track", "IDS_VK_TRACK_PREV"},
    {0xB2, u"Media Stop", "IDS_VK_MEDIA_STOP"},
    {0xB3, u"Play pause", "IDS_VK_MEDIA_PLAYPAUSE"},
    {0xB4, u"Start Mail", "IDS_VK_START_MAIL"},
    {0xB5, u"Select Media", "IDS_VK_SELECT_MEDIA"},
    {0xB6, u"Launch App1", "IDS_VK_STARTAPP_1"},
    {0xB7, u"Launch App2", "IDS_VK_STARTAPP_2"},
    {0xFF, u"AltGr", "IDS_VK_ALTGR"},
};

std::u16string Name(uint8_t code, const app::CVLResString* table = nullptr, bool* named = nullptr) {
  std::u16string name = u"left over";
  const bool result = GetKeyName(code, name, table);
  if (named != nullptr) *named = result;
  return name;
}

TEST(KeyNames, EnglishDefaultsWithoutATable) {
  for (const Row& row : kRows) {
    bool named = false;
    EXPECT_EQ(Name(row.code, nullptr, &named), row.english) << std::hex << int{row.code};
    EXPECT_TRUE(named) << std::hex << int{row.code};
  }
  bool named = false;
  EXPECT_EQ(Name(0x00, nullptr, &named), u"") << "no key, no name";
  EXPECT_TRUE(named);
}

TEST(KeyNames, EveryNamedKeyIsLookedUpUnderItsOwnKey) {
  std::string text = "[String]\r\nIDS_VK_FUN=fn%d\r\nIDS_VK_NUMPAD_NUM=pad%d\r\n";
  for (const Row& row : kRows) {
    if (row.language_key != nullptr) text += std::string(row.language_key) + "=~" + row.language_key + "\r\n";
  }
  app::CVLResString table;
  ASSERT_TRUE(table.LoadText(text));
  for (const Row& row : kRows) {
    std::u16string expected = row.english;
    if (row.language_key != nullptr) expected = std::u16string(u"~").append(plat::AsciiToUtf16(row.language_key));
    if (row.language_key == nullptr && (row.code >= 0x60 && row.code <= 0x87)) continue;  // formats, below
    EXPECT_EQ(Name(row.code, &table), expected) << std::hex << int{row.code};
  }
  EXPECT_EQ(Name(0x64, &table), u"pad4");
  EXPECT_EQ(Name(0x74, &table), u"fn5");
  EXPECT_EQ(Name(0x87, &table), u"fn24");
}

TEST(KeyNames, InstalledEnglishFileAgreesWithTheDefaults) {
  app::CVLResString table;
  ASSERT_TRUE(table.LoadFile(plat::PathFromHost(BRANKEL_INSTALL_DIR) + u"\\sysdata\\Packager_en.lng"));
  for (unsigned code = 0; code <= 255; ++code) {
    const auto key = static_cast<uint8_t>(code);
    EXPECT_EQ(Name(key, &table), Name(key)) << std::hex << code;
  }
}

TEST(KeyNames, FormatsAndMissesInATranslation) {
  struct Case {
    const char* lines;
    uint8_t code;
    const char16_t* expected;
  };
  const Case cases[] = {
      {"IDS_VK_FUN=Taste %d (Funktion)", 0x70, u"Taste 1 (Funktion)"},  // the number first
      {"IDS_VK_FUN=%d. Funktionstaste", 0x87, u"24. Funktionstaste"},
      {"IDS_VK_NUMPAD_NUM=%d auf dem Ziffernblock", 0x69, u"9 auf dem Ziffernblock"},
      {"IDS_VK_FUN=F%s%d", 0x71, u"F20"},   // more asked for than given: the missing number is 0
      {"IDS_VK_FUN=100%%", 0x71, u"100%"},  // no number at all
      {"IDS_VK_OTHER=x", 0x70, u"F1"},      // the key missing: the English format
      {"IDS_VK_ESC=", 0x1B, u""},           // an empty translation is the translator's
      {"IDS_VK_ALTGR=Alt Gr", 0xFF, u"Alt Gr"},
  };
  for (const Case& c : cases) {
    app::CVLResString table;
    ASSERT_TRUE(table.LoadText(std::string("[String]\r\n") + c.lines + "\r\n"));
    EXPECT_EQ(Name(c.code, &table), c.expected) << c.lines;
  }
}

TEST(KeyNames, LongTranslationsAreCut) {
  const std::string long_name(40, 'n');
  // A supplementary character whose halves would straddle the cut is left out whole.
  const std::string straddling = std::string(30, 'x') + "\xF0\x9F\x98\x80" + "tail";
  app::CVLResString table;
  ASSERT_TRUE(table.LoadText("\xEF\xBB\xBF[String]\r\nIDS_VK_HOME=" + long_name + "\r\nIDS_VK_END=" + straddling +
                             "\r\nIDS_VK_FUN=" + std::string(31, 'f') + "%d\r\n"));
  EXPECT_EQ(Name(0x24, &table), std::u16string(31, u'n'));
  EXPECT_EQ(Name(0x23, &table), std::u16string(30, u'x'));
  EXPECT_EQ(Name(0x70, &table), std::u16string(31, u'f'));
  std::u16string text;
  EXPECT_TRUE(BuildHotKeyText(0x24, 0x24, kModCtrl | kModShift | kModAlt | kModWin | kModAltGr, text, true, &table));
  std::u16string expected = u"Ctrl+Shift+Alt+Win+AltGr+";
  expected.append(31, u'n').append(1, u',').append(31, u'n');
  EXPECT_EQ(text, expected);
}

TEST(KeyNames, CodesWithoutANameOfTheirOwn) {
  struct Case {
    uint8_t code;
    const char16_t* expected;
  };
  const Case cases[] = {{0x07, u"#7"}, {0x0A, u"#A"},  {0x1F, u"#1F"}, {0x3A, u":"},   {0x40, u"@"},
                        {0x5E, u"^"},  {0x88, u"#88"}, {0x92, u"#92"}, {0xE1, u"#E1"}, {0xFE, u"#FE"}};
  for (const Case& c : cases) {
    bool named = true;
    EXPECT_EQ(Name(c.code, nullptr, &named), c.expected) << std::hex << int{c.code};
    EXPECT_FALSE(named) << std::hex << int{c.code};
  }
}

TEST(KeyNames, LayoutKeysTypeTheirCharacter) {
  for (uint8_t code : {0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xC0, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF, 0xE2}) {
    const char16_t typed = plat::VirtualKeyToChar(code);
    bool named = false;
    const std::u16string name = Name(code, nullptr, &named);
    EXPECT_EQ(named, typed != 0) << std::hex << int{code};
    EXPECT_EQ(name, typed != 0 ? std::u16string(1, typed) : u"") << std::hex << int{code};
  }
  if (plat::VirtualKeyToChar(0xBA) != u';') GTEST_SKIP() << "exact characters need the US layout";
  EXPECT_EQ(Name(0xBD), u"-");
  EXPECT_EQ(Name(0xDB), u"[");
  bool named = true;
  EXPECT_EQ(Name(0xDF, nullptr, &named), u"") << "the US layout has no character on this key";
  EXPECT_FALSE(named);
}

TEST(HotKeyText, ModifiersKeysAndSecondKeys) {
  struct Case {
    uint8_t first, second;
    uint32_t modifiers;
    bool with_modifiers;
    const char16_t* expected;
  };
  const uint32_t all = kModCtrl | kModShift | kModAlt | kModWin | kModAltGr;
  const Case cases[] = {
      {0x74, 0, kModCtrl | kModShift, true, u"Ctrl+Shift+F5"},
      {0xA2, 0, kModCtrl, true, u"Left Control"},
      {0x11, 0, kModCtrl | kModAlt, true, u"Alt+Control"},
      {0xA1, 0, kModShift | kModCtrl, true, u"Ctrl+Right Shift"},
      {0xA5, 0, kModAlt, true, u"Right Alt"},
      {0x5C, 0, kModWin | kModShift, true, u"Shift+Right Win"},
      {0xFF, 0, kModAltGr | kModCtrl, true, u"Ctrl+AltGr"},
      {0x41, 0, kModAlt | kModWin, true, u"Alt+Win+A"},
      {0x41, 0, kModAlt | kModWin, false, u"A"},
      {0x31, 0, all, true, u"Ctrl+Shift+Alt+Win+AltGr+1"},
      {0, 0x70, 0, true, u"F1"},
      {0, 0x70, kModShift, true, u"Shift+F1"},
      {0x70, 0x71, 0, true, u"F1,F2"},
      {0x70, 0x71, kModCtrl, true, u"Ctrl+F1,F2"},
      {0, 0, kModCtrl | kModShift, true, u"Ctrl+Shift"},
      {0, 0, kModCtrl, false, u""},
      {0, 0, 0, true, u""},
      {0x0E, 0, 0, true, u"Numpad Return"},
  };
  for (const Case& c : cases) {
    std::u16string text = u"left over";
    const bool filled = BuildHotKeyText(c.first, c.second, c.modifiers, text, c.with_modifiers, nullptr);
    EXPECT_EQ(text, c.expected) << std::hex << int{c.first} << " " << int{c.second} << " " << c.modifiers;
    EXPECT_EQ(filled, !text.empty());
  }
}

TEST(HotKeyText, ModifierWordsAreNeverTranslated) {
  app::CVLResString table;
  ASSERT_TRUE(
      table.LoadText("[String]\r\nIDS_VK_FUN=Fonction %d\r\nIDS_VK_CONTROL=Ctrl-Taste\r\n"
                     "IDS_SKEY_CONTROL=Strg\r\nIDS_SKEY_SHIFT=Umschalt\r\n"));
  std::u16string text;
  EXPECT_TRUE(BuildHotKeyText(0x74, 0, kModCtrl | kModShift, text, true, &table));
  EXPECT_EQ(text, u"Ctrl+Shift+Fonction 5");
}

}  // namespace
}  // namespace keyboard
