// The extra files page: the files the macros' commands name, found by the discovery, and
// files the user adds by hand.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "wizard/ensure_file.h"
#include "wizard/page.h"

namespace wizard {

class ExtraFilesPage {
 public:
  explicit ExtraFilesPage(PageContext& context) : context_(context) {}

  // Scaled for the screen's DPI.
  static const std::array<GridColumn, 4>& Columns();
  std::vector<GridRow> Rows() const;

  // Set when the page is made and by the macro list page when its list changed.
  void SetRefresh() { refresh_ = true; }
  bool NeedsRefresh() const { return refresh_; }

  // The show handler: with the refresh flag set, runs the discovery over every macro entry
  // with a temporary copy (stopping at the first failure that has a message, which is shown)
  // and clears the flag. True when the discovery ran.
  bool OnShow();

  // The state of buttons 5 and 6 for the selected row (-1 for none).
  struct Buttons {
    bool remove_enabled = false;
    const char16_t* remove_key = u"IDS_BTN_REMOVEFILE";  // or include, or exclude
    bool edit_enabled = false;
  };
  Buttons ButtonsFor(int row) const;

  // Adds the chosen files (after "IDS_ERR_EXTRAFILETOOMANY" nothing when the list is full)
  // with their target names; returns the row to select (the last), or -1.
  int Add(const std::vector<std::u16string>& paths);

  // The dialog's values for a row the user added; false for other rows.
  bool EditValues(int row, EnsureFileValues* values) const;
  // Stores what the dialog gave back; false (after a message) when the target name could
  // leave the unpack folder, and the entry stays as it was.
  bool StoreEdit(int row, const EnsureFileValues& values);

  // Removes a row the user added, or flips the exclusion of a found one. Returns the row
  // to select afterwards (the last, or -1).
  int RemoveOrToggle(int row);

  // Every included file must still be there (excluded found files and files on the search
  // path pass).
  LeaveResult LeaveForward();

 private:
  PageContext& context_;
  bool refresh_ = true;
};

}  // namespace wizard
