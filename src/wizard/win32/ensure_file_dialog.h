// The destination file dialog: where a hand-added extra file is taken from and the name it
// is packed under. The rules are wizard/ensure_file.h; this class only moves the texts.
#pragma once

#include "app/brankel_app.h"
#include "ui/win32/dialogs.h"
#include "wizard/ensure_file.h"

namespace wizard::win32 {

class CDlg_EnsureFile : public ui::CVLDialog {
 public:
  CDlg_EnsureFile(app::CBrankelApp& app, EnsureFileValues values) : app_(app), values_(std::move(values)) {}
  // IDOK when the user accepted; the values are then the edits' texts.
  INT_PTR Run(HWND owner);
  const EnsureFileValues& Values() const { return values_; }

 protected:
  std::vector<ui::ControlDecl> ControlDecls() const override;
  const char16_t* TitleKey() const override { return u"IDS_WT_ENSUREFILE"; }
  BOOL OnInitDialog() override;
  bool DataExchange(bool save) override;
  void OnCommand(int id, int code) override;

 private:
  EnsureFileValues Read() const;
  void UpdateOk();

  app::CBrankelApp& app_;
  EnsureFileValues values_;
};

}  // namespace wizard::win32
