#include "ui/win32/controls.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <optional>

#include "ui/grid_layout.h"

namespace ui {
namespace {

using runtime::SkinBitmap;

constexpr UINT_PTR kSubclassId = 0x564C;  // one subclass of ours per window

// The key colour of a bitmap: its last palette entry, as tinted.
COLORREF KeyColour(const std::vector<uint8_t>& dib) {
  const std::optional<plat::ByteView> table = DibColours(dib);
  if (!table || table->size() < 4) return RGB(255, 0, 255);
  const plat::ByteView last = table->From(table->size() - 4);
  return RGB(last.U8Or(2, 0), last.U8Or(1, 0), last.U8Or(0, 0));
}

std::u16string WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::u16string text(static_cast<size_t>(std::max(length, 0)) + 1, u'\0');
  const int got = GetWindowTextW(window, reinterpret_cast<wchar_t*>(text.data()), length + 1);
  text.resize(static_cast<size_t>(std::max(got, 0)));
  return text;
}

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

void FillColour(HDC dc, const RECT& rect, uint32_t index) {
  FillRect(dc, &rect, static_cast<HBRUSH>(CNewAspect::Global().Brush(index)));
}

}  // namespace

bool DrawSkinBitmap(HDC dc, const CNewAspect& skin, int index, const RECT& rect, bool frame) {
  HBITMAP bitmap = static_cast<HBITMAP>(frame ? skin.FrameBitmapHandle(index) : skin.ControlBitmapHandle(index));
  const std::vector<uint8_t>& dib = frame ? skin.FrameBitmap(index) : skin.ControlBitmap(index);
  if (bitmap == nullptr) return false;
  if (rect.right <= rect.left || rect.bottom <= rect.top) return true;
  BITMAP info{};
  GetObjectW(bitmap, sizeof info, &info);
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, bitmap);
  const COLORREF key = KeyColour(dib);
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  int b = frame ? 0 : static_cast<int>(skin.ControlBitmapBorder(index));
  b = std::min({b, static_cast<int>(info.bmWidth / 2), static_cast<int>(info.bmHeight / 2)});
  int d = std::min({static_cast<int>(skin.Scale(b)), w / 2, h / 2});
  if (b == 0) d = 0;
  // Source and destination column and row edges of the nine parts.
  const int sx[] = {0, b, info.bmWidth - b, info.bmWidth};
  const int sy[] = {0, b, info.bmHeight - b, info.bmHeight};
  const int dx[] = {rect.left, rect.left + d, rect.right - d, rect.right};
  const int dy[] = {rect.top, rect.top + d, rect.bottom - d, rect.bottom};
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      const int sw = sx[col + 1] - sx[col], sh = sy[row + 1] - sy[row];
      const int dw = dx[col + 1] - dx[col], dh = dy[row + 1] - dy[row];
      if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) continue;
      TransparentBlt(dc, dx[col], dy[row], dw, dh, source, sx[col], sy[row], sw, sh, key);
    }
  }
  SelectObject(source, old);
  DeleteDC(source);
  return true;
}

// ---- CVLWnd ---------------------------------------------------------------------------

CVLWnd::~CVLWnd() { Detach(); }

bool CVLWnd::Attach(HWND window) {
  if (window == nullptr || window_ != nullptr) return false;
  if (!SetWindowSubclass(window, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) return false;
  window_ = window;
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(CNewAspect::Global().Font()), FALSE);
  InvalidateRect(window, nullptr, TRUE);
  return true;
}

void CVLWnd::Detach() {
  if (window_ != nullptr) RemoveWindowSubclass(window_, SubclassProc, kSubclassId);
  window_ = nullptr;
}

LRESULT CALLBACK CVLWnd::SubclassProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                      DWORD_PTR data) {
  auto* self = reinterpret_cast<CVLWnd*>(data);
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(window, SubclassProc, kSubclassId);
    self->window_ = nullptr;
    return DefSubclassProc(window, message, wparam, lparam);
  }
  return self->WindowProc(message, wparam, lparam);
}

LRESULT CVLWnd::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) { return Default(message, wparam, lparam); }

LRESULT CVLWnd::Default(UINT message, WPARAM wparam, LPARAM lparam) {
  return DefSubclassProc(window_, message, wparam, lparam);
}

