#include "keyboard/hot_key_edit_state.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <initializer_list>
#include <string>

#include "app/res_string.h"

namespace keyboard {
namespace {

constexpr uint32_t kExtended = 1u << 24;

// The keyboard state with `down` pressed (and the generic code of each sided modifier, as
// the system keeps it).
struct Keys {
  KeyState state{};
  Keys(std::initializer_list<uint8_t> down) {
    for (uint8_t code : down) {
      state[code] = 0x80;
      if (code == 0xA0 || code == 0xA1) state[0x10] = 0x80;
      if (code == 0xA2 || code == 0xA3) state[0x11] = 0x80;
      if (code == 0xA4 || code == 0xA5) state[0x12] = 0x80;
    }
  }
};

struct Press {
  uint32_t vk;
  std::initializer_list<uint8_t> held;  // including the pressed key itself
  uint32_t lparam = 0;
};

// Presses each key in turn (with what is held at that moment), then releases `released`.
void Type(HotKeyEditState& edit, std::initializer_list<Press> presses, std::initializer_list<uint32_t> released) {
  for (const Press& press : presses) {
    const Keys keys(press.held);
    EXPECT_EQ(edit.KeyDown(press.vk, press.lparam, keys.state), KeyMessage::kConsumed) << press.vk;
  }
  for (uint32_t vk : released) EXPECT_EQ(edit.KeyUp(vk), KeyMessage::kPassedOn) << vk;
}

TEST(HotKeyEdit, KeysAndWhatIsKept) {
  struct Case {
    const char* what;
    std::initializer_list<Press> presses;
    std::initializer_list<uint32_t> released;
    HotKey value;
    const char16_t* text;
  };
  const Case cases[] = {
      {"Ctrl+Shift+F5",
       {{0x11, {0xA2}}, {0x10, {0xA2, 0xA0}}, {0x74, {0xA2, 0xA0, 0x74}}},
       {0x74, 0x10, 0x11},
       {0x74, 0, kModCtrl | kModShift},
       u"Ctrl+Shift+F5"},
      {"numpad Enter", {{0x0D, {0x0D}, kExtended}}, {0x0D}, {0x0E, 0, 0}, u"Numpad Return"},
      {"main Enter", {{0x0D, {0x0D}}}, {0x0D}, {0x0D, 0, 0}, u"Return"},
      {"A alone", {{0x41, {0x41}}}, {0x41}, {0, 0, 0}, u""},
      {"7 alone", {{0x37, {0x37}}}, {0x37}, {0, 0, 0}, u""},
      {"F7 alone", {{0x76, {0x76}}}, {0x76}, {0x76, 0, 0}, u"F7"},
      {"numpad 7 alone", {{0x67, {0x67}}}, {0x67}, {0x67, 0, 0}, u"NumPad 7"},
      {"Ctrl then A", {{0x11, {0xA2}}, {0x41, {0xA2, 0x41}}}, {0x41, 0x11}, {0x41, 0, kModCtrl}, u"Ctrl+A"},
      {"left Ctrl alone", {{0x11, {0xA2}}}, {0x11}, {0xA2, 0, 0}, u"Left Control"},
      {"right Ctrl", {{0x11, {0xA3}}}, {0x11}, {0xA3, 0, 0}, u"Right Control"},
      {"left Shift", {{0x10, {0xA0}}}, {0x10}, {0xA0, 0, 0}, u"Left Shift"},
      {"both Shifts: the right wins", {{0x10, {0xA0, 0xA1}}}, {}, {0xA1, 0, 0}, u"Right Shift"},
      {"right Alt", {{0x12, {0xA5}}}, {0x12}, {0xA5, 0, 0}, u"Right Alt"},
      {"Shift held, then Ctrl",
       {{0x10, {0xA0}}, {0x11, {0xA0, 0xA3}}},
       {},
       {0xA3, 0, kModShift},
       u"Shift+Right Control"},
      {"Win+E", {{0x5C, {0x5C}}, {0x45, {0x5C, 0x45}}}, {0x45}, {0x45, 0, kModWin}, u"Win+E"},
      {"left Win alone", {{0x5B, {0x5B}}}, {0x5B}, {0x5B, 0, 0}, u"Left Win"},
      {"AltGr+Q", {{0x51, {0xFF, 0x51}}}, {0x51}, {0x51, 0, kModAltGr}, u"AltGr+Q"},
      {"AltGr alone", {{0xFF, {0xFF}}}, {0xFF}, {0xFF, 0, 0}, u"AltGr"},
      {"Alt+Shift+Home", {{0x24, {0xA4, 0xA1, 0x24}}}, {0x24}, {0x24, 0, kModAlt | kModShift}, u"Shift+Alt+Home"},
      {"A while held", {{0x41, {0x41}}}, {}, {0x41, 0, 0}, u"A"},
  };
  for (const Case& c : cases) {
    HotKeyEditState edit;
    Type(edit, c.presses, c.released);
    EXPECT_EQ(edit.Value(), c.value) << c.what;
    EXPECT_EQ(edit.Text(), c.text) << c.what;
  }
}

TEST(HotKeyEdit, FlagsChangeWhatIsKept) {
  struct Case {
    const char* what;
    bool allow_plain, allow_modifier_keys, show_modifiers;
    Press press;
    uint32_t released;
    HotKey value;
    const char16_t* text;
  };
  const Case cases[] = {
      {"plain keys allowed", true, true, true, {0x41, {0x41}}, 0x41, {0x41, 0, 0}, u"A"},
      {"modifier keys not allowed", false, false, true, {0x10, {0xA1}}, 0x10, {0, 0, 0}, u""},
      {"Win not allowed alone", false, false, true, {0x5B, {0x5B}}, 0x5B, {0, 0, 0}, u""},
      {"AltGr is no such modifier key", false, false, true, {0xFF, {0xFF}}, 0xFF, {0xFF, 0, 0}, u"AltGr"},
      {"a modifier key with others held", false, false, true, {0x10, {0xA2, 0xA0}}, 0x10, {0, 0, 0}, u""},
      {"F-key with modifiers kept", false, false, true, {0x71, {0xA2, 0x71}}, 0x71, {0x71, 0, kModCtrl}, u"Ctrl+F2"},
      {"modifiers not shown", false, true, false, {0x71, {0xA2, 0x71}}, 0x71, {0x71, 0, kModCtrl}, u"F2"},
  };
  for (const Case& c : cases) {
    HotKeyEditState edit;
    edit.allow_plain_keys = c.allow_plain;
    edit.allow_modifier_keys = c.allow_modifier_keys;
    edit.show_modifiers = c.show_modifiers;
    Type(edit, {c.press}, {c.released});
    EXPECT_EQ(edit.Value(), c.value) << c.what;
    EXPECT_EQ(edit.Text(), c.text) << c.what;
  }
}

TEST(HotKeyEdit, TabMovesTheFocusUnlessCaptured) {
  HotKeyEditState edit;
  edit.SetHotKey(0x74, 0x20, kModCtrl);
  const Keys tab({0x09, 0xA2});
  EXPECT_EQ(edit.KeyDown(0x09, 0, tab.state), KeyMessage::kPassedOn);
  EXPECT_EQ(edit.KeyUp(0x09), KeyMessage::kPassedOn);
  EXPECT_EQ(edit.Value(), (HotKey{0x74, 0x20, kModCtrl})) << "moving on keeps the value, modifiers included";
  EXPECT_EQ(edit.Text(), u"Ctrl+F5,Space");

  edit.capture_tab = true;
  EXPECT_EQ(edit.KeyDown(0x09, 0, tab.state), KeyMessage::kConsumed);
  EXPECT_EQ(edit.KeyUp(0x09), KeyMessage::kPassedOn);
  EXPECT_EQ(edit.Value(), (HotKey{0x09, 0x20, kModCtrl}));
  EXPECT_EQ(edit.Text(), u"Ctrl+TAB,Space");
}

TEST(HotKeyEdit, SecondKeyIsCarriedAlong) {
  HotKeyEditState edit;
  edit.SetHotKey(0x70, 0x71, 0);
  EXPECT_EQ(edit.Text(), u"F1,F2");
  Type(edit, {{0x74, {0xA0, 0x74}}}, {0x74});
  EXPECT_EQ(edit.Value(), (HotKey{0x74, 0x71, kModShift}));
  EXPECT_EQ(edit.Text(), u"Shift+F5,F2");
}

TEST(HotKeyEdit, EmptyValueShowsTheEmptyTextAndSelectsItOnFocus) {
  HotKeyEditState edit;
  edit.SetEmptyText(u"(press a key)");
  EXPECT_FALSE(edit.TakeTextChange());
  edit.SetHotKey(0, 0, 0);
  EXPECT_TRUE(edit.TakeTextChange());
  EXPECT_FALSE(edit.TakeTextChange()) << "reported once";
  EXPECT_EQ(edit.Text(), u"(press a key)");
  EXPECT_EQ(edit.Value(), HotKey{});
  EXPECT_TRUE(edit.SelectAllOnFocus(u"(PRESS A KEY)"));
  EXPECT_FALSE(edit.SelectAllOnFocus(u"Ctrl+A"));
  EXPECT_FALSE(edit.SelectAllOnFocus(u"(press a key"));
  edit.SetHotKey(0x41, 0, kModCtrl);
  EXPECT_EQ(edit.Text(), u"Ctrl+A");
  EXPECT_TRUE(edit.TakeTextChange());
  // A key-down that gives no text leaves the shown text as it was.
  const Keys none({});
  EXPECT_EQ(edit.KeyDown(0x00, 0, none.state), KeyMessage::kConsumed);
  EXPECT_FALSE(edit.TakeTextChange());
  EXPECT_EQ(edit.Text(), u"Ctrl+A");
}

TEST(HotKeyEdit, NamesFollowTheTranslateFlag) {
  app::CVLResString table;
  ASSERT_TRUE(table.LoadText("[String]\r\nIDS_VK_FUN=Funktion %d\r\n"));
  HotKeyEditState edit(&table);
  edit.SetHotKey(0x74, 0, kModAlt);
  EXPECT_EQ(edit.Text(), u"Alt+Funktion 5");
  edit.translate_names = false;
  edit.SetHotKey(0x74, 0, kModAlt);
  EXPECT_EQ(edit.Text(), u"Alt+F5");
}

}  // namespace
}  // namespace keyboard
