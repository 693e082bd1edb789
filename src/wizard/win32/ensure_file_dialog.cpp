#include "wizard/win32/ensure_file_dialog.h"

#include "app/win32/startup_host.h"
#include "wizard/win32/win32_text.h"

namespace wizard::win32 {

INT_PTR CDlg_EnsureFile::Run(HWND owner) { return DoModal(owner, 134); }

std::vector<ui::ControlDecl> CDlg_EnsureFile::ControlDecls() const {
  return {{ui::kControlText, kIdEnsureDestinationLabel, u"IDS_S_DESTFILE"},
          {ui::kControlEdit, kIdEnsureDestination, nullptr},
          {ui::kControlText, kIdEnsurePositionLabel, u"IDS_S_FILEPOS"},
          {ui::kControlEdit, kIdEnsurePosition, nullptr},
          {ui::kControlButton, kIdEnsureBrowse, u"IDS_BTN_BROWSE"},
          {ui::kControlLine, kIdEnsureLine, nullptr},
          {ui::kControlButton, IDOK, u"IDOK"},
          {ui::kControlButton, IDCANCEL, u"IDCANCEL"}};
}

BOOL CDlg_EnsureFile::OnInitDialog() {
  CVLDialog::OnInitDialog();
  // A missing title key shows the key itself, so that a damaged language file is seen.
  std::u16string title;
  app_.GetText(title, TitleKey());
  ::SetWindowTextW(window_, W(title));
  ::SendDlgItemMessageW(window_, kIdEnsureDestination, EM_LIMITTEXT, 259, 0);
  ::SendDlgItemMessageW(window_, kIdEnsurePosition, EM_LIMITTEXT, 259, 0);
  UpdateOk();
  return TRUE;
}

bool CDlg_EnsureFile::DataExchange(bool save) {
  if (save) {
    values_ = Read();
    return true;
  }
  SetItemText(window_, kIdEnsureDestination, values_.destination);
  SetItemText(window_, kIdEnsurePosition, values_.position);
  return true;
}

EnsureFileValues CDlg_EnsureFile::Read() const {
  return {ItemText(window_, kIdEnsureDestination), ItemText(window_, kIdEnsurePosition)};
}

void CDlg_EnsureFile::UpdateOk() { ::EnableWindow(::GetDlgItem(window_, IDOK), EnsureFileOkEnabled(Read())); }

void CDlg_EnsureFile::OnCommand(int id, int code) {
  if ((id == kIdEnsureDestination || id == kIdEnsurePosition) && code == EN_CHANGE) {
    UpdateOk();
    return;
  }
  if (id == kIdEnsureBrowse && code == BN_CLICKED) {
    std::u16string chosen;
    if (app::ChooseFileDialog(app_, u"IDS_FILEFILTER_ALL", chosen, true, false, nullptr, 0)) {
      values_ = EnsureFileBrowsed(Read(), chosen);
      DataExchange(false);
    }
    return;
  }
  CVLDialog::OnCommand(id, code);
}

}  // namespace wizard::win32
