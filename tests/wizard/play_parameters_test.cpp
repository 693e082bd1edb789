#include <gtest/gtest.h>

#include <string>

#include "platform/byte_view.h"
#include "platform/unicode.h"
#include "wizard/play_parameters.h"
#include "wizard/wizard_test_app.h"

namespace wizard {
namespace {

using brankel_test::Narrow;

class PlayParametersTest : public brankel_test::WizardTest {
 protected:
  void SetUp() override {
    WizardTest::SetUp();
    Prepare();
  }
  PlayParametersPage& Page() { return flow_->PlayParams(); }
  plat::ByteView RecordBytes() { return {reinterpret_cast<const uint8_t*>(&Record()), sizeof(Record())}; }
};

TEST_F(PlayParametersTest, LoadsWhatTheRecordHolds) {
  struct Case {
    const char* what;
    uint32_t play_flags;
    uint8_t progress_mode, dodge, option_flags, emulation;
    int8_t speed;
    uint16_t times;
    // shown
    bool default_parameters, default_variables, hide_tray;
    int speed_index;
    const char16_t* speed_text;
    int progress_index, dodge_index, emulation_index;
    const char16_t* play_times;
  };
  const Case cases[] = {
      {"speed in the list", 0x1, 0x01, 1, 0x00, 0x02, -30, 3, false, true, false, 4, u"", 0, 0, 2, u"3"},
      {"speed not in the list", 0x2, 0x06, 2, 0x40, 0x31, 50, 1, true, false, true, -1, u"50", 1, 1, 1, u"1"},
      {"lowest speed byte", 0x0, 0x03, 0, 0x00, 0xF0, -128, 65535, true, true, false, -1, u"-128", 2, 1, 0, u"65535"},
      {"progress off wins", 0x3, 0x02, 3, 0x80, 0x07, 100, 2, false, false, false, 0, u"", 3, 2, 0, u"2"},
      {"no progress mode", 0x1, 0x00, 0, 0x00, 0x03, -100, 0, false, true, false, 6, u"", -1, 1, 3, u"0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    project::MakeExeOptions& r = Record();
    r.PlayFlags = c.play_flags;
    r.ProgressMode = c.progress_mode;
    r.DodgeMouseMode = c.dodge;
    r.PlayOptionFlags = c.option_flags;
    r.EmulationLevel = c.emulation;
    r.PlaySpeed = c.speed;
    r.PlayTimes = c.times;
    const PlayParameters shown = Page().Initial();
    EXPECT_EQ(shown.default_parameters, c.default_parameters);
    EXPECT_EQ(shown.default_variables, c.default_variables);
    EXPECT_EQ(shown.hide_tray_icon, c.hide_tray);
    EXPECT_EQ(shown.speed_index, c.speed_index);
    EXPECT_EQ(Narrow(shown.speed_text), Narrow(c.speed_text));
    EXPECT_EQ(shown.progress_index, c.progress_index);
    EXPECT_EQ(shown.dodge_index, c.dodge_index);
    EXPECT_EQ(shown.emulation_index, c.emulation_index);
    EXPECT_EQ(Narrow(shown.play_times), Narrow(c.play_times));
  }
}

TEST_F(PlayParametersTest, TheDefaultBoxesAndTheProgressListEnableTheControls) {
  struct Case {
    bool default_parameters, default_variables;
    int progress_index;
    PlayParameterEnabling enabled;
  };
  const Case cases[] = {
      {true, true, 0, {false, false, false}}, {false, true, 0, {true, true, false}},
      {false, false, 1, {true, false, true}}, {false, true, -1, {true, true, false}},
      {true, false, 3, {false, false, true}}, {false, true, 3, {true, false, false}},
  };
  for (const Case& c : cases) {
    PlayParameters values;
    values.default_parameters = c.default_parameters;
    values.default_variables = c.default_variables;
    values.progress_index = c.progress_index;
    const PlayParameterEnabling e = PlayParametersPage::Enabling(values);
    EXPECT_TRUE(e.parameters == c.enabled.parameters && e.dodge == c.enabled.dodge &&
                e.variables == c.enabled.variables)
        << c.default_parameters << c.default_variables << c.progress_index;
  }
  // A record with the progress window off shows the dodge list disabled with own parameters.
  Record().PlayFlags = 0x1;
  Record().PlayOptionFlags = 0x80;
  EXPECT_FALSE(PlayParametersPage::Enabling(Page().Initial()).dodge);
}

TEST_F(PlayParametersTest, SpeedAndPlayTimesAreClampedAsStored) {
  struct Case {
    int speed_index;
    const char16_t* speed_text;
    const char16_t* play_times;
    int8_t speed;
    uint16_t times;
  };
  const Case cases[] = {
      {-1, u"250", u"0", 100, 1},
      {-1, u"-250", u"-5", -100, 1},
      {-1, u"abc", u"70000", 0, 65535},
      {-1, u" 42 ", u"65535", 42, 65535},
      {-1, u"-99999999999999999999999", u"99999999999999999999999", -100, 65535},
      {-1, u"12x", u"2x", 0, 1},
      {-1, u"", u"", 0, 1},
      {4, u"77", u" 7 ", -30, 7},
      {0, u"", u"1", 100, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.speed_text) + "|" + Narrow(c.play_times));
    PlayParameters values = Page().Initial();
    values.speed_index = c.speed_index;
    values.speed_text = c.speed_text;
    values.play_times = c.play_times;
    EXPECT_TRUE(Page().LeaveForward(values).proceed);
    EXPECT_EQ(static_cast<int8_t>(RecordBytes().U8Or(2154, 0x55)), c.speed);
    EXPECT_EQ(RecordBytes().U16Or(42, 0), c.times);
  }
}

// The page's own bits change, every other bit of the shared bytes stays.
TEST_F(PlayParametersTest, StoringKeepsTheBitsItDoesNotOwn) {
  struct Case {
    int progress_index, dodge_index, emulation_index;
    bool default_parameters, default_variables, hide_tray;
    uint8_t option_flags, progress_mode, dodge, emulation;
    uint32_t play_flags;
  };
  const Case cases[] = {
      {3, 0, 1, true, true, true, 0xFF, 0xFC, 1, 0xF1, 0xFFFFFFF0},
      {2, 1, 3, false, false, false, 0x3F, 0xFF, 2, 0xF3, 0xFFFFFFF3},
      {0, 1, 0, false, true, true, 0x7F, 0xFD, 2, 0xF0, 0xFFFFFFF1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.progress_index);
    project::MakeExeOptions& r = Record();
    r.PlayOptionFlags = 0x3F;
    r.ProgressMode = 0xFD;
    r.EmulationLevel = 0xF2;
    r.PlayFlags = 0xFFFFFFF0;
    PlayParameters values = Page().Initial();
    values.progress_index = c.progress_index;
    values.dodge_index = c.dodge_index;
    values.emulation_index = c.emulation_index;
    values.default_parameters = c.default_parameters;
    values.default_variables = c.default_variables;
    values.hide_tray_icon = c.hide_tray;
    EXPECT_TRUE(Page().LeaveForward(values).proceed);
    const plat::ByteView bytes = RecordBytes();
    EXPECT_EQ(bytes.U8Or(2155, 0), c.option_flags);
    EXPECT_EQ(bytes.U8Or(2152, 0), c.progress_mode);
    EXPECT_EQ(bytes.U8Or(2153, 0), c.dodge);
    EXPECT_EQ(bytes.U8Or(2157, 0), c.emulation);
    EXPECT_EQ(bytes.U32Or(2148, 0), c.play_flags);
  }
}

TEST_F(PlayParametersTest, VariableValuesAreCutToTheField) {
  const std::u16string pair = u"\U0001F600";
  const std::u16string long_text(520, u'v');
  struct Case {
    std::u16string typed, stored;
  };
  const Case cases[] = {
      {long_text, long_text.substr(0, 519)},
      {long_text.substr(0, 519), long_text.substr(0, 519)},
      // A pair across the cut is dropped whole.
      {std::u16string(518, u'v') + pair, std::u16string(518, u'v')},
      {std::u16string(517, u'v') + pair + u"v", std::u16string(517, u'v') + pair},
      {u"a=1\r\nb=2", u"a=1\r\nb=2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.size());
    PlayParameters values = Page().Initial();
    values.variables = c.typed;
    Page().LeaveForward(values);
    EXPECT_EQ(RecordBytes().Utf16z(2414, 520), c.stored);
    EXPECT_EQ(Page().Initial().variables, c.stored);
  }
}

}  // namespace
}  // namespace wizard
