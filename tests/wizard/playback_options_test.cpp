#include <gtest/gtest.h>

#include "platform/byte_view.h"
#include "wizard/playback_options.h"
#include "wizard/wizard_test_app.h"

namespace wizard {
namespace {

class PlaybackOptionsTest : public brankel_test::WizardTest {
 protected:
  plat::ByteView RecordBytes() { return {reinterpret_cast<const uint8_t*>(&Record()), sizeof(Record())}; }
};

TEST_F(PlaybackOptionsTest, ANewProjectShowsNoHotKeysAndThePlayOptionWindow) {
  Prepare();
  const PlaybackOptions shown = flow_->Playback().Initial();
  EXPECT_EQ(shown.stop, keyboard::HotKey{});
  EXPECT_EQ(shown.pause, keyboard::HotKey{});
  EXPECT_TRUE(shown.show_play_option);
  EXPECT_EQ(shown.log_level, 0);
}

// Every value lands at its record offset, the other bits of the flags byte and the
// reserved bytes between key codes and modifiers stay, and the page shows it back.
TEST_F(PlaybackOptionsTest, StoresAtTheRecordOffsetsKeepingTheOtherBits) {
  Prepare();
  const keyboard::HotKey ctrl_shift_f5{0x74, 0x71, keyboard::kModCtrl | keyboard::kModShift};
  struct Case {
    PlaybackOptions values;
    uint8_t flags_before, flags_after;
  };
  const Case cases[] = {
      // The same key for pause and stop is accepted.
      {{2, ctrl_shift_f5, ctrl_shift_f5, false, true, true}, 0x00, 0x20},
      {{3, {0xFF, 0, keyboard::kModAltGr}, {}, true, false, false}, 0xFF, 0xDF},
      {{0, {}, {0x78, 0, 0}, false, false, true}, 0xDF, 0xFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.values.log_level);
    Record().PlayOptionFlags = c.flags_before;
    Record().Settings.StopKey.Reserved[0] = 0x5A;
    Record().Settings.PauseKey.Reserved[1] = 0xA5;
    EXPECT_TRUE(flow_->Playback().LeaveForward(c.values).proceed);
    const plat::ByteView bytes = RecordBytes();
    EXPECT_EQ(bytes.U8Or(2155, 0), c.flags_after);
    EXPECT_EQ(bytes.U8Or(36, 9), c.values.log_level);
    EXPECT_EQ(bytes.U8Or(37, 9), c.values.show_play_option ? 1 : 0);
    EXPECT_EQ(bytes.U8Or(40, 9), c.values.use_system_ui ? 1 : 0);
    EXPECT_EQ(bytes.U8Or(7932, 0), c.values.stop.key);
    EXPECT_EQ(bytes.U8Or(7933, 0), c.values.stop.second);
    EXPECT_EQ(bytes.U8Or(7934, 0), 0x5A);
    EXPECT_EQ(bytes.U32Or(7936, 0), c.values.stop.modifiers);
    EXPECT_EQ(bytes.U8Or(7860, 0), c.values.pause.key);
    EXPECT_EQ(bytes.U8Or(7861, 0), c.values.pause.second);
    EXPECT_EQ(bytes.U8Or(7863, 0), 0xA5);
    EXPECT_EQ(bytes.U32Or(7864, 0), c.values.pause.modifiers);
    const PlaybackOptions shown = flow_->Playback().Initial();
    EXPECT_TRUE(shown.log_level == c.values.log_level && shown.stop == c.values.stop && shown.pause == c.values.pause &&
                shown.show_play_option == c.values.show_play_option && shown.use_system_ui == c.values.use_system_ui &&
                shown.save_play_options == c.values.save_play_options);
  }
}

}  // namespace
}  // namespace wizard
