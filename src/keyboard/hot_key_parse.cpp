#include "keyboard/hot_key_parse.h"

#include <cstdint>
#include <string>
#include <utility>

#include "keyboard/key_names.h"
#include "platform/ascii_text.h"
#include "platform/unicode.h"

namespace keyboard {
namespace {

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

// The English name of `code` as the key names show it; empty for 0 and for the layout
// keys, whose name depends on the machine.
std::u16string EnglishName(unsigned code) {
  if (code == 0 || IsLayoutKey(code)) return {};
  std::u16string name;
  GetKeyName(static_cast<uint8_t>(code), name, nullptr);
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
    if (!english.empty() && plat::EqualAsciiNoCase(english, name)) return static_cast<uint8_t>(code);
  }
  return std::nullopt;
}

std::optional<HotKey> Refuse(std::u16string* reason, std::u16string why) {
  if (reason != nullptr) *reason = std::move(why);
  return std::nullopt;
}

}  // namespace

std::optional<HotKey> ParseHotKeyText(std::u16string_view text, std::u16string* reason) {
  std::u16string_view rest = plat::TrimSpacesAndTabs(text);
  HotKey key;
  if (rest.empty() || plat::EqualAsciiNoCase(rest, u"none")) return key;
  // A word is a modifier only when a "+" follows it: "Ctrl+Alt" is the Alt key with Ctrl,
  // and the plus of "NumPad +" is part of the key's name.
  for (;;) {
    const size_t plus = rest.find(u'+', 1);
    if (plus == std::u16string_view::npos) break;
    const std::u16string_view word = plat::TrimSpacesAndTabs(rest.substr(0, plus));
    const ModifierWord* found = nullptr;
    for (const ModifierWord& modifier : kModifierWords) {
      if (plat::EqualAsciiNoCase(word, modifier.word)) found = &modifier;
    }
    if (found == nullptr) break;
    if ((key.modifiers & found->bit) != 0) return Refuse(reason, found->word + std::u16string(u" is given twice"));
    key.modifiers |= found->bit;
    rest = plat::TrimSpacesAndTabs(rest.substr(plus + 1));
  }
  if (rest.empty()) return Refuse(reason, u"no key follows the modifiers");
  std::u16string_view first = rest;
  std::u16string_view second;
  const size_t comma = rest.find(u',', 1);
  if (comma != std::u16string_view::npos) {
    first = plat::TrimSpacesAndTabs(rest.substr(0, comma));
    second = plat::TrimSpacesAndTabs(rest.substr(comma + 1));
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
