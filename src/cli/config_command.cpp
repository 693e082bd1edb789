#include "cli/config_command.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <nlohmann/json.hpp>

#include "app/brankel_app.h"
#include "app/res_string.h"
#include "app/shared_settings.h"
#include "cli/installation.h"
#include "cli/report.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace cli {
namespace {

using nlohmann::ordered_json;

std::string U8(std::u16string_view text) { return plat::Utf16ToUtf8(text); }

// Every resolved member and the settings block, in the order a reader follows them.
ordered_json Describe(const app::CBrankelApp& a, const app::SharedSettings& s, bool settings_loaded) {
  ordered_json j;
  j["program_folder"] = U8(a.ProgramFolder());
  j["product_folder"] = U8(a.ProductFolder());
  j["shared_data_folder"] = U8(a.SharedDataFolder());
  j["user_data_folder"] = U8(a.UserDataFolder());
  j["general_ini"] = U8(a.GeneralIniPath());
  j["user_config"] = U8(a.UserConfigPath());
  j["language"] = U8(a.LanguageCode());
  j["language_defaulted"] = a.LanguageDefaulted();
  ordered_json files = ordered_json::array();
  for (const std::u16string& file : a.LanguageFiles()) {
    files.push_back({{"path", U8(file)}, {"exists", plat::FileExists(file)}});
  }
  j["language_files"] = files;
  j["proxy_language_file"] = U8(a.ProxyLanguageFile());
  j["data_folder"] = U8(a.DataFolder());
  j["ui_resource_library"] = U8(a.ResourceFile());
  j["ui_font"] = {{"face", U8(plat::FixedText(a.Settings().FontFace, 64))}, {"size", a.Settings().FontSize}};
  j["use_system_colours"] = a.Settings().UseSystemColours;
  j["hue"] = a.Settings().Hue;
  j["light"] = a.Settings().Light;
  j["saturation"] = a.Settings().Saturation;

  ordered_json p = DescribeSettings(s);
  p["loaded"] = settings_loaded;
  j["shared_settings"] = p;
  return j;
}

int Show(bool json, const Streams& io) {
  app::CBrankelApp application;
  application.SetProgramFolder(InstallationFolder());
  if (!application.LoadConfiguration()) {
    std::fprintf(io.err, "brankel: %s\n", U8(app::LoadStringResource(107)).c_str());
    return 1;
  }
  app::SharedSettings settings{};
  const bool loaded = app::LoadSharedSettings(&settings, application.GeneralIniPath(), application.UserConfigPath());
  PrintReport(io.out, Describe(application, settings, loaded), json);
  return 0;
}

}  // namespace

void AddConfigCommand(CLI::App& app, const Streams& streams, int& result) {
  CLI::App* config = app.add_subcommand("config", "The configuration the program resolves");
  config->require_subcommand(1);
  auto json = std::make_shared<bool>(false);
  CLI::App* show = config->add_subcommand("show", "Show the installation, data folders, language and settings");
  show->add_flag("--json", *json, "print one JSON object");
  show->callback([&result, streams, json] { result = Show(*json, streams); });
}

}  // namespace cli
