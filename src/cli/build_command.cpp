#include "cli/build_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/brankel_app.h"
#include "app/message_display.h"
#include "app/res_string.h"
#include "cli/installation.h"
#include "cli/messages.h"
#include "cli/report.h"
#include "packager/exe_builder.h"
#include "packager/session.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/target_name.h"

namespace cli {
namespace {

using nlohmann::ordered_json;

constexpr int kBuilt = 0;
constexpr int kFailed = 1;
constexpr int kBadUsage = 2;

std::string U8(std::u16string_view text) { return plat::Utf16ToUtf8(text); }

// Every answer the wizard asks for; unset ones keep the project's (or the defaults').
struct BuildAnswers {
  std::string script;
  std::string output;
  std::optional<std::string> name, icon, picture, tips, url, variables, player, stub;
  std::string machine = "x86";
  std::optional<bool> reset_version, startup, play_option_window, system_ui, own_parameters, save_play_options,
      tray_icon;
  std::optional<int> run_mode, play_times, log_level, speed, progress_window, dodge_mouse, emulation;
  std::vector<std::string> excluded;
  std::vector<std::string> added;
  bool save_project = false;
  bool json = false;
  bool progress = false;
};

// The build shows its failures as message boxes; the tool prints them.
class CollectingDisplay : public app::MessageDisplay {
 public:
  int Show(const app::MessageRequest& request) override {
    texts.push_back(request.text);
    return app::UnattendedAnswer(request.type);
  }
  std::vector<std::u16string> texts;
};

void PrintFailure(const Streams& io, const std::string& script, std::u16string_view text) {
  std::fprintf(io.err, "brankel: %s: %s\n", script.c_str(), U8(ConsoleLines(std::u16string(text))).c_str());
}

template <size_t N>
void SetText(char16_t (&field)[N], const std::optional<std::string>& value) {
  if (value) plat::SetFixedText(field, N, plat::Utf8ToUtf16(*value));
}

void SetBit(uint8_t& byte, uint8_t bit, std::optional<bool> on) {
  if (on) byte = static_cast<uint8_t>(*on ? (byte | bit) : (byte & ~bit));
}

// The answers into the record and the lists; a message and false for one that cannot be
// taken, as the wizard page would refuse it.
bool ApplyAnswers(const BuildAnswers& a, packager::PackagingSession& session, std::u16string* refusal) {
  project::MakeExeOptions& r = session.Record();
  auto path = [](const std::string& host) { return plat::GetFullPathName(plat::PathFromHost(host)); };

  std::u16string destination = project::FieldText(r.DestinationPath);
  if (!a.output.empty()) {
    destination = path(a.output);
  } else if (destination.empty()) {
    const std::u16string script(session.Script());
    const size_t dot = script.find_last_of(u'.');
    destination = (dot == std::u16string::npos ? script : script.substr(0, dot)) + u".exe";
  }
  if (destination.size() >= std::size(r.DestinationPath)) {
    *refusal = u"the destination path is longer than 259 characters";
    return false;
  }
  plat::SetFixedText(r.DestinationPath, std::size(r.DestinationPath), destination);

  SetText(r.ExeName, a.name);
  SetText(r.AuthorTips, a.tips);
  SetText(r.RelatedUrl, a.url);
  if (a.icon) {
    const std::u16string icon = a.icon->empty() ? std::u16string() : path(*a.icon);
    if (!icon.empty() && !plat::FileExists(icon)) {
      *refusal = session.KeyText(u"IDS_ERR_FINDICONFILE") + u"\r\n" + icon;
      return false;
    }
    plat::SetFixedText(r.IconPath, std::size(r.IconPath), icon);
  }
  if (a.picture) {
    const std::u16string picture = a.picture->empty() ? std::u16string() : path(*a.picture);
    if (!picture.empty() && !plat::FileExists(picture)) {
      *refusal = session.KeyText(u"IDS_ERR_FINDBMPFILE") + u"\r\n" + picture;
      return false;
    }
    plat::SetFixedText(r.PicturePath, std::size(r.PicturePath), picture);
  }
  if (a.variables) {
    plat::SetFixedText(r.VariableValues, std::size(r.VariableValues), plat::Utf8ToUtf16(*a.variables));
    r.PlayFlags |= project::kPlayVariableValues;
  }
  if (a.reset_version) r.ResetVersion = *a.reset_version ? 1 : 0;
  if (a.startup) r.ShowStartup = *a.startup ? 1 : 0;
  if (a.play_option_window) r.ShowPlayOption = *a.play_option_window ? 1 : 0;
  if (a.system_ui) r.UseSystemUI = *a.system_ui ? 1 : 0;
  if (a.own_parameters) {
    r.PlayFlags =
        *a.own_parameters ? (r.PlayFlags | project::kPlayOwnParameters) : (r.PlayFlags & ~project::kPlayOwnParameters);
  }
  SetBit(r.PlayOptionFlags, 0x20, a.save_play_options);
  if (a.tray_icon) SetBit(r.PlayOptionFlags, 0x40, !*a.tray_icon);
  if (a.run_mode) r.RunMode = static_cast<uint8_t>(*a.run_mode);
  if (a.play_times) r.PlayTimes = static_cast<uint16_t>(*a.play_times);
  if (a.log_level) r.LogLevel = static_cast<uint8_t>(*a.log_level);
  if (a.speed) r.PlaySpeed = static_cast<int8_t>(*a.speed);
  if (a.dodge_mouse) r.DodgeMouseMode = static_cast<uint8_t>(*a.dodge_mouse);
  if (a.emulation) r.EmulationLevel = static_cast<uint8_t>((r.EmulationLevel & 0xF0) | *a.emulation);
  if (a.progress_window) {
    r.ProgressMode = static_cast<uint8_t>((r.ProgressMode & 0xFC) | *a.progress_window);
    SetBit(r.PlayOptionFlags, 0x80, *a.progress_window == 0);
  }
  if (a.save_project) r.SaveProject = 1;

  // The checks of the EXE properties page.
  if (project::FieldText(r.ExeName).empty()) {
    *refusal = u"the EXE needs a name (--name)";
    return false;
  }
  if (r.ShowStartup != 0 && project::FieldText(r.AuthorTips).empty()) {
    *refusal = u"the start-up window needs the author's tips (--tips)";
    return false;
  }

  project::CMakeExe_FileLists& lists = session.Lists();
  project::ExtraFileEntry* extras = lists.ExtraEntries();
  for (const std::string& name : a.excluded) {
    const std::u16string wanted = plat::Utf8ToUtf16(name);
    const std::u16string full = path(name);
    bool found = false;
    for (int32_t i = 0; i < lists.ExtraCount(); ++i) {
      const std::u16string target = project::FieldText(extras[i].TargetName);
      const std::u16string source = project::FieldText(extras[i].SourcePath);
      if (plat::EqualNoCase(target, wanted) || plat::EqualNoCase(source, full)) {
        extras[i].Excluded = 1;
        found = true;
      }
    }
    if (!found) {
      *refusal = u"--exclude " + wanted + u": no listed file has that name";
      return false;
    }
  }
  for (const std::string& file_and_target : a.added) {
    const size_t equals = file_and_target.find('=');
    const std::u16string source = path(file_and_target.substr(0, equals));
    std::u16string target = equals == std::string::npos ? project::MakeTargetName(source, session.ScriptFolder())
                                                        : plat::Utf8ToUtf16(file_and_target.substr(equals + 1));
    if (!plat::FileExists(source) || plat::IsDirectory(source)) {
      *refusal = session.KeyText(u"IDS_ERR_FILENOTFOUND", source);
      return false;
    }
    if (target.empty() || target.size() >= 260 || source.size() >= 260) {
      *refusal = u"--add ";
      *refusal += plat::Utf8ToUtf16(file_and_target);
      *refusal += u": no name for the file inside the EXE";
      return false;
    }
    project::ExtraFileEntry entry{};
    entry.ParentIndex = project::kNoParent;
    entry.UserAdded = 1;
    entry.CommandIndex = -1;
    plat::SetFixedText(entry.SourcePath, std::size(entry.SourcePath), source);
    plat::SetFixedText(entry.TargetName, std::size(entry.TargetName), target);
    if (!lists.AddExtraEntry(entry) && lists.ExtraCount() >= lists.ExtraCapacity()) {
      *refusal = session.KeyText(u"IDS_ERR_EXTRAFILETOOMANY");
      return false;
    }
  }
  return true;
}

ordered_json DescribeOutcome(const packager::BuildOutcome& outcome, const std::vector<std::u16string>& messages) {
  ordered_json files = ordered_json::array();
  for (const packager::PackedFile& file : outcome.files) {
    files.push_back({{"kind", file.kind},
                     {"target_name", U8(file.target_name)},
                     {"source_path", U8(file.source_path)},
                     {"size", file.size}});
  }
  ordered_json texts = ordered_json::array();
  for (const std::u16string& message : messages) texts.push_back(U8(ConsoleLines(message)));
  return {{"built", outcome.built},
          {"output", U8(outcome.destination)},
          {"size", outcome.size},
          {"records", files},
          {"messages", texts}};
}

int Build(const BuildAnswers& answers, const Streams& io) {
  const std::u16string script = plat::GetFullPathName(plat::PathFromHost(answers.script));
  app::CBrankelApp application;
  app::CVLResString texts;
  if (!LoadApplication(application, texts, io)) return kFailed;
  CollectingDisplay display;
  application.SetMessageDisplay(&display);

  packager::PackagingSession session(application);
  if (!session.Open(script)) {
    for (const std::u16string& message : session.Messages()) PrintFailure(io, answers.script, message);
    return kFailed;
  }
  const bool analysed = session.Analyze();
  std::u16string refusal;
  if (!ApplyAnswers(answers, session, &refusal)) {
    PrintFailure(io, answers.script, refusal);
    return kBadUsage;
  }

  // Everything that is missing at once, before anything is written.
  const std::vector<packager::MissingFile> missing = session.MissingFiles();
  for (const packager::MissingFile& file : missing) {
    std::string where;
    if (!file.named_by.empty()) {
      where = " (named by " + U8(file.named_by) + (file.line > 0 ? ", line " + std::to_string(file.line) : "") + ")";
    }
    std::fprintf(io.err, "brankel: missing %s: %s%s\n", file.macro_file ? "macro file" : "file", U8(file.path).c_str(),
                 where.c_str());
  }
  if (!missing.empty() || !analysed) {
    for (const std::u16string& message : session.Messages()) {
      if (missing.empty()) PrintFailure(io, answers.script, message);
    }
    if (answers.json) {
      PrintReport(io.out, DescribeOutcome({}, session.Messages()), true);
    }
    return kFailed;
  }

  const bool show_progress = answers.progress || plat::IsTerminal(io.err);
  auto progress = [&](const packager::PackedFile& file) {
    if (!show_progress) return;
    std::fprintf(io.err, "packed %s (%llu bytes)\n", U8(file.target_name).c_str(),
                 static_cast<unsigned long long>(file.size));
  };
  auto host_path = [](const std::optional<std::string>& p) {
    return p ? plat::GetFullPathName(plat::PathFromHost(*p)) : std::u16string();
  };
  packager::RuntimeChoice runtime;
  runtime.machine = answers.machine == "x64" ? packager::Machine::kX64 : packager::Machine::kX86;
  runtime.player = host_path(answers.player);
  runtime.stub = host_path(answers.stub);
  const packager::BuildOutcome outcome = packager::BuildSession(session, runtime, progress);
  // The wizard saves the project when it builds, whatever the outcome.
  if (session.Record().SaveProject != 0 && !session.SaveProject()) {
    PrintFailure(io, answers.script, session.Messages().back());
  }
  std::vector<std::u16string> messages = session.Messages();
  messages.insert(messages.end(), display.texts.begin(), display.texts.end());
  for (const std::u16string& text : display.texts) PrintFailure(io, answers.script, text);
  if (answers.json) {
    PrintReport(io.out, DescribeOutcome(outcome, messages), true);
  } else if (outcome.built) {
    std::fprintf(io.out, "%s\n",
                 U8(ConsoleLines(session.KeyText(u"IDS_MES_EXEMACROBUILDOK", outcome.destination))).c_str());
  }
  return outcome.built ? kBuilt : kFailed;
}

}  // namespace

void AddBuildCommand(CLI::App& app, const Streams& streams, int& result) {
  auto a = std::make_shared<BuildAnswers>();
  CLI::App* build = app.add_subcommand("build", "Build SCRIPT and everything it needs into one EXE");
  build->add_option("SCRIPT", a->script, "macro script (.msd)")->required();
  build->add_option("-o,--output", a->output, "the EXE to build (default: the project's, or SCRIPT with .exe)");
  build->add_option("--name", a->name, "the name of the packaged macro");
  build->add_option("--icon", a->icon, "icon file (.ico) for the EXE; empty for none");
  build->add_option("--picture", a->picture, "bitmap (.bmp) for the start-up window; empty for none");
  build->add_option("--tips", a->tips, "the author's tips of the start-up window");
  build->add_option("--url", a->url, "the related web address shown with the tips");
  build->add_flag("--startup,!--no-startup", a->startup, "show the start-up window");
  build->add_flag("--reset-version,!--keep-version", a->reset_version, "empty the player's version texts");
  build->add_option("--run-mode", a->run_mode, "run mode of the EXE (0 or 1)")->check(CLI::Range(0, 1));
  build->add_option("--play-times", a->play_times, "times to play")->check(CLI::Range(1, 65535));
  build->add_option("--log-level", a->log_level, "log level (0 to 3)")->check(CLI::Range(0, 3));
  build->add_flag("--play-option-window,!--no-play-option-window", a->play_option_window,
                  "show the play option window");
  build->add_flag("--system-ui,!--no-system-ui", a->system_ui, "play with the system's look");
  build->add_flag("--own-parameters,!--default-parameters", a->own_parameters, "use the macro's own play parameters");
  build->add_flag("--save-play-options,!--no-save-play-options", a->save_play_options,
                  "save the play options in the EXE");
  build->add_flag("--tray-icon,!--no-tray-icon", a->tray_icon, "show the tray icon while playing");
  build->add_option("--speed", a->speed, "play speed (-100 to 100)")->check(CLI::Range(-100, 100));
  build->add_option("--progress-window", a->progress_window, "progress window mode (0 off, 1 to 3)")
      ->check(CLI::Range(0, 3));
  build->add_option("--dodge-mouse", a->dodge_mouse, "dodge-mouse mode")->check(CLI::Range(0, 255));
  build->add_option("--emulation", a->emulation, "emulation level (0 to 15)")->check(CLI::Range(0, 15));
  build->add_option("--variables", a->variables, "initial variable values");
  build->add_option("--exclude", a->excluded, "leave out a found file (by its name in the EXE or its path)");
  build->add_option("--add", a->added, "pack FILE too, as TARGET inside the EXE (FILE[=TARGET])");
  build->add_flag("--save-project", a->save_project, "write the project file beside the script");
  build->add_option("--machine", a->machine, "the runtime to pack: x86 (the default; runs on all Windows) or x64")
      ->check(CLI::IsMember({"x86", "x64"}));
  build->add_option("--player", a->player, "the player program to pack (default: the installation's)");
  build->add_option("--stub", a->stub, "the stub program to build from (default: the installation's)");
  build->add_flag("--json", a->json, "print one JSON object");
  build->add_flag("--progress", a->progress, "a line per packed file on stderr, also when it is not a terminal");
  build->callback([&result, streams, a] { result = Build(*a, streams); });
}

}  // namespace cli
