#include "cli/analyze_command.h"

#include <CLI/CLI.hpp>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "analysis/macro_collection.h"
#include "analysis/make_exe_builder.h"
#include "app/brankel_app.h"
#include "app/res_string.h"
#include "app/text_format.h"
#include "cli/installation.h"
#include "cli/messages.h"
#include "cli/report.h"
#include "macro/error_state.h"
#include "macro/macro_file.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/file_lists.h"
#include "project/options.h"
#include "project/project_file.h"

namespace cli {
namespace {

using nlohmann::ordered_json;

std::string U8(std::u16string_view text) { return plat::Utf16ToUtf8(text); }

template <size_t N>
std::u16string Field(const char16_t (&field)[N]) {
  return std::u16string(plat::FixedText(field, N));
}

std::u16string FileName(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"\\/");
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

// The English text of a key with its one argument, as a message box would show it.
std::u16string KeyMessage(const char16_t* key, std::u16string_view argument) {
  return ConsoleLines(app::FormatText(LanguageText(key), {std::u16string(argument)}));
}

// The temporary copies the macro list page makes of every found macro file, so that the
// discovery reads a stable snapshot; removed with this object whatever happens.
class TemporaryCopies {
 public:
  explicit TemporaryCopies(project::CMakeExe_FileLists& lists) : lists_(lists) {}
  TemporaryCopies(const TemporaryCopies&) = delete;
  TemporaryCopies& operator=(const TemporaryCopies&) = delete;
  ~TemporaryCopies() {
    // The platform's file calls allocate; a failed clean-up must not end the program.
    try {
      Remove();
    } catch (...) {
    }
  }

  // False with the reason in `message` when a found file is missing or cannot be copied.
  bool Make(std::u16string* message) {
    project::MacroListEntry* entries = lists_.MacroEntries();
    for (int32_t i = 0; i < lists_.MacroCount(); ++i) {
      project::MacroListEntry& entry = entries[i];
      if (entry.UserAdded != 0) continue;
      entry.TempPath[0] = 0;
      if (entry.EntryType != analysis::kMacroEntryType) continue;
      const std::u16string path = Field(entry.Path);
      if (!plat::FileExists(path)) {
        *message = KeyMessage(u"IDS_ERR_FILENOTFOUND", path);
        Remove();
        return false;
      }
      const std::u16string copy = plat::GetTempFileName(plat::GetTempPath(), u"~PDPA");
      if (copy.empty() || !plat::CopyFile(path, copy, false)) {
        const uint32_t error = plat::GetLastError();
        if (!copy.empty()) plat::DeleteFile(copy);
        *message = KeyMessage(u"IDS_ERR_CREATETEMPFILE", SystemText(error, U8(path)));
        Remove();
        return false;
      }
      plat::SetFixedText(entry.TempPath, std::size(entry.TempPath), copy);
    }
    return true;
  }

  void Remove() {
    project::MacroListEntry* entries = lists_.MacroEntries();
    for (int32_t i = 0; i < lists_.MacroCount(); ++i) {
      if (entries[i].TempPath[0] == 0) continue;
      plat::DeleteFile(Field(entries[i].TempPath));
      entries[i].TempPath[0] = 0;
    }
  }

 private:
  project::CMakeExe_FileLists& lists_;
};

// The wizard works with the script folder as the current folder, and the system's search
// for files looks there: a name is found on the search path or not as in the wizard, not
// as where the caller stands. The caller's folder comes back with this object.
class ScriptFolderAsCurrent {
 public:
  ScriptFolderAsCurrent() = default;
  ScriptFolderAsCurrent(const ScriptFolderAsCurrent&) = delete;
  ScriptFolderAsCurrent& operator=(const ScriptFolderAsCurrent&) = delete;
  ~ScriptFolderAsCurrent() {
    try {
      if (!previous_.empty()) plat::SetCurrentDirectory(previous_);
    } catch (...) {
    }
  }

  // False (last error set) when the folder cannot be made current.
  bool Enter(std::u16string_view folder) {
    std::u16string previous = plat::GetCurrentDirectory();
    if (!plat::SetCurrentDirectory(folder)) return false;
    previous_ = std::move(previous);
    return true;
  }

