#include <windows.h>
// windows.h first: the shell headers build on it.
#include <shellapi.h>
#include <shlwapi.h>

#include "app/win32/startup_host.h"
#include "platform/platform.h"

#include "wizard/win32/win32_text.h"
#include "wizard/win32/wizard_page.h"

namespace wizard::win32 {
namespace {

// The last page: where the EXE goes, how it runs, and the build.

class DestinationView : public WizardPage {
 public:
  using WizardPage::WizardPage;
  bool LeaveForward() override {
    Context();
    HCURSOR previous = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    const DestinationPage::BuildResult result = sheet_.Flow().Destination().Build(Read());
    ::SetCursor(previous);
    SetItemText(window_, kIdDestination, result.destination);
    if (result.attempted) ::EnableWindow(::GetDlgItem(window_, kIdTestExe), TRUE);
    FocusItem(result.focus);
    return false;
  }
  void OnShow() override { ::EnableWindow(::GetDlgItem(window_, kIdTestExe), FALSE); }
  void OnClose() override {
    // A page the sheet never created keeps the record's values.
    if (window_ != nullptr) sheet_.Flow().Destination().Close(Read());
  }

 protected:
  std::vector<ui::ControlDecl> PageControls() const override {
    return {{ui::kControlText, kIdDestinationLabel, u"IDS_S_DESTFILE"},
            {ui::kControlEdit, kIdDestination, nullptr},
            {ui::kControlButton, kIdDestinationBrowse, u"IDS_BTN_BROWSE"},
            {ui::kControlText, kIdRunModeLabel, u"IDS_CT_RUNMODE"},
            {ui::kControlCombox, kIdRunMode, nullptr},
            {ui::kControlButton, kIdSaveProject, u"IDS_BTN_SAVEOPTS4NEXT"},
            {ui::kControlButton, kIdTestExe, u"IDS_BTN_WME_TEST"},
            {ui::kControlButton, kIdOpenFolder, u"IDS_BTN_OPENFOLDER"}};
  }
  BOOL OnInitDialog() override {
    WizardPage::OnInitDialog();
    ::SHAutoComplete(::GetDlgItem(window_, kIdDestination), SHACF_FILESYSTEM);
    ::SendDlgItemMessageW(window_, kIdDestination, EM_LIMITTEXT, 259, 0);
    const DestinationValues values = sheet_.Flow().Destination().Initial();
    FillList(kIdRunMode, {u"IDS_TARGETRUNMODE_%d", 0, kRunModes - 1}, values.run_mode);
    SetItemText(window_, kIdDestination, values.destination);
    ::CheckDlgButton(window_, kIdSaveProject, values.save_project ? BST_CHECKED : BST_UNCHECKED);
    ::EnableWindow(::GetDlgItem(window_, kIdTestExe), FALSE);
    return TRUE;
  }
  void OnCommand(int id, int code) override {
    if (id == kIdRunMode && code == CBN_SELCHANGE) ::EnableWindow(::GetDlgItem(window_, kIdTestExe), FALSE);
    if (code != BN_CLICKED) return;
    if (id == kIdDestinationBrowse) {
      std::u16string chosen;
      if (app::ChooseFileDialog(App(), u"IDS_FILEFILTER_EXE", chosen, false, false, nullptr, 0)) {
        SetItemText(window_, kIdDestination, WithExeExtension(chosen));
      }
    } else if (id == kIdTestExe) {
      const std::u16string exe = ItemText(window_, kIdDestination);
      if (plat::FileExists(exe) && !plat::IsDirectory(exe)) Open(exe);
    } else if (id == kIdOpenFolder) {
      const std::u16string folder = FolderToOpen(ItemText(window_, kIdDestination));
      if (!folder.empty()) Open(folder);
    }
  }

 private:
  DestinationValues Read() const {
    DestinationValues values;
    values.destination = ItemText(window_, kIdDestination);
    const LRESULT mode = ::SendDlgItemMessageW(window_, kIdRunMode, CB_GETCURSEL, 0, 0);
    values.run_mode = mode == CB_ERR ? 0 : static_cast<int>(mode);
    values.save_project = ::IsDlgButtonChecked(window_, kIdSaveProject) == BST_CHECKED;
    return values;
  }
  void Open(const std::u16string& target) {
    ::ShellExecuteW(window_, L"open", W(target), nullptr, nullptr, SW_SHOWNORMAL);
  }
};

}  // namespace

std::unique_ptr<WizardPage> MakeDestinationView(WizardSheet& sheet, size_t index) {
  return std::make_unique<DestinationView>(sheet, index);
}

}  // namespace wizard::win32
