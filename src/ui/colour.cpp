#include "ui/colour.h"

#include <algorithm>

namespace ui {
namespace {

int32_t HueValue(int32_t m1, int32_t m2, int32_t h) {
  if (h < 0) h += 360;
  if (h > 360) h -= 360;
  if (h < 60) return m1 + ((m2 - m1) * h + 30) / 60;
  if (h < 180) return m2;
  if (h < 240) return m1 + ((m2 - m1) * (240 - h) + 30) / 60;
  return m1;
}

uint8_t Channel(int32_t value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

}  // namespace

Hls RgbToHls(Rgb colour) {
  const int32_t r = colour.r, g = colour.g, b = colour.b;
  const int32_t max = std::max({r, g, b});
  const int32_t min = std::min({r, g, b});
  Hls out;
  out.lightness = ((max + min) * 360 + 255) / 510;
  if (max == min) {
    out.saturation = 0;
    out.hue = 240;
    return out;
  }
  const int32_t sum = max + min;
  const int32_t d = max - min;
  if (out.lightness <= 180) {
    out.saturation = (d * 360 + sum / 2) / sum;
  } else {
    out.saturation = (d * 360 + (510 - sum) / 2) / (510 - sum);
  }
  const int32_t rt = ((max - r) * 60 + d / 2) / d;
  const int32_t gt = ((max - g) * 60 + d / 2) / d;
  const int32_t bt = ((max - b) * 60 + d / 2) / d;
  if (r == max) {
    out.hue = bt - gt;
  } else if (g == max) {
    out.hue = 120 + rt - bt;
  } else {
    out.hue = 240 + gt - rt;
  }
  if (out.hue < 0) out.hue += 360;
  if (out.hue > 360) out.hue -= 360;
  return out;
}

Rgb HlsToRgb(Hls colour) {
  const int32_t l = colour.lightness, s = colour.saturation;
  if (s == 0) {
    const uint8_t grey = Channel(l * 255 / 360);
    return {grey, grey, grey};
  }
  const int32_t m2 = l > 180 ? l + s - (l * s + 180) / 360 : (l * (360 + s) + 180) / 360;
  const int32_t m1 = 2 * l - m2;
  const auto channel = [&](int32_t h) { return Channel(std::min((HueValue(m1, m2, h) * 255 + 180) / 360, 255)); };
  return {channel(colour.hue + 120), channel(colour.hue), channel(colour.hue - 120)};
}

Rgb AdjustColour(Rgb colour, int32_t hue_shift, int32_t saturation_shift, int32_t lightness_shift) {
  Hls hls = RgbToHls(colour);
  hls.hue += hue_shift;
  if (hls.hue > 360) hls.hue -= 360;
  if (hls.hue < 0) hls.hue += 360;
  if (saturation_shift > 0 && hls.saturation != 0) {
    hls.saturation += (360 - hls.saturation) * saturation_shift / 100;
  } else {
    hls.saturation += hls.saturation * saturation_shift / 100;
  }
  Rgb out = HlsToRgb(hls);
  if (lightness_shift != 0) {
    const auto lighten = [&](uint8_t c) -> uint8_t {
      const int32_t v = c;
      return static_cast<uint8_t>(lightness_shift > 0 ? v + (255 - v) * lightness_shift / 100
                                                      : v + v * lightness_shift / 100);
    };
    out = {lighten(out.r), lighten(out.g), lighten(out.b)};
  }
  return out;
}

}  // namespace ui