LRESULT CVLWnd::PaintBuffered(HDC given) {
  PAINTSTRUCT paint{};
  HDC dc = given != nullptr ? given : BeginPaint(window_, &paint);
  RECT client{};
  GetClientRect(window_, &client);
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP canvas = CreateCompatibleBitmap(dc, std::max<LONG>(client.right, 1), std::max<LONG>(client.bottom, 1));
  HGDIOBJ old_bitmap = SelectObject(memory, canvas);
  // The font the window was given (a group label may have the emphasised one), else the skin's.
  HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(window_, WM_GETFONT, 0, 0));
  HGDIOBJ old_font = SelectObject(memory, font != nullptr ? font : CNewAspect::Global().Font());
  SetBkMode(memory, TRANSPARENT);
  OnPaint(memory, client);
  BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old_font);
  SelectObject(memory, old_bitmap);
  DeleteObject(canvas);
  DeleteDC(memory);
  if (given == nullptr) EndPaint(window_, &paint);
  return 0;
}

LRESULT CVLWnd::DefaultThenRepaint(UINT message, WPARAM wparam, LPARAM lparam) {
  const LRESULT result = Default(message, wparam, lparam);
  if (window_ != nullptr) InvalidateRect(window_, nullptr, FALSE);
  return result;
}

std::optional<LRESULT> CVLWnd::PaintMessage(UINT message, WPARAM wparam, LPARAM lparam, bool tracks_hover) {
  switch (message) {
    case WM_PAINT:
      return PaintBuffered();
    case WM_PRINTCLIENT:
      return PaintBuffered(reinterpret_cast<HDC>(wparam));
    case WM_ERASEBKGND:
      return 1;
    case WM_MOUSEMOVE:
      if (!tracks_hover) return std::nullopt;
      if (!hot_) {
        hot_ = true;
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window_, 0};
        TrackMouseEvent(&track);
      }
      return DefaultThenRepaint(message, wparam, lparam);
    case WM_MOUSELEAVE:
      if (!tracks_hover) return std::nullopt;
      hot_ = false;
      return DefaultThenRepaint(message, wparam, lparam);
    default:
      return std::nullopt;
  }
}

LRESULT CVLWnd::PaintSkinBorder(UINT message, WPARAM wparam, LPARAM lparam, bool field_inside) {
  const LRESULT result = Default(message, wparam, lparam);
  HDC dc = GetWindowDC(window_);
  RECT window_rect{};
  GetWindowRect(window_, &window_rect);
  RECT outer{0, 0, window_rect.right - window_rect.left, window_rect.bottom - window_rect.top};
  RECT client{};
  GetClientRect(window_, &client);
  POINT origin{0, 0};
  ClientToScreen(window_, &origin);
  const int cx = origin.x - window_rect.left, cy = origin.y - window_rect.top;
  if (field_inside) {
    ExcludeClipRect(dc, cx, cy, cx + client.right, cy + client.bottom);
    FillColour(dc, outer, runtime::kColourField);
  } else {
    ExcludeClipRect(dc, cx, cy, outer.right - cx, outer.bottom - cy);
  }
  DrawSkinFrame(dc, outer);
  ReleaseDC(window_, dc);
  return result;
}

void CVLWnd::DrawSkinFrame(HDC dc, RECT rect) const {
  // Without a skin (its library failed to load) the system's sunken edge.
  if (!DrawSkinBitmap(dc, CNewAspect::Global(), runtime::kBitmapField, rect)) DrawEdge(dc, &rect, EDGE_SUNKEN, BF_RECT);
}

// ---- CVLButton ------------------------------------------------------------------------

LRESULT CVLButton::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  if (const std::optional<LRESULT> done = PaintMessage(message, wparam, lparam, true)) return *done;
  switch (message) {
    case BM_SETSTATE:
    case BM_SETCHECK:
    case BM_SETSTYLE:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case WM_SETTEXT:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CAPTURECHANGED:
    case WM_UPDATEUISTATE:
      return DefaultThenRepaint(message, wparam, lparam);
    default:
      return Default(message, wparam, lparam);
  }
}

