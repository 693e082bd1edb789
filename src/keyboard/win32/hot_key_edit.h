// The hot-key edit control and the key selection dialog. The key handling itself is the
// portable `keyboard::HotKeyEditState`; these classes only forward window messages to it.
#pragma once

#include <windows.h>

#include <string>

#include "keyboard/key_names.h"
#include "ui/win32/controls.h"
#include "ui/win32/dialogs.h"

namespace app {
class CBrankelApp;
}

namespace keyboard {

class CVLHotKeyEditBox : public ui::CVLEdit {
 public:
  // Takes over the dialog's edit control `id`. `table` translates the key names (nullptr:
  // English names).
  bool Create(HWND dialog, int id, const app::CVLResString* table);
  void SetHotKey(uint8_t key, uint8_t second, uint32_t modifiers);
  HotKey Value() const;
};

// The edit of the playback options page: tells the sibling macro program's hidden window
// when it gains and loses the focus, so that program stops reacting to the keys meanwhile.
class CMacroHotKeyEdit : public CVLHotKeyEditBox {};

class CDlg_SelectKey : public ui::CVLDialog {
 public:
  explicit CDlg_SelectKey(app::CBrankelApp& app);
  // Set before Run; read back after it returned IDOK.
  HotKey value;
  std::u16string title;  // replaces the "IDS_WT_SELECTKEY" text when not empty
  bool modifiers_allowed = true;
  // Runs the dialog (template 331) modally; IDOK or IDCANCEL.
  INT_PTR Run(HWND owner);
};

}  // namespace keyboard
