// The skin's colour model and rules, with the numbers the skin has always produced.
#include <gtest/gtest.h>

#include <vector>

#include "app/message_display.h"
#include "ui/colour.h"
#include "ui/skin_rules.h"

namespace ui {
namespace {

TEST(ColourTest, AdjustColourMatchesTheIntegerModel) {
  struct Case {
    Rgb in;
    int hue, saturation, lightness;
    Rgb out;
  };
  const Case cases[] = {
      {{100, 100, 100}, 0, 0, 0, {99, 99, 99}},     // the round trip loses a step
      {{128, 128, 128}, 0, 0, 0, {128, 128, 128}},  // this grey survives it
      {{255, 0, 0}, 30, 0, 0, {255, 128, 0}},
      {{255, 0, 0}, 360, 0, 0, {255, 0, 0}},  // a full turn: 0 + 360 is not above 360
      {{12, 200, 77}, 0, 0, 100, {255, 255, 255}},
      {{12, 200, 77}, 0, 0, -100, {0, 0, 0}},
      {{128, 128, 128}, 0, 50, 0, {128, 128, 128}},  // a grey gains no saturation
      {{255, 0, 0}, 0, -100, 0, {127, 127, 127}},    // all saturation removed: lightness 180 is 127
      {{0, 0, 0}, 0, 0, 50, {127, 127, 127}},
  };
  for (const Case& c : cases) {
    const Rgb got = AdjustColour(c.in, c.hue, c.saturation, c.lightness);
    EXPECT_EQ(got, c.out) << int(c.in.r) << "," << int(c.in.g) << "," << int(c.in.b) << " shifts " << c.hue << "/"
                          << c.saturation << "/" << c.lightness << " gave " << int(got.r) << "," << int(got.g) << ","
                          << int(got.b);
  }
}

TEST(ColourTest, HlsScalesAndGreyHue) {
  EXPECT_EQ(RgbToHls({255, 0, 0}), (Hls{0, 180, 360}));
  EXPECT_EQ(RgbToHls({0, 0, 255}), (Hls{240, 180, 360}));
  EXPECT_EQ(RgbToHls({255, 255, 255}), (Hls{240, 360, 0}));
  EXPECT_EQ(HlsToRgb({120, 180, 360}), (Rgb{0, 255, 0}));
  EXPECT_EQ(FromColorRef(0x00332211), (Rgb{0x11, 0x22, 0x33}));
  EXPECT_EQ(ToColorRef({0x11, 0x22, 0x33}), 0x00332211u);
}

TEST(SkinRulesTest, ScaleRoundsHalvesAwayFromZero) {
  struct Case {
    int value, dpi, scaled;
  };
  for (const Case& c : {Case{10, 144, 15}, Case{-3, 120, -4}, Case{3, 120, 4}, Case{1, 144, 2}, Case{-1, 144, -2},
                        Case{7, 96, 7}, Case{0, 192, 0}, Case{2, 120, 3}, Case{1, 120, 1}}) {
    EXPECT_EQ(Scale(c.value, c.dpi), c.scaled) << c.value << " at " << c.dpi;
  }
}

TEST(SkinRulesTest, DpiChoice) {
  struct Case {
    std::optional<uint32_t> applied, monitor;
    bool prefer_monitor;
    int32_t dpi;
  };
  const Case cases[] = {
      {120, 144, false, 120},        {std::nullopt, 144, false, 96}, {0u, 144, false, 144},
      {0u, std::nullopt, false, 96}, {120, 144, true, 144},          {120, std::nullopt, true, 120},
      {std::nullopt, 0u, true, 96},  {100000u, 144, false, 144},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseDpi(c.applied, c.monitor, c.prefer_monitor), c.dpi)
        << c.applied.value_or(-1) << " " << c.monitor.value_or(-1) << " " << c.prefer_monitor;
  }
}

TEST(SkinRulesTest, MessageButtonsFollowTheLowFourBits) {
  struct Case {
    uint32_t type;
    std::vector<MessageButton> buttons;
  };
  const Case cases[] = {
      {app::kMbOk, {{16051, app::kIdOk}}},
      {app::kMbOkCancel | app::kMbIconWarning, {{16051, app::kIdOk}, {16052, app::kIdCancel}}},
      {app::kMbAbortRetryIgnore, {{16058, app::kIdAbort}, {16055, app::kIdRetry}, {16059, app::kIdIgnore}}},
      {app::kMbYesNoCancel, {{16056, app::kIdYes}, {16057, app::kIdNo}, {16052, app::kIdCancel}}},
      {app::kMbYesNo | 0x100, {{16056, app::kIdYes}, {16057, app::kIdNo}}},
      {app::kMbRetryCancel, {{16055, app::kIdRetry}, {16052, app::kIdCancel}}},
      {0x6, {{16051, app::kIdOk}}},  // cancel-try-continue and beyond: OK alone
  };
  for (const Case& c : cases) {
    const std::span<const MessageButton> got = MessageButtons(c.type);
    ASSERT_EQ(got.size(), c.buttons.size()) << c.type;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].caption_id, c.buttons[i].caption_id) << c.type << " #" << i;
      EXPECT_EQ(got[i].result, c.buttons[i].result) << c.type << " #" << i;
    }
  }
}