void CVLButton::OnPaint(HDC dc, const RECT& client) {
  const CNewAspect& skin = CNewAspect::Global();
  const LONG style = GetWindowLongW(window_, GWL_STYLE);
  const LONG kind = style & BS_TYPEMASK;
  const bool enabled = IsWindowEnabled(window_) != FALSE;
  const LRESULT state = SendMessageW(window_, BM_GETSTATE, 0, 0);
  const bool pressed = (state & BST_PUSHED) != 0;
  const bool checked = (SendMessageW(window_, BM_GETCHECK, 0, 0) & BST_CHECKED) != 0;
  const bool focused = GetFocus() == window_;
  const std::u16string text = WindowText(window_);
  SetTextColor(dc, skin.Colour(enabled ? runtime::kColourText : runtime::kColourDisabledText));
  const bool check_box = kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX || kind == BS_3STATE || kind == BS_AUTO3STATE;
  const bool radio = kind == BS_RADIOBUTTON || kind == BS_AUTORADIOBUTTON;
  if (kind == BS_GROUPBOX) {
    FillColour(dc, client, runtime::kColourWindow);
    RECT box = client;
    box.top += skin.Scale(7);
    HGDIOBJ old_pen = SelectObject(dc, skin.Pen(runtime::kColourFrame));
    HGDIOBJ old_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    RoundRect(dc, box.left, box.top, box.right, box.bottom, skin.Scale(4), skin.Scale(4));
    SelectObject(dc, old_brush);
    SelectObject(dc, old_pen);
    RECT label{client.left + skin.Scale(8), client.top, client.right - skin.Scale(8), client.top + skin.Scale(15)};
    SIZE extent{};
    GetTextExtentPoint32W(dc, W(text), static_cast<int>(text.size()), &extent);
    label.right = std::min<LONG>(label.right, label.left + extent.cx + skin.Scale(4));
    FillColour(dc, label, runtime::kColourWindow);
    label.left += skin.Scale(2);
    DrawTextW(dc, W(text), -1, &label, DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    return;
  }
  if (check_box || radio) {
    FillColour(dc, client, runtime::kColourWindow);
    const int box = skin.Scale(13);
    RECT mark{client.left, (client.bottom - box) / 2, client.left + box, (client.bottom - box) / 2 + box};
    int index = 0;
    if (check_box) {
      index = !enabled ? runtime::kBitmapCheckDisabled : checked ? runtime::kBitmapCheckOn : runtime::kBitmapCheckOff;
    } else {
      index = !enabled ? runtime::kBitmapRadioDisabled : checked ? runtime::kBitmapRadioOn : runtime::kBitmapRadioOff;
    }
    if (!DrawSkinBitmap(dc, skin, index, mark)) {
      DrawFrameControl(dc, &mark, DFC_BUTTON,
                       (check_box ? DFCS_BUTTONCHECK : DFCS_BUTTONRADIO) | (checked ? DFCS_CHECKED : 0) |
                           (enabled ? 0 : DFCS_INACTIVE));
    }
    RECT label = client;
    label.left = mark.right + skin.Scale(5);
    DrawTextW(dc, W(text), -1, &label, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    if (focused) {
      RECT measure = label;
      DrawTextW(dc, W(text), -1, &measure, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_CALCRECT);
      measure.top = label.top + (label.bottom - label.top - (measure.bottom - measure.top)) / 2;
      measure.bottom = measure.top + (measure.bottom - measure.top);
      InflateRect(&measure, 1, 0);
      DrawFocusRect(dc, &measure);
    }
    return;
  }
  // A push button: the window colour behind its rounded corners, then the face.
  FillColour(dc, client, runtime::kColourWindow);
  int index = runtime::kBitmapButton;
  if (!enabled) {
    index = runtime::kBitmapButtonDisabled;
  } else if (pressed) {
    index = runtime::kBitmapButtonPressed;
  } else if (hot_) {
    index = runtime::kBitmapButtonHot;
  } else if (kind == BS_DEFPUSHBUTTON || focused) {
    index = runtime::kBitmapButtonDefault;
  }
  if (!DrawSkinBitmap(dc, skin, index, client)) {
    RECT face = client;
    DrawFrameControl(dc, &face, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
  }
  RECT label = client;
  if (pressed) OffsetRect(&label, 1, 1);
  DrawTextW(dc, W(text), -1, &label, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (focused) {
    RECT focus = client;
    InflateRect(&focus, -skin.Scale(4), -skin.Scale(4));
    DrawFocusRect(dc, &focus);
  }
}

// ---- CVLEdit --------------------------------------------------------------------------

LRESULT CVLEdit::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  // The border is the skin's field frame, drawn over the system's.
  if (message == WM_NCPAINT) return PaintSkinBorder(message, wparam, lparam, true);
  if (message == WM_ENABLE) {
    const LRESULT result = Default(message, wparam, lparam);
    SetWindowPos(window_, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    return result;
  }
  return Default(message, wparam, lparam);
}

LRESULT CVLTimeEditbox::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CHAR && wparam >= 0x20 && !(wparam >= u'0' && wparam <= u'9') && wparam != u':') return 0;
  return CVLEdit::WindowProc(message, wparam, lparam);
}

// ---- CVLCombox ------------------------------------------------------------------------

LRESULT CVLCombox::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  if (const std::optional<LRESULT> done = PaintMessage(message, wparam, lparam, false)) return *done;
  switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_KEYDOWN:
    case CB_SETCURSEL:
    case CB_SHOWDROPDOWN:
      return DefaultThenRepaint(message, wparam, lparam);
    case WM_COMMAND: {
      const LRESULT result = Default(message, wparam, lparam);
      InvalidateRect(window_, nullptr, FALSE);
      return result;
    }
    default:
      return Default(message, wparam, lparam);
  }
}

