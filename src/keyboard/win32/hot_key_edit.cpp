#include "keyboard/win32/hot_key_edit.h"

#include "app/brankel_app.h"
#include "keyboard/win32/select_key_ids.h"

namespace keyboard {
namespace {

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

std::u16string WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::u16string text(static_cast<size_t>(length) + 1, u'\0');
  const int got = ::GetWindowTextW(window, reinterpret_cast<wchar_t*>(text.data()), length + 1);
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

// The sibling macro program's hidden window and the message it takes.
constexpr wchar_t kMacroWindowClass[] = L"MTA174BB89EB0B434e9B9FAE129E6CA7E0";
constexpr wchar_t kMacroWindowTitle[] = L"MCC22ED99E4479141c89C3CF2C8ECBEB8D7";
constexpr UINT kMacroHotKeyFocus = 1327;

struct CheckBox {
  int id;
  bool ModifierChecks::*member;
};
constexpr CheckBox kCheckBoxes[] = {{IDC_SKEY_ALT, &ModifierChecks::alt},
                                    {IDC_SKEY_CONTROL, &ModifierChecks::ctrl},
                                    {IDC_SKEY_SHIFT, &ModifierChecks::shift},
                                    {IDC_SKEY_WIN, &ModifierChecks::win},
                                    {IDC_SKEY_ALTGR, &ModifierChecks::alt_gr}};

}  // namespace

// ---- CVLHotKeyEditBox ---------------------------------------------------------------------

bool CVLHotKeyEditBox::Create(HWND dialog, int id, const app::CVLResString* table) {
  state_.SetTable(table);
  if (!Attach(::GetDlgItem(dialog, id))) return false;
  // The window takes the value's text as it is now, even when it was set before.
  state_.TakeTextChange();
  ::SetWindowTextW(window_, W(state_.Text()));
  return true;
}

void CVLHotKeyEditBox::SetHotKey(uint8_t key, uint8_t second, uint32_t modifiers) {
  state_.SetHotKey(key, second, modifiers);
  ShowText();
}

HotKey CVLHotKeyEditBox::Value() const { return state_.Value(); }

void CVLHotKeyEditBox::ShowText() {
  if (state_.TakeTextChange() && window_ != nullptr) ::SetWindowTextW(window_, W(state_.Text()));
}

LRESULT CVLHotKeyEditBox::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
      BYTE keys[256] = {};
      ::GetKeyboardState(keys);
      const KeyMessage handled = state_.KeyDown(static_cast<uint32_t>(wparam), static_cast<uint32_t>(lparam),
                                                *reinterpret_cast<KeyState*>(keys));
      ShowText();
      if (handled == KeyMessage::kConsumed) return 0;
      break;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP:
      state_.KeyUp(static_cast<uint32_t>(wparam));
      ShowText();
      break;
    case WM_CHAR:
    case WM_SYSCHAR:
    case WM_DEADCHAR:
    case WM_SYSDEADCHAR:
      // The message loop makes characters of the key-downs before this control sees them;
      // they must not type into it either. Tab's character is the edit's to ignore.
      if (wparam == u'\t' && !state_.capture_tab) break;
      return 0;
    case WM_GETDLGCODE: {
      // Every key comes here rather than to the dialog (Return, Esc and the arrows are hot
      // keys too), except Tab while it moves the focus.
      const LRESULT code = Default(message, wparam, lparam);
      const MSG* msg = reinterpret_cast<const MSG*>(lparam);
      if (msg != nullptr && msg->wParam == VK_TAB && !state_.capture_tab &&
          (msg->message == WM_KEYDOWN || msg->message == WM_CHAR)) {
        return code;
      }
      return code | DLGC_WANTALLKEYS;
    }
    case WM_SETFOCUS: {
      OnFocusChange(true);
      const LRESULT result = Default(message, wparam, lparam);
      if (state_.SelectAllOnFocus(WindowText(window_))) {
        ::SendMessageW(window_, EM_SETSEL, 0, -1);
        ::SendMessageW(window_, EM_SCROLLCARET, 0, 0);
      }
      return result;
    }
    case WM_KILLFOCUS:
      OnFocusChange(false);
      break;
    default:
      break;
  }
  return CVLEdit::WindowProc(message, wparam, lparam);
}

