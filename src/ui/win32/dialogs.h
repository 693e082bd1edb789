// Skinned dialogs and property pages. A dialog names its controls in a control table;
// the base creates the skinned control of each entry, sets the texts from the language
// table and paints the background, then the standard set-up moves the values in.
#pragma once

#include <windows.h>

#include <prsht.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/win32/controls.h"

namespace ui {

enum ControlType : uint32_t {
  kControlText = 0,
  kControlButton = 1,
  kControlEdit = 2,
  kControlCombox = 3,
  kControlListBox = 4,
  kControlTimeEdit = 5,
  kControlGrid = 6,
  kControlSlider = 7,
  kControlSliderCreated = 8,
  kControlLine = 9,
};

inline constexpr size_t kTextKeyChars = 32;  // 31 characters and the terminator

struct ControlEntry {
  std::unique_ptr<CVLWnd> control;  // none for type 0
  uint32_t type = kControlText;
  int id = 0;
  char16_t text_key[kTextKeyChars] = {};
};

// How a class declares its table: type, id and text key of each control.
struct ControlDecl {
  uint32_t type;
  int id;
  const char16_t* text_key;  // nullptr or empty: the text is not set
};

class CVLBaseDialog {
 public:
  virtual ~CVLBaseDialog() = default;
  HWND Handle() const { return window_; }
  CVLWnd* Control(int id) const;
  template <typename T>
  T* ControlAs(int id) const {
    return dynamic_cast<T*>(Control(id));
  }
  const std::vector<ControlEntry>& ControlTable() const { return table_; }

 protected:
  // The concrete class's table and title key.
  virtual std::vector<ControlDecl> ControlDecls() const { return {}; }
  virtual const char16_t* TitleKey() const { return nullptr; }
  // Creates the table's controls, sets their texts and the title. Runs first.
  virtual void SetupControls();
  // The base's own set-up: the skin's font, then the background.
  virtual void SetupFont();
  virtual void SetupSkin();
  // The standard initialisation: moves the member values into the controls (`save`
  // false) or back (`save` true).
  virtual bool DataExchange(bool /*save*/) { return true; }
  virtual BOOL OnInitDialog();
  virtual void OnCommand(int id, int code);
  // Messages not handled by the base; return true when handled (result in `result`).
  virtual bool OnMessage(UINT /*message*/, WPARAM /*wparam*/, LPARAM /*lparam*/, INT_PTR& /*result*/) { return false; }
  void EndWith(int result);
  std::u16string Text(const char16_t* key) const;

  INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  HWND window_ = nullptr;
  std::vector<ControlEntry> table_;
  bool modal_ = true;
};

// A modal dialog from a template resource of the program or from a template in memory.
class CVLDialog : public CVLBaseDialog {
 public:
  INT_PTR DoModal(HWND owner, int template_id);
  INT_PTR DoModalIndirect(HWND owner, const DLGTEMPLATE* dialog_template);
};

// The same for extended templates (DLGTEMPLATEEX).
class CVLDialogEx : public CVLDialog {};

// A page of a property sheet; PageInfo gives the sheet what it needs to create it.
class CVLPropertyPage : public CVLBaseDialog {
 public:
  PROPSHEETPAGEW PageInfo(int template_id);
  PROPSHEETPAGEW PageInfoIndirect(const DLGTEMPLATE* page_template);

 private:
  static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
};

// The modal message window: text, an optional second text below it, the buttons of the
// type's low four bits with captions from the language table, the type's icon; with an
// automatic answer, that button is the default and, when `auto_value` seconds are given,
// is pressed when they run out (the count shows in its caption).
class CVLDlgViewMes : public CVLDialog {
 public:
  explicit CVLDlgViewMes(app::MessageRequest request) : request_(std::move(request)) {}
  int Run();

 protected:
  BOOL OnInitDialog() override;
  void OnCommand(int id, int code) override;
  bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;

 private:
  void Layout();
  std::u16string Caption(size_t button) const;
  void PaintBody(HDC dc);

  app::MessageRequest request_;
  std::vector<std::unique_ptr<CVLButton>> buttons_;
  RECT text_rect_{}, second_rect_{};
  HICON icon_ = nullptr;
  int remaining_ = 0;
};

}  // namespace ui
