// The playback options page: the log level, the stop and pause hot keys, and three
// switches of the built EXE's player.
#pragma once

#include "keyboard/key_names.h"
#include "wizard/page.h"

namespace wizard {

inline constexpr int kIdLogLevelLabel = 1204;
inline constexpr int kIdLogLevel = 1208;
inline constexpr int kIdStopKeyLabel = 1383;
inline constexpr int kIdStopKey = 1005;
inline constexpr int kIdStopKeyBrowse = 1387;
inline constexpr int kIdPauseKeyLabel = 1386;
inline constexpr int kIdPauseKey = 1006;
inline constexpr int kIdPauseKeyBrowse = 1388;
inline constexpr int kIdShowPlayOption = 1341;
inline constexpr int kIdUseSystemUI = 1342;
inline constexpr int kIdSavePlayOptions = 1030;

// The log level list: "IDS_LOGLEVEL_%d" for 0 to 3, the index is the level.
inline constexpr ListKeys kLogLevelItems{u"IDS_LOGLEVEL_%d", 0, 3};

// The page's working copies.
struct PlaybackOptions {
  int log_level = 0;  // list index
  keyboard::HotKey stop;
  keyboard::HotKey pause;
  bool show_play_option = false;
  bool use_system_ui = false;
  bool save_play_options = false;
};

class PlaybackOptionsPage {
 public:
  explicit PlaybackOptionsPage(PageContext& context) : context_(context) {}

  PlaybackOptions Initial() const;
  // Never refuses: stores everything into the record.
  LeaveResult LeaveForward(const PlaybackOptions& values);

 private:
  PageContext& context_;
};

}  // namespace wizard
