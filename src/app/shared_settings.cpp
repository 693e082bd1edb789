#include "app/shared_settings.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/config_text.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace app {

bool LoadSharedSettings(SharedSettings* block, std::u16string_view general_path, std::u16string_view config_path) {
  if (!plat::FileExists(general_path)) return false;
  const std::optional<std::u16string> general_text = ReadConfigText(general_path);
  if (!general_text) return false;
  const ConfigText general(*general_text);

  SharedSettings s{};
  s.MonitorTransparency = 85;
  s.Hue = 30;
  s.Saturation = -53;
  s.PauseKey.KeyCode = 80;
  s.PauseKey.Modifiers = 7;
  s.StopKey.KeyCode = 81;
  s.StopKey.Modifiers = 7;
  s.FontSize = 80;
  plat::SetFixedText(s.FontFace, 64, u"Tahoma");
  s.LockCurrentProcess = static_cast<uint8_t>(general.Int(u"General", u"LockCurProcess", 0));

  const std::optional<std::u16string> user_text =
      plat::FileExists(config_path) ? ReadConfigText(config_path) : std::nullopt;
  if (!user_text) {
    *block = s;
    return false;
  }
  const ConfigText user(*user_text);
  const auto byte = [&](std::u16string_view section, std::u16string_view key, int32_t fallback) {
    return static_cast<uint8_t>(user.Int(section, key, fallback));
  };
  const auto text = [&](char16_t* field, size_t units, std::u16string_view section, std::u16string_view key) {
    plat::SetFixedText(field, units, user.String(section, key, u"", units));
  };

  s.Hue = user.Int(u"Appearance", u"Hue", 0);
  s.Light = user.Int(u"Appearance", u"Light", 0);
  s.Saturation = user.Int(u"Appearance", u"Saturation", 0);
  s.FontSize = user.Int(u"UIFont", u"Size", 90);
  std::u16string face = user.String(u"UIFont", u"FaceName", u"", 64);
  if (face.empty()) face = plat::GetIconTitleFontFace().substr(0, 64);
  plat::SetFixedText(s.FontFace, 64, face);
  s.PauseKey.KeyCode = byte(u"HotKey", u"Pause_VK", 80);
  s.PauseKey.Modifiers = static_cast<uint32_t>(user.Int(u"HotKey", u"Pause_Modifiers", 7));
  s.StopKey.KeyCode = byte(u"HotKey", u"PlayStop_VK", 83);
  s.StopKey.Modifiers = static_cast<uint32_t>(user.Int(u"HotKey", u"PlayStop_Modifiers", 7));
  s.UseSystemColours = byte(u"Options", u"UsingSystemAspect", 2);
  s.MonitorTransparency = user.Int(u"Options", u"PlayMonitorTransparent", 85);
  s.PauseBeforePlay = byte(u"Play", u"PauseBeforePlay", 0);
  s.StopByHotKey = byte(u"Play", u"StopByHotkey", 0);
  s.AlertBeforePlay = byte(u"Play", u"AlertBefore", 0);
  s.DodgeMouse = byte(u"Play", u"DodgeMouse", 0);
  s.AlertBeforeQuickMacro = byte(u"QuickMacro", u"AlertBeforePlaying", 0);
  text(s.AlertSound, 260, u"Play", u"AlertSound");
  s.QuickMouse = byte(u"Play", u"QuickMouse", 0);
  uint16_t fastest = static_cast<uint16_t>(user.Int(u"Play", u"Speed_FatestFactor", 100));
  uint16_t slowest = static_cast<uint16_t>(user.Int(u"Play", u"Speed_SlowestFactor", 5));

  const uint8_t security = static_cast<uint8_t>(user.Int(u"ConnectionPara", u"ConnectSecurity", 0));
  text(s.Server, 128, u"ConnectionPara", u"Server");
  s.Port = user.Int(u"ConnectionPara", u"Port", 0);
  s.AuthNeeded = byte(u"ConnectionPara", u"AuthNeed", 0);
  text(s.UserName, 128, u"ConnectionPara", u"UserName");
  // The stored password is enciphered with a key this program does not have. It stays
  // opaque: the field is left empty rather than filled with text that is not the password,
  // so the player is never handed a wrong one.
  s.ProxyType = byte(u"ConnectionPara", u"ProxyType", 0);
  text(s.ProxyServer, 128, u"ConnectionPara", u"ProxyServer");
  s.ProxyPort = user.Int(u"ConnectionPara", u"ProxyPort", 0);
  s.ProxyAuthNeeded = byte(u"ConnectionPara", u"ProxyAuthNeed", 0);
  text(s.ProxyUserName, 128, u"ConnectionPara", u"ProxyUsername");
  text(s.ProxyPassword, 128, u"ConnectionPara", u"ProxyPassword");

  if (fastest == 0 || fastest >= 1000) fastest = 1000;
  if (slowest == 0)
    slowest = 5;
  else if (slowest >= 100)
    slowest = 100;
  s.FastestSpeedFactor = fastest;
  s.SlowestSpeedFactor = slowest;
  s.ConnectSecurity = static_cast<uint8_t>((s.ConnectSecurity & 0x03) | static_cast<uint8_t>(security << 2));
  *block = s;
  return true;
}

}  // namespace app
