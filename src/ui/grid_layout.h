// The list grid's geometry without a window: how wide each column is drawn, which row or
// header border a point falls on, and which rows are shown so that the selection stays
// in view.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace ui {

struct GridColumnWidth {
  int width;
  int min_width;
};

// The columns' widths on the screen: scaled for `dpi` when `scaled`, never below their
// minimum; the last column also takes what is left of `client_width`.
std::vector<int> GridColumnWidths(std::span<const GridColumnWidth> columns, bool scaled, int32_t dpi, int client_width);

// The row under `y` (the header is `row_height` high, `top` the first row shown), or -1
// on the header and below the last row.
int GridRowAt(int y, int row_height, int top, int rows);

// The column whose right border is within `slop` pixels of `x`, or -1.
int GridBorderAt(int x, std::span<const int> widths, int slop);

// The first row to show so that `selected` (or, with none, the old `top`) is in view and
// no empty space is left below the last row.
int GridScrollTop(int top, int selected, int visible, int rows);

}  // namespace ui