// A 2x1 bitmap of `bits` per pixel with `entries` colours named in the header.
std::vector<uint8_t> Dib(uint32_t entries, uint16_t bits = 8, int32_t height = 1, size_t table_entries = 2) {
  std::vector<uint8_t> dib;
  plat::ByteWriter w(dib);
  w.U32(40), w.U32(2), w.U32(static_cast<uint32_t>(height)), w.U16(1), w.U16(bits), w.U32(0), w.U32(0);
  w.U32(0), w.U32(0), w.U32(entries), w.U32(0);
  const uint8_t colours[][4] = {{0, 0, 255, 0}, {100, 100, 100, 0}};  // red, then a grey (blue, green, red order)
  for (size_t i = 0; i < table_entries; ++i) w.Bytes(plat::ByteView(colours[i % 2], 4));
  w.Zeros(4 * static_cast<size_t>(height < 0 ? -height : height));
  return dib;
}

TEST(SkinRulesTest, TintingRewritesEachColourTableEntry) {
  std::vector<uint8_t> dib = Dib(2);
  ASSERT_TRUE(TintDibColourTable(dib, {30, 0, 0}));
  EXPECT_EQ(dib[40 + 2], 255);  // red became orange
  EXPECT_EQ(dib[40 + 1], 128);
  EXPECT_EQ(dib[40 + 0], 0);
  EXPECT_EQ(dib[44], 99);  // the grey lost its step
  ASSERT_TRUE(DibPixels(dib));
  EXPECT_EQ(DibPixels(dib)->size(), 4u);
  EXPECT_EQ(DibPixels(Dib(2, 8, -1))->size(), 4u);  // top-down rows

  struct Bad {
    std::vector<uint8_t> dib;
    const char* why;
  };
  std::vector<uint8_t> short_header = Dib(2);
  short_header.resize(30);
  std::vector<uint8_t> no_rows = Dib(2);
  no_rows.resize(no_rows.size() - 1);
  for (Bad bad : {Bad{short_header, "header cut"}, Bad{Dib(300), "more than 256 colours"},
                  Bad{Dib(4), "table runs past the end"}, Bad{Dib(0, 24), "no colour table"}}) {
    const std::vector<uint8_t> before = bad.dib;
    EXPECT_FALSE(TintDibColourTable(bad.dib, {30, 10, -53})) << bad.why;
    EXPECT_EQ(bad.dib, before) << bad.why;
  }
  EXPECT_FALSE(DibPixels(no_rows));
  EXPECT_FALSE(DibPixels(Dib(2, 24)));
  std::vector<uint8_t> one_bit = Dib(0, 1, 1, 2);
  EXPECT_EQ(DibColourTable(one_bit)->size(), 8u);  // 1 bit: two colours implied
}

TEST(SkinRulesTest, WhichBitmapsAreTintedAndHow) {
  EXPECT_TRUE(TintsBitmaps({30, 0, -53}));
  EXPECT_FALSE(TintsBitmaps({30, 0, 0}));
  EXPECT_TRUE(TintsBitmaps({0, 5, 0}));
  const SkinShifts user{30, 20, -53};
  const SkinShifts twelve = BitmapShifts(user, false, kLightnessOnlyBitmap);
  EXPECT_EQ(twelve.hue, 0);
  EXPECT_EQ(twelve.saturation, 0);
  EXPECT_EQ(twelve.lightness, 20);
  for (const auto& [frame, index] :
       {std::pair{false, 11}, std::pair{false, 13}, std::pair{true, 12}, std::pair{true, 0}}) {
    const SkinShifts got = BitmapShifts(user, frame, index);
    EXPECT_EQ(got.hue, 30) << frame << index;
    EXPECT_EQ(got.saturation, -53) << frame << index;
  }
  EXPECT_EQ(SkinColour(0x00646464), 0x00636363u);  // skin colours take the round trip unshifted
}

}  // namespace
}  // namespace ui
