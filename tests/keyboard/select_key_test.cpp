#include "keyboard/select_key.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/brankel_app.h"
#include "app/res_string.h"
#include "platform/platform.h"
#include "support/machine_config.h"

namespace keyboard {
namespace {

std::set<uint8_t> Codes(const std::vector<KeyListItem>& items) {
  std::set<uint8_t> codes;
  for (size_t i = 1; i < items.size(); ++i) codes.insert(items[i].code);
  return codes;
}

TEST(SelectKeyList, NoneFirstThenNamedKeysInCodeOrder) {
  for (bool modifiers_allowed : {true, false}) {
    const std::vector<KeyListItem> items = KeyListItems(nullptr, modifiers_allowed);
    ASSERT_GT(items.size(), 100u);
    EXPECT_EQ(items[0], (KeyListItem{u"(None)", 0}));
    for (size_t i = 1; i < items.size(); ++i) {
      EXPECT_NE(items[i].code, 0);
      if (i > 1) {
        EXPECT_LT(items[i - 1].code, items[i].code) << "not sorted by text";
      }
      std::u16string name;
      EXPECT_TRUE(GetKeyName(items[i].code, name, nullptr)) << std::hex << int{items[i].code};
      EXPECT_EQ(items[i].text, name);
    }
    const std::set<uint8_t> codes = Codes(items);
    for (uint8_t never : {0x01, 0x02, 0x04, 0x05, 0x06, 0x07, 0x88, 0xFE}) {
      EXPECT_EQ(codes.count(never), 0u) << std::hex << int{never};
    }
    for (uint8_t always : {0x03, 0x0E, 0x41, 0x70, 0x87, 0xB7, 0xFF}) {
      EXPECT_EQ(codes.count(always), 1u) << std::hex << int{always};
    }
    for (uint8_t modifier : {0x10, 0x11, 0x12, 0x5B, 0x5C, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}) {
      EXPECT_EQ(codes.count(modifier), modifiers_allowed ? 0u : 1u) << std::hex << int{modifier};
    }
    // A layout key is listed exactly when it types something here.
    for (uint8_t layout : {0xBA, 0xBD, 0xDF, 0xE2}) {
      EXPECT_EQ(codes.count(layout), plat::VirtualKeyToChar(layout) != 0 ? 1u : 0u) << std::hex << int{layout};
    }
  }
}

TEST(SelectKeyList, TextsComeFromTheTable) {
  app::CVLResString table;
  ASSERT_TRUE(table.LoadText("[String]\r\nIDS_S_KEY_NONE=(keine)\r\nIDS_VK_FUN=Funktion %d\r\n"));
  const std::vector<KeyListItem> items = KeyListItems(&table, true);
  EXPECT_EQ(items[0].text, u"(keine)");
  EXPECT_EQ(items[InitialKeyIndex(items, 0x72)].text, u"Funktion 3");
  app::CVLResString without_none;
  ASSERT_TRUE(without_none.LoadText("[String]\r\nIDS_OTHER=x\r\n"));
  EXPECT_EQ(KeyListItems(&without_none, true)[0].text, u"IDS_S_KEY_NONE") << "a missing key shows itself";
}

TEST(SelectKeyDialog, SelectionAndEnabling) {
  const std::vector<KeyListItem> items = KeyListItems(nullptr, true);
  EXPECT_EQ(InitialKeyIndex(items, 0), 0);
  EXPECT_EQ(items[static_cast<size_t>(InitialKeyIndex(items, 0x74))].code, 0x74);
  EXPECT_EQ(InitialKeyIndex(items, 0xA2), 0) << "a key the list does not offer selects none";
  EXPECT_EQ(InitialKeyIndex(items, 0x07), 0);

  struct Case {
    bool modifiers_allowed;
    int index;
    bool enabled;
  };
  const Case cases[] = {{true, 0, false}, {true, 5, true}, {true, -1, true}, {false, 5, false}, {false, 0, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(ChecksEnabled(c.modifiers_allowed, c.index), c.enabled) << c.modifiers_allowed << " " << c.index;
  }
}

TEST(SelectKeyDialog, OkGivesTheChosenHotKey) {
  const std::vector<KeyListItem> items = KeyListItems(nullptr, true);
  const int f5 = InitialKeyIndex(items, 0x74);
  const HotKey caller{0x41, 0x42, kModWin};
  ModifierChecks all;
  all.alt = all.ctrl = all.shift = all.win = all.alt_gr = true;
  ModifierChecks ctrl_shift;
  ctrl_shift.ctrl = ctrl_shift.shift = true;
  struct Case {
    const char* what;
    int index;
    std::u16string_view list_text;
    ModifierChecks checks;
    HotKey expected;
  };
  const Case cases[] = {
      {"none, even with boxes ticked", 0, u"(None)", all, {0, 0, 0}},
      {"a key with its boxes", f5, u"F5", ctrl_shift, {0x74, 0x42, kModCtrl | kModShift}},
      {"every box", f5, u"F5", all, {0x74, 0x42, 0x1F}},
      {"no index: found by text", -1, u"Browser Home", {}, {0xAC, 0x42, 0}},
      {"no index: the none text", -1, u"(None)", all, {0, 0, 0}},
      {"no index: the text differs in case", -1, u"browser home", all, caller},
      {"no index, no text", -1, u"", all, caller},
      {"an index past the list", static_cast<int>(items.size()), u"F5", {}, {0x74, 0x42, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SelectKeyResult(items, c.index, c.list_text, c.checks, caller), c.expected) << c.what;
  }
}

TEST(SelectKeyDialog, ChecksAndModifierBits) {
  for (uint32_t modifiers = 0; modifiers < 0x20; ++modifiers) {
    EXPECT_EQ(ModifiersOf(ChecksOf(modifiers)), modifiers);
  }
  ModifierChecks one;
  one.shift = true;
  EXPECT_EQ(ModifiersOf(one), kModShift);
  one = {};
  one.alt_gr = true;
  EXPECT_EQ(ModifiersOf(one), kModAltGr);
  EXPECT_TRUE(ChecksOf(kModWin | 0x100).win);
}

TEST(SelectKeyDialog, Title) {
  app::CVLResString table;
  ASSERT_TRUE(table.LoadText("[String]\r\nIDS_WT_SELECTKEY=Select Hot Key\r\n"));
  app::CVLResString missing;
  ASSERT_TRUE(missing.LoadText("[String]\r\nIDS_OTHER=x\r\n"));
  EXPECT_EQ(SelectKeyTitle(&table, u""), u"Select Hot Key");
  EXPECT_EQ(SelectKeyTitle(&table, u"Stop key"), u"Stop key");
  EXPECT_EQ(SelectKeyTitle(&missing, u""), u"IDS_WT_SELECTKEY");
  EXPECT_EQ(SelectKeyTitle(nullptr, u""), u"IDS_WT_SELECTKEY");
}

class SelectKeyLanguage : public brankel_test::MachineConfigTest {};

TEST_F(SelectKeyLanguage, AltGrIsHiddenForChinese) {
  struct Case {
    const char* language;
    bool shown;
  };
  for (const Case& c : {Case{"gb", false}, Case{"big5", false}, Case{"GB", false}, Case{"en", true}}) {
    Clean();
    Install(std::string("[General]\r\nLanguage=") + c.language + "\r\n", "");
    app::CBrankelApp app;
    app.SetProgramFolder(u"C:\\Program Files\\Velmora\\Brankel\\");
    app.SetConfigurationWait(300);
    ASSERT_TRUE(app.LoadConfiguration()) << c.language;
    EXPECT_EQ(AltGrShown(app.IsChineseLanguage()), c.shown) << c.language;
  }
}

}  // namespace
}  // namespace keyboard
