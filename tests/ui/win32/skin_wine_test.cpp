// The skin loads the installation's UI resource library through its ordinals, refuses
// libraries that answer wrongly, and tints the bitmaps' colour tables only as the user's
// shifts ask.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/unicode.h"
#include "ui/colour.h"
#include "ui/win32/skin.h"

namespace ui {
namespace {

std::u16string InstalledLibrary() {
  std::u16string path = plat::PathFromHost(BRANKEL_INSTALL_DIR);
  return path + (sizeof(void*) == 8 ? u"\\x64\\sysdata\\vllib_ui_defresu.dll" : u"\\sysdata\\vllib_ui_defresu.dll");
}

std::vector<uint8_t> ColourTable(const std::vector<uint8_t>& dib) {
  const std::optional<plat::ByteView> table = DibColours(dib);
  return table ? std::vector<uint8_t>(table->data(), table->data() + table->size()) : std::vector<uint8_t>{};
}

std::vector<uint8_t> Adjusted(std::vector<uint8_t> table, int hue, int saturation, int lightness) {
  for (size_t at = 0; at + 4 <= table.size(); at += 4) {
    const Rgb c = AdjustColour({table[at + 2], table[at + 1], table[at]}, hue, saturation, lightness);
    table[at] = c.b, table[at + 1] = c.g, table[at + 2] = c.r;
  }
  return table;
}

class SkinWineTest : public ::testing::Test {
 protected:
  void TearDown() override {
    CNewAspect::Global().UseSystemColours(false);
    CNewAspect::Global().Unload();
  }
};

TEST_F(SkinWineTest, RefusesLibrariesThatAnswerWrongly) {
#ifndef BRANKEL_RUNTIME
  GTEST_SKIP() << "no runtime in this build's installation";
#endif
  CNewAspect& skin = CNewAspect::Global();
  const std::u16string fixtures = plat::PathFromHost(BRANKEL_UI_FIXTURE_DIR);
  for (const char16_t* name : {u"\\skin_wrong_version.dll", u"\\skin_fill_fails.dll", u"\\missing.dll"}) {
    ASSERT_TRUE(skin.Load(InstalledLibrary(), 0, 0, 0));
    EXPECT_FALSE(skin.Load(fixtures + name, 0, 0, 0)) << plat::Utf16ToUtf8(name);
    EXPECT_EQ(skin.Module(), nullptr) << plat::Utf16ToUtf8(name);
    EXPECT_TRUE(skin.ControlBitmap(0).empty()) << plat::Utf16ToUtf8(name);
  }
}

TEST_F(SkinWineTest, TintsTheBitmapsOnlyWhenLightnessOrSaturationMoves) {
#ifndef BRANKEL_RUNTIME
  GTEST_SKIP() << "no runtime in this build's installation";
#endif
  CNewAspect& skin = CNewAspect::Global();
  ASSERT_TRUE(skin.Load(InstalledLibrary(), 30, 0, -53));
  ASSERT_NE(skin.Module(), nullptr);
  EXPECT_EQ(skin.Description().size, sizeof(runtime::SkinDescription));
  std::vector<std::vector<uint8_t>> tinted;
  for (int i = 0; i < kControlBitmapCount; ++i) {
    ASSERT_FALSE(skin.ControlBitmap(i).empty()) << i;
    ASSERT_NE(skin.ControlBitmapHandle(i), nullptr) << i;
    tinted.push_back(ColourTable(skin.ControlBitmap(i)));
  }
  const std::vector<uint8_t> tinted_frame = ColourTable(skin.FrameBitmap(0));

  skin.UseSystemColours(true);
  EXPECT_TRUE(skin.UsingSystemColours());
  ASSERT_NE(skin.Module(), nullptr);
  const std::vector<uint8_t> plain = ColourTable(skin.ControlBitmap(0));
  EXPECT_NE(tinted[0], plain);
  EXPECT_NE(tinted_frame, ColourTable(skin.FrameBitmap(0)));
  // Each entry is the library's colour through AdjustColour; bitmap 12 gets the lightness
  // shift alone (0 here), so only the conversion's rounding touches it.
  EXPECT_EQ(tinted[0], Adjusted(plain, 30, -53, 0));
  EXPECT_EQ(tinted[kLightnessOnlyBitmap], Adjusted(ColourTable(skin.ControlBitmap(kLightnessOnlyBitmap)), 0, 0, 0));

  // Clearing the flag brings the user's shifts back.
  skin.UseSystemColours(false);
  EXPECT_EQ(ColourTable(skin.ControlBitmap(0)), tinted[0]);

  ASSERT_TRUE(skin.Load(InstalledLibrary(), 30, 0, 0));
  EXPECT_EQ(ColourTable(skin.ControlBitmap(0)), plain);
  EXPECT_EQ(skin.Colour(runtime::kColourText), SkinColour(skin.Description().colours[runtime::kColourText]));
}

}  // namespace
}  // namespace ui
