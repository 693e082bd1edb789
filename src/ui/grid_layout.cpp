#include "ui/grid_layout.h"

#include <algorithm>

#include "ui/skin_rules.h"

namespace ui {

std::vector<int> GridColumnWidths(std::span<const GridColumnWidth> columns, bool scaled, int32_t dpi,
                                  int client_width) {
  std::vector<int> widths;
  int used = 0;
  for (const GridColumnWidth& column : columns) {
    const int width = scaled ? Scale(column.width, dpi) : column.width;
    const int least = scaled ? Scale(column.min_width, dpi) : column.min_width;
    widths.push_back(std::max({width, least, 0}));
    used += widths.back();
  }
  if (!widths.empty() && used < client_width) widths.back() += client_width - used;
  return widths;
}

int GridRowAt(int y, int row_height, int top, int rows) {
  if (row_height <= 0 || y < row_height) return -1;
  const int row = y / row_height - 1 + std::max(top, 0);
  return row < rows ? row : -1;
}

int GridBorderAt(int x, std::span<const int> widths, int slop) {
  int edge = 0;
  for (size_t i = 0; i < widths.size(); ++i) {
    edge += widths[i];
    if (x >= edge - slop && x <= edge + slop) return static_cast<int>(i);
  }
  return -1;
}

int GridScrollTop(int top, int selected, int visible, int rows) {
  visible = std::max(visible, 1);
  if (selected >= 0 && selected < rows) {
    if (selected < top) top = selected;
    if (selected >= top + visible) top = selected - visible + 1;
  }
  return std::clamp(top, 0, std::max(rows - visible, 0));
}

}  // namespace ui
