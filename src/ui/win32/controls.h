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

// The grid's notifications to its parent, as WM_NOTIFY with a GridNotify.
inline constexpr UINT kGridSelect = 0x0B01;     // a new row was selected by mouse or keyboard
inline constexpr UINT kGridEdgePress = 0x0B02;  // left button pressed near the left edge, on a row
inline constexpr UINT kGridActivate = 0x0B03;   // a row was double-clicked
inline constexpr int kGridEdgePixels = 20;
struct GridNotify {
  NMHDR header;
  int row;
};

// A read-only table of texts: a header row and rows of cells, with grid lines. The header
// borders can be dragged; a column never gets narrower than its minimum.
class CVLBaseGrid : public CVLWnd {
 public:
  struct Column {
    std::u16string title;
    int width;          // in pixels at 96 DPI when scaled, else on the screen
    int min_width = 0;  // the same units
  };
  ~CVLBaseGrid() override;
  // Creates the grid over the rectangle of `placeholder` (which is hidden), with `id`.
  bool Create(HWND placeholder, int id);
  void SetColumns(std::vector<Column> columns, bool scaled);
  // A grey row is one the user cannot change; a struck row is drawn with a line through it.
  void AddRow(std::vector<std::u16string> cells, bool grey = false, bool struck = false);
  void ClearRows();
  size_t RowCount() const { return rows_.size(); }
  int SelectedRow() const { return selected_; }
  void SetSelectedRow(int row);

 protected:
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;
  void OnPaint(HDC dc, const RECT& client) override;

 private:
  struct Row {
    std::vector<std::u16string> cells;
    bool grey = false;
    bool struck = false;
  };
  int RowHeight() const;
  int VisibleRows() const;
  std::vector<int> ColumnWidths() const;
  void Select(int row, bool notify);
  void Notify(UINT code, int row);

  std::vector<Column> columns_;
  bool scaled_ = true;
  std::vector<Row> rows_;
  int selected_ = -1;
  int top_ = 0;          // the first row shown
  int dragging_ = -1;    // the column whose right border follows the mouse
  int drag_origin_ = 0;  // the mouse position and the column's width when the drag began
  int drag_width_ = 0;
  HFONT struck_font_ = nullptr;
};

}  // namespace ui
