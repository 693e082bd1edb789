// The skinned controls. Each attaches to a control of a dialog template (or creates its
// own window) and paints it from the skin's bitmaps and colours, so a control looks the
// same in every window that uses it. Behaviour stays the system control's.
#pragma once

#include <optional>

#include <windows.h>

#include <string>
#include <vector>

#include "ui/win32/skin.h"

namespace ui {

// Draws a skin bitmap into `rect`: corners of `border` pixels (scaled to the DPI) keep
// their size, the edges and the middle stretch; the key colour of the last palette entry
// stays transparent. False when the skin has no such bitmap (nothing is drawn).
bool DrawSkinBitmap(HDC dc, const CNewAspect& skin, int index, const RECT& rect, bool frame = false);

// A window the toolkit paints: attached to an existing window by subclassing it.
class CVLWnd {
 public:
  virtual ~CVLWnd();
  bool Attach(HWND window);
  void Detach();
  HWND Handle() const { return window_; }

 protected:
  // Messages of the attached window; the default passes them on.
  virtual LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Default(UINT message, WPARAM wparam, LPARAM lparam);
  // Paints through a memory bitmap so nothing flickers; subclasses draw in OnPaint.
  LRESULT PaintBuffered(HDC given = nullptr);
  virtual void OnPaint(HDC /*dc*/, const RECT& /*client*/) {}
  // Repaints after the system control has drawn itself on a state change.
  LRESULT DefaultThenRepaint(UINT message, WPARAM wparam, LPARAM lparam);
  // What every skinned control does with painting (through PaintBuffered, no background
  // erase) and, when it has a hover look, with the mouse entering and leaving.
  std::optional<LRESULT> PaintMessage(UINT message, WPARAM wparam, LPARAM lparam, bool tracks_hover);
  void DrawSkinFrame(HDC dc, RECT rect) const;
  // Lets the system paint the non-client area, then draws the skin's frame as the
  // border: around a client filled with the field colour, or around everything inside
  // the border (scroll bars included) left as the system drew it.
  LRESULT PaintSkinBorder(UINT message, WPARAM wparam, LPARAM lparam, bool field_inside);

  HWND window_ = nullptr;
  bool hot_ = false;

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                       DWORD_PTR data);
};

// Push button, check box or radio button, by the template control's style.
class CVLButton : public CVLWnd {
 protected:
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;
  void OnPaint(HDC dc, const RECT& client) override;
};

class CVLEdit : public CVLWnd {
 protected:
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;
};

// A time of day typed as "hh:mm:ss": only digits and colons are taken.
class CVLTimeEditbox : public CVLEdit {
 protected:
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;
};

class CVLCombox : public CVLWnd {
 protected:
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;
  void OnPaint(HDC dc, const RECT& client) override;
};

class CVLListBox : public CVLWnd {
 protected:
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;
  void OnPaint(HDC dc, const RECT& client) override;
};

class CVLSlider : public CVLWnd {
 public:
  // Creates a slider in place of the template control `placeholder` (which is destroyed),
  // with its id and position.
  bool Create(HWND placeholder);
  int Position() const;
  void SetRange(int low, int high);
  void SetPosition(int position);

 protected:
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;
  void OnPaint(HDC dc, const RECT& client) override;
};

// A separator line: horizontal when wider than high.
class CVLLineCtrl : public CVLWnd {
 protected:
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;
  void OnPaint(HDC dc, const RECT& client) override;
};

// A read-only table of texts: a header row and rows of cells, with grid lines.
class CVLBaseGrid : public CVLWnd {
 public:
  struct Column {
    std::u16string title;
    int width;  // at 96 DPI
  };
  void SetColumns(std::vector<Column> columns);
  void AddRow(std::vector<std::u16string> cells);
  void ClearRows();
  size_t RowCount() const { return rows_.size(); }
  void SetSelectedRow(int row);

 protected:
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;
  void OnPaint(HDC dc, const RECT& client) override;

 private:
  int RowHeight() const;
  std::vector<Column> columns_;
  std::vector<std::vector<std::u16string>> rows_;
  int selected_ = -1;
};

}  // namespace ui
