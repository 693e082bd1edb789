#include "cli/project_command.h"

#include <CLI/CLI.hpp>
#include <memory>

#include "cli/messages.h"
#include "cli/report.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/project_file.h"

namespace cli {
namespace {

using nlohmann::ordered_json;

template <size_t N>
std::string Text(const char16_t (&field)[N]) {
  return plat::Utf16ToUtf8(plat::FixedText(field, N));
}

ordered_json DescribeRecord(const project::MakeExeOptions& r) {
  ordered_json j;
  j["version"] = r.Version;
  j["total_size"] = r.TotalSize;
  j["exe_name"] = Text(r.ExeName);
  j["related_url"] = Text(r.RelatedUrl);
  j["author_tips"] = Text(r.AuthorTips);
  j["show_startup"] = r.ShowStartup;
  j["icon_path"] = Text(r.IconPath);
  j["picture_path"] = Text(r.PicturePath);
  j["reset_version"] = r.ResetVersion;
  j["log_level"] = r.LogLevel;
  j["show_play_option"] = r.ShowPlayOption;
  j["use_system_ui"] = r.UseSystemUI;
  j["play_times"] = r.PlayTimes;
  j["play_flags"] = r.PlayFlags;
  j["progress_mode"] = r.ProgressMode & 0x03;
  j["dodge_mouse_mode"] = r.DodgeMouseMode;
  j["play_speed"] = r.PlaySpeed;
  j["save_play_options"] = (r.PlayOptionFlags & project::kSavePlayOptions) != 0;
  j["no_tray_icon"] = (r.PlayOptionFlags & project::kNoTrayIcon) != 0;
  j["progress_window_off"] = (r.PlayOptionFlags & project::kProgressOff) != 0;
  j["emulation_level"] = r.EmulationLevel & 0x0F;
  j["variable_values"] = Text(r.VariableValues);
  j["destination_path"] = Text(r.DestinationPath);
  j["save_project"] = r.SaveProject;
  j["run_mode"] = r.RunMode;
  j["macro_count"] = r.MacroCount;
  j["extra_file_count"] = r.ExtraFileCount;
  j["settings"] = DescribeSettings(r.Settings);
  return j;
}

ordered_json DescribeMacro(const project::MacroListEntry& e) {
  return {{"path", Text(e.Path)},
          {"parent", e.ParentIndex == project::kNoParent ? -1 : int{e.ParentIndex}},
          {"command", e.CommandIndex},
          {"user_added", e.UserAdded},
          {"folder_relative", e.FolderRelative},
          {"type", e.EntryType},
          {"temp_path", Text(e.TempPath)}};
}

ordered_json DescribeExtra(const project::ExtraFileEntry& e) {
  return {{"source_path", Text(e.SourcePath)},
          {"target_name", Text(e.TargetName)},
          {"parent", e.ParentIndex == project::kNoParent ? -1 : int{e.ParentIndex}},
          {"command", e.CommandIndex},
          {"user_added", e.UserAdded},
          {"excluded", e.Excluded},
          {"on_search_path", e.OnSearchPath != 0},
          {"name_hash", e.NameHash}};
}

int Show(const std::string& file, bool json, const Streams& io) {
  const std::u16string path = plat::PathFromHost(file);
  if (!plat::FileExists(path)) {
    std::fprintf(io.err, "brankel: %s: no such project file\n", file.c_str());
    return 1;
  }
  project::ProjectRefusal why;
  const std::optional<project::ProjectContents> contents = project::ReadProjectFile(path, &why);
  if (!contents) {
    const std::u16string reason = project::ProjectRefusalText(why, LanguageText(why.key), path);
    std::fprintf(io.err, "brankel: %s: not a valid packaging project: %s\n", file.c_str(),
                 plat::Utf16ToUtf8(ConsoleLines(reason)).c_str());
    return 1;
  }
  ordered_json report = DescribeRecord(*contents->record);
  ordered_json macros = ordered_json::array();
  for (const auto& entry : contents->macros) macros.push_back(DescribeMacro(entry));
  ordered_json extras = ordered_json::array();
  for (const auto& entry : contents->extras) extras.push_back(DescribeExtra(entry));
  report["macros"] = macros;
  report["extra_files"] = extras;
  PrintReport(io.out, report, json);
  return 0;
}

}  // namespace

void AddProjectCommand(CLI::App& app, const Streams& streams, int& result) {
  CLI::App* project = app.add_subcommand("project", "Packaging project files (.packproj)");
  project->require_subcommand(1);
  auto file = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  CLI::App* show = project->add_subcommand("show", "Show the options record and both file lists of FILE");
  show->add_option("FILE", *file, "project file")->required();
  show->add_flag("--json", *json, "print one JSON object");
  show->callback([&result, streams, file, json] { result = Show(*file, *json, streams); });
}

}  // namespace cli
