#include "keyboard/hot_key_parse.h"

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/unicode.h"

namespace keyboard {
namespace {

struct NamedKey {
  uint8_t code;
  const char16_t* name;
};

// The English default names of the keys that have a name of their own.
constexpr NamedKey kNamedKeys[] = {
    {0x01, u"Left Button"},
    {0x02, u"Right Button"},
    {0x03, u"Cancel"},
    {0x04, u"Middle button"},
    {0x05, u"XButton1"},
    {0x06, u"XButton2"},
    {0x08, u"Backspace"},
    {0x09, u"TAB"},
    {0x0C, u"NumPad Clear"},
    {0x0D, u"Return"},
    {0x0E, u"Numpad Return"},
    {0x10, u"Shift"},
    {0x11, u"Control"},
    {0x12, u"Alt"},
    {0x13, u"Pause Break"},
    {0x14, u"Caps Lock"},
    {0x1B, u"ESC"},
    {0x20, u"Space"},
    {0x21, u"Page up"},
    {0x22, u"Page down"},
    {0x23, u"End"},
    {0x24, u"Home"},
    {0x25, u"Left"},
    {0x26, u"Up"},
    {0x27, u"Right"},
    {0x28, u"Down"},
    {0x29, u"Select"},
    {0x2A, u"Print"},
    {0x2B, u"Execute"},
    {0x2C, u"Print Screen"},
    {0x2D, u"Insert"},
    {0x2E, u"Delete"},
    {0x2F, u"Help"},
    {0x5B, u"Left Win"},
    {0x5C, u"Right Win"},
    {0x5D, u"Apps"},
    {0x5F, u"Sleep"},
    {0x6A, u"NumPad *"},
    {0x6B, u"NumPad +"},
    {0x6C, u"Separator"},
    {0x6D, u"NumPad -"},
    {0x6E, u"NumPad ."},
    {0x6F, u"NumPad /"},
    {0x90, u"Num Lock"},
    {0x91, u"Scroll Lock"},
    {0xA0, u"Left Shift"},
    {0xA1, u"Right Shift"},
    {0xA2, u"Left Control"},
    {0xA3, u"Right Control"},
    {0xA4, u"Left Alt"},
    {0xA5, u"Right Alt"},
    {0xA6, u"Browser Back"},
    {0xA7, u"Browser Forward"},
    {0xA8, u"Browser Refresh"},
    {0xA9, u"Browser Stop"},
    {0xAA, u"Browser Search"},
    {0xAB, u"Browser Favorites"},
    {0xAC, u"Browser Home"},
    {0xAD, u"Volume Mute"},
    {0xAE, u"Volume Down"},
    {0xAF, u"Volume Up"},
    {0xB0, u"Next Track"},
    {0xB1, u"Prev Track"},
    {0xB2, u"Media Stop"},
    {0xB3, u"Play pause"},
    {0xB4, u"Start Mail"},
    {0xB5, u"Select Media"},
    {0xB6, u"Launch App1"},
    {0xB7, u"Launch App2"},
    {0xFF, u"AltGr"},
};

struct ModifierWord {
  const char16_t* word;
  uint32_t bit;
};
constexpr ModifierWord kModifierWords[] = {
    {u"Ctrl", kModCtrl}, {u"Shift", kModShift}, {u"Alt", kModAlt}, {u"Win", kModWin}, {u"AltGr", kModAltGr},
};

// The keys whose name is the character the keyboard layout gives them: no fixed name.
bool IsLayoutKey(unsigned code) {
  return (code >= 0xBA && code <= 0xC0) || (code >= 0xDB && code <= 0xDF) || code == 0xE2;
}

bool SameWord(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (plat::AsciiLower(a[i]) != plat::AsciiLower(b[i])) return false;
  }
  return true;
}

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
  return text;
}

