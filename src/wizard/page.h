// What the wizard's page rules share. A page's rules are a class without windows: the
// Win32 page moves values between its controls and the rules, and the command-line tool
// and the tests call the same rules with their answers. Messages go through the
// application's message boxes (a window on Windows, the console, a recorder in tests).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/message_display.h"

namespace app {
class CBrankelApp;
class CVLWinApp;
}  // namespace app
namespace packager {
class PackagingSession;
}
namespace project {
class CMakeExe_FileLists;
}

namespace wizard {

// The title line every page shows its title key in.
inline constexpr int kIdTitleLine = 1010;

struct PageContext {
  app::CBrankelApp& app;
  packager::PackagingSession& session;
  app::WindowHandle owner = nullptr;  // the page's window once it has one; owns the messages
};

// What leaving a page forward gave: move on, or stay with the focus on `focus` (0 leaves
// the focus where it is). The message has already been shown.
struct LeaveResult {
  bool proceed = true;
  int focus = 0;
};

// One column of a page's list grid: its title key, its width and smallest width in pixels.
struct GridColumn {
  const char16_t* title_key;
  int width;
  int min_width;
};

// One row of a list grid as it is shown; found entries are drawn grey.
struct GridRow {
  std::vector<std::u16string> cells;
  bool grey = false;
};

// Column titles are cut to this many characters.
inline constexpr size_t kColumnTitleChars = 31;

// The text with leading and trailing white space removed (the C runtime's wide test).
std::u16string Trimmed(std::u16string_view text);

// The paths a multi-select file chooser returned in `buffer`: its first string alone, or,
// when a second string follows the first one's terminator, the first string as a folder
// (a backslash added when it does not end with one) joined to each following name up to
// an empty one.
std::vector<std::u16string> SplitChosenFiles(std::u16string_view buffer);

// The file name part of a path: after the last backslash; the whole text without one.
std::u16string FileNamePart(std::u16string_view path);

// A drop-down list filled from numbered language keys: the text of `format` printed with
// each number from `first` to `last`; a missing key shows as its own name.
struct ListKeys {
  const char16_t* format;
  int first;
  int last;
};
std::vector<std::u16string> ListItems(const app::CVLWinApp& app, const ListKeys& keys);

// The longest path a list entry or the record holds (its field less the terminator). A
// longer one would be stored cut and name another file.
inline constexpr size_t kPathChars = 259;

// A grid's line cell: the command's 1-based line; empty for no command (-1).
std::u16string LineText(int32_t command_index);
// A grid's caller cell: the file name of the macro entry at `parent`; empty for none.
std::u16string CallerName(const project::CMakeExe_FileLists& lists, uint16_t parent);

}  // namespace wizard
