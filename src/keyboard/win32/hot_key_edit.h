// The hot-key edit control and the key selection dialog. The key handling itself is the
// portable `keyboard::HotKeyEditState`; these classes only forward window messages to it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "keyboard/hot_key_edit_state.h"
#include "keyboard/key_names.h"
#include "keyboard/select_key.h"
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
  // The flags and the empty text, for a caller that wants other than the defaults.
  HotKeyEditState& State() { return state_; }

 protected:
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;
  // Called on gaining (true) and losing the focus, before the edit handles it.
  virtual void OnFocusChange(bool /*gained*/) {}

 private:
  void ShowText();

  HotKeyEditState state_;
};

// The edit of the playback options page: tells the sibling macro program's hidden window
// when it gains and loses the focus, so that program stops reacting to the keys meanwhile.
class CMacroHotKeyEdit : public CVLHotKeyEditBox {
 protected:
  void OnFocusChange(bool gained) override;
};

class CDlg_SelectKey : public ui::CVLDialog {
 public:
  explicit CDlg_SelectKey(app::CBrankelApp& app);
  // Set before Run; read back after it returned IDOK.
  HotKey value;
  std::u16string title;  // replaces the "IDS_WT_SELECTKEY" text when not empty
  bool modifiers_allowed = true;
  // Runs the dialog (template 331) modally; IDOK or IDCANCEL.
  INT_PTR Run(HWND owner);

 protected:
  std::vector<ui::ControlDecl> ControlDecls() const override;
  BOOL OnInitDialog() override;
  bool DataExchange(bool save) override;
  void OnCommand(int id, int code) override;

 private:
  void EnableChecks(bool enabled);

  app::CBrankelApp& app_;
  std::vector<KeyListItem> items_;
};

}  // namespace keyboard
