#include "cli/build_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdlib>
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
#include "keyboard/hot_key_parse.h"
#include "packager/exe_builder.h"
#include "packager/session.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/target_name.h"
#include "wizard/wizard_flow.h"

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
  // Numbers as typed into the page's edits; hot keys as their names print.
  std::optional<std::string> play_times, speed, stop_key, pause_key;
  std::string machine = "x86";
  std::optional<std::string> sign_pkcs12;
  std::string sign_password_env = "BRANKEL_SIGN_PASSWORD";
  // Each switch with its "--no-" form: 1 on, -1 off, 0 not given (the project's value stays).
  // CLI11 would set an optional flag to false when it is not given.
  int reset_version = 0, startup = 0, play_option_window = 0, system_ui = 0, own_parameters = 0, save_play_options = 0,
      tray_icon = 0;
  std::optional<int> run_mode, log_level, progress_window, dodge_mouse, emulation;
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

// Every path the tool is given is a host path, made absolute as a chooser would give it.
std::u16string FullPath(const std::string& host) { return plat::GetFullPathName(plat::PathFromHost(host)); }

// The first page's answers over the project's values.
void AnswerProperties(const BuildAnswers& a, wizard::ExeProperties& p) {
  auto take = [](std::u16string& field, const std::optional<std::string>& value) {
    if (value) field = plat::Utf8ToUtf16(*value);
  };
  take(p.name, a.name);
  take(p.tips, a.tips);
  take(p.url, a.url);
  if (a.icon) p.icon = a.icon->empty() ? std::u16string() : FullPath(*a.icon);
  if (a.picture) p.picture = a.picture->empty() ? std::u16string() : FullPath(*a.picture);
  if (a.startup != 0) p.show_startup = a.startup > 0;
  if (a.reset_version != 0) p.reset_version = a.reset_version > 0;
}

// The playback options page's answers over the project's values.
void AnswerPlayback(const BuildAnswers& a, wizard::PlaybackOptions& p) {
  if (a.log_level) p.log_level = *a.log_level;
  if (a.play_option_window != 0) p.show_play_option = a.play_option_window > 0;
  if (a.system_ui != 0) p.use_system_ui = a.system_ui > 0;
  if (a.save_play_options != 0) p.save_play_options = a.save_play_options > 0;
  // The option's check has read both texts already.
  if (a.stop_key) p.stop = keyboard::ParseHotKeyText(plat::Utf8ToUtf16(*a.stop_key)).value_or(keyboard::HotKey{});
  if (a.pause_key) p.pause = keyboard::ParseHotKeyText(plat::Utf8ToUtf16(*a.pause_key)).value_or(keyboard::HotKey{});
}

// The play parameters page's answers as its controls would hold them; the page clamps
// the numbers as it clamps what is typed.
void AnswerPlayParameters(const BuildAnswers& a, wizard::PlayParameters& p) {
  if (a.variables) {
    p.variables = plat::Utf8ToUtf16(*a.variables);
    p.default_variables = false;
  }
  if (a.own_parameters != 0) p.default_parameters = a.own_parameters < 0;
  if (a.tray_icon != 0) p.hide_tray_icon = a.tray_icon < 0;
  if (a.play_times) p.play_times = plat::Utf8ToUtf16(*a.play_times);
  if (a.speed) {
    p.speed_index = -1;
    p.speed_text = plat::Utf8ToUtf16(*a.speed);
  }
  // 0 is the list's last item, "off"; modes 1 to 3 are its first three.
  if (a.progress_window) p.progress_index = *a.progress_window == 0 ? 3 : *a.progress_window - 1;
  // The list has modes 1 and 2; 0 shows as 2 on the page, and so does any larger mode.
  if (a.dodge_mouse) p.dodge_index = *a.dodge_mouse == 1 ? 0 : 1;
  // The list has levels 0 to 3; the page shows any other level as 0.
  if (a.emulation) p.emulation_index = *a.emulation <= 3 ? *a.emulation : 0;
}

