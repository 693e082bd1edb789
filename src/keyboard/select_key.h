// The key selection dialog without its window: the keys it offers, what it selects and
// enables, its title, and the hot key its OK button gives.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "keyboard/key_names.h"

namespace keyboard {

struct KeyListItem {
  std::u16string text;
  uint8_t code = 0;  // 0: the none entry
  friend bool operator==(const KeyListItem&, const KeyListItem&) = default;
};

// The check boxes, one per modifier bit.
struct ModifierChecks {
  bool alt = false;
  bool ctrl = false;
  bool shift = false;
  bool win = false;
  bool alt_gr = false;
};
ModifierChecks ChecksOf(uint32_t modifiers);
uint32_t ModifiersOf(const ModifierChecks& checks);

// The drop-down list in its order: the none entry, then every key with a name of its own.
// Modifier keys are left out while the check boxes give the modifiers.
std::vector<KeyListItem> KeyListItems(const app::CVLResString* table, bool modifiers_allowed);
// The index of the item of `key`; the none entry when the list has none.
int InitialKeyIndex(const std::vector<KeyListItem>& items, uint8_t key);
// Whether the check boxes can be used with list index `index` selected (-1: no selection).
bool ChecksEnabled(bool modifiers_allowed, int index);
// The caller's title, else the language text; a missing key shows itself.
std::u16string SelectKeyTitle(const app::CVLResString* table, std::u16string_view title);
// The AltGr box is hidden for a Chinese language: those keyboards have no AltGr key.
inline bool AltGrShown(bool chinese_language) { return !chinese_language; }

// The hot key OK gives. `index` -1 is found by the list's text among the items; when no
// item has that text, nothing was chosen and the caller's value stays.
HotKey SelectKeyResult(const std::vector<KeyListItem>& items, int index, std::u16string_view list_text,
                       const ModifierChecks& checks, const HotKey& caller);

}  // namespace keyboard
