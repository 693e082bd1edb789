// One control of each skinned kind in one dialog, and the message dialog below it, with
// the skin loaded from a UI resource library and the shifts given on the command line:
//
//   skin_gallery.exe [--library PATH] [--hue N] [--saturation N] [--lightness N]
//                    [--system-colours] [--no-skin] [--dpi N] [--type N] [--close-after MS]
//
// The library defaults to the one in this build's installation. --type is the
// message's type flags (default 0x31: OK and Cancel with the warning icon). The program
// --no-skin shows what the toolkit draws when no library could be loaded. The program
// ends by itself after --close-after milliseconds (default: when the dialog is closed).
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "app/res_string.h"
#include "ui/win32/dialog_template.h"
#include "ui/win32/dialogs.h"

namespace {

enum : int {
  kIdLabel = 1000,
  kIdPush,
  kIdCheck,
  kIdRadioA,
  kIdRadioB,
  kIdEdit,
  kIdTime,
  kIdCombo,
  kIdList,
  kIdSlider,
  kIdLine,
  kIdGrid,
  kIdGroup,
  kIdDisabled,
};

constexpr char kTexts[] =
    "[String]\n"
    "IDS_GALLERY_TITLE=Skinned controls\n"
    "IDS_GALLERY_LABEL=Every control of the toolkit, drawn from the skin:\n"
    "IDS_GALLERY_PUSH=Push button\n"
    "IDS_GALLERY_CHECK=Check box\n"
    "IDS_GALLERY_RADIO_A=First choice\n"
    "IDS_GALLERY_RADIO_B=Second choice\n"
    "IDS_GALLERY_GROUP=Choices\n"
    "IDS_GALLERY_DISABLED=Unavailable\n"
    "16051=OK\n16052=Cancel\n16055=&Retry\n16056=&Yes\n16057=&No\n16058=&Abort\n16059=&Ignore\n";

struct Options {
  std::u16string library;
  int hue = 0, saturation = 0, lightness = 0;
  bool system_colours = false;
  bool no_skin = false;
  int dpi = 0;
  uint32_t type = 0x31;
  int close_after = 0;
};

class Gallery : public ui::CVLDialog {
 public:
  explicit Gallery(const Options& options) : options_(options) {}

 protected:
  std::vector<ui::ControlDecl> ControlDecls() const override {
    return {{ui::kControlText, kIdLabel, u"IDS_GALLERY_LABEL"},
            {ui::kControlButton, kIdPush, u"IDS_GALLERY_PUSH"},
            {ui::kControlButton, kIdDisabled, u"IDS_GALLERY_DISABLED"},
            {ui::kControlButton, kIdCheck, u"IDS_GALLERY_CHECK"},
            {ui::kControlButton, kIdGroup, u"IDS_GALLERY_GROUP"},
            {ui::kControlButton, kIdRadioA, u"IDS_GALLERY_RADIO_A"},
            {ui::kControlButton, kIdRadioB, u"IDS_GALLERY_RADIO_B"},
            {ui::kControlEdit, kIdEdit, nullptr},
            {ui::kControlTimeEdit, kIdTime, nullptr},
            {ui::kControlCombox, kIdCombo, nullptr},
            {ui::kControlListBox, kIdList, nullptr},
            {ui::kControlSliderCreated, kIdSlider, nullptr},
            {ui::kControlLine, kIdLine, nullptr},
            {ui::kControlGrid, kIdGrid, nullptr},
            {ui::kControlButton, IDOK, nullptr},
            {ui::kControlButton, IDCANCEL, nullptr}};
  }
  const char16_t* TitleKey() const override { return u"IDS_GALLERY_TITLE"; }

