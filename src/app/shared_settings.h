// The user's playing preferences, as every built EXE carries them: a fixed 9112-byte block
// stored inside the options record (at record offset 3456), and so in project files and
// built programs. Byte layout is binding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace app {

#pragma pack(push, 1)

struct HotKeyValue {
  uint8_t KeyCode;  // 0: no hot key
  uint8_t SecondKeyCode;
  uint8_t Reserved[2];
  uint32_t Modifiers;  // 1 Alt, 2 Ctrl, 4 Shift, 8 Win, 0x10 AltGr
};
static_assert(sizeof(HotKeyValue) == 8);

struct SharedSettings {
  uint8_t Reserved0[3684];
  int32_t Hue;
  int32_t Saturation;
  int32_t Light;
  uint8_t Reserved3696[2];
  char16_t FontFace[64];
  uint8_t Reserved3826[522];
  int32_t FontSize;
  uint8_t UseSystemColours;
  uint8_t Reserved4353[47];
  uint8_t LockCurrentProcess;
  uint8_t Reserved4401[3];
  HotKeyValue PauseKey;
  uint8_t Reserved4412[64];
  HotKeyValue StopKey;
  uint8_t Reserved4484[368];
  int32_t MonitorTransparency;
  uint8_t Reserved4856[20];
  uint8_t AlertBeforeQuickMacro;
  uint8_t Reserved4877[20];
  uint8_t PauseBeforePlay;
  uint8_t AlertBeforePlay;
  uint8_t Reserved4899[2];
  uint8_t StopByHotKey;
  uint8_t DodgeMouse;
  uint8_t QuickMouse;
  char16_t AlertSound[260];
  uint8_t Reserved5424[534];
  uint16_t FastestSpeedFactor;
  uint16_t SlowestSpeedFactor;
  uint8_t Reserved5962[1594];
  uint8_t ConnectSecurity;  // the security level in bits 2-7
  uint8_t AuthNeeded;
  uint8_t ProxyAuthNeeded;
  uint8_t ProxyType;
  char16_t Server[128];
  int32_t Port;
  char16_t UserName[128];
  char16_t Password[128];
  char16_t ProxyServer[128];
  int32_t ProxyPort;
  char16_t ProxyUserName[128];
  char16_t ProxyPassword[128];
  uint8_t Reserved9104[8];
};

#pragma pack(pop)

// Where the block lies in the options record.
inline constexpr size_t kSettingsRecordOffset = 3456;

static_assert(sizeof(SharedSettings) == 9112);
#define BRANKEL_SETTINGS_AT(field, block, record)            \
  static_assert(offsetof(SharedSettings, field) == (block)); \
  static_assert(kSettingsRecordOffset + offsetof(SharedSettings, field) == (record))
BRANKEL_SETTINGS_AT(Hue, 3684, 7140);
BRANKEL_SETTINGS_AT(Saturation, 3688, 7144);
BRANKEL_SETTINGS_AT(Light, 3692, 7148);
BRANKEL_SETTINGS_AT(FontFace, 3698, 7154);
BRANKEL_SETTINGS_AT(FontSize, 4348, 7804);
BRANKEL_SETTINGS_AT(UseSystemColours, 4352, 7808);
BRANKEL_SETTINGS_AT(LockCurrentProcess, 4400, 7856);
BRANKEL_SETTINGS_AT(PauseKey, 4404, 7860);
BRANKEL_SETTINGS_AT(StopKey, 4476, 7932);
BRANKEL_SETTINGS_AT(MonitorTransparency, 4852, 8308);
BRANKEL_SETTINGS_AT(AlertBeforeQuickMacro, 4876, 8332);
BRANKEL_SETTINGS_AT(PauseBeforePlay, 4897, 8353);
BRANKEL_SETTINGS_AT(AlertBeforePlay, 4898, 8354);
BRANKEL_SETTINGS_AT(StopByHotKey, 4901, 8357);
BRANKEL_SETTINGS_AT(DodgeMouse, 4902, 8358);
BRANKEL_SETTINGS_AT(QuickMouse, 4903, 8359);
BRANKEL_SETTINGS_AT(AlertSound, 4904, 8360);
BRANKEL_SETTINGS_AT(FastestSpeedFactor, 5958, 9414);
BRANKEL_SETTINGS_AT(SlowestSpeedFactor, 5960, 9416);
BRANKEL_SETTINGS_AT(ConnectSecurity, 7556, 11012);
BRANKEL_SETTINGS_AT(AuthNeeded, 7557, 11013);
BRANKEL_SETTINGS_AT(ProxyAuthNeeded, 7558, 11014);
BRANKEL_SETTINGS_AT(ProxyType, 7559, 11015);
BRANKEL_SETTINGS_AT(Server, 7560, 11016);
BRANKEL_SETTINGS_AT(Port, 7816, 11272);
BRANKEL_SETTINGS_AT(UserName, 7820, 11276);
BRANKEL_SETTINGS_AT(Password, 8076, 11532);
BRANKEL_SETTINGS_AT(ProxyServer, 8332, 11788);
BRANKEL_SETTINGS_AT(ProxyPort, 8588, 12044);
BRANKEL_SETTINGS_AT(ProxyUserName, 8592, 12048);
BRANKEL_SETTINGS_AT(ProxyPassword, 8848, 12304);
#undef BRANKEL_SETTINGS_AT

// Fills `block` from the shared (General.ini) and user (Config.ini) configuration files;
// true only when both were read. A missing shared file leaves the block untouched; a
// missing user file leaves the starting values.
bool LoadSharedSettings(SharedSettings* block, std::u16string_view general_path, std::u16string_view config_path);

}  // namespace app
