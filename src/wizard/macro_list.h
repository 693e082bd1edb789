// The macro list page: the script and the macro files it calls, which the build packs, and
// files the user adds by hand.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "wizard/page.h"

namespace wizard {

class ExtraFilesPage;

inline constexpr int kIdListTips = 1024;
inline constexpr int kIdGridPlace = 1205;  // the grid is made over this control's rectangle
inline constexpr int kIdGrid = 1206;
inline constexpr int kIdAddFile = 4;
inline constexpr int kIdRemoveFile = 5;
inline constexpr int kIdEditFile = 6;
inline constexpr int kRemoveClickPixels = 20;  // a press this near the grid's left edge removes
inline constexpr size_t kChooserChars = 1040;  // the multi-select chooser's buffer

class MacroListPage {
 public:
  MacroListPage(PageContext& context, ExtraFilesPage& extras) : context_(context), extras_(extras) {}

  // Not scaled for the screen's DPI.
  static const std::array<GridColumn, 4>& Columns();
  std::vector<GridRow> Rows() const;

  // Remove and Edit are shown exactly for a selected row the user added.
  bool CanChange(int row) const;

  // Before the chooser opens: false (after "IDS_ERR_MACROFILETOOMANY") when the list is full.
  bool CanAdd() const;
  // Adds the chosen files in order while there is room; a listed path (any case) is not
  // added twice. Returns the row to select (the last), or -1 for an empty list.
  int Add(const std::vector<std::u16string>& paths);
  // Replaces the path of a row the user added; false for other rows.
  bool Edit(int row, std::u16string_view path);
  // Removes a row the user added; false for other rows. Returns through `select` the row to
  // select afterwards (the last, or -1).
  bool Remove(int row, int* select);

  bool Changed() const { return changed_; }

  // Sets the extra files page's refresh flag when the list changed, then makes fresh
  // temporary copies of the found macro files; on a failure removes every copy and stays.
  LeaveResult LeaveForward();

 private:
  PageContext& context_;
  ExtraFilesPage& extras_;
  bool changed_ = false;
};

}  // namespace wizard
