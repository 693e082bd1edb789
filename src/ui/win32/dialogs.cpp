#include "ui/win32/dialogs.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <utility>

#include "ui/skin_rules.h"

namespace ui {
namespace {

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

std::unique_ptr<CVLWnd> MakeControl(uint32_t type) {
  switch (type) {
    case kControlButton:
      return std::make_unique<CVLButton>();
    case kControlEdit:
      return std::make_unique<CVLEdit>();
    case kControlCombox:
      return std::make_unique<CVLCombox>();
    case kControlListBox:
      return std::make_unique<CVLListBox>();
    case kControlTimeEdit:
      return std::make_unique<CVLTimeEditbox>();
    case kControlGrid:
      return std::make_unique<CVLBaseGrid>();
    case kControlSlider:
    case kControlSliderCreated:
      return std::make_unique<CVLSlider>();
    case kControlLine:
      return std::make_unique<CVLLineCtrl>();
    default:
      return nullptr;
  }
}

// Template of an empty dialog, sized and filled by its class.
struct EmptyTemplate {
  DLGTEMPLATE header;
  WORD menu, window_class, title;
};

}  // namespace

// ---- CVLBaseDialog --------------------------------------------------------------------

CVLWnd* CVLBaseDialog::Control(int id) const {
  for (const ControlEntry& entry : table_) {
    if (entry.id == id) return entry.control.get();
  }
  return nullptr;
}

std::u16string CVLBaseDialog::Text(const char16_t* key) const {
  std::u16string text;
  const app::CVLResString* table = CNewAspect::Global().LanguageTable();
  if (key == nullptr || *key == 0 || table == nullptr) return text;
  table->GetString(text, key, u"");  // a missing key leaves the text empty
  return text;
}

void CVLBaseDialog::SetupControls() {
  table_.clear();
  for (const ControlDecl& decl : ControlDecls()) {
    ControlEntry entry;
    entry.type = decl.type;
    entry.id = decl.id;
    if (decl.text_key != nullptr) {
      const size_t length = std::char_traits<char16_t>::length(decl.text_key);
      std::memcpy(entry.text_key, decl.text_key, std::min(length, kTextKeyChars - 1) * sizeof(char16_t));
    }
    HWND item = GetDlgItem(window_, decl.id);
    entry.control = MakeControl(decl.type);
    if (item != nullptr && entry.control != nullptr) {
      if (decl.type == kControlSliderCreated) {
        static_cast<CVLSlider*>(entry.control.get())->Create(item);
      } else {
        entry.control->Attach(item);
      }
    }
    if ((decl.type == kControlText || decl.type == kControlButton) && entry.text_key[0] != 0 && item != nullptr) {
      SetWindowTextW(item, W(Text(entry.text_key)));
    }
    table_.push_back(std::move(entry));
  }
  if (const char16_t* title = TitleKey(); title != nullptr && *title != 0) SetWindowTextW(window_, W(Text(title)));
}

void CVLBaseDialog::SetupFont() {
  HFONT font = static_cast<HFONT>(CNewAspect::Global().Font());
  for (HWND child = GetWindow(window_, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
}

void CVLBaseDialog::SetupSkin() { InvalidateRect(window_, nullptr, TRUE); }

BOOL CVLBaseDialog::OnInitDialog() {
  SetupControls();
  SetupFont();
  SetupSkin();
  DataExchange(false);
  return TRUE;
}

void CVLBaseDialog::OnCommand(int id, int code) {
  if (code != BN_CLICKED) return;
  if (id == IDOK) {
    if (DataExchange(true)) EndWith(IDOK);
  } else if (id == IDCANCEL) {
    EndWith(IDCANCEL);
  }
}

void CVLBaseDialog::EndWith(int result) {
  if (modal_) EndDialog(window_, result);
}

INT_PTR CVLBaseDialog::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  const CNewAspect& skin = CNewAspect::Global();
  INT_PTR result = 0;
  if (OnMessage(message, wparam, lparam, result)) return result;
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_ERASEBKGND: {
      RECT client{};
      GetClientRect(window_, &client);
      FillRect(reinterpret_cast<HDC>(wparam), &client, static_cast<HBRUSH>(skin.Brush(runtime::kColourWindow)));
      return TRUE;
    }
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wparam);
      SetTextColor(dc, skin.Colour(runtime::kColourText));
      SetBkColor(dc, skin.Colour(runtime::kColourWindow));
      return reinterpret_cast<INT_PTR>(skin.Brush(runtime::kColourWindow));
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX: {
      HDC dc = reinterpret_cast<HDC>(wparam);
      SetTextColor(dc, skin.Colour(runtime::kColourText));
      SetBkColor(dc, skin.Colour(runtime::kColourField));
      return reinterpret_cast<INT_PTR>(skin.Brush(runtime::kColourField));
    }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK CVLBaseDialog::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lparam);
    reinterpret_cast<CVLBaseDialog*>(lparam)->window_ = window;
  }
  auto* self = reinterpret_cast<CVLBaseDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  const INT_PTR result = self->HandleMessage(message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    self->table_.clear();
    self->window_ = nullptr;
  }
  return result;
}

