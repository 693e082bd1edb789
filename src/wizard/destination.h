// The destination and build page: where the EXE goes, how it starts, and the build.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "packager/exe_builder.h"
#include "wizard/page.h"

namespace wizard {

inline constexpr int kIdDestinationLabel = 1386;
inline constexpr int kIdDestination = 1094;
inline constexpr int kIdDestinationBrowse = 1073;
inline constexpr int kIdRunModeLabel = 1303;
inline constexpr int kIdRunMode = 1012;
inline constexpr int kIdSaveProject = 1011;
inline constexpr int kIdTestExe = 1399;
inline constexpr int kIdOpenFolder = 1398;
inline constexpr int kRunModes = 2;  // "IDS_TARGETRUNMODE_0" and "_1"

struct DestinationValues {
  std::u16string destination;
  int run_mode = 0;
  bool save_project = false;
};

// Trimmed, with ".exe" appended unless the last four characters already are (any case).
std::u16string WithExeExtension(std::u16string_view path);
// The folder the open-folder button opens: up to and including the last backslash; empty
// without one.
std::u16string FolderToOpen(std::u16string_view destination);

class DestinationPage {
 public:
  explicit DestinationPage(PageContext& context) : context_(context) {}

  DestinationValues Initial() const;
  // The close handler: stores the values.
  void Close(const DestinationValues& values);

  struct BuildResult {
    bool built = false;
    int focus = 0;                // a refused destination puts the focus here
    std::u16string destination;   // what the destination edit shows afterwards
    bool attempted = false;       // validation passed and the build ran
    bool project_failed = false;  // the project file was to be written and was not
  };
  // Validates, stores, saves the project (whatever the save flag says; `write_project`
  // false skips it for a caller that did not ask for a project file), builds with
  // `runtime`, and shows "IDS_MES_EXEMACROBUILDOK" on success.
  BuildResult Build(const DestinationValues& values, const packager::RuntimeChoice& runtime = {},
                    bool write_project = true);
  // Called for each file as the build packs it into the final EXE.
  void SetProgress(std::function<void(const packager::PackedFile&)> progress) { progress_ = std::move(progress); }
  // What the last build made.
  const packager::BuildOutcome& Outcome() const { return outcome_; }

 private:
  PageContext& context_;
  std::function<void(const packager::PackedFile&)> progress_;
  packager::BuildOutcome outcome_;
};

}  // namespace wizard