  bool DataExchange(bool save) override {
    if (save) return true;
    CheckDlgButton(window_, kIdCheck, BST_CHECKED);
    CheckRadioButton(window_, kIdRadioA, kIdRadioB, kIdRadioA);
    EnableWindow(GetDlgItem(window_, kIdDisabled), FALSE);
    SetDlgItemTextW(window_, kIdEdit, L"Some text");
    SetDlgItemTextW(window_, kIdTime, L"12:30:00");
    for (const wchar_t* item : {L"Fast", L"Normal", L"Slow"}) {
      SendDlgItemMessageW(window_, kIdCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    SendDlgItemMessageW(window_, kIdCombo, CB_SETCURSEL, 1, 0);
    for (const wchar_t* item : {L"Start.msd", L"Login.msd", L"Report.msd", L"Close.msd"}) {
      SendDlgItemMessageW(window_, kIdList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    SendDlgItemMessageW(window_, kIdList, LB_SETCURSEL, 1, 0);
    if (auto* slider = ControlAs<ui::CVLSlider>(kIdSlider)) {
      slider->SetRange(0, 100);
      slider->SetPosition(60);
    }
    if (auto* grid = ControlAs<ui::CVLBaseGrid>(kIdGrid)) {
      grid->SetColumns({{u"Name", 90}, {u"Value", 80}}, true);
      grid->AddRow({u"Speed", u"100 %"});
      grid->AddRow({u"Repeat", u"3"});
      grid->SetSelectedRow(0);
    }
    SetDlgItemTextW(window_, IDOK, L"OK");
    SetDlgItemTextW(window_, IDCANCEL, L"Cancel");
    SetWindowPos(window_, nullptr, 8, 8, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    PostMessageW(window_, WM_APP, 0, 0);
    if (options_.close_after > 0) SetTimer(window_, 2, static_cast<UINT>(options_.close_after), nullptr);
    return true;
  }

  bool OnMessage(UINT message, WPARAM wparam, LPARAM, INT_PTR& result) override {
    if (message == WM_APP) {
      app::MessageRequest request;
      request.text =
          u"The skinned message dialog: its buttons follow the message type, with captions from the "
          u"language table.";
      request.second_text = u"A second text, below the first.";
      request.type = options_.type;
      request.caption = u"Brankel";
      ui::MakeSkinnedMessageDisplay()->Show(request);
      result = TRUE;
      return true;
    }
    if (message == WM_TIMER && wparam == 2) ExitProcess(0);
    return false;
  }

 private:
  Options options_;
};

int Number(const wchar_t* text) { return static_cast<int>(std::wcstol(text, nullptr, 0)); }

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  SetProcessDPIAware();
  INITCOMMONCONTROLSEX init{sizeof init, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&init);
  Options options;
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == L"--library" && has_value) {
      const std::wstring value = argv[++i];
      options.library.assign(value.begin(), value.end());
    } else if (arg == L"--hue" && has_value) {
      options.hue = Number(argv[++i]);
    } else if (arg == L"--saturation" && has_value) {
      options.saturation = Number(argv[++i]);
    } else if (arg == L"--lightness" && has_value) {
      options.lightness = Number(argv[++i]);
    } else if (arg == L"--no-skin") {
      options.no_skin = true;
    } else if (arg == L"--system-colours") {
      options.system_colours = true;
    } else if (arg == L"--dpi" && has_value) {
      options.dpi = Number(argv[++i]);
    } else if (arg == L"--type" && has_value) {
      options.type = static_cast<uint32_t>(Number(argv[++i]));
    } else if (arg == L"--close-after" && has_value) {
      options.close_after = Number(argv[++i]);
    }
  }
  LocalFree(argv);
  if (options.library.empty()) {
    // The library of this build's installation, of this program's word size.
    std::string path = BRANKEL_INSTALL_DIR;
    path += sizeof(void*) == 8 ? "\\x64\\sysdata\\vllib_ui_defresu.dll" : "\\sysdata\\vllib_ui_defresu.dll";
    for (char& c : path) c = c == '/' ? '\\' : c;
    options.library.assign(path.begin(), path.end());
  }
  app::CVLResString texts;
  texts.LoadText(kTexts);
  ui::CNewAspect& skin = ui::CNewAspect::Global();
  skin.SetLanguageTable(&texts);
  if (options.dpi > 0) skin.SetDpi(options.dpi);
  if (options.system_colours) skin.UseSystemColours(true);
  if (!options.no_skin && !skin.Load(options.library, options.hue, options.lightness, options.saturation)) {
    MessageBoxW(nullptr, L"The UI resource library could not be loaded.", L"Skin gallery", MB_OK);
    return 2;
  }
  brankel_test::TemplateWriter dialog(260, 196);
  dialog.Item(L"STATIC", L"", kIdLabel, SS_LEFT, 8, 6, 244, 10);
  dialog.Item(L"BUTTON", L"", kIdPush, BS_PUSHBUTTON | WS_TABSTOP, 8, 20, 70, 16);
  dialog.Item(L"BUTTON", L"", kIdDisabled, BS_PUSHBUTTON | WS_TABSTOP, 84, 20, 70, 16);
  dialog.Item(L"BUTTON", L"", kIdCheck, BS_AUTOCHECKBOX | WS_TABSTOP, 164, 22, 88, 12);
  dialog.Item(L"BUTTON", L"", kIdGroup, BS_GROUPBOX, 8, 40, 120, 44);
  dialog.Item(L"BUTTON", L"", kIdRadioA, BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, 16, 52, 100, 12);
  dialog.Item(L"BUTTON", L"", kIdRadioB, BS_AUTORADIOBUTTON, 16, 66, 100, 12);
  dialog.Item(L"EDIT", L"", kIdEdit, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 136, 44, 116, 14);
  dialog.Item(L"EDIT", L"", kIdTime, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 136, 64, 56, 14);
  dialog.Item(L"COMBOBOX", L"", kIdCombo, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 196, 64, 56, 60);
  dialog.Item(L"LISTBOX", L"", kIdList, LBS_NOTIFY | WS_BORDER | WS_VSCROLL | WS_TABSTOP, 8, 90, 120, 50);
  dialog.Item(L"STATIC", L"", kIdGrid, SS_NOTIFY, 136, 90, 116, 50);
  dialog.Item(L"STATIC", L"", kIdSlider, 0, 8, 146, 244, 16);
  dialog.Item(L"STATIC", L"", kIdLine, 0, 8, 166, 244, 4);
  dialog.Item(L"BUTTON", L"", IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, 142, 176, 52, 14);
  dialog.Item(L"BUTTON", L"", IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 200, 176, 52, 14);
  Gallery gallery(options);
  gallery.DoModalIndirect(nullptr, dialog.Get());
  return 0;
}
