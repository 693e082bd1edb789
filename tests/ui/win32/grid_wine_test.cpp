// The list grid as its pages use it: made over a placeholder, it reports a new selection,
// a press near its left edge and a double-click to its parent, follows the keyboard, and
// reads out the selected row as its text.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ui/win32/controls.h"

namespace ui {
namespace {

std::vector<std::pair<UINT, int>>* g_notes = nullptr;

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NOTIFY && g_notes != nullptr) {
    const auto* note = reinterpret_cast<const GridNotify*>(lparam);
    g_notes->emplace_back(note->header.code, note->row);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

class GridWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = ParentProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"BrankelGridTestParent";
    RegisterClassW(&window_class);
    parent_ = CreateWindowExW(0, L"BrankelGridTestParent", L"", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent_, nullptr);
    HWND placeholder = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 10, 10, 300, 200, parent_,
                                       reinterpret_cast<HMENU>(1205), GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(grid_.Create(placeholder, 1206));
    EXPECT_FALSE(IsWindowVisible(placeholder));
    EXPECT_EQ(GetDlgCtrlID(grid_.Handle()), 1206);
    grid_.SetColumns({{u"Name", 100, 30}, {u"Path", 150, 30}}, false);
    grid_.AddRow({u"a.msd", u"C:\\a.msd"}, true);
    grid_.AddRow({u"b.msd", u"C:\\b.msd"});
    grid_.AddRow({u"c.msd", u"C:\\c.msd"});
    g_notes = &notes_;
  }
  void TearDown() override {
    g_notes = nullptr;
    if (parent_ != nullptr) DestroyWindow(parent_);
  }
  std::u16string Text() {
    wchar_t text[128] = {};
    GetWindowTextW(grid_.Handle(), text, 128);
    return reinterpret_cast<const char16_t*>(text);
  }

  HWND parent_ = nullptr;
  CVLBaseGrid grid_;
  std::vector<std::pair<UINT, int>> notes_;
};

TEST_F(GridWineTest, MouseAndKeysSelectAndReport) {
  // Rows are 18 pixels high below a header as high (96 DPI).
  struct Step {
    UINT message;
    WPARAM wparam;
    int x, y;
    std::vector<std::pair<UINT, int>> notes;
    int selected;
  } steps[] = {
      {WM_LBUTTONDOWN, MK_LBUTTON, 100, 9, {}, -1},                                     // the header
      {WM_LBUTTONDOWN, MK_LBUTTON, 100, 27, {{kGridSelect, 0}}, 0},                     // first row
      {WM_LBUTTONDOWN, MK_LBUTTON, 100, 27, {}, 0},                                     // the same row again
      {WM_LBUTTONDOWN, MK_LBUTTON, 5, 45, {{kGridSelect, 1}, {kGridEdgePress, 1}}, 1},  // the edge
      {WM_LBUTTONDOWN, MK_LBUTTON, 19, 45, {{kGridEdgePress, 1}}, 1},                   // still the edge
      {WM_LBUTTONDOWN, MK_LBUTTON, 20, 180, {}, 1},                                     // below the rows
      {WM_LBUTTONDBLCLK, MK_LBUTTON, 150, 63, {{kGridSelect, 2}, {kGridActivate, 2}}, 2},
      {WM_KEYDOWN, VK_DOWN, 0, 0, {}, 2},  // already the last row
      {WM_KEYDOWN, VK_HOME, 0, 0, {{kGridSelect, 0}}, 0},
      {WM_KEYDOWN, VK_UP, 0, 0, {}, 0},
      {WM_KEYDOWN, VK_END, 0, 0, {{kGridSelect, 2}}, 2},
      {WM_KEYDOWN, VK_UP, 0, 0, {{kGridSelect, 1}}, 1},
  };
  for (const Step& step : steps) {
    notes_.clear();
    const LPARAM lparam = step.message == WM_KEYDOWN ? 1 : MAKELPARAM(step.x, step.y);
    SendMessageW(grid_.Handle(), step.message, step.wparam, lparam);
    EXPECT_EQ(notes_, step.notes) << step.message << " at " << step.x << "," << step.y;
    EXPECT_EQ(grid_.SelectedRow(), step.selected) << step.message << " at " << step.x << "," << step.y;
  }
  EXPECT_EQ(Text(), u"b.msd | C:\\b.msd");
  // Setting the selection from the page reports nothing; an empty grid has no text.
  notes_.clear();
  grid_.SetSelectedRow(0);
  EXPECT_TRUE(notes_.empty());
  grid_.ClearRows();
  EXPECT_EQ(grid_.SelectedRow(), -1);
  EXPECT_EQ(Text(), u"");
}

}  // namespace
}  // namespace ui
