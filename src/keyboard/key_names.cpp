#include "keyboard/key_names.h"

#include <array>
#include <initializer_list>

#include "app/res_string.h"
#include "app/text_format.h"
#include "platform/platform.h"

namespace keyboard {
namespace {

struct NamedKey {
  uint8_t code;
  const char16_t* english;
  const char16_t* language_key;
};

// Keys whose name the language table gives (the English name is the default). Two rows
// are formats for a number rather than names: the numeric keypad digits and F1 to F24.
constexpr NamedKey kNamedKeys[] = {
    {0x01, u"Left Button", u"IDS_VK_MOUSE_LEFT"},
    {0x02, u"Right Button", u"IDS_VK_MOUSE_RIGHT"},
    {0x03, u"Cancel", u"IDS_VK_CANCEL"},
    {0x04, u"Middle button", u"IDS_VK_MOUSE_MIDDLE"},
    {0x05, u"XButton1", u"IDS_VK_MOUSE_XBUTTON1"},
    {0x06, u"XButton2", u"IDS_VK_MOUSE_XBUTTON2"},
    {0x08, u"Backspace", u"IDS_VK_BACKSPACE"},
    {0x09, u"TAB", u"IDS_VK_TAB"},
    {0x0C, u"NumPad Clear", u"IDS_VK_NUMPAD_CLEAR"},
    {0x0D, u"Return", u"IDS_VK_RETURN"},
    {kVkNumpadReturn, u"Numpad Return", u"IDS_VK_NUMPAD_RETURN"},
    {0x10, u"Shift", u"IDS_VK_SHIFT"},
    {0x11, u"Control", u"IDS_VK_CONTROL"},
    {0x12, u"Alt", u"IDS_VK_ALT"},
    {0x13, u"Pause Break", u"IDS_VK_PAUSE"},
    {0x14, u"Caps Lock", u"IDS_VK_CAPSLOCK"},
    {0x1B, u"ESC", u"IDS_VK_ESC"},
    {0x20, u"Space", u"IDS_VK_SPACE"},
    {0x21, u"Page up", u"IDS_VK_PAGEUP"},
    {0x22, u"Page down", u"IDS_VK_PAGEDOWN"},
    {0x23, u"End", u"IDS_VK_END"},
    {0x24, u"Home", u"IDS_VK_HOME"},
    {0x25, u"Left", u"IDS_VK_LEFT"},
    {0x26, u"Up", u"IDS_VK_UP"},
    {0x27, u"Right", u"IDS_VK_RIGHT"},
    {0x28, u"Down", u"IDS_VK_DOWN"},
    {0x29, u"Select", u"IDS_VK_SELECT"},
    {0x2A, u"Print", u"IDS_VK_PRINT"},
    {0x2B, u"Execute", u"IDS_VK_EXECUTE"},
    {0x2C, u"Print Screen", u"IDS_VK_PRINTSCREEN"},
    {0x2D, u"Insert", u"IDS_VK_INSERT"},
    {0x2E, u"Delete", u"IDS_VK_DELETE"},
    {0x2F, u"Help", u"IDS_VK_HELP"},
    {0x5B, u"Left Win", u"IDS_VK_WIN_LEFT"},
    {0x5C, u"Right Win", u"IDS_VK_WIN_RIGHT"},
    {0x5D, u"Apps", u"IDS_VK_APPS"},
    {0x5F, u"Sleep", u"IDS_VK_SLEEP"},
    {0x6A, u"NumPad *", u"IDS_VK_NUMPAD_MULT"},
    {0x6B, u"NumPad +", u"IDS_VK_NUMPAD_PLUS"},
    {0x6C, u"Separator", u"IDS_VK_NUMPAD_SEP"},
    {0x6D, u"NumPad -", u"IDS_VK_NUMPAD_SUB"},
    {0x6E, u"NumPad .", u"IDS_VK_NUMPAD_PERIOD"},
    {0x6F, u"NumPad /", u"IDS_VK_NUMPAD_DIV"},
    {0x90, u"Num Lock", u"IDS_VK_NUMLOCK"},
    {0x91, u"Scroll Lock", u"IDS_VK_SCROLLLOCK"},
    {0xA0, u"Left Shift", u"IDS_VK_SHIFT_LEFT"},
    {0xA1, u"Right Shift", u"IDS_VK_SHIFT_RIGHT"},
    {0xA2, u"Left Control", u"IDS_VK_CONTROL_LEFT"},
    {0xA3, u"Right Control", u"IDS_VK_CONTROL_RIGHT"},
    {0xA4, u"Left Alt", u"IDS_VK_ALT_LEFT"},
    {0xA5, u"Right Alt", u"IDS_VK_ALT_RIGHT"},
    {0xA6, u"Browser Back", u"IDS_VK_BROWSER_BACK"},
    {0xA7, u"Browser Forward", u"IDS_VK_BROWSER_FORWARD"},
    {0xA8, u"Browser Refresh", u"IDS_VK_BROWSER_REFESH"},
    {0xA9, u"Browser Stop", u"IDS_VK_BROWSER_STOP"},
    {0xAA, u"Browser Search", u"IDS_VK_BROWSER_SEARCH"},
    {0xAB, u"Browser Favorites", u"IDS_VK_BROWSER_FAV"},
    {0xAC, u"Browser Home", u"IDS_VK_BROWSER_HOME"},
    {0xAD, u"Volume Mute", u"IDS_VK_VOLUMN_MUTE"},
    {0xAE, u"Volume Down", u"IDS_VK_VOLUMN_DOWN"},
    {0xAF, u"Volume Up", u"IDS_VK_VOLUMN_UP"},
    {0xB0, u"Next Track", u"IDS_VK_TRACK_NEXT"},
    {0xB1, u"Prev Track", u"IDS_VK_TRACK_PREV"},
    {0xB2, u"Media Stop", u"IDS_VK_MEDIA_STOP"},
    {0xB3, u"Play pause", u"IDS_VK_MEDIA_PLAYPAUSE"},
    {0xB4, u"Start Mail", u"IDS_VK_START_MAIL"},
    {0xB5, u"Select Media", u"IDS_VK_SELECT_MEDIA"},
    {0xB6, u"Launch App1", u"IDS_VK_STARTAPP_1"},
    {0xB7, u"Launch App2", u"IDS_VK_STARTAPP_2"},
    {kVkAltGr, u"AltGr", u"IDS_VK_ALTGR"},
};

const NamedKey* FindNamedKey(uint8_t code) {
  for (const NamedKey& key : kNamedKeys) {
    if (key.code == code) return &key;
  }
  return nullptr;
}

std::u16string Lookup(const char16_t* language_key, const char16_t* english, const app::CVLResString* table) {
  std::u16string text;
  if (table == nullptr || !table->GetString(text, language_key, english)) text = english;
  return text;
}

// The keys whose character depends on the keyboard layout (punctuation and the extra key
// of European keyboards).
bool IsLayoutKey(uint8_t code) {
  return (code >= 0xBA && code <= 0xC0) || (code >= 0xDB && code <= 0xDF) || code == 0xE2;
}

// Cuts `text` to `limit` units, never between the two halves of a surrogate pair.
void CutTo(std::u16string& text, size_t limit) {
  if (text.size() <= limit) return;
  size_t end = limit;
  if (end > 0 && text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF) --end;
  text.resize(end);
}

bool IsCtrlKey(uint8_t code) { return code == 0x11 || code == 0xA2 || code == 0xA3; }
bool IsShiftKey(uint8_t code) { return code == 0x10 || code == 0xA0 || code == 0xA1; }
bool IsAltKey(uint8_t code) { return code == 0x12 || code == 0xA4 || code == 0xA5; }
bool IsWinKey(uint8_t code) { return code == 0x5B || code == 0x5C; }

}  // namespace

bool GetKeyName(uint8_t code, std::u16string& name, const app::CVLResString* table) {
  name.clear();
  if (code == 0) return true;
  if ((code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z')) {
    name.assign(1, static_cast<char16_t>(code));
    return true;
  }
  bool named = true;
  if (code >= 0x60 && code <= 0x69) {
    name = app::FormatText(Lookup(u"IDS_VK_NUMPAD_NUM", u"NumPad %d", table), {static_cast<int32_t>(code - 0x60)});
  } else if (code >= 0x70 && code <= 0x87) {
    name = app::FormatText(Lookup(u"IDS_VK_FUN", u"F%d", table), {static_cast<int32_t>(code - 111)});
  } else if (const NamedKey* key = FindNamedKey(code); key != nullptr) {
    name = Lookup(key->language_key, key->english, table);
  } else if (IsLayoutKey(code)) {
    const char16_t typed = plat::VirtualKeyToChar(code);
    if (typed == 0) return false;
    name.assign(1, typed);
    return true;
  } else {
    // The "C" locale's printable range, whatever locale the process runs in, so that the
    // same code is named the same on every machine.
    if (code >= 0x20 && code <= 0x7E) {
      name.assign(1, static_cast<char16_t>(code));
    } else {
      name = app::FormatText(u"#%X", {static_cast<uint32_t>(code)});
    }
    named = false;
  }
  // A translation longer than a key name may be is cut, not refused: the user still sees
  // the beginning of the translator's text, which is better than an English fallback in
  // the middle of a translated list.
  CutTo(name, kKeyNameChars);
  return named;
}

bool BuildHotKeyText(uint8_t first, uint8_t second, uint32_t modifiers, std::u16string& text, bool with_modifiers,
                     const app::CVLResString* table) {
  if (first == 0 && second != 0) {
    first = second;
    second = 0;
  }
  text.clear();
  if (with_modifiers) {
    struct Word {
      uint32_t bit;
      bool skip;
      const char16_t* text;
    };
    const Word words[] = {{kModCtrl, IsCtrlKey(first), u"Ctrl"},
                          {kModShift, IsShiftKey(first), u"Shift"},
                          {kModAlt, IsAltKey(first), u"Alt"},
                          {kModWin, IsWinKey(first), u"Win"},
                          {kModAltGr, first == kVkAltGr, u"AltGr"}};
    for (const Word& word : words) {
      if ((modifiers & word.bit) == 0 || word.skip) continue;
      if (!text.empty()) text += u'+';
      text += word.text;
    }
  }
  std::u16string name;
  GetKeyName(first, name, table);
  if (!name.empty()) {
    if (!text.empty()) text += u'+';
    text += name;
  }
  if (second != 0) {
    GetKeyName(second, name, table);
    if (!name.empty()) {
      if (!text.empty()) text += u',';
      text += name;
    }
  }
  CutTo(text, kHotKeyTextChars);
  return !text.empty();
}

}  // namespace keyboard