// The English name of `code` as the key-name table gives it; empty for 0 and for the
// layout keys.
std::u16string EnglishName(unsigned code) {
  for (const NamedKey& key : kNamedKeys) {
    if (key.code == code) return key.name;
  }
  if ((code >= 0x30 && code <= 0x39) || (code >= 0x41 && code <= 0x5A)) return std::u16string(1, char16_t(code));
  if (code >= 0x60 && code <= 0x69) return u"NumPad " + std::u16string(1, char16_t(u'0' + (code - 0x60)));
  if (code >= 0x70 && code <= 0x87) return u"F" + plat::AsciiToUtf16(std::to_string(code - 111));
  if (code == 0 || IsLayoutKey(code)) return {};
  if (code >= 0x20 && code <= 0x7E) return std::u16string(1, char16_t(code));
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string name = u"#";
  if (code >= 0x10) name += kHex[code >> 4];
  name += kHex[code & 0xF];
  return name;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  const char16_t lower = plat::AsciiLower(c);
  if (lower >= u'a' && lower <= u'f') return lower - u'a' + 10;
  return -1;
}

// The code a key name stands for; nothing for an unknown name.
std::optional<uint8_t> KeyCodeOf(std::u16string_view name) {
  // "#XX" reaches every code, also the layout keys that have no fixed name.
  if (name.size() >= 2 && name.size() <= 3 && name[0] == u'#') {
    unsigned code = 0;
    for (char16_t c : name.substr(1)) {
      const int digit = HexDigit(c);
      if (digit < 0) return std::nullopt;
      code = code * 16 + static_cast<unsigned>(digit);
    }
    if (code != 0) return static_cast<uint8_t>(code);
    return std::nullopt;
  }
  for (unsigned code = 1; code <= 0xFF; ++code) {
    const std::u16string english = EnglishName(code);
    if (!english.empty() && SameWord(english, name)) return static_cast<uint8_t>(code);
  }
  return std::nullopt;
}

std::optional<HotKey> Refuse(std::u16string* reason, std::u16string why) {
  if (reason != nullptr) *reason = std::move(why);
  return std::nullopt;
}

}  // namespace

std::optional<HotKey> ParseHotKeyText(std::u16string_view text, std::u16string* reason) {
  std::u16string_view rest = TrimBlanks(text);
  HotKey key;
  if (rest.empty() || SameWord(rest, u"none")) return key;
  // A word is a modifier only when a "+" follows it: "Ctrl+Alt" is the Alt key with Ctrl,
  // and the plus of "NumPad +" is part of the key's name.
  for (;;) {
    const size_t plus = rest.find(u'+', 1);
    if (plus == std::u16string_view::npos) break;
    const std::u16string_view word = TrimBlanks(rest.substr(0, plus));
    const ModifierWord* found = nullptr;
    for (const ModifierWord& modifier : kModifierWords) {
      if (SameWord(word, modifier.word)) found = &modifier;
    }
    if (found == nullptr) break;
    if ((key.modifiers & found->bit) != 0) return Refuse(reason, found->word + std::u16string(u" is given twice"));
    key.modifiers |= found->bit;
    rest = TrimBlanks(rest.substr(plus + 1));
  }
  if (rest.empty()) return Refuse(reason, u"no key follows the modifiers");
  std::u16string_view first = rest;
  std::u16string_view second;
  const size_t comma = rest.find(u',', 1);
  if (comma != std::u16string_view::npos) {
    first = TrimBlanks(rest.substr(0, comma));
    second = TrimBlanks(rest.substr(comma + 1));
    if (second.empty()) return Refuse(reason, u"no second key follows the comma");
  }
  const std::optional<uint8_t> first_code = KeyCodeOf(first);
  if (!first_code) return Refuse(reason, u"no key is named \"" + std::u16string(first) + u"\"");
  key.key = *first_code;
  if (!second.empty()) {
    const std::optional<uint8_t> second_code = KeyCodeOf(second);
    if (!second_code) return Refuse(reason, u"no key is named \"" + std::u16string(second) + u"\"");
    key.second = *second_code;
  }
  return key;
}

}  // namespace keyboard
