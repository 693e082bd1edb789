#include "keyboard/hot_key_parse.h"

#include <gtest/gtest.h>

#include "support/scratch.h"

namespace keyboard {
namespace {

using brankel_test::Narrow;

TEST(HotKeyParse, ReadsWhatTheKeyNamesPrint) {
  const std::pair<const char16_t*, HotKey> cases[] = {
      {u"Ctrl+Shift+F5", {0x74, 0, kModCtrl | kModShift}},
      {u"F9", {0x78, 0, 0}},
      {u"f24", {0x87, 0, 0}},
      {u"none", {}},
      {u"  ", {}},
      {u"Ctrl+Shift+Alt+Win+AltGr+1", {0x31, 0, kModCtrl | kModShift | kModAlt | kModWin | kModAltGr}},
      {u"alt+win+a", {0x41, 0, kModAlt | kModWin}},
      // A word is a modifier only before a "+"; alone it is the key of that name.
      {u"Ctrl+Alt", {0x12, 0, kModCtrl}},
      {u"Left Control", {0xA2, 0, 0}},
      {u"AltGr", {0xFF, 0, 0}},
      {u"NumPad 5", {0x65, 0, 0}},
      {u"Ctrl + numpad +", {0x6B, 0, kModCtrl}},
      {u"Page up", {0x21, 0, 0}},
      {u"SPACE", {0x20, 0, 0}},
      {u"Numpad Return", {0x0E, 0, 0}},
      {u"Return", {0x0D, 0, 0}},
      {u"F1,F2", {0x70, 0x71, 0}},
      {u"Shift+Home , End", {0x24, 0x23, kModShift}},
      {u"#7", {0x07, 0, 0}},
      {u"#bd", {0xBD, 0, 0}},
      {u":", {0x3A, 0, 0}},
  };
  for (const auto& [text, key] : cases) {
    const std::optional<HotKey> parsed = ParseHotKeyText(text);
    ASSERT_TRUE(parsed) << Narrow(text);
    EXPECT_EQ(*parsed, key) << Narrow(text) << " gave " << int{parsed->key} << "," << int{parsed->second} << ","
                            << parsed->modifiers;
  }
}

TEST(HotKeyParse, RefusesTextNamingNoKeyAndSaysWhy) {
  const std::pair<const char16_t*, const char*> cases[] = {
      {u"Ctrl+", "no key follows the modifiers"},
      {u"Ctrl+Bogus", "no key is named \"Bogus\""},
      {u"Ctrl+Ctrl+F1", "Ctrl is given twice"},
      {u"F25", "no key is named \"F25\""},
      {u"F1,", "no second key follows the comma"},
      {u"F1,Nope", "no key is named \"Nope\""},
      {u"#", "no key is named \"#\""},
      {u"#0", "no key is named \"#0\""},
      {u"#1G", "no key is named \"#1G\""},
      {u"#100", "no key is named \"#100\""},
      {u"!", "no key is named \"!\""},  // the code of "!" is Page up
  };
  for (const auto& [text, why] : cases) {
    std::u16string reason;
    EXPECT_FALSE(ParseHotKeyText(text, &reason)) << Narrow(text);
    EXPECT_EQ(Narrow(reason), why) << Narrow(text);
  }
}

}  // namespace
}  // namespace keyboard
