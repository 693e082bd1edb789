// The list grid's geometry: column widths with their minimums and DPI, hit tests of rows
// and header borders, and the scrolling that keeps the selection in view.
#include "ui/grid_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace ui {
namespace {

TEST(GridLayoutTest, ColumnWidthsFollowScaleMinimumAndClient) {
  const std::vector<GridColumnWidth> columns = {{150, 30}, {20, 30}, {50, 50}};
  struct Case {
    bool scaled;
    int dpi;
    int client;
    std::vector<int> widths;
  } cases[] = {
      {false, 144, 0, {150, 30, 50}},    // unscaled: the pixels as given, the minimum wins
      {true, 144, 0, {225, 45, 75}},     // scaled: widths and minimums alike
      {false, 96, 400, {150, 30, 220}},  // the last column takes what is left
      {true, 120, 100, {188, 38, 63}},   // a narrow client leaves the widths alone
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GridColumnWidths(columns, c.scaled, c.dpi, c.client), c.widths) << c.dpi << " " << c.client;
  }
  EXPECT_TRUE(GridColumnWidths({}, true, 96, 300).empty());
}

TEST(GridLayoutTest, RowAndBorderHitTests) {
  struct Case {
    int y, top, rows, row;
  } rows[] = {{0, 0, 5, -1}, {17, 0, 5, -1},  {18, 0, 5, 0}, {35, 0, 5, 0},  {36, 0, 5, 1},
              {89, 0, 5, 3}, {108, 0, 5, -1}, {18, 3, 5, 3}, {36, 4, 5, -1}, {-5, 0, 5, -1}};
  for (const Case& c : rows) EXPECT_EQ(GridRowAt(c.y, 18, c.top, c.rows), c.row) << c.y << " top " << c.top;
  EXPECT_EQ(GridRowAt(40, 0, 0, 5), -1);

  const std::vector<int> widths = {100, 50, 80};
  EXPECT_EQ(GridBorderAt(98, widths, 3), 0);
  EXPECT_EQ(GridBorderAt(103, widths, 3), 0);
  EXPECT_EQ(GridBorderAt(104, widths, 3), -1);
  EXPECT_EQ(GridBorderAt(150, widths, 3), 1);
  EXPECT_EQ(GridBorderAt(230, widths, 3), 2);
  EXPECT_EQ(GridBorderAt(50, widths, 3), -1);
}

TEST(GridLayoutTest, ScrollKeepsTheSelectionInView) {
  struct Case {
    int top, selected, visible, rows, result;
  } cases[] = {
      {0, 2, 5, 20, 0},     // already in view
      {0, 7, 5, 20, 3},     // below: it becomes the last row shown
      {10, 4, 5, 20, 4},    // above: it becomes the first
      {0, -1, 5, 20, 0},    // no selection keeps the top
      {18, -1, 5, 20, 15},  // no empty space below the last row
      {3, -1, 5, 2, 0},     // fewer rows than fit
      {0, 19, 0, 20, 19},   // a grid with no room shows one row
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GridScrollTop(c.top, c.selected, c.visible, c.rows), c.result) << c.top << " " << c.selected;
  }
}

}  // namespace
}  // namespace ui
