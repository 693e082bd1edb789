#include <windows.h>
// windows.h first: the shell headers build on it.

#include "app/win32/startup_host.h"

#include "wizard/win32/win32_text.h"
#include "wizard/win32/wizard_page.h"

namespace wizard::win32 {
namespace {

// The first page: the EXE's name, icon and start-up window.

class ExePropertiesView : public WizardPage {
 public:
  using WizardPage::WizardPage;
  bool LeaveForward() override {
    const LeaveResult left = sheet_.Flow().Properties().LeaveForward(Read());
    FocusItem(left.proceed ? 0 : left.focus);
    return left.proceed;
  }

 protected:
  std::vector<ui::ControlDecl> PageControls() const override {
    return {{ui::kControlText, 1180, u"IDS_S_WME_NAME"},
            {ui::kControlEdit, kIdExeName, nullptr},
            {ui::kControlText, 1004, u"IDS_S_WME_ICONFILE"},
            {ui::kControlEdit, kIdIconPath, nullptr},
            {ui::kControlButton, kIdIconBrowse, u"IDS_BTN_BROWSE"},
            {ui::kControlButton, kIdStartupGroup, u"IDS_G_WMF_STARTUP"},
            {ui::kControlText, kIdTipsLabel, u"IDS_S_WME_AUTHORTIPS"},
            {ui::kControlEdit, kIdAuthorTips, nullptr},
            {ui::kControlText, kIdUrlLabel, u"IDS_S_WME_RELATEDURL"},
            {ui::kControlEdit, kIdRelatedUrl, nullptr},
            {ui::kControlText, kIdPictureLabel, u"IDS_S_WME_PICTITLE"},
            {ui::kControlEdit, kIdPicturePath, nullptr},
            {ui::kControlButton, kIdPictureBrowse, u"IDS_BTN_BROWSE"},
            {ui::kControlButton, kIdShowStartup, u"IDS_S_WME_SHOWSTARTUP"},
            {ui::kControlButton, kIdResetVersion, u"IDS_S_WME_RESETVER"}};
  }
  BOOL OnInitDialog() override {
    WizardPage::OnInitDialog();
    ::SendDlgItemMessageW(window_, kIdStartupGroup, WM_SETFONT,
                          reinterpret_cast<WPARAM>(ui::CNewAspect::Global().BoldFont()), FALSE);
    for (const auto& [id, limit] :
         {std::pair{kIdExeName, 130}, std::pair{kIdIconPath, 259}, std::pair{kIdAuthorTips, 260},
          std::pair{kIdRelatedUrl, 130}, std::pair{kIdPicturePath, 259}}) {
      ::SendDlgItemMessageW(window_, id, EM_LIMITTEXT, static_cast<WPARAM>(limit), 0);
    }
    const ExeProperties values = sheet_.Flow().Properties().Initial();
    SetItemText(window_, kIdExeName, values.name);
    SetItemText(window_, kIdIconPath, values.icon);
    SetItemText(window_, kIdAuthorTips, values.tips);
    SetItemText(window_, kIdRelatedUrl, values.url);
    SetItemText(window_, kIdPicturePath, values.picture);
    ::CheckDlgButton(window_, kIdShowStartup, values.show_startup ? BST_CHECKED : BST_UNCHECKED);
    ::CheckDlgButton(window_, kIdResetVersion, values.reset_version ? BST_CHECKED : BST_UNCHECKED);
    EnableStartup();
    return TRUE;
  }
  void OnCommand(int id, int code) override {
    if (code != BN_CLICKED) return;
    if (id == kIdShowStartup) EnableStartup();
    if (id == kIdIconBrowse || id == kIdPictureBrowse) {
      const bool icon = id == kIdIconBrowse;
      std::u16string chosen;
      if (!app::ChooseFileDialog(App(), icon ? u"IDS_FILEFILTER_ICON" : u"IDS_FILEFILTER_BMP", chosen, true, false,
                                 nullptr, 0)) {
        return;
      }
      Context();
      ExePropertiesPage& rules = sheet_.Flow().Properties();
      if (icon ? rules.CheckIcon(chosen) : rules.CheckBitmap(chosen)) {
        SetItemText(window_, icon ? kIdIconPath : kIdPicturePath, chosen);
      }
    }
  }

 private:
  ExeProperties Read() {
    Context();
    ExeProperties values;
    values.name = ItemText(window_, kIdExeName);
    values.icon = ItemText(window_, kIdIconPath);
    values.tips = ItemText(window_, kIdAuthorTips);
    values.url = ItemText(window_, kIdRelatedUrl);
    values.picture = ItemText(window_, kIdPicturePath);
    values.show_startup = ::IsDlgButtonChecked(window_, kIdShowStartup) == BST_CHECKED;
    values.reset_version = ::IsDlgButtonChecked(window_, kIdResetVersion) == BST_CHECKED;
    return values;
  }
  void EnableStartup() {
    const bool on = ::IsDlgButtonChecked(window_, kIdShowStartup) == BST_CHECKED;
    for (int id : kStartupControls) ::EnableWindow(::GetDlgItem(window_, id), on);
  }
};

}  // namespace

std::unique_ptr<WizardPage> MakeExePropertiesView(WizardSheet& sheet, size_t index) {
  return std::make_unique<ExePropertiesView>(sheet, index);
}

}  // namespace wizard::win32
