// Pages 4 and 5: how the built EXE's player plays, its hot keys and its play parameters.
#include <windows.h>

#include <string>
#include <vector>

#include "app/brankel_app.h"
#include "keyboard/win32/hot_key_edit.h"
#include "wizard/play_parameters.h"
#include "wizard/playback_options.h"
#include "wizard/win32/win32_text.h"
#include "wizard/win32/wizard_page.h"

namespace wizard::win32 {
namespace {

bool Checked(HWND dialog, int id) { return ::IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
void Check(HWND dialog, int id, bool on) { ::CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED); }

int Selection(HWND dialog, int id) {
  const LRESULT index = ::SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

class PlaybackOptionsView : public WizardPage {
 public:
  using WizardPage::WizardPage;
  bool LeaveForward() override {
    Context();
    PlaybackOptions values;
    values.log_level = Selection(window_, kIdLogLevel);
    if (values.log_level < 0) values.log_level = 0;
    values.stop = stop_.Value();
    values.pause = pause_.Value();
    values.show_play_option = Checked(window_, kIdShowPlayOption);
    values.use_system_ui = Checked(window_, kIdUseSystemUI);
    values.save_play_options = Checked(window_, kIdSavePlayOptions);
    return sheet_.Flow().Playback().LeaveForward(values).proceed;
  }

 protected:
  std::vector<ui::ControlDecl> PageControls() const override {
    return {{ui::kControlText, kIdLogLevelLabel, u"IDS_S_LOGLEVEL"},
            {ui::kControlCombox, kIdLogLevel, nullptr},
            {ui::kControlText, kIdStopKeyLabel, u"IDS_S_STOPHOTKEY"},
            {ui::kControlButton, kIdStopKeyBrowse, u"IDS_BTN_BROWSE"},
            {ui::kControlText, kIdPauseKeyLabel, u"IDS_S_PAUSEHOTKEY"},
            {ui::kControlButton, kIdPauseKeyBrowse, u"IDS_BTN_BROWSE"},
            {ui::kControlButton, kIdShowPlayOption, u"IDS_CHK_SHOWPLAYOPTION"},
            {ui::kControlButton, kIdUseSystemUI, u"IDS_CHK_USESYSTEMUI"},
            {ui::kControlButton, kIdSavePlayOptions, u"IDS_CHK_SAVEPLAYOPTS"}};
  }
  BOOL OnInitDialog() override {
    WizardPage::OnInitDialog();
    const app::CVLResString* table = App().LanguageTable();
    stop_.Create(window_, kIdStopKey, table);
    pause_.Create(window_, kIdPauseKey, table);
    const PlaybackOptions values = sheet_.Flow().Playback().Initial();
    FillList(kIdLogLevel, kLogLevelItems, values.log_level);
    Check(window_, kIdSavePlayOptions, values.save_play_options);
    Check(window_, kIdUseSystemUI, values.use_system_ui);
    Check(window_, kIdShowPlayOption, values.show_play_option);
    stop_.SetHotKey(values.stop.key, values.stop.second, values.stop.modifiers);
    pause_.SetHotKey(values.pause.key, values.pause.second, values.pause.modifiers);
    return TRUE;
  }
  void OnCommand(int id, int code) override {
    if (code != BN_CLICKED || (id != kIdStopKeyBrowse && id != kIdPauseKeyBrowse)) return;
    keyboard::CMacroHotKeyEdit& edit = id == kIdStopKeyBrowse ? stop_ : pause_;
    keyboard::CDlg_SelectKey dialog(App());
    dialog.value = edit.Value();
    if (dialog.Run(window_) != IDOK) return;
    edit.SetHotKey(dialog.value.key, dialog.value.second, dialog.value.modifiers);
  }

 private:
  keyboard::CMacroHotKeyEdit stop_;
  keyboard::CMacroHotKeyEdit pause_;
};

class PlayParametersView : public WizardPage {
 public:
  using WizardPage::WizardPage;
  bool LeaveForward() override {
    Context();
    return sheet_.Flow().PlayParams().LeaveForward(Read()).proceed;
  }

 protected:
  const char16_t* TitleLineKey() const override { return u"IDS_WT_MAKEEXE_PLAYPARA"; }
  std::vector<ui::ControlDecl> PageControls() const override {
    return {{ui::kControlButton, kIdDefaultParameters, u"IDS_CHK_TRI_PM_DEFPARA1"},
            {ui::kControlText, kIdProgressLabel, u"IDS_S_PSR_PROGRESSWND"},
            {ui::kControlCombox, kIdProgress, nullptr},
            {ui::kControlText, kIdDodgeLabel, u"IDS_S_PSR_DODGEMOUSEPOINTER"},
            {ui::kControlCombox, kIdDodge, nullptr},
            {ui::kControlText, kIdSpeedLabel, u"IDS_S_PSR_PLAYSPEED"},
            {ui::kControlCombox, kIdSpeed, nullptr},
            {ui::kControlText, kIdEmulationLabel, u"IDS_S_PSR_EMULATIONLEVEL"},
            {ui::kControlCombox, kIdEmulation, nullptr},
            {ui::kControlButton, kIdHideTrayIcon, u"IDS_CHK_HIDETRAYICON"},
            {ui::kControlButton, kIdDefaultVariables, u"IDS_CHK_TRI_PM_DEFPARA2"},
            {ui::kControlText, kIdVariablesLabel, u"IDS_S_VARVALUE"},
            {ui::kControlEdit, kIdVariables, nullptr},
            {ui::kControlText, kIdVariablesTips, u"IDS_S_VARVALUE_TIPS"},
            {ui::kControlText, kIdPlayTimesLabel, u"IDS_CT_PLAYTIMES"},
            {ui::kControlEdit, kIdPlayTimes, nullptr}};
  }
  BOOL OnInitDialog() override {
    WizardPage::OnInitDialog();
    ::SendDlgItemMessageW(window_, kIdVariables, EM_LIMITTEXT, kVariableValuesChars, 0);
    // Six digits and a sign: room for every number the record can hold.
    ::SendDlgItemMessageW(window_, kIdPlayTimes, EM_LIMITTEXT, 7, 0);
    const PlayParameters values = sheet_.Flow().PlayParams().Initial();
    FillList(kIdProgress, kProgressItems, values.progress_index);
    FillList(kIdDodge, kDodgeItems, values.dodge_index);
    FillList(kIdSpeed, kSpeedItems, values.speed_index);
    FillList(kIdEmulation, kEmulationItems, values.emulation_index);
    if (values.speed_index < 0) SetItemText(window_, kIdSpeed, values.speed_text);
    Check(window_, kIdDefaultParameters, values.default_parameters);
    Check(window_, kIdDefaultVariables, values.default_variables);
    Check(window_, kIdHideTrayIcon, values.hide_tray_icon);
    SetItemText(window_, kIdVariables, values.variables);
    SetItemText(window_, kIdPlayTimes, values.play_times);
    Enable();
    return TRUE;
  }
  void OnCommand(int id, int code) override {
    const bool box = code == BN_CLICKED && (id == kIdDefaultParameters || id == kIdDefaultVariables);
    if (box || (id == kIdProgress && code == CBN_SELCHANGE)) Enable();
  }

 private:
  PlayParameters Read() const {
    PlayParameters values;
    values.default_parameters = Checked(window_, kIdDefaultParameters);
    values.default_variables = Checked(window_, kIdDefaultVariables);
    values.hide_tray_icon = Checked(window_, kIdHideTrayIcon);
    values.speed_index = Selection(window_, kIdSpeed);
    values.speed_text = ItemText(window_, kIdSpeed);
    values.progress_index = Selection(window_, kIdProgress);
    values.dodge_index = Selection(window_, kIdDodge);
    values.emulation_index = Selection(window_, kIdEmulation);
    values.variables = ItemText(window_, kIdVariables);
    values.play_times = ItemText(window_, kIdPlayTimes);
    return values;
  }
  void Enable() {
    const PlayParameterEnabling on = PlayParametersPage::Enabling(Read());
    for (int id :
         {kIdSpeedLabel, kIdSpeed, kIdProgressLabel, kIdProgress, kIdEmulationLabel, kIdEmulation, kIdHideTrayIcon}) {
      ::EnableWindow(::GetDlgItem(window_, id), on.parameters);
    }
    for (int id : {kIdDodgeLabel, kIdDodge}) ::EnableWindow(::GetDlgItem(window_, id), on.dodge);
    for (int id : {kIdVariablesLabel, kIdVariables, kIdVariablesTips}) {
      ::EnableWindow(::GetDlgItem(window_, id), on.variables);
    }
  }
};

}  // namespace

std::unique_ptr<WizardPage> MakePlaybackOptionsView(WizardSheet& sheet, size_t index) {
  return std::make_unique<PlaybackOptionsView>(sheet, index);
}
std::unique_ptr<WizardPage> MakePlayParametersView(WizardSheet& sheet, size_t index) {
  return std::make_unique<PlayParametersView>(sheet, index);
}

}  // namespace wizard::win32