// ---- CVLDialog ------------------------------------------------------------------------

INT_PTR CVLDialog::DoModal(HWND owner, int template_id) {
  modal_ = true;
  return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(template_id), owner, DialogProc,
                         reinterpret_cast<LPARAM>(static_cast<CVLBaseDialog*>(this)));
}

INT_PTR CVLDialog::DoModalIndirect(HWND owner, const DLGTEMPLATE* dialog_template) {
  modal_ = true;
  return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog_template, owner, DialogProc,
                                 reinterpret_cast<LPARAM>(static_cast<CVLBaseDialog*>(this)));
}

// ---- CVLPropertyPage ------------------------------------------------------------------

PROPSHEETPAGEW CVLPropertyPage::PageInfo(int template_id) {
  modal_ = false;
  PROPSHEETPAGEW page{};
  page.dwSize = sizeof page;
  page.hInstance = GetModuleHandleW(nullptr);
  page.pszTemplate = MAKEINTRESOURCEW(template_id);
  page.pfnDlgProc = PageProc;
  page.lParam = reinterpret_cast<LPARAM>(static_cast<CVLBaseDialog*>(this));
  return page;
}

PROPSHEETPAGEW CVLPropertyPage::PageInfoIndirect(const DLGTEMPLATE* page_template) {
  PROPSHEETPAGEW page = PageInfo(0);
  page.dwFlags |= PSP_DLGINDIRECT;
  page.pResource = page_template;
  return page;
}

INT_PTR CALLBACK CVLPropertyPage::PageProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  // The page's WM_INITDIALOG carries the PROPSHEETPAGE, whose lParam is the page object.
  if (message == WM_INITDIALOG) lparam = reinterpret_cast<const PROPSHEETPAGEW*>(lparam)->lParam;
  return DialogProc(window, message, wparam, lparam);
}

// ---- CVLDlgViewMes --------------------------------------------------------------------

namespace {

constexpr int kFirstButtonId = 100;
constexpr int kTextId = 90;  // the texts are static controls, so that tools can read them
constexpr int kSecondTextId = 91;
constexpr UINT_PTR kCountdownTimer = 1;

const char16_t* DefaultCaption(uint32_t id) {
  switch (id) {
    case 16051:
      return u"OK";
    case 16052:
      return u"Cancel";
    case 16055:
      return u"&Retry";
    case 16056:
      return u"&Yes";
    case 16057:
      return u"&No";
    case 16058:
      return u"&Abort";
    case 16059:
      return u"&Ignore";
    default:
      return u"";
  }
}

// A caption with the seconds left before the automatic answer.
std::u16string Counted(const std::u16string& caption, int seconds) {
  const std::string digits = std::to_string(seconds);
  return caption + u" (" + std::u16string(digits.begin(), digits.end()) + u")";
}

}  // namespace

int CVLDlgViewMes::Run() {
  EmptyTemplate blank{};
  blank.header.style = DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFOREGROUND;
  blank.header.cx = 200;
  blank.header.cy = 80;
  const INT_PTR result = DoModalIndirect(static_cast<HWND>(request_.owner), &blank.header);
  if (result <= 0) return app::UnattendedAnswer(request_.type);
  return static_cast<int>(result);
}

std::u16string CVLDlgViewMes::Caption(size_t button) const {
  const std::span<const MessageButton> buttons = MessageButtons(request_.type);
  std::u16string text;
  const app::CVLResString* table = CNewAspect::Global().LanguageTable();
  const uint32_t id = buttons[button].caption_id;
  if (table == nullptr || !table->GetStringById(text, id, DefaultCaption(id)) || text.empty()) {
    text = DefaultCaption(id);
  }
  return text;
}