void CVLCombox::OnPaint(HDC dc, const RECT& client) {
  const CNewAspect& skin = CNewAspect::Global();
  const bool enabled = IsWindowEnabled(window_) != FALSE;
  FillColour(dc, client, runtime::kColourField);
  DrawSkinFrame(dc, client);
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  GetComboBoxInfo(window_, &info);
  RECT arrow = info.rcButton;
  if (arrow.right <= arrow.left) arrow = {client.right - skin.Scale(17), client.top, client.right, client.bottom};
  arrow.top = client.top + 1;
  arrow.bottom = client.bottom - 1;
  arrow.right = client.right - 1;
  const bool dropped = SendMessageW(window_, CB_GETDROPPEDSTATE, 0, 0) != 0;
  if (!DrawSkinBitmap(dc, skin, dropped ? runtime::kBitmapComboArrowPressed : runtime::kBitmapComboArrow, arrow)) {
    DrawFrameControl(dc, &arrow, DFC_SCROLL, DFCS_SCROLLCOMBOBOX | (dropped ? DFCS_PUSHED : 0));
  }
  if (info.hwndItem != nullptr && info.hwndItem != window_) return;  // the edit child shows the text
  const LRESULT selected = SendMessageW(window_, CB_GETCURSEL, 0, 0);
  std::u16string text;
  if (selected != CB_ERR) {
    const LRESULT length = SendMessageW(window_, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0);
    if (length != CB_ERR) {
      text.assign(static_cast<size_t>(length) + 1, u'\0');
      SendMessageW(window_, CB_GETLBTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(text.data()));
      text.resize(static_cast<size_t>(length));
    }
  }
  RECT label{client.left + skin.Scale(3), client.top + 2, arrow.left - 1, client.bottom - 2};
  const bool focused = GetFocus() == window_;
  if (focused && enabled) {
    FillColour(dc, label, runtime::kColourHighlight);
    SetTextColor(dc, skin.Colour(runtime::kColourHighlightText));
  } else {
    SetTextColor(dc, skin.Colour(enabled ? runtime::kColourText : runtime::kColourDisabledText));
  }
  RECT inner = label;
  inner.left += skin.Scale(2);
  DrawTextW(dc, W(text), -1, &inner, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
}

// ---- CVLListBox -----------------------------------------------------------------------

LRESULT CVLListBox::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  if (const std::optional<LRESULT> done = PaintMessage(message, wparam, lparam, false)) return *done;
  switch (message) {
    case WM_NCPAINT:
      // The client and any scroll bar stay the system's.
      return PaintSkinBorder(message, wparam, lparam, false);
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_MOUSEMOVE:
    case WM_KEYDOWN:
    case WM_VSCROLL:
    case WM_MOUSEWHEEL:
    case LB_SETCURSEL:
    case LB_SETSEL:
    case LB_SETTOPINDEX:
    case LB_ADDSTRING:
    case LB_INSERTSTRING:
    case LB_DELETESTRING:
    case LB_RESETCONTENT:
    case WM_ENABLE:
      return DefaultThenRepaint(message, wparam, lparam);
    default:
      return Default(message, wparam, lparam);
  }
}

