// A hot key read back from the text its name prints as ("Ctrl+Shift+F5", "F9", "NumPad 5",
// "none"), for answers given on a command line. Only the English default key names and the
// untranslated modifier words are read; "#XX" names any key code in hexadecimal.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "keyboard/key_names.h"

namespace keyboard {

// The hot key of `text`: modifier words joined by "+" to one key name, optionally followed
// by "," and a second key's name; case and blanks around the parts do not matter. An
// empty text or "none" is no hot key. Nothing when the text names no key, with the reason
// in `reason` when one is given.
std::optional<HotKey> ParseHotKeyText(std::u16string_view text, std::u16string* reason = nullptr);

}  // namespace keyboard