// --exclude and --add on the extra files page, as its buttons do; false with the reason for
// an answer the page cannot take.
bool AnswerExtraFiles(const BuildAnswers& a, wizard::WizardFlow& flow, std::u16string* refusal) {
  project::CMakeExe_FileLists& lists = flow.Session().Lists();
  wizard::ExtraFilesPage& page = flow.Extras();
  for (const std::string& name : a.excluded) {
    const std::u16string wanted = plat::Utf8ToUtf16(name);
    const std::u16string full = FullPath(name);
    bool found = false;
    for (int32_t i = 0; i < lists.ExtraCount(); ++i) {
      const project::ExtraFileEntry& entry = lists.ExtraEntries()[i];
      if (!plat::EqualNoCase(project::FieldText(entry.TargetName), wanted) &&
          !plat::EqualNoCase(project::FieldText(entry.SourcePath), full)) {
        continue;
      }
      found = true;
      // A found file is excluded (pressing the button once more would include it again).
      if (entry.UserAdded == 0 && entry.Excluded == 0) page.RemoveOrToggle(i);
    }
    if (!found) {
      *refusal = u"--exclude " + wanted + u": no listed file has that name";
      return false;
    }
  }
  for (const std::string& file_and_target : a.added) {
    const size_t equals = file_and_target.find('=');
    const std::u16string source = FullPath(file_and_target.substr(0, equals));
    // What the file chooser would not have let the user pick.
    if (!plat::FileExists(source) || plat::IsDirectory(source)) {
      *refusal = flow.Session().KeyText(u"IDS_ERR_FILENOTFOUND", source);
      return false;
    }
    const int32_t before = lists.ExtraCount();
    page.Add({source});
    int row = -1;
    for (int32_t i = 0; i < lists.ExtraCount(); ++i) {
      if (plat::EqualNoCase(project::FieldText(lists.ExtraEntries()[i].SourcePath), source)) row = i;
    }
    if (row < 0) {
      *refusal = lists.ExtraCount() >= lists.ExtraCapacity() && before == lists.ExtraCount()
                     ? flow.Session().KeyText(u"IDS_ERR_EXTRAFILETOOMANY")
                     : u"--add " + plat::Utf8ToUtf16(file_and_target) + u": no name for the file inside the EXE";
      return false;
    }
    if (equals != std::string::npos) {
      wizard::EnsureFileValues values;
      if (!page.EditValues(row, &values)) {
        *refusal = u"--add " + plat::Utf8ToUtf16(file_and_target) + u": the file is found by the macros already";
        return false;
      }
      values.destination = plat::Utf8ToUtf16(file_and_target.substr(equals + 1));
      if (!wizard::EnsureFileOkEnabled(values) || !page.StoreEdit(row, wizard::EnsureFileResult(values))) {
        *refusal = u"--add " + plat::Utf8ToUtf16(file_and_target) + u": no name for the file inside the EXE";
        return false;
      }
    }
  }
  return true;
}