void CVLListBox::OnPaint(HDC dc, const RECT& client) {
  const CNewAspect& skin = CNewAspect::Global();
  const bool enabled = IsWindowEnabled(window_) != FALSE;
  FillColour(dc, client, runtime::kColourField);
  const LRESULT count = SendMessageW(window_, LB_GETCOUNT, 0, 0);
  const LRESULT caret = SendMessageW(window_, LB_GETCARETINDEX, 0, 0);
  const bool focused = GetFocus() == window_;
  for (LRESULT item = SendMessageW(window_, LB_GETTOPINDEX, 0, 0); item >= 0 && item < count; ++item) {
    RECT row{};
    if (SendMessageW(window_, LB_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&row)) == LB_ERR) {
      break;
    }
    if (row.top >= client.bottom) break;
    const bool selected = SendMessageW(window_, LB_GETSEL, static_cast<WPARAM>(item), 0) > 0;
    if (selected) {
      if (!DrawSkinBitmap(dc, skin, runtime::kBitmapListSelection, row)) FillColour(dc, row, runtime::kColourHighlight);
      SetTextColor(dc, skin.Colour(runtime::kColourHighlightText));
    } else {
      SetTextColor(dc, skin.Colour(enabled ? runtime::kColourText : runtime::kColourDisabledText));
    }
    const LRESULT length = SendMessageW(window_, LB_GETTEXTLEN, static_cast<WPARAM>(item), 0);
    if (length != LB_ERR && length >= 0) {
      std::u16string text(static_cast<size_t>(length) + 1, u'\0');
      SendMessageW(window_, LB_GETTEXT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(text.data()));
      text.resize(static_cast<size_t>(length));
      RECT label = row;
      label.left += skin.Scale(4);
      DrawTextW(dc, W(text), -1, &label, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    if (focused && item == caret) DrawFocusRect(dc, &row);
  }
}

// ---- CVLSlider ------------------------------------------------------------------------

bool CVLSlider::Create(HWND placeholder) {
  if (placeholder == nullptr) return false;
  HWND parent = GetParent(placeholder);
  RECT rect{};
  GetWindowRect(placeholder, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  const int id = GetDlgCtrlID(placeholder);
  const LONG style = GetWindowLongW(placeholder, GWL_STYLE);
  HWND slider = CreateWindowExW(0, TRACKBAR_CLASSW, L"",
                                WS_CHILD | WS_TABSTOP | (style & (WS_VISIBLE | WS_DISABLED)) | TBS_HORZ | TBS_NOTICKS,
                                rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (slider == nullptr) return false;
  SetWindowPos(slider, placeholder, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  DestroyWindow(placeholder);
  return Attach(slider);
}

int CVLSlider::Position() const { return static_cast<int>(SendMessageW(window_, TBM_GETPOS, 0, 0)); }
void CVLSlider::SetRange(int low, int high) { SendMessageW(window_, TBM_SETRANGE, TRUE, MAKELPARAM(low, high)); }
void CVLSlider::SetPosition(int position) { SendMessageW(window_, TBM_SETPOS, TRUE, position); }

LRESULT CVLSlider::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  if (const std::optional<LRESULT> done = PaintMessage(message, wparam, lparam, true)) return *done;
  switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_KEYDOWN:
    case TBM_SETPOS:
    case TBM_SETRANGE:
    case WM_ENABLE:
      return DefaultThenRepaint(message, wparam, lparam);
    default:
      return Default(message, wparam, lparam);
  }
}

void CVLSlider::OnPaint(HDC dc, const RECT& client) {
  const CNewAspect& skin = CNewAspect::Global();
  FillColour(dc, client, runtime::kColourWindow);
  RECT channel{};
  SendMessageW(window_, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
  RECT thumb{};
  SendMessageW(window_, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
  const int track_height = skin.Scale(6);
  const int middle = (thumb.top + thumb.bottom) / 2;
  RECT track{channel.left, middle - track_height / 2, channel.right, middle - track_height / 2 + track_height};
  if (!DrawSkinBitmap(dc, skin, runtime::kBitmapSliderTrack, track)) DrawEdge(dc, &track, EDGE_SUNKEN, BF_RECT);
  // The part up to the thumb in the highlight colour.
  RECT filled{track.left + 2, track.top + 2, (thumb.left + thumb.right) / 2, track.bottom - 2};
  if (filled.right > filled.left && IsWindowEnabled(window_)) FillColour(dc, filled, runtime::kColourHighlight);
  const int thumb_width = skin.Scale(11), thumb_height = std::min<int>(skin.Scale(20), client.bottom);
  const int thumb_middle = (thumb.left + thumb.right) / 2;
  RECT knob{thumb_middle - thumb_width / 2, middle - thumb_height / 2, thumb_middle - thumb_width / 2 + thumb_width,
            middle - thumb_height / 2 + thumb_height};
  if (!DrawSkinBitmap(dc, skin, hot_ ? runtime::kBitmapSliderThumbHot : runtime::kBitmapSliderThumb, knob)) {
    DrawFrameControl(dc, &knob, DFC_BUTTON, DFCS_BUTTONPUSH);
  }
  if (GetFocus() == window_) {
    RECT focus = client;
    DrawFocusRect(dc, &focus);
  }
}

// ---- CVLLineCtrl ----------------------------------------------------------------------

LRESULT CVLLineCtrl::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  if (const std::optional<LRESULT> done = PaintMessage(message, wparam, lparam, false)) return *done;
  switch (message) {
    default:
      return Default(message, wparam, lparam);
  }
}

void CVLLineCtrl::OnPaint(HDC dc, const RECT& client) {
  const CNewAspect& skin = CNewAspect::Global();
  FillColour(dc, client, runtime::kColourWindow);
  const bool horizontal = client.right >= client.bottom;
  const int thickness = std::max(2, skin.Scale(2));
  RECT line = client;
  if (horizontal) {
    line.top = (client.bottom - thickness) / 2;
    line.bottom = line.top + thickness;
    if (!DrawSkinBitmap(dc, skin, runtime::kBitmapLine, line)) DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
  } else {
    line.left = (client.right - thickness) / 2;
    line.right = line.left + thickness / 2;
    FillColour(dc, line, runtime::kColourDarkEdge);
    OffsetRect(&line, thickness / 2, 0);
    FillColour(dc, line, runtime::kColourLightEdge);
  }
}

// ---- CVLBaseGrid ----------------------------------------------------------------------

namespace {

constexpr wchar_t kGridClass[] = L"VLBaseGrid";

// The grid's own window class: double-clicks are reported, the rest is the subclass's.
bool RegisterGridClass() {
  static const bool registered = [] {
    WNDCLASSW window_class{};
    window_class.style = CS_DBLCLKS;
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = kGridClass;
    return RegisterClassW(&window_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

}  // namespace

bool CVLBaseGrid::Create(HWND placeholder, int id) {
  if (placeholder == nullptr || !RegisterGridClass()) return false;
  HWND parent = GetParent(placeholder);
  RECT rect{};
  GetWindowRect(placeholder, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  HWND grid = CreateWindowExW(0, kGridClass, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, rect.left, rect.top,
                              rect.right - rect.left, rect.bottom - rect.top, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (grid == nullptr) return false;
  // In the tab order where the placeholder was.
  SetWindowPos(grid, placeholder, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ShowWindow(placeholder, SW_HIDE);
  return Attach(grid);
}

void CVLBaseGrid::SetColumns(std::vector<Column> columns, bool scaled) {
  columns_ = std::move(columns);
  scaled_ = scaled;
  if (window_ != nullptr) InvalidateRect(window_, nullptr, FALSE);
}

void CVLBaseGrid::AddRow(std::vector<std::u16string> cells, bool grey, bool struck) {
  rows_.push_back({std::move(cells), grey, struck});
  if (window_ != nullptr) InvalidateRect(window_, nullptr, FALSE);
}

void CVLBaseGrid::ClearRows() {
  rows_.clear();
  selected_ = -1;
  top_ = 0;
  if (window_ != nullptr) InvalidateRect(window_, nullptr, FALSE);
}

void CVLBaseGrid::SetSelectedRow(int row) { Select(row, false); }

void CVLBaseGrid::Select(int row, bool notify) {
  const int before = selected_;
  selected_ = row >= 0 && static_cast<size_t>(row) < rows_.size() ? row : -1;
  top_ = GridScrollTop(top_, selected_, VisibleRows(), static_cast<int>(rows_.size()));
  if (window_ != nullptr) InvalidateRect(window_, nullptr, FALSE);
  if (notify && before != selected_) Notify(kGridSelect, selected_);
}

void CVLBaseGrid::Notify(UINT code, int row) {
  if (window_ == nullptr) return;
  GridNotify note{};
  note.header.hwndFrom = window_;
  note.header.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(window_));
  note.header.code = code;
  note.row = row;
  SendMessageW(GetParent(window_), WM_NOTIFY, note.header.idFrom, reinterpret_cast<LPARAM>(&note));
}

int CVLBaseGrid::RowHeight() const { return CNewAspect::Global().Scale(18); }

int CVLBaseGrid::VisibleRows() const {
  if (window_ == nullptr) return 1;
  RECT client{};
  GetClientRect(window_, &client);
  return std::max(1, static_cast<int>(client.bottom) / RowHeight() - 1);
}

std::vector<int> CVLBaseGrid::ColumnWidths() const {
  std::vector<GridColumnWidth> widths;
  for (const Column& column : columns_) widths.push_back({column.width, column.min_width});
  RECT client{};
  if (window_ != nullptr) GetClientRect(window_, &client);
  return GridColumnWidths(widths, scaled_, CNewAspect::Global().Dpi(), client.right);
}

LRESULT CVLBaseGrid::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  if (const std::optional<LRESULT> done = PaintMessage(message, wparam, lparam, false)) return *done;
  const int rows = static_cast<int>(rows_.size());
  switch (message) {
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH: {
      // The window's text is the selected row, so that tools that read windows see it.
      std::u16string text;
      if (selected_ >= 0) {
        const std::vector<std::u16string>& cells = rows_[static_cast<size_t>(selected_)].cells;
        for (size_t i = 0; i < cells.size(); ++i) text += (i == 0 ? u"" : u" | ") + cells[i];
      }
      if (message == WM_GETTEXTLENGTH) return static_cast<LRESULT>(text.size());
      if (wparam == 0) return 0;
      const size_t copied = std::min(text.size(), static_cast<size_t>(wparam) - 1);
      auto* out = reinterpret_cast<char16_t*>(lparam);
      text.copy(out, copied);
      out[copied] = u'\0';
      return static_cast<LRESULT>(copied);
    }
    case WM_LBUTTONDOWN: {
      SetFocus(window_);
      const int x = GET_X_LPARAM(lparam), y = GET_Y_LPARAM(lparam);
      if (y < RowHeight()) {
        // A header border: the column's width follows the mouse until the button is let go.
        const std::vector<int> widths = ColumnWidths();
        dragging_ = GridBorderAt(x, widths, CNewAspect::Global().Scale(3));
        if (dragging_ >= 0 && static_cast<size_t>(dragging_) + 1 < columns_.size()) {
          drag_origin_ = x;
          drag_width_ = widths[static_cast<size_t>(dragging_)];
          SetCapture(window_);
        } else {
          dragging_ = -1;
        }
        return 0;
      }
      const int row = GridRowAt(y, RowHeight(), top_, rows);
      if (row < 0) return 0;
      Select(row, true);
      if (x < kGridEdgePixels) Notify(kGridEdgePress, row);
      return 0;
    }
    case WM_MOUSEMOVE:
      if (dragging_ >= 0 && static_cast<size_t>(dragging_) < columns_.size()) {
        Column& column = columns_[static_cast<size_t>(dragging_)];
        const int wanted = drag_width_ + GET_X_LPARAM(lparam) - drag_origin_;
        const int scale_back = scaled_ ? CNewAspect::Global().Dpi() : 96;
        column.width = std::max(column.min_width, wanted * 96 / std::max(scale_back, 1));
        InvalidateRect(window_, nullptr, FALSE);
      }
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      if (dragging_ >= 0) {
        dragging_ = -1;
        if (message == WM_LBUTTONUP) ReleaseCapture();
      }
      return 0;
    case WM_SETCURSOR: {
      // Over a header border that can be dragged, the sizing cursor.
      POINT point{};
      GetCursorPos(&point);
      ScreenToClient(window_, &point);
      const int border =
          point.y < RowHeight() ? GridBorderAt(point.x, ColumnWidths(), CNewAspect::Global().Scale(3)) : -1;
      if (border >= 0 && static_cast<size_t>(border) + 1 < columns_.size()) {
        SetCursor(LoadCursorW(nullptr, IDC_SIZEWE));
        return TRUE;
      }
      return Default(message, wparam, lparam);
    }
    case WM_LBUTTONDBLCLK: {
      const int row = GridRowAt(GET_Y_LPARAM(lparam), RowHeight(), top_, rows);
      if (row >= 0) {
        Select(row, true);
        Notify(kGridActivate, row);
      }
      return 0;
    }
    case WM_MOUSEWHEEL: {
      const int step = GET_WHEEL_DELTA_WPARAM(wparam) > 0 ? -3 : 3;
      top_ = GridScrollTop(top_ + step, -1, VisibleRows(), rows);
      InvalidateRect(window_, nullptr, FALSE);
      return 0;
    }
    case WM_KEYDOWN: {
      int row = selected_;
      switch (wparam) {
        case VK_UP:
          row = selected_ > 0 ? selected_ - 1 : 0;
          break;
        case VK_DOWN:
          row = selected_ + 1 < rows ? selected_ + 1 : rows - 1;
          break;
        case VK_PRIOR:
          row = std::max(selected_ - VisibleRows(), 0);
          break;
        case VK_NEXT:
          row = std::min(selected_ + VisibleRows(), rows - 1);
          break;
        case VK_HOME:
          row = 0;
          break;
        case VK_END:
          row = rows - 1;
          break;
        default:
          return Default(message, wparam, lparam);
      }
      if (rows > 0) Select(row, true);
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case WM_SIZE:
      InvalidateRect(window_, nullptr, FALSE);
      return Default(message, wparam, lparam);
    default:
      return Default(message, wparam, lparam);
  }
}

CVLBaseGrid::~CVLBaseGrid() {
  if (struck_font_ != nullptr) DeleteObject(struck_font_);
}

void CVLBaseGrid::OnPaint(HDC dc, const RECT& client) {
  const CNewAspect& skin = CNewAspect::Global();
  if (struck_font_ == nullptr) {
    // Struck-out rows (an excluded file) in the grid's font with a line through it.
    LOGFONTW face{};
    if (GetObjectW(GetCurrentObject(dc, OBJ_FONT), sizeof face, &face) != 0) {
      face.lfStrikeOut = TRUE;
      struck_font_ = CreateFontIndirectW(&face);
    }
  }
  FillColour(dc, client, runtime::kColourField);
  const int height = RowHeight();
  const bool enabled = IsWindowEnabled(window_) != FALSE;
  const bool focused = GetFocus() == window_;
  const std::vector<int> widths = ColumnWidths();
  HGDIOBJ old_pen = SelectObject(dc, skin.Pen(runtime::kColourGridLine));
  int x = client.left;
  for (size_t c = 0; c < columns_.size(); ++c) {
    const int width = widths[c];
    RECT header{x, client.top, x + width, client.top + height};
    if (!DrawSkinBitmap(dc, skin, runtime::kBitmapHeader, header)) {
      DrawFrameControl(dc, &header, DFC_BUTTON, DFCS_BUTTONPUSH);
    }
    SetTextColor(dc, skin.Colour(enabled ? runtime::kColourText : runtime::kColourDisabledText));
    RECT label = header;
    // A narrow column's title keeps its last letters by giving up some of the margin.
    SIZE extent{};
    const std::u16string& title = columns_[c].title;
    GetTextExtentPoint32W(dc, W(title), static_cast<int>(title.size()), &extent);
    const int margin = extent.cx + 2 * skin.Scale(4) <= width ? skin.Scale(4) : skin.Scale(1);
    InflateRect(&label, -margin, 0);
    DrawTextW(dc, W(title), -1, &label, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    for (size_t r = static_cast<size_t>(top_); r < rows_.size(); ++r) {
      const int line = static_cast<int>(r) - top_;
      RECT cell{x, client.top + height * (line + 1), x + width, client.top + height * (line + 2)};
      if (cell.top >= client.bottom) break;
      const bool selected = static_cast<int>(r) == selected_;
      if (selected) FillColour(dc, cell, focused ? runtime::kColourHighlight : runtime::kColourFace);
      // Rows the user cannot change are grey, also when selected without the focus.
      COLORREF colour = rows_[r].grey ? RGB(128, 128, 128) : skin.Colour(runtime::kColourText);
      if (selected && focused) colour = skin.Colour(runtime::kColourHighlightText);
      if (!enabled) colour = skin.Colour(runtime::kColourDisabledText);
      SetTextColor(dc, colour);
      RECT text = cell;
      InflateRect(&text, -skin.Scale(4), 0);
      if (c < rows_[r].cells.size()) {
        HGDIOBJ previous = rows_[r].struck && struck_font_ != nullptr ? SelectObject(dc, struck_font_) : nullptr;
        DrawTextW(dc, W(rows_[r].cells[c]), -1, &text,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
        if (previous != nullptr) SelectObject(dc, previous);
      }
      MoveToEx(dc, cell.left, cell.bottom - 1, nullptr);
      LineTo(dc, cell.right, cell.bottom - 1);
    }
    MoveToEx(dc, x + width - 1, client.top + height, nullptr);
    LineTo(dc, x + width - 1, client.bottom);
    x += width;
  }
  SelectObject(dc, old_pen);
  // The field's frame around the cells, as edits and lists have.
  const int saved = SaveDC(dc);
  const int border = std::max(1, static_cast<int>(skin.Scale(1)));
  ExcludeClipRect(dc, client.left + border, client.top + border, client.right - border, client.bottom - border);
  DrawSkinFrame(dc, client);
  RestoreDC(dc, saved);
  if (focused && selected_ < 0) {
    RECT focus = client;
    InflateRect(&focus, -2, -2);
    DrawFocusRect(dc, &focus);
  }
}

}  // namespace ui
