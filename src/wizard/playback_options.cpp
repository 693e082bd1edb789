#include "wizard/playback_options.h"

#include "packager/session.h"
#include "project/options.h"

namespace wizard {
namespace {

keyboard::HotKey FromRecord(const app::HotKeyValue& value) {
  return {value.KeyCode, value.SecondKeyCode, value.Modifiers};
}

// The two reserved bytes between the key codes and the modifiers are carried as they are.
void ToRecord(const keyboard::HotKey& key, app::HotKeyValue& value) {
  value.KeyCode = key.key;
  value.SecondKeyCode = key.second;
  value.Modifiers = key.modifiers;
}

}  // namespace

PlaybackOptions PlaybackOptionsPage::Initial() const {
  const project::MakeExeOptions& record = context_.session.Record();
  PlaybackOptions values;
  values.save_play_options = (record.PlayOptionFlags & project::kSavePlayOptions) != 0;
  values.use_system_ui = record.UseSystemUI != 0;
  values.log_level = record.LogLevel;
  values.show_play_option = record.ShowPlayOption != 0;
  values.stop = FromRecord(record.Settings.StopKey);
  values.pause = FromRecord(record.Settings.PauseKey);
  return values;
}

LeaveResult PlaybackOptionsPage::LeaveForward(const PlaybackOptions& values) {
  project::MakeExeOptions& record = context_.session.Record();
  record.PlayOptionFlags =
      static_cast<uint8_t>(values.save_play_options ? (record.PlayOptionFlags | project::kSavePlayOptions)
                                                    : (record.PlayOptionFlags & ~project::kSavePlayOptions));
  record.UseSystemUI = values.use_system_ui ? 1 : 0;
  // A list without a selection gives -1; the player reads the byte as a level, so the
  // first level is stored rather than 255.
  record.LogLevel = static_cast<uint8_t>(values.log_level < 0 ? 0 : values.log_level);
  record.ShowPlayOption = values.show_play_option ? 1 : 0;
  // Equal or empty keys are the user's choice: the player simply has no key then.
  ToRecord(values.stop, record.Settings.StopKey);
  ToRecord(values.pause, record.Settings.PauseKey);
  return {};
}

}  // namespace wizard