 private:
  std::u16string previous_;
};

ordered_json Describe(const project::CMakeExe_FileLists& lists) {
  const project::MacroListEntry* macros = lists.MacroEntries();
  auto macro_name = [&](uint16_t index) -> std::string {
    if (index == project::kNoParent || index >= lists.MacroCount()) return "";
    return U8(FileName(Field(macros[index].Path)));
  };
  auto line = [](int32_t command) { return command < 0 ? 0 : command + 1; };
  ordered_json macro_list = ordered_json::array();
  for (int32_t i = 0; i < lists.MacroCount(); ++i) {
    const project::MacroListEntry& e = macros[i];
    const std::u16string path = Field(e.Path);
    macro_list.push_back({{"index", i},
                          {"file", U8(FileName(path))},
                          {"used_in", macro_name(e.ParentIndex)},
                          {"line", e.UserAdded != 0 ? 0 : line(e.CommandIndex)},
                          {"path", U8(path)},
                          {"user_added", e.UserAdded != 0},
                          {"missing", !plat::FileExists(path)}});
  }
  ordered_json extra_list = ordered_json::array();
  const project::ExtraFileEntry* extras = lists.ExtraEntries();
  for (int32_t i = 0; i < lists.ExtraCount(); ++i) {
    const project::ExtraFileEntry& e = extras[i];
    extra_list.push_back({{"target_name", U8(Field(e.TargetName))},
                          {"source_path", U8(Field(e.SourcePath))},
                          {"macro", macro_name(e.ParentIndex)},
                          {"line", e.UserAdded != 0 ? 0 : line(e.CommandIndex)},
                          {"on_search_path", e.OnSearchPath != 0},
                          {"excluded", e.Excluded != 0},
                          {"user_added", e.UserAdded != 0}});
  }
  return {{"macros", macro_list}, {"extra_files", extra_list}};
}

int Analyze(const std::string& file, bool json, const Streams& io) {
  const std::u16string script = plat::GetFullPathName(plat::PathFromHost(file));
  const size_t slash = script.find_last_of(u'\\');
  const std::u16string folder = script.substr(0, slash + 1);

  app::CBrankelApp application;
  application.SetProgramFolder(InstallationFolder());
  if (!application.LoadConfiguration()) {
    std::fprintf(io.err, "brankel: %s\n", U8(app::LoadStringResource(107)).c_str());
    return 1;
  }
  app::CVLResString texts;
  for (const std::u16string& language_file : application.LanguageFiles()) {
    if (plat::FileExists(language_file)) texts.LoadFile(language_file);
  }
  application.SetLanguageTable(&texts);

  // The script must be a whole macro file before anything is collected from it.
  macro::MacroFileHeader header{};
  char16_t key[260] = {};
  uint16_t version = 0;
  if (macro::CheckMacroFileSize(script, &header, key, &version) != 1) {
    std::u16string text;
    if (key[0] != 0) {
      text = KeyMessage(key, script);
    } else if (const char16_t* layer_key = macro::GetMacroFileError(nullptr); layer_key != nullptr) {
      text = KeyMessage(std::u16string(layer_key).c_str(), script);
    } else {
      text = KeyMessage(u"IDS_ERR_OPENSCRIPT", script) + u"\n" + SystemText(plat::GetLastError(), file);
    }
    std::fprintf(io.err, "brankel: %s: %s\n", file.c_str(), U8(text).c_str());
    return 1;
  }

  ScriptFolderAsCurrent current;
  if (!current.Enter(folder)) {
    std::fprintf(io.err, "brankel: %s: %s\n", file.c_str(), U8(SystemText(plat::GetLastError(), U8(folder))).c_str());
    return 1;
  }

  auto record = std::make_unique<project::MakeExeOptions>();
  project::CMakeExe_FileLists lists(&application);
  std::u16string refused;
  const bool project_loaded = project::LoadProject(*record, script, lists, application, &refused) == 1;

  // A refused project is told, but the lists are still whole without it.
  std::vector<std::u16string> messages;
  if (!refused.empty()) messages.push_back(refused);
  bool complete = true;
  const analysis::MacroCollection collection{lists, application.DataFolder()};
  if (!analysis::CollectScriptMacros(collection, script, folder)) {
    complete = false;
    messages.emplace_back(lists.Message());
  }

  TemporaryCopies copies(lists);
  std::u16string copy_message;
  if (!copies.Make(&copy_message)) {
    complete = false;
    messages.push_back(copy_message);
  } else {
    analysis::CMakeExe_Builder builder(&application);
    builder.SetScriptPath(script, folder);
    builder.FileLists().CopyFrom(lists);
    const project::MacroListEntry* entries = builder.FileLists().MacroEntries();
    for (int32_t i = 0; i < builder.FileLists().MacroCount(); ++i) {
      const std::u16string temp = Field(entries[i].TempPath);
      if (temp.empty()) continue;
      if (!builder.CollectExtraFiles(i, temp) && !builder.Message().empty()) {
        complete = false;
        messages.emplace_back(builder.Message());
        break;
      }
    }
    if (lists.CopyFrom(builder.FileLists()) < 0) {
      complete = false;
      messages.push_back(KeyMessage(u"IDS_ERR_TOOMANYEXTRAFILE", script));
    }
  }

  ordered_json report;
  report["script"] = U8(script);
  report["project_file_loaded"] = project_loaded;
  ordered_json lists_report = Describe(lists);
  report["macros"] = lists_report["macros"];
  report["extra_files"] = lists_report["extra_files"];
  report["complete"] = complete;
  ordered_json message_list = ordered_json::array();
  for (const std::u16string& message : messages) message_list.push_back(U8(ConsoleLines(message)));
  report["messages"] = message_list;
  PrintReport(io.out, report, json);
  for (const std::u16string& message : messages) {
    std::fprintf(io.err, "brankel: %s: %s\n", file.c_str(), U8(ConsoleLines(message)).c_str());
  }
  return complete ? 0 : 1;
}

}  // namespace

void AddAnalyzeCommand(CLI::App& app, const Streams& streams, int& result) {
  auto file = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  CLI::App* analyze =
      app.add_subcommand("analyze", "List the macro files SCRIPT reaches and the files their commands name");
  analyze->add_option("SCRIPT", *file, "macro script (.msd)")->required();
  analyze->add_flag("--json", *json, "print one JSON object");
  analyze->callback([&result, streams, file, json] { result = Analyze(*file, *json, streams); });
}

}  // namespace cli