// ---- CMacroHotKeyEdit ---------------------------------------------------------------------

void CMacroHotKeyEdit::OnFocusChange(bool gained) {
  HWND macro_window = ::FindWindowW(kMacroWindowClass, kMacroWindowTitle);
  if (macro_window != nullptr) {
    ::PostMessageW(macro_window, kMacroHotKeyFocus, gained ? 1 : 0, reinterpret_cast<LPARAM>(window_));
  }
}

// ---- CDlg_SelectKey -----------------------------------------------------------------------

CDlg_SelectKey::CDlg_SelectKey(app::CBrankelApp& app) : app_(app) {}

INT_PTR CDlg_SelectKey::Run(HWND owner) { return DoModal(owner, IDD_DLG_CHOOSEKEY); }

std::vector<ui::ControlDecl> CDlg_SelectKey::ControlDecls() const {
  return {{ui::kControlText, IDC_SKEY_KEY_LABEL, u"IDS_SKEY_KEY"},
          {ui::kControlCombox, IDC_SKEY_KEY_LIST, nullptr},
          {ui::kControlButton, IDC_SKEY_ALT, u"IDS_SKEY_ALT"},
          {ui::kControlButton, IDC_SKEY_CONTROL, u"IDS_SKEY_CONTROL"},
          {ui::kControlButton, IDC_SKEY_SHIFT, u"IDS_SKEY_SHIFT"},
          {ui::kControlButton, IDC_SKEY_WIN, u"IDS_SKEY_WIN"},
          {ui::kControlButton, IDC_SKEY_ALTGR, u"IDS_SKEY_ALTGR"},
          {ui::kControlButton, IDOK, u"IDOK"},
          {ui::kControlButton, IDCANCEL, u"IDCANCEL"}};
}

void CDlg_SelectKey::EnableChecks(bool enabled) {
  for (const CheckBox& box : kCheckBoxes) ::EnableWindow(::GetDlgItem(window_, box.id), enabled ? TRUE : FALSE);
}

BOOL CDlg_SelectKey::OnInitDialog() {
  CVLDialog::OnInitDialog();
  ::SetWindowTextW(window_, W(SelectKeyTitle(app_.LanguageTable(), title)));
  EnableChecks(modifiers_allowed);
  if (!AltGrShown(app_.IsChineseLanguage())) ::ShowWindow(::GetDlgItem(window_, IDC_SKEY_ALTGR), SW_HIDE);
  return TRUE;
}

bool CDlg_SelectKey::DataExchange(bool save) {
  HWND list = ::GetDlgItem(window_, IDC_SKEY_KEY_LIST);
  if (save) {
    ModifierChecks checks;
    for (const CheckBox& box : kCheckBoxes) checks.*box.member = ::IsDlgButtonChecked(window_, box.id) == BST_CHECKED;
    const int index = static_cast<int>(::SendMessageW(list, CB_GETCURSEL, 0, 0));
    value = SelectKeyResult(items_, index, WindowText(list), checks, value);
    return true;
  }
  items_ = KeyListItems(app_.LanguageTable(), modifiers_allowed);
  ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
  for (const KeyListItem& item : items_) {
    const LRESULT at = ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(item.text)));
    if (at >= 0) ::SendMessageW(list, CB_SETITEMDATA, static_cast<WPARAM>(at), item.code);
  }
  ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(InitialKeyIndex(items_, value.key)), 0);
  const ModifierChecks checks = ChecksOf(value.modifiers);
  for (const CheckBox& box : kCheckBoxes) {
    ::CheckDlgButton(window_, box.id, checks.*box.member ? BST_CHECKED : BST_UNCHECKED);
  }
  return true;
}

void CDlg_SelectKey::OnCommand(int id, int code) {
  if (id == IDC_SKEY_KEY_LIST && code == CBN_SELCHANGE) {
    const int index = static_cast<int>(::SendDlgItemMessageW(window_, IDC_SKEY_KEY_LIST, CB_GETCURSEL, 0, 0));
    EnableChecks(ChecksEnabled(modifiers_allowed, index));
    return;
  }
  CVLDialog::OnCommand(id, code);
}

}  // namespace keyboard