BOOL CVLDlgViewMes::OnInitDialog() {
  CVLBaseDialog::OnInitDialog();
  SetWindowTextW(window_, W(request_.caption.empty() ? std::u16string(u"Brankel") : request_.caption));
  switch (request_.type & app::kMbIconMask) {
    case app::kMbIconError:
      icon_ = LoadIconW(nullptr, IDI_ERROR);
      break;
    case app::kMbIconQuestion:
      icon_ = LoadIconW(nullptr, IDI_QUESTION);
      break;
    case app::kMbIconWarning:
      icon_ = LoadIconW(nullptr, IDI_WARNING);
      break;
    case app::kMbIconInformation:
      icon_ = LoadIconW(nullptr, IDI_INFORMATION);
      break;
    default:
      icon_ = nullptr;
  }
  for (const auto& [id, text] : {std::pair{kTextId, &request_.text}, std::pair{kSecondTextId, &request_.second_text}}) {
    if (text->empty() && id == kSecondTextId) continue;
    CreateWindowExW(0, L"STATIC", W(*text), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 10, 10, window_,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendDlgItemMessageW(window_, id, WM_SETFONT, reinterpret_cast<WPARAM>(CNewAspect::Global().Font()), FALSE);
  }
  const std::span<const MessageButton> buttons = MessageButtons(request_.type);
  // The default button: the automatic answer when it is one of them, else the one the
  // type's default-button bits name.
  size_t default_button = std::min<size_t>((request_.type >> 8) & 0xF, buttons.size() - 1);
  for (size_t i = 0; i < buttons.size(); ++i) {
    if (buttons[i].result == request_.auto_answer) default_button = i;
  }
  for (size_t i = 0; i < buttons.size(); ++i) {
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (i == 0 ? WS_GROUP : 0) |
                        (i == default_button ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    HWND button = CreateWindowExW(0, L"BUTTON", W(Caption(i)), style, 0, 0, 10, 10, window_,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstButtonId + i)),
                                  GetModuleHandleW(nullptr), nullptr);
    auto skinned = std::make_unique<CVLButton>();
    skinned->Attach(button);
    buttons_.push_back(std::move(skinned));
  }
  Layout();
  if (request_.auto_answer >= 0 && request_.auto_value > 0) {
    remaining_ = std::min(request_.auto_value, 3600);
    SetTimer(window_, kCountdownTimer, 1000, nullptr);
    SetWindowTextW(buttons_[default_button]->Handle(), W(Counted(Caption(default_button), remaining_)));
  }
  SetFocus(buttons_[default_button]->Handle());
  SendMessageW(window_, DM_SETDEFID, kFirstButtonId + default_button, 0);
  return FALSE;  // the focus is set
}

void CVLDlgViewMes::Layout() {
  const CNewAspect& skin = CNewAspect::Global();
  HDC dc = GetDC(window_);
  HGDIOBJ old = SelectObject(dc, skin.Font());
  const int margin = skin.Scale(14);
  const int icon_room = icon_ != nullptr ? GetSystemMetrics(SM_CXICON) + skin.Scale(12) : 0;
  const int text_width = skin.Scale(360);
  const UINT flags = DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS;
  text_rect_ = {0, 0, text_width, 0};
  DrawTextW(dc, W(request_.text), -1, &text_rect_, flags);
  second_rect_ = {0, 0, text_width, 0};
  if (!request_.second_text.empty()) DrawTextW(dc, W(request_.second_text), -1, &second_rect_, flags);
  // Some room beyond the measured width, so that the static control breaks the lines as
  // measuring did: it breaks a line a character earlier than the measured width says.
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  const int slack = skin.Scale(4) + 2 * static_cast<int>(metrics.tmAveCharWidth);
  text_rect_.right += slack;
  if (!request_.second_text.empty()) second_rect_.right += slack;
  // Each button as wide as its caption needs, at least the usual width.
  const int button_height = skin.Scale(24);
  const int gap = skin.Scale(8);
  int button_width = skin.Scale(80);
  for (size_t i = 0; i < buttons_.size(); ++i) {
    std::u16string caption = Caption(i) + u" (99)";
    RECT measure{0, 0, 0, 0};
    DrawTextW(dc, W(caption), -1, &measure, DT_CALCRECT | DT_SINGLELINE);
    button_width = std::max<int>(button_width, measure.right + skin.Scale(20));
  }
  SelectObject(dc, old);
  ReleaseDC(window_, dc);
  const int buttons_width =
      static_cast<int>(buttons_.size()) * button_width + static_cast<int>(buttons_.size() - 1) * gap;
  int content_width = std::max<int>({text_rect_.right, second_rect_.right, skin.Scale(160)});
  const int icon_height = icon_ != nullptr ? GetSystemMetrics(SM_CYICON) : 0;
  int text_height = std::max<int>(text_rect_.bottom, icon_height);
  const int second_gap = request_.second_text.empty() ? 0 : skin.Scale(10);
  const int client_width = std::max(margin * 2 + icon_room + content_width, margin * 2 + buttons_width);
  OffsetRect(&text_rect_, margin + icon_room, margin + (text_height - text_rect_.bottom) / 2);
  OffsetRect(&second_rect_, margin + icon_room, margin + text_height + second_gap);
  for (const auto& [id, rect] : {std::pair{kTextId, &text_rect_}, std::pair{kSecondTextId, &second_rect_}}) {
    if (HWND item = GetDlgItem(window_, id)) {
      MoveWindow(item, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, FALSE);
    }
  }
  const int body_bottom = margin + text_height + second_gap + (second_rect_.bottom - second_rect_.top);
  // The buttons sit on a band of the face colour below a separator.
  const int band_top = body_bottom + margin;
  const int client_height = band_top + gap * 2 + button_height;
  int x = (client_width - buttons_width) / 2;
  for (const auto& button : buttons_) {
    MoveWindow(button->Handle(), x, band_top + gap, button_width, button_height, FALSE);
    x += button_width + gap;
  }
  RECT frame{0, 0, client_width, client_height};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(window_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongW(window_, GWL_EXSTYLE)));
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  // Centred on the owner, or on the screen without one.
  RECT area{};
  HWND owner = GetWindow(window_, GW_OWNER);
  if (owner == nullptr || !GetWindowRect(owner, &area) || !IsWindowVisible(owner)) {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  SetWindowPos(window_, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, width, height, SWP_NOZORDER);
}

