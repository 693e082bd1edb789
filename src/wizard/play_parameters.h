// The play parameters page: the player's own play parameters or its defaults, the
// variable values and how many times the macros play.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "wizard/page.h"

namespace wizard {

inline constexpr int kIdDefaultParameters = 1341;
inline constexpr int kIdProgressLabel = 1066;
inline constexpr int kIdProgress = 1067;
inline constexpr int kIdDodgeLabel = 1068;
inline constexpr int kIdDodge = 1069;
inline constexpr int kIdSpeedLabel = 1030;
inline constexpr int kIdSpeed = 1073;
inline constexpr int kIdEmulationLabel = 1070;
inline constexpr int kIdEmulation = 1071;
inline constexpr int kIdHideTrayIcon = 1343;
inline constexpr int kIdDefaultVariables = 1342;
inline constexpr int kIdVariablesLabel = 1333;
inline constexpr int kIdVariables = 1094;
inline constexpr int kIdVariablesTips = 1335;
inline constexpr int kIdPlayTimesLabel = 1025;
inline constexpr int kIdPlayTimes = 1027;

inline constexpr ListKeys kProgressItems{u"IDS_S_PSR_PROGRESSWND_%d", 1, 4};
inline constexpr ListKeys kDodgeItems{u"IDS_DODGE_MOUSEPOINTER_%d", 1, 2};
inline constexpr ListKeys kSpeedItems{u"IDS_PLAYBACK_SPEED_%d", 0, 6};
inline constexpr ListKeys kEmulationItems{u"IDS_EMULATIONLEVEL_%d", 0, 3};

// The variable values edit takes at most this many characters.
inline constexpr size_t kVariableValuesChars = 520;

// The speeds of the play speed list's items, in list order.
inline constexpr int8_t kSpeedTable[] = {100, 70, 35, 0, -30, -60, -100};
inline constexpr int kPlaySpeedLimit = 100;
inline constexpr int kPlayTimesLimit = 65535;

// An edit's text read as a signed decimal number: blanks around it allowed, nothing else;
// nothing for any other text. Digits beyond what any field holds saturate, so a text too
// long to be a number reads as a number past every limit, with its sign.
std::optional<int64_t> TextNumber(std::u16string_view text);

// The page's working copies, as its controls show them.
struct PlayParameters {
  bool default_parameters = true;
  bool default_variables = true;
  bool hide_tray_icon = false;
  int speed_index = 0;        // -1: no item selected, the speed is speed_text
  std::u16string speed_text;  // the combo box's text
  int progress_index = 0;
  int dodge_index = 0;
  int emulation_index = 0;
  std::u16string variables;
  std::u16string play_times;  // the edit's text
};

// Which controls are enabled for the check boxes' and the progress list's state.
struct PlayParameterEnabling {
  bool parameters = false;  // speed, progress, emulation with their labels, the tray icon box
  bool dodge = false;       // the dodge list and its label
  bool variables = false;   // the variable values label, edit and tips
};

class PlayParametersPage {
 public:
  explicit PlayParametersPage(PageContext& context) : context_(context) {}

  PlayParameters Initial() const;
  static PlayParameterEnabling Enabling(const PlayParameters& values);
  // Never refuses: stores the controls' values, even while the default boxes are ticked.
  LeaveResult LeaveForward(const PlayParameters& values);

 private:
  PageContext& context_;
};

}  // namespace wizard
