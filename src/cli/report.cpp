#include "cli/report.h"

#include <string>

#include "platform/unicode.h"

namespace cli {

nlohmann::ordered_json DescribeSettings(const app::SharedSettings& s) {
  nlohmann::ordered_json p;
  p["hue"] = s.Hue;
  p["saturation"] = s.Saturation;
  p["light"] = s.Light;
  p["ui_font"] = {{"face", plat::Utf16ToUtf8(plat::FixedText(s.FontFace, 64))}, {"size", s.FontSize}};
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
  p["alert_sound"] = plat::Utf16ToUtf8(plat::FixedText(s.AlertSound, 260));
  p["fastest_speed_factor"] = s.FastestSpeedFactor;
  p["slowest_speed_factor"] = s.SlowestSpeedFactor;
  p["connect_security"] = s.ConnectSecurity >> 2;
  p["auth_needed"] = s.AuthNeeded;
  p["server"] = plat::Utf16ToUtf8(plat::FixedText(s.Server, 128));
  p["port"] = s.Port;
  p["user_name"] = plat::Utf16ToUtf8(plat::FixedText(s.UserName, 128));
  // Passwords are never shown, only whether one is held.
  p["password_set"] = plat::FixedText(s.Password, 128).size() > 0;
  p["proxy_type"] = s.ProxyType;
  p["proxy_auth_needed"] = s.ProxyAuthNeeded;
  p["proxy_server"] = plat::Utf16ToUtf8(plat::FixedText(s.ProxyServer, 128));
  p["proxy_port"] = s.ProxyPort;
  p["proxy_user_name"] = plat::Utf16ToUtf8(plat::FixedText(s.ProxyUserName, 128));
  p["proxy_password_set"] = plat::FixedText(s.ProxyPassword, 128).size() > 0;
  return p;
}

namespace {

std::string Scalar(const nlohmann::ordered_json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump();
}

void PrintText(std::FILE* out, const nlohmann::ordered_json& report, const std::string& indent) {
  for (const auto& [key, value] : report.items()) {
    if (value.is_object()) {
      std::fprintf(out, "%s%s:\n", indent.c_str(), key.c_str());
      PrintText(out, value, indent + "  ");
    } else if (value.is_array()) {
      std::fprintf(out, "%s%s:%s\n", indent.c_str(), key.c_str(), value.empty() ? " (none)" : "");
      for (const auto& item : value) {
        std::string line;
        if (item.is_object()) {
          for (const auto& [field, field_value] : item.items()) {
            line += (line.empty() ? "" : "  ") + field + "=" + Scalar(field_value);
          }
        } else {
          line = Scalar(item);
        }
        std::fprintf(out, "%s  %s\n", indent.c_str(), line.c_str());
      }
    } else {
      std::fprintf(out, "%s%s: %s\n", indent.c_str(), key.c_str(), Scalar(value).c_str());
    }
  }
}

}  // namespace

void PrintReport(std::FILE* out, const nlohmann::ordered_json& report, bool json) {
  if (json) {
    std::fprintf(out, "%s\n", report.dump(2).c_str());
  } else {
    PrintText(out, report, "");
  }
}

}  // namespace cli
