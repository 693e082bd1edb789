#include "keyboard/hot_key_edit_state.h"

#include "platform/platform.h"

namespace keyboard {
namespace {

constexpr uint32_t kVkTab = 0x09;
constexpr uint32_t kVkReturn = 0x0D;
constexpr uint32_t kExtendedKeyBit = 1u << 24;

bool Down(const KeyState& state, uint8_t code) { return (state[code] & 0x80) != 0; }

// The generic Shift, Ctrl and Alt codes become the left or right key that is down; the
// right one wins when both are.
uint8_t Sided(uint8_t code, const KeyState& state) {
  uint8_t left = 0;
  switch (code) {
    case 0x10:
      left = 0xA0;
      break;
    case 0x11:
      left = 0xA2;
      break;
    case 0x12:
      left = 0xA4;
      break;
    default:
      return code;
  }
  const uint8_t right = static_cast<uint8_t>(left + 1);
  if (Down(state, right)) return right;
  if (Down(state, left)) return left;
  return code;
}

// Letters and digits are the keys that would type into any other field. Only the codes of
// the letter and digit keys count: the lower-case range of the key codes holds the numeric
// keypad and the function keys, which make sense alone.
bool IsPlainKey(uint8_t code) { return (code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z'); }

bool IsModifierKey(uint8_t code) { return (code >= 0xA0 && code <= 0xA5) || code == 0x5B || code == 0x5C; }

}  // namespace

std::u16string HotKeyEditState::Build() const {
  std::u16string text;
  BuildHotKeyText(key_, second_, modifiers_, text, show_modifiers, translate_names ? table_ : nullptr);
  return text;
}

void HotKeyEditState::Show(std::u16string text) {
  text_ = std::move(text);
  text_changed_ = true;
}

void HotKeyEditState::SetHotKey(uint8_t key, uint8_t second, uint32_t modifiers) {
  key_ = key;
  second_ = second;
  modifiers_ = modifiers;
  std::u16string text = Build();
  Show(text.empty() ? empty_text_ : std::move(text));
}

bool HotKeyEditState::TakeTextChange() {
  const bool changed = text_changed_;
  text_changed_ = false;
  return changed;
}

KeyMessage HotKeyEditState::KeyDown(uint32_t vk, uint32_t lparam, const KeyState& state) {
  // Tab is looked at before anything changes: moving the focus must leave the value as it
  // was, modifiers included.
  if (vk == kVkTab && !capture_tab) return KeyMessage::kPassedOn;
  uint8_t key = static_cast<uint8_t>(vk);
  if (vk == kVkReturn && (lparam & kExtendedKeyBit) != 0) key = kVkNumpadReturn;
  key = Sided(key, state);
  uint32_t modifiers = 0;
  if (key != 0xA2 && key != 0xA3 && Down(state, 0x11)) modifiers |= kModCtrl;
  if (key != 0xA0 && key != 0xA1 && Down(state, 0x10)) modifiers |= kModShift;
  if (key != 0xA4 && key != 0xA5 && Down(state, 0x12)) modifiers |= kModAlt;
  if (key != 0x5B && key != 0x5C && (Down(state, 0x5B) || Down(state, 0x5C))) modifiers |= kModWin;
  if (key != kVkAltGr && Down(state, kVkAltGr)) modifiers |= kModAltGr;
  key_ = key;
  modifiers_ = modifiers;
  std::u16string text = Build();
  if (!text.empty()) Show(std::move(text));
  return KeyMessage::kConsumed;
}

KeyMessage HotKeyEditState::KeyUp(uint32_t vk) {
  if (vk == kVkTab && !capture_tab) return KeyMessage::kPassedOn;
  if (!allow_plain_keys && IsPlainKey(key_) && modifiers_ == 0) {
    key_ = 0;
    Show(u"");
  }
  // The window is emptied too: showing "Left Shift" over a value without a key would
  // tell the user something the page will not store.
  if (!allow_modifier_keys && IsModifierKey(key_)) {
    key_ = 0;
    modifiers_ = 0;  // nothing is kept, not even the other modifiers held with it
    Show(u"");
  }
  return KeyMessage::kPassedOn;
}

bool HotKeyEditState::SelectAllOnFocus(std::u16string_view window_text) const {
  return plat::EqualNoCase(window_text, empty_text_);
}

}  // namespace keyboard
