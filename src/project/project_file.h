// The packaging project file beside a script: the options record and the user's entries
// of both lists, so the next run on the same script starts from the previous answers.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/shared_settings.h"
#include "macro/macro_format.h"
#include "project/file_lists.h"
#include "project/options.h"

namespace app {
class CBrankelApp;
}

namespace project {

// The script path without its last four characters, then ".packproj"; nullopt when that
// does not fit a path buffer (259 characters).
std::optional<std::u16string> ProjectFilePath(std::u16string_view script);

// A project file's contents as stored, when the file is a valid project.
struct ProjectContents {
  std::unique_ptr<MakeExeOptions> record;
  std::vector<MacroListEntry> macros;
  std::vector<ExtraFileEntry> extras;
};
// Why a project file that is there was not taken: a language key whose text takes the
// project's path, and for a file that could not be read, the system's error number.
struct ProjectRefusal {
  const char16_t* key = nullptr;
  uint32_t system_error = 0;
};
std::optional<ProjectContents> ReadProjectFile(std::u16string_view path, ProjectRefusal* why = nullptr);
// The same from a file's bytes.
std::optional<ProjectContents> ParseProject(std::string_view bytes, ProjectRefusal* why = nullptr);
// What is wrong with the project file at `path`: `format` is the text of the refusal's key.
std::u16string ProjectRefusalText(const ProjectRefusal& why, std::u16string_view format, std::u16string_view path);
// Adds the user's entries of a loaded project to the lists (without their temporary
// copies); the others are found again by the collection. An extra entry whose travelling
// name could leave the folder the EXE unpacks into is given a safe one from its source
// path and `script_folder`, or dropped when none can be made.
void TakeUserEntries(ProjectContents& contents, CMakeExe_FileLists& lists, std::u16string_view script_folder);

// Writes the record and every entry of both lists. The file is replaced only once it was
// written whole (through a temporary file beside it). Returns 1 when the project file was
// written, 0 when it could not be.
int SaveProject(MakeExeOptions& record, std::u16string_view script, const CMakeExe_FileLists& lists);

// Loads a valid project file into `record` and adds its user entries to `lists`; returns 1.
// Otherwise clears the record, fills its settings from the configuration files of `app`'s
// data folders, and returns 0. When a project file is there but cannot be taken, `refused`
// receives the message to show, so that the user learns why the answers are gone; it is
// left empty when there simply is no project yet.
int LoadProject(MakeExeOptions& record, std::u16string_view script, CMakeExe_FileLists& lists,
                const app::CBrankelApp& app, std::u16string* refused = nullptr);

// The defaults of a new project, from the script's header and the application's settings.
void ApplyNewProjectDefaults(MakeExeOptions& record, const macro::MacroFileHeader& header,
                             const app::SharedSettings& app_settings, bool vista_or_later);

}  // namespace project
