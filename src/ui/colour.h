// The skin's colour model: hue, lightness and saturation on integer scales of 0 to 360,
// with the rounding the skin's tints have always had (so a grey may come back one step
// darker), and the user's shifts applied to a colour.
#pragma once

#include <cstdint>

namespace ui {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct Hls {
  int32_t hue = 0, lightness = 0, saturation = 0;
  friend bool operator==(const Hls&, const Hls&) = default;
};

Hls RgbToHls(Rgb colour);
Rgb HlsToRgb(Hls colour);

// The colour after the hue, saturation and lightness shifts (each -100..100 in the
// settings; hue in degrees).
Rgb AdjustColour(Rgb colour, int32_t hue_shift, int32_t saturation_shift, int32_t lightness_shift);

// Windows colour values are 0x00BBGGRR.
constexpr Rgb FromColorRef(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16)};
}
constexpr uint32_t ToColorRef(Rgb c) {
  return static_cast<uint32_t>(c.r) | (static_cast<uint32_t>(c.g) << 8) | (static_cast<uint32_t>(c.b) << 16);
}

}  // namespace ui
