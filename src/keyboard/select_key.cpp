#include "keyboard/select_key.h"

#include "app/res_string.h"

namespace keyboard {
namespace {

bool Skipped(unsigned code, bool modifiers_allowed) {
  // The mouse buttons above 3 and one reserved code are never keys to press.
  if (code >= 4 && code <= 7) return true;
  if (!modifiers_allowed) return false;
  return (code >= 0x10 && code <= 0x12) || code == 0x5B || code == 0x5C || (code >= 0xA0 && code <= 0xA5);
}

}  // namespace

ModifierChecks ChecksOf(uint32_t modifiers) {
  return {(modifiers & kModAlt) != 0, (modifiers & kModCtrl) != 0, (modifiers & kModShift) != 0,
          (modifiers & kModWin) != 0, (modifiers & kModAltGr) != 0};
}

uint32_t ModifiersOf(const ModifierChecks& checks) {
  return (checks.alt ? kModAlt : 0) | (checks.shift ? kModShift : 0) | (checks.ctrl ? kModCtrl : 0) |
         (checks.win ? kModWin : 0) | (checks.alt_gr ? kModAltGr : 0);
}

std::vector<KeyListItem> KeyListItems(const app::CVLResString* table, bool modifiers_allowed) {
  std::vector<KeyListItem> items;
  KeyListItem none;
  if (table == nullptr) {
    none.text = u"(None)";
  } else {
    table->GetString(none.text, u"IDS_S_KEY_NONE");
  }
  items.push_back(std::move(none));
  for (unsigned code = 3; code <= 255; ++code) {
    if (Skipped(code, modifiers_allowed)) continue;
    KeyListItem item;
    item.code = static_cast<uint8_t>(code);
    if (GetKeyName(item.code, item.text, table)) items.push_back(std::move(item));
  }
  return items;
}

int InitialKeyIndex(const std::vector<KeyListItem>& items, uint8_t key) {
  for (size_t i = 1; i < items.size(); ++i) {
    if (items[i].code == key) return static_cast<int>(i);
  }
  return 0;
}

bool ChecksEnabled(bool modifiers_allowed, int index) {
  // Choosing a key must not switch on modifiers the caller does not allow.
  return modifiers_allowed && index != 0;
}

std::u16string SelectKeyTitle(const app::CVLResString* table, std::u16string_view title) {
  if (!title.empty()) return std::u16string(title);
  std::u16string text = u"IDS_WT_SELECTKEY";
  if (table != nullptr) table->GetString(text, u"IDS_WT_SELECTKEY");
  return text;
}

HotKey SelectKeyResult(const std::vector<KeyListItem>& items, int index, std::u16string_view list_text,
                       const ModifierChecks& checks, const HotKey& caller) {
  if (index < 0 || static_cast<size_t>(index) >= items.size()) {
    index = -1;
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i].text == list_text) {
        index = static_cast<int>(i);
        break;
      }
    }
    if (index < 0) return caller;
  }
  if (index == 0) return {};
  return {items[static_cast<size_t>(index)].code, caller.second, ModifiersOf(checks)};
}

}  // namespace keyboard
