#include "cli/config_command.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <nlohmann/json.hpp>

#include "app/brankel_app.h"
#include "app/res_string.h"
#include "app/shared_settings.h"
#include "cli/installation.h"
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
  j["ui_font"] = {{"face", U8(app::FixedText(a.Settings().FontFace, 64))}, {"size", a.Settings().FontSize}};
  j["use_system_colours"] = a.Settings().UseSystemColours;
  j["hue"] = a.Settings().Hue;
  j["light"] = a.Settings().Light;
  j["saturation"] = a.Settings().Saturation;

  ordered_json p;
  p["loaded"] = settings_loaded;
  p["hue"] = s.Hue;
  p["saturation"] = s.Saturation;
  p["light"] = s.Light;
  p["ui_font"] = {{"face", U8(app::FixedText(s.FontFace, 64))}, {"size", s.FontSize}};
  p["use_system_colours"] = s.UseSystemColours;
  p["lock_current_process"] = s.LockCurrentProcess;
  p["pause_hot_key"] = {{"key", s.PauseKey.KeyCode}, {"modifiers", s.PauseKey.Modifiers}};
  p["stop_hot_key"] = {{"key", s.StopKey.KeyCode}, {"modifiers", s.StopKey.Modifiers}};
  p["monitor_transparency"] = s.MonitorTransparency;
  p["alert_before_quick_macro"] = s.AlertBeforeQuickMacro;
  p["pause_before_play"] = s.PauseBeforePlay;
  p["alert_before_play"] = s.AlertBeforePlay;
  p["stop_by_hot_key"] = s.StopByHotKey;
  p["dodge_mouse"] = s.DodgeMouse;
  p["quick_mouse"] = s.QuickMouse;
  p["alert_sound"] = U8(app::FixedText(s.AlertSound, 260));
  p["fastest_speed_factor"] = s.FastestSpeedFactor;
  p["slowest_speed_factor"] = s.SlowestSpeedFactor;
  p["connect_security"] = s.ConnectSecurity >> 2;
  p["auth_needed"] = s.AuthNeeded;
  p["server"] = U8(app::FixedText(s.Server, 128));
  p["port"] = s.Port;
  p["user_name"] = U8(app::FixedText(s.UserName, 128));
  // Passwords are never shown, only whether one is held.
  p["password_set"] = app::FixedText(s.Password, 128).size() > 0;
  p["proxy_type"] = s.ProxyType;
  p["proxy_auth_needed"] = s.ProxyAuthNeeded;
  p["proxy_server"] = U8(app::FixedText(s.ProxyServer, 128));
  p["proxy_port"] = s.ProxyPort;
  p["proxy_user_name"] = U8(app::FixedText(s.ProxyUserName, 128));
  p["proxy_password_set"] = app::FixedText(s.ProxyPassword, 128).size() > 0;
  j["shared_settings"] = p;
  return j;
}

void PrintText(std::FILE* out, const ordered_json& j, const std::string& indent = "") {
  for (const auto& [key, value] : j.items()) {
    if (value.is_object()) {
      std::fprintf(out, "%s%s:\n", indent.c_str(), key.c_str());
      PrintText(out, value, indent + "  ");
    } else if (value.is_array()) {
      std::fprintf(out, "%s%s:\n", indent.c_str(), key.c_str());
      for (const auto& item : value) {
        std::fprintf(out, "%s  %s%s\n", indent.c_str(), item["path"].get<std::string>().c_str(),
                     item["exists"].get<bool>() ? "" : "  (missing)");
      }
    } else {
      const std::string text = value.is_string() ? value.get<std::string>() : value.dump();
      std::fprintf(out, "%s%s: %s\n", indent.c_str(), key.c_str(), text.c_str());
    }
  }
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
  const ordered_json description = Describe(application, settings, loaded);
  if (json) {
    std::fprintf(io.out, "%s\n", description.dump(2).c_str());
  } else {
    PrintText(io.out, description);
  }
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
