// What the hot-key edit does with the keys the user presses, without its window: the
// Win32 control hands each key message here with the keyboard state of that moment and
// shows the text this keeps.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "keyboard/key_names.h"

namespace keyboard {

// One byte per virtual key, as the system's keyboard state gives it (bit 0x80: down).
using KeyState = uint8_t[256];

// Whether a key message stops here or goes on to the edit's own handling.
enum class KeyMessage { kConsumed, kPassedOn };

class HotKeyEditState {
 public:
  explicit HotKeyEditState(const app::CVLResString* table = nullptr) : table_(table) {}

  // When false, a letter or digit key without modifiers is not kept.
  bool allow_plain_keys = false;
  // When false, Tab moves the focus as usual instead of being captured.
  bool capture_tab = false;
  bool show_modifiers = true;
  // When false, a modifier key pressed alone (Win, left or right Shift, Ctrl, Alt) is not kept.
  bool allow_modifier_keys = true;
  bool translate_names = true;

  void SetTable(const app::CVLResString* table) { table_ = table; }
  void SetEmptyText(std::u16string text) { empty_text_ = std::move(text); }
  const std::u16string& EmptyText() const { return empty_text_; }

  // Shows the value's text, or the empty text when the value has none.
  void SetHotKey(uint8_t key, uint8_t second, uint32_t modifiers);
  HotKey Value() const { return {key_, second_, modifiers_}; }
  // The text the window shows.
  const std::u16string& Text() const { return text_; }
  // True once after each change of Text() that the window has not yet been given.
  bool TakeTextChange();

  // A key-down (also a system key-down) of `vk`; `lparam` is the message's, `state` the
  // keyboard state at this moment.
  KeyMessage KeyDown(uint32_t vk, uint32_t lparam, const KeyState& state);
  // A key-up; the rules look at the stored key, not at the released one.
  KeyMessage KeyUp(uint32_t vk);
  // On gaining the focus: whether the whole text is selected, which it is while the
  // window shows the empty text (ignoring case).
  bool SelectAllOnFocus(std::u16string_view window_text) const;

 private:
  std::u16string Build() const;
  void Show(std::u16string text);

  const app::CVLResString* table_;
  uint8_t key_ = 0;
  uint8_t second_ = 0;
  uint32_t modifiers_ = 0;
  std::u16string text_;
  std::u16string empty_text_;
  bool text_changed_ = false;
};

}  // namespace keyboard
