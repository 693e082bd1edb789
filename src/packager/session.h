// One packaging run from a script to the lists a build packs: what the wizard does
// between opening a script and its build page, without windows. `brankel analyze`,
// `brankel build` and the wizard pages all drive it, so the three see the same lists.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "macro/macro_format.h"
#include "project/file_lists.h"
#include "project/options.h"

namespace app {
class CBrankelApp;
}

namespace packager {

// A file a build must pack that is not there, with the macro and line that name it (the
// script itself has neither).
struct MissingFile {
  std::u16string path;
  bool macro_file = false;
  std::u16string named_by;  // the naming macro's path; empty for the script
  int32_t line = 0;         // 1-based; 0 when no command names it
};

class PackagingSession {
 public:
  // `application` has its configuration and language table loaded and outlives the session.
  explicit PackagingSession(app::CBrankelApp& application);
  PackagingSession(const PackagingSession&) = delete;
  PackagingSession& operator=(const PackagingSession&) = delete;
  // Removes the temporary copies and gives back the caller's current folder.
  ~PackagingSession();

  // Checks that the script is a whole macro file, makes its folder current (the system's
  // search for files looks there, as in the wizard) and loads the project beside it, or
  // gives the record a new project's defaults. False when the script cannot be packaged.
  bool Open(std::u16string_view script_path);

  // The collection of the macro files, their temporary copies and the discovery of the
  // files they name. A called macro file that is missing is reported and left out of the
  // discovery, as if the user had removed it, so that one run reports everything missing.
  // False when anything is missing or failed; the lists hold what could be found.
  bool Analyze();
  // Analyze's three steps, for the wizard, which runs them at different moments: the
  // collection before its sheet opens, the copies when the macro list page is left, the
  // discovery when the extra files page is shown. Each adds its messages.
  bool Collect();
  // Fresh temporary copies of the found macro files. With `stop_at_first`, the first
  // failure removes every copy and ends the walk, as the macro list page needs.
  bool MakeCopies(bool stop_at_first = false);
  // Over every macro entry that has a temporary copy; stops at the first failure that has
  // a message. The lists keep what was found up to there.
  bool Discover();

  // Every file the build would pack that is not there.
  std::vector<MissingFile> MissingFiles() const;

  // What went wrong or was refused, in order, as a message box would say it.
  const std::vector<std::u16string>& Messages() const { return messages_; }
  void AddMessage(std::u16string text) { messages_.push_back(std::move(text)); }
  // The language text of `key` with its argument.
  std::u16string KeyText(const char16_t* key, std::u16string_view argument = {}) const;

  bool ProjectLoaded() const { return project_loaded_; }
  std::u16string_view Script() const { return script_; }
  std::u16string_view ScriptFolder() const { return folder_; }
  const macro::MacroFileHeader& ScriptHeader() const { return header_; }
  project::MakeExeOptions& Record() { return *record_; }
  const project::MakeExeOptions& Record() const { return *record_; }
  project::CMakeExe_FileLists& Lists() { return lists_; }
  const project::CMakeExe_FileLists& Lists() const { return lists_; }
  app::CBrankelApp& Application() { return application_; }

  // Writes the project file beside the script; false with a message when it cannot.
  bool SaveProject();
  // Removes the temporary copies now (the destructor does it otherwise).
  void RemoveCopies();

 private:
  app::CBrankelApp& application_;
  std::unique_ptr<project::MakeExeOptions> record_;
  project::CMakeExe_FileLists lists_;
  std::u16string script_;
  std::u16string folder_;
  std::u16string previous_folder_;
  macro::MacroFileHeader header_{};
  bool project_loaded_ = false;
  std::vector<std::u16string> messages_;
};

}  // namespace packager