void CVLDlgViewMes::PaintBody(HDC dc) {
  const CNewAspect& skin = CNewAspect::Global();
  RECT client{};
  GetClientRect(window_, &client);
  FillRect(dc, &client, static_cast<HBRUSH>(skin.Brush(runtime::kColourWindow)));
  if (!buttons_.empty()) {
    RECT button{};
    GetWindowRect(buttons_.front()->Handle(), &button);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&button), 2);
    RECT band{client.left, button.top - skin.Scale(8), client.right, client.bottom};
    FillRect(dc, &band, static_cast<HBRUSH>(skin.Brush(runtime::kColourFace)));
    RECT line{band.left, band.top, band.right, band.top + std::max(2, skin.Scale(2))};
    if (!DrawSkinBitmap(dc, skin, runtime::kBitmapLine, line)) DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
  }
  if (icon_ != nullptr) {
    const int margin = skin.Scale(14);
    DrawIconEx(dc, margin, margin, icon_, 0, 0, 0, nullptr, DI_NORMAL);
  }
}

bool CVLDlgViewMes::OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) {
  switch (message) {
    case WM_CTLCOLORSTATIC: {
      // Both texts on the window colour; the second one quieter.
      const CNewAspect& skin = CNewAspect::Global();
      HDC dc = reinterpret_cast<HDC>(wparam);
      const bool second = reinterpret_cast<HWND>(lparam) == GetDlgItem(window_, kSecondTextId);
      SetTextColor(dc, skin.Colour(second ? runtime::kColourDisabledText : runtime::kColourText));
      SetBkColor(dc, skin.Colour(runtime::kColourWindow));
      result = reinterpret_cast<INT_PTR>(skin.Brush(runtime::kColourWindow));
      return true;
    }
    case WM_ERASEBKGND:
      result = TRUE;
      return true;
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      HDC dc = BeginPaint(window_, &paint);
      PaintBody(dc);
      EndPaint(window_, &paint);
      result = TRUE;
      return true;
    }
    case WM_TIMER:
      if (wparam == kCountdownTimer) {
        --remaining_;
        const std::span<const MessageButton> buttons = MessageButtons(request_.type);
        for (size_t i = 0; i < buttons.size(); ++i) {
          if (buttons[i].result != request_.auto_answer) continue;
          if (remaining_ <= 0) {
            KillTimer(window_, kCountdownTimer);
            EndWith(buttons[i].result);
          } else {
            SetWindowTextW(buttons_[i]->Handle(), W(Counted(Caption(i), remaining_)));
          }
        }
        result = TRUE;
        return true;
      }
      return false;
    default:
      return false;
  }
}

void CVLDlgViewMes::OnCommand(int id, int code) {
  if (code != BN_CLICKED) return;
  const std::span<const MessageButton> buttons = MessageButtons(request_.type);
  if (id >= kFirstButtonId && static_cast<size_t>(id - kFirstButtonId) < buttons.size()) {
    EndWith(buttons[static_cast<size_t>(id - kFirstButtonId)].result);
    return;
  }
  // Escape and the close box: Cancel where the message has one, else only for OK alone.
  if (id == IDCANCEL) {
    for (const MessageButton& button : buttons) {
      if (button.result == app::kIdCancel) EndWith(app::kIdCancel);
    }
    if (buttons.size() == 1) EndWith(buttons.front().result);
  }
}

// ---- The display ----------------------------------------------------------------------

namespace {

class SkinnedMessageDisplay : public app::MessageDisplay {
 public:
  int Show(const app::MessageRequest& request) override {
    CVLDlgViewMes dialog(request);
    return dialog.Run();
  }
};

}  // namespace

std::unique_ptr<app::MessageDisplay> MakeSkinnedMessageDisplay() { return std::make_unique<SkinnedMessageDisplay>(); }

}  // namespace ui