// The destination page's values: -o, else the project's, else the script beside itself.
wizard::DestinationValues AnswerDestination(const BuildAnswers& a, wizard::WizardFlow& flow) {
  wizard::DestinationValues values = flow.Destination().Initial();
  if (!a.output.empty()) {
    values.destination = FullPath(a.output);
  } else if (wizard::Trimmed(values.destination).empty()) {
    const std::u16string script(flow.Session().Script());
    const size_t dot = script.find_last_of(u'.');
    values.destination = (dot == std::u16string::npos ? script : script.substr(0, dot)) + u".exe";
  }
  if (a.run_mode) values.run_mode = *a.run_mode;
  if (a.save_project) values.save_project = true;
  return values;
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

// Everything the build would pack that is not there, at once: the rest is still searched.
// False when nothing is missing: the page stopped for another reason, which it showed.
bool PrintMissing(const Streams& io, packager::PackagingSession& session) {
  session.MakeCopies();
  session.Discover();
  for (const packager::MissingFile& file : session.MissingFiles()) {
    std::string where;
    if (!file.named_by.empty()) {
      where = " (named by " + U8(file.named_by) + (file.line > 0 ? ", line " + std::to_string(file.line) : "") + ")";
    }
    std::fprintf(io.err, "brankel: missing %s: %s%s\n", file.macro_file ? "macro file" : "file", U8(file.path).c_str(),
                 where.c_str());
  }
  return !session.MissingFiles().empty();
}

// The wizard's run with the answers in place of the user: the same page rules in the same
// order, so that the same answers make the same EXE and project file.
int Build(const BuildAnswers& answers, const Streams& io) {
  const std::u16string script = FullPath(answers.script);
  app::CBrankelApp application;
  app::CVLResString texts;
  if (!LoadApplication(application, texts, io)) return kFailed;
  CollectingDisplay display;
  application.SetMessageDisplay(&display);
  size_t printed = 0;
  auto print_shown = [&] {
    for (; printed < display.texts.size(); ++printed) PrintFailure(io, answers.script, display.texts[printed]);
  };
  auto fail_json = [&] {
    if (answers.json) PrintReport(io.out, DescribeOutcome({}, display.texts), true);
  };

  wizard::WizardFlow flow(application);
  if (!flow.Prepare(script)) {
    print_shown();
    fail_json();
    return kFailed;
  }
  packager::PackagingSession& session = flow.Session();
  std::u16string refusal;

  wizard::ExeProperties properties = flow.Properties().Initial();
  AnswerProperties(answers, properties);
  if (!flow.Properties().LeaveForward(properties).proceed) {
    print_shown();
    return kBadUsage;
  }
  // A missing macro or file is told in full rather than as the page's first refusal.
  if (!flow.Macros().LeaveForward().proceed) {
    const size_t told = printed;
    printed = display.texts.size();
    // A copy the disk refused is no missing file, and must not go untold.
    if (!PrintMissing(io, session)) {
      printed = told;
      print_shown();
    }
    fail_json();
    return kFailed;
  }
  flow.Extras().OnShow();
  if (printed < display.texts.size()) {
    // The discovery stopped early: the lists are not whole, and an EXE built from them
    // would lack files without anyone seeing why.
    print_shown();
    fail_json();
    return kFailed;
  }
  if (!AnswerExtraFiles(answers, flow, &refusal)) {
    PrintFailure(io, answers.script, refusal);
    return kBadUsage;
  }
  if (!flow.Extras().LeaveForward().proceed) {
    const size_t told = printed;
    printed = display.texts.size();
    // A copy the disk refused is no missing file, and must not go untold.
    if (!PrintMissing(io, session)) {
      printed = told;
      print_shown();
    }
    fail_json();
    return kFailed;
  }
  wizard::PlaybackOptions playback = flow.Playback().Initial();
  AnswerPlayback(answers, playback);
  flow.Playback().LeaveForward(playback);
  wizard::PlayParameters parameters = flow.PlayParams().Initial();
  AnswerPlayParameters(answers, parameters);
  flow.PlayParams().LeaveForward(parameters);

  const bool show_progress = answers.progress || plat::IsTerminal(io.err);
  flow.Destination().SetProgress([&](const packager::PackedFile& file) {
    if (!show_progress) return;
    std::fprintf(io.err, "packed %s (%llu bytes)\n", U8(file.target_name).c_str(),
                 static_cast<unsigned long long>(file.size));
  });
  auto host_path = [](const std::optional<std::string>& p) { return p ? FullPath(*p) : std::u16string(); };
  packager::RuntimeChoice runtime;
  runtime.machine = answers.machine == "x64" ? packager::Machine::kX64 : packager::Machine::kX86;
  runtime.player = host_path(answers.player);
  runtime.stub = host_path(answers.stub);
  if (answers.sign_pkcs12) {
    runtime.signing.pkcs12 = FullPath(*answers.sign_pkcs12);
    const char* password = std::getenv(answers.sign_password_env.c_str());
    if (password == nullptr) {
      PrintFailure(io, answers.script,
                   u"--sign-pkcs12: the environment variable " + plat::Utf8ToUtf16(answers.sign_password_env) +
                       u" holds no password for the PKCS#12 file");
      return kBadUsage;
    }
    runtime.signing.password = password;
  }
  // The wizard writes the project file with every build; the tool only when it is asked
  // to, or when the project asks for it.
  const wizard::DestinationValues destination = AnswerDestination(answers, flow);
  const wizard::DestinationPage::BuildResult result =
      flow.Destination().Build(destination, runtime, destination.save_project);
  if (!result.attempted) {
    print_shown();
    return kBadUsage;
  }
  const packager::BuildOutcome& outcome = flow.Destination().Outcome();
  // The success message is the tool's own output line, not a failure.
  if (outcome.built && !display.texts.empty()) display.texts.pop_back();
  print_shown();
  if (answers.json) {
    PrintReport(io.out, DescribeOutcome(outcome, display.texts), true);
  } else if (outcome.built) {
    std::fprintf(io.out, "%s\n",
                 U8(ConsoleLines(session.KeyText(u"IDS_MES_EXEMACROBUILDOK", outcome.destination))).c_str());
  }
  // An EXE built without the project file asked for is not what the user asked for.
  return outcome.built && !result.project_failed ? kBuilt : kFailed;
}

// The checks of the answers that are texts for a page's edit: CLI11 names the option in
// its message and makes the run a usage error.
CLI::Validator WholeNumberCheck() {
  return CLI::Validator(
      [](std::string& text) {
        return wizard::TextNumber(plat::Utf8ToUtf16(text)) ? std::string() : "\"" + text + "\" is not a whole number";
      },
      "INT");
}

// Playing no times at all is no answer the tool takes, though the page would play once.
CLI::Validator PlayTimesCheck() {
  return CLI::Validator(
      [](std::string& text) {
        const std::optional<int64_t> times = wizard::TextNumber(plat::Utf8ToUtf16(text));
        if (!times) return "\"" + text + "\" is not a whole number";
        return *times < 1 ? "\"" + text + "\" is below 1" : std::string();
      },
      "INT");
}

CLI::Validator HotKeyCheck() {
  return CLI::Validator(
      [](std::string& text) {
        std::u16string reason;
        if (keyboard::ParseHotKeyText(plat::Utf8ToUtf16(text), &reason)) return std::string();
        return "\"" + text + "\" is not a hot key: " + U8(reason) +
               " (modifiers Ctrl, Shift, Alt, Win, AltGr joined by + to a key name, or none)";
      },
      "KEY");
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
  build->add_option("--play-times", a->play_times, "times to play (at least 1; more than 65535 plays 65535 times)")
      ->check(PlayTimesCheck());
  build->add_option("--log-level", a->log_level, "log level (0 to 3)")->check(CLI::Range(0, 3));
  build->add_flag("--play-option-window,!--no-play-option-window", a->play_option_window,
                  "show the play option window");
  build->add_flag("--system-ui,!--no-system-ui", a->system_ui, "play with the system's look");
  build->add_flag("--own-parameters,!--default-parameters", a->own_parameters, "use the macro's own play parameters");
  build->add_flag("--save-play-options,!--no-save-play-options", a->save_play_options,
                  "save the play options in the EXE");
  build->add_flag("--tray-icon,!--no-tray-icon", a->tray_icon, "show the tray icon while playing");
  build->add_option("--speed", a->speed, "play speed (-100 to 100; beyond, the nearest of the two)")
      ->check(WholeNumberCheck());
  build->add_option("--progress-window", a->progress_window, "progress window mode (0 off, 1 to 3)")
      ->check(CLI::Range(0, 3));
  build->add_option("--dodge-mouse", a->dodge_mouse, "dodge-mouse mode (1 or 2; any other mode is 2)")
      ->check(CLI::Range(0, 255));
  build->add_option("--emulation", a->emulation, "emulation level (0 to 3; a higher level is 0)")
      ->check(CLI::Range(0, 15));
  build->add_option("--stop-key", a->stop_key, "the stop hot key, as \"Ctrl+Shift+F5\", \"F9\" or \"none\"")
      ->check(HotKeyCheck());
  build->add_option("--pause-key", a->pause_key, "the pause hot key, written as for --stop-key")->check(HotKeyCheck());
  build->add_option("--variables", a->variables, "initial variable values");
  build->add_option("--exclude", a->excluded, "leave out a found file (by its name in the EXE or its path)");
  build->add_option("--add", a->added, "pack FILE too, as TARGET inside the EXE (FILE[=TARGET])");
  build->add_flag("--save-project", a->save_project, "write the project file beside the script");
  build->add_option("--machine", a->machine, "the runtime to pack: x86 (the default; runs on all Windows) or x64")
      ->check(CLI::IsMember({"x86", "x64"}));
  build->add_option("--player", a->player, "the player program to pack (default: the installation's)");
  build->add_option("--stub", a->stub, "the stub program to build from (default: the installation's)");
  build
      ->add_option("--sign-pkcs12", a->sign_pkcs12,
                   "sign the EXE (Authenticode, through osslsigncode) with the certificate and key in FILE")
      ->type_name("FILE");
  build
      ->add_option("--sign-password-env", a->sign_password_env,
                   "the environment variable holding the PKCS#12 file's password (default: BRANKEL_SIGN_PASSWORD)")
      ->type_name("NAME");
  build->add_flag("--json", a->json, "print one JSON object");
  build->add_flag("--progress", a->progress, "a line per packed file on stderr, also when it is not a terminal");
  build->callback([&result, streams, a] { result = Build(*a, streams); });
}

}  // namespace cli
