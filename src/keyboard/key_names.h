// Names of keys and hot keys as the user reads them ("Ctrl+Shift+F5", "Left Control").
// Key names come from the language table under "IDS_VK_" keys, with English defaults;
// the modifier words are never translated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace app {
class CVLResString;
}

namespace keyboard {

// Modifier bits of a hot key: the system's hot-key bits and our own AltGr bit.
inline constexpr uint32_t kModAlt = 0x1;
inline constexpr uint32_t kModCtrl = 0x2;
inline constexpr uint32_t kModShift = 0x4;
inline constexpr uint32_t kModWin = 0x8;
inline constexpr uint32_t kModAltGr = 0x10;

// Key codes of our own beside the system's virtual keys.
inline constexpr uint8_t kVkNumpadReturn = 0x0E;
inline constexpr uint8_t kVkAltGr = 0xFF;

// A key name holds at most this many characters, a hot-key text this many.
inline constexpr size_t kKeyNameChars = 31;
inline constexpr size_t kHotKeyTextChars = 259;

// One hot key as the edit, the key selection dialog and the options record carry it.
struct HotKey {
  uint8_t key = 0;     // 0: none
  uint8_t second = 0;  // carried along unchanged
  uint32_t modifiers = 0;
  friend bool operator==(const HotKey&, const HotKey&) = default;
};

// The display name of `code`. `table` is the language table to translate with; nullptr
// gives the built-in English names. False for a code without a name of its own (shown as
// its character or "#XX"), and for a layout key that types no character.
bool GetKeyName(uint8_t code, std::u16string& name, const app::CVLResString* table);

// The hot key as one line of text; false when the text is empty.
bool BuildHotKeyText(uint8_t first, uint8_t second, uint32_t modifiers, std::u16string& text, bool with_modifiers,
                     const app::CVLResString* table);

}  // namespace keyboard
