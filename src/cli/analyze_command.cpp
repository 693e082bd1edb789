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
#include "packager/session.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/file_lists.h"
#include "project/options.h"
#include "project/project_file.h"

namespace cli {
namespace {

using nlohmann::ordered_json;

std::string U8(std::u16string_view text) { return plat::Utf16ToUtf8(text); }

std::u16string FileName(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"\\/");
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

ordered_json Describe(const project::CMakeExe_FileLists& lists) {
  const project::MacroListEntry* macros = lists.MacroEntries();
  auto macro_name = [&](uint16_t index) -> std::string {
    if (index == project::kNoParent || index >= lists.MacroCount()) return "";
    return U8(FileName(project::FieldText(macros[index].Path)));
  };
  auto line = [](int32_t command) { return command < 0 ? 0 : command + 1; };
  ordered_json macro_list = ordered_json::array();
  for (int32_t i = 0; i < lists.MacroCount(); ++i) {
    const project::MacroListEntry& e = macros[i];
    const std::u16string path = project::FieldText(e.Path);
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
    extra_list.push_back({{"target_name", U8(project::FieldText(e.TargetName))},
                          {"source_path", U8(project::FieldText(e.SourcePath))},
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
  app::CBrankelApp application;
  app::CVLResString texts;
  if (!LoadApplication(application, texts, io)) return 1;

  packager::PackagingSession session(application);
  const bool opened = session.Open(script);
  const bool complete = opened && session.Analyze();
  if (!opened) {
    for (const std::u16string& message : session.Messages()) {
      std::fprintf(io.err, "brankel: %s: %s\n", file.c_str(), U8(ConsoleLines(message)).c_str());
    }
    return 1;
  }

  ordered_json report;
  report["script"] = U8(script);
  report["project_file_loaded"] = session.ProjectLoaded();
  ordered_json lists_report = Describe(session.Lists());
  report["macros"] = lists_report["macros"];
  report["extra_files"] = lists_report["extra_files"];
  report["complete"] = complete;
  ordered_json message_list = ordered_json::array();
  for (const std::u16string& message : session.Messages()) message_list.push_back(U8(ConsoleLines(message)));
  report["messages"] = message_list;
  PrintReport(io.out, report, json);
  for (const std::u16string& message : session.Messages()) {
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
