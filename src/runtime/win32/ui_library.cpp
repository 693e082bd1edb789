// The UI resource library "vllib_ui_defresu.dll". The program's toolkit loads it, checks
// the version its ordinal 1 gives and has its ordinal 2 fill the skin description: the
// colours and the control and frame bitmaps, drawn here in code when first asked for.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/byte_view.h"
#include "runtime/skin_description.h"

namespace {

using runtime::SkinBitmapData;

struct Colour {
  uint8_t r, g, b;
};

// Palette layout shared by every bitmap: a ramp for the face, a ramp for the border, the
// mark (check, dot, arrow), and the transparent key in the last entry.
constexpr int kFaceFirst = 0;
constexpr int kFaceCount = 128;
constexpr int kEdgeFirst = 128;
constexpr int kEdgeCount = 64;
constexpr int kMark = 200;
constexpr int kShine = 201;
constexpr int kKey = 255;
constexpr Colour kKeyColour{255, 0, 255};

Colour Mix(Colour a, Colour b, double t) {
  const auto m = [t](uint8_t x, uint8_t y) { return static_cast<uint8_t>(std::lround(x + (y - x) * t)); };
  return {m(a.r, b.r), m(a.g, b.g), m(a.b, b.b)};
}

class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height), pixels_(static_cast<size_t>(width * height), kKey) {
    palette_.fill(Colour{0, 0, 0});
    palette_[kKey] = kKeyColour;
  }

  void Ramp(int first, int count, Colour from, Colour to) {
    for (int i = 0; i < count; ++i) palette_[first + i] = Mix(from, to, count > 1 ? double(i) / (count - 1) : 0.0);
  }
  void Entry(int index, Colour colour) { palette_[index] = colour; }

  void Set(int x, int y, int index) {
    if (x >= 0 && y >= 0 && x < width_ && y < height_) pixels_[static_cast<size_t>(y * width_ + x)] = uint8_t(index);
  }

  // A rounded rectangle: a one-pixel edge of the edge ramp's darkest part and a vertical
  // face gradient (top to bottom, or bottom to top when `sunken`).
  void Panel(int left, int top, int right, int bottom, int radius, bool sunken, int edge_width = 1) {
    const int h = bottom - top;
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) {
        const double d = EdgeDistance(x, y, left, top, right, bottom, radius);
        if (d < 0) continue;
        if (d < edge_width) {
          Set(x, y, kEdgeFirst + std::clamp(int((y - top) * (kEdgeCount - 1) / std::max(h - 1, 1)), 0, kEdgeCount - 1));
        } else {
          int step = (y - top) * (kFaceCount - 1) / std::max(h - 1, 1);
          if (sunken) step = kFaceCount - 1 - step;
          Set(x, y, kFaceFirst + step);
        }
      }
    }
  }

  void Disc(double cx, double cy, double radius, bool edge) {
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
        if (d > radius) continue;
        if (edge && d > radius - 1.2) {
          Set(x, y, kEdgeFirst + kEdgeCount / 2);
        } else if (!edge) {
          Set(x, y, kMark);
        } else {
          Set(x, y, kFaceFirst + std::clamp(int(y * (kFaceCount - 1) / std::max(height_ - 1, 1)), 0, kFaceCount - 1));
        }
      }
    }
  }

  // The packed bitmap: header, 256 colours, rows bottom-up.
  std::vector<uint8_t> Dib() const {
    const int stride = (width_ + 3) & ~3;
    std::vector<uint8_t> out;
    plat::ByteWriter w(out);
    w.U32(40);  // BITMAPINFOHEADER
    w.U32(uint32_t(width_));
    w.U32(uint32_t(height_));
    w.U16(1);  // planes
    w.U16(8);  // bits per pixel
    w.U32(0);  // no compression
    w.U32(uint32_t(stride * height_));
    w.U32(0), w.U32(0);    // pixels per metre
    w.U32(256), w.U32(0);  // colours used, important
    for (const Colour& c : palette_) w.U8(c.b), w.U8(c.g), w.U8(c.r), w.U8(0);
    for (int y = height_ - 1; y >= 0; --y) {
      w.Bytes(plat::ByteView(&pixels_[size_t(y * width_)], size_t(width_)));
      w.Zeros(size_t(stride - width_));
    }
    return out;
  }

  int Width() const { return width_; }
  int Height() const { return height_; }

 private:
  // Distance inside the rounded rectangle's outline (negative: outside).
  static double EdgeDistance(int x, int y, int left, int top, int right, int bottom, int radius) {
    const double px = x + 0.5, py = y + 0.5;
    const double cx = std::clamp(px, double(left + radius), double(right - radius));
    const double cy = std::clamp(py, double(top + radius), double(bottom - radius));
    if (radius > 0 && (cx != px || cy != py) && (px < left + radius || px > right - radius) &&
        (py < top + radius || py > bottom - radius)) {
      return radius - std::hypot(px - cx, py - cy);
    }
    return std::min({px - left, right - px, py - top, bottom - py});
  }

  int width_, height_;
  std::vector<uint8_t> pixels_;
  std::array<Colour, 256> palette_{};
};

// The scheme: a cool blue-grey, with the mark in a deeper blue.
constexpr Colour kFaceTop{252, 253, 255}, kFaceBottom{206, 218, 234};
constexpr Colour kHotTop{255, 255, 255}, kHotBottom{214, 232, 250};
constexpr Colour kEdgeTop{120, 142, 170}, kEdgeBottom{84, 104, 132};
constexpr Colour kMarkColour{38, 86, 160};
constexpr Colour kGreyTop{244, 244, 244}, kGreyBottom{222, 222, 222}, kGreyEdge{170, 170, 170};

void Ramps(Canvas& c, Colour top, Colour bottom, Colour edge_top, Colour edge_bottom) {
  c.Ramp(kFaceFirst, kFaceCount, top, bottom);
  c.Ramp(kEdgeFirst, kEdgeCount, edge_top, edge_bottom);
  c.Entry(kMark, kMarkColour);
  c.Entry(kShine, {255, 255, 255});
}

Canvas Button(Colour top, Colour bottom, Colour edge_top, Colour edge_bottom, bool sunken, int edge_width = 1) {
  Canvas c(32, 24);
  Ramps(c, top, bottom, edge_top, edge_bottom);
  c.Panel(0, 0, 32, 24, 3, sunken, edge_width);
  return c;
}

Canvas CheckBox(bool on, bool disabled) {
  Canvas c(16, 16);
  if (disabled) {
    Ramps(c, kGreyTop, kGreyBottom, kGreyEdge, kGreyEdge);
    c.Entry(kMark, {150, 150, 150});
  } else {
    Ramps(c, {255, 255, 255}, {226, 234, 244}, kEdgeTop, kEdgeBottom);
  }
  c.Panel(1, 1, 15, 15, 2, true);
  if (on) {
    // A tick: down from (4,8) to (7,11), then up to (12,4), two pixels thick.
    for (int i = 0; i <= 3; ++i) {
      c.Set(4 + i, 7 + i, kMark);
      c.Set(4 + i, 8 + i, kMark);
    }
    for (int i = 0; i <= 5; ++i) {
      c.Set(7 + i, 10 - i, kMark);
      c.Set(7 + i, 9 - i, kMark);
    }
  }
  return c;
}

Canvas RadioBox(bool on, bool disabled) {
  Canvas c(16, 16);
  if (disabled) {
    Ramps(c, kGreyTop, kGreyBottom, kGreyEdge, kGreyEdge);
    c.Entry(kMark, {150, 150, 150});
  } else {
    Ramps(c, {255, 255, 255}, {226, 234, 244}, kEdgeTop, kEdgeBottom);
  }
  c.Disc(8, 8, 7, true);
  if (on) c.Disc(8, 8, 3.2, false);
  return c;
}

// A downward triangle of four rows, its top row from `left` to `right`.
void DownArrow(Canvas& c, int left, int right, int top) {
  for (int row = 0; row < 4; ++row) {
    for (int x = left + row; x <= right - row; ++x) c.Set(x, top + row, kMark);
  }
}

Canvas ComboArrow(bool pressed) {
  Canvas c(17, 20);
  Ramps(c, pressed ? kFaceBottom : kFaceTop, pressed ? kFaceTop : kFaceBottom, kEdgeTop, kEdgeBottom);
  c.Panel(0, 0, 17, 20, 2, pressed);
  DownArrow(c, 4, 12, 8);
  return c;
}

Canvas Field() {
  Canvas c(16, 16);
  Ramps(c, {255, 255, 255}, {255, 255, 255}, {150, 150, 150}, {196, 196, 196});
  c.Panel(0, 0, 16, 16, 0, false);
  return c;
}

Canvas SliderTrack() {
  Canvas c(16, 6);
  Ramps(c, {196, 206, 220}, {238, 242, 248}, kEdgeTop, kEdgeBottom);
  c.Panel(0, 0, 16, 6, 2, false);
  return c;
}

Canvas SliderThumb(bool hot) {
  Canvas c(11, 20);
  Ramps(c, hot ? kHotTop : kFaceTop, hot ? kHotBottom : kFaceBottom, kEdgeTop, kEdgeBottom);
  c.Panel(0, 0, 11, 20, 3, false);
  for (int y = 7; y <= 12; y += 2) {
    for (int x = 3; x <= 7; ++x) c.Set(x, y, kEdgeFirst + kEdgeCount / 2);
  }
  return c;
}

Canvas ScrollArrow() {
  Canvas c(16, 16);
  Ramps(c, kFaceTop, kFaceBottom, kEdgeTop, kEdgeBottom);
  c.Panel(0, 0, 16, 16, 2, false);
  DownArrow(c, 4, 11, 6);
  return c;
}

// A square-cornered selection bar: rows of list boxes are often only a dozen pixels high.
Canvas Selection() {
  Canvas c(8, 16);
  Ramps(c, {110, 156, 220}, {66, 114, 190}, {50, 90, 160}, {50, 90, 160});
  c.Panel(0, 0, 8, 16, 0, false);
  return c;
}

Canvas Line() {
  Canvas c(16, 2);
  Ramps(c, {255, 255, 255}, {255, 255, 255}, {160, 172, 188}, {160, 172, 188});
  for (int x = 0; x < 16; ++x) {
    c.Set(x, 0, kEdgeFirst);
    c.Set(x, 1, kFaceFirst);
  }
  return c;
}

Canvas Frame(bool active) {
  Canvas c(32, 32);
  const Colour top = active ? Colour{70, 110, 170} : Colour{150, 160, 175};
  const Colour bottom = active ? Colour{40, 70, 120} : Colour{120, 130, 145};
  Ramps(c, top, bottom, {30, 45, 70}, {30, 45, 70});
  c.Panel(0, 0, 32, 32, 4, false, 2);
  return c;
}

struct Stored {
  std::vector<uint8_t> dib;
  uint32_t border;
};

struct Skin {
  std::array<Stored, runtime::kSkinControlBitmapCount> controls;
  std::array<Stored, runtime::kSkinFrameBitmapCount> frames;
};

const Skin& TheSkin() {
  static const Skin skin = [] {
    Skin s;
    const auto put = [&s](uint32_t index, const Canvas& c, uint32_t border) { s.controls[index] = {c.Dib(), border}; };
    put(runtime::kBitmapButton, Button(kFaceTop, kFaceBottom, kEdgeTop, kEdgeBottom, false), 4);
    put(runtime::kBitmapButtonHot, Button(kHotTop, kHotBottom, {70, 120, 190}, {50, 96, 160}, false), 4);
    put(runtime::kBitmapButtonPressed, Button(kFaceBottom, {190, 204, 224}, kEdgeBottom, kEdgeBottom, true), 4);
    put(runtime::kBitmapButtonDisabled, Button(kGreyTop, kGreyBottom, kGreyEdge, kGreyEdge, false), 4);
    put(runtime::kBitmapButtonDefault, Button(kFaceTop, kFaceBottom, {52, 96, 168}, {38, 76, 140}, false, 2), 4);
    put(runtime::kBitmapCheckOff, CheckBox(false, false), 0);
    put(runtime::kBitmapCheckOn, CheckBox(true, false), 0);
    put(runtime::kBitmapCheckDisabled, CheckBox(false, true), 0);
    put(runtime::kBitmapRadioOff, RadioBox(false, false), 0);
    put(runtime::kBitmapRadioOn, RadioBox(true, false), 0);
    put(runtime::kBitmapRadioDisabled, RadioBox(false, true), 0);
    put(runtime::kBitmapComboArrow, ComboArrow(false), 0);
    put(runtime::kBitmapField, Field(), 2);
    put(runtime::kBitmapComboArrowPressed, ComboArrow(true), 0);
    put(runtime::kBitmapSliderTrack, SliderTrack(), 3);
    put(runtime::kBitmapSliderThumb, SliderThumb(false), 0);
    put(runtime::kBitmapSliderThumbHot, SliderThumb(true), 0);
    put(runtime::kBitmapScrollArrow, ScrollArrow(), 0);
    put(runtime::kBitmapScrollThumb, Button(kFaceTop, kFaceBottom, kEdgeTop, kEdgeBottom, false), 4);
    put(runtime::kBitmapListSelection, Selection(), 1);
    put(runtime::kBitmapHeader, Button(kFaceTop, kFaceBottom, kEdgeTop, kEdgeTop, false), 3);
    put(runtime::kBitmapTab, Button(kGreyTop, kFaceBottom, kEdgeTop, kEdgeBottom, false), 4);
    put(runtime::kBitmapTabSelected, Button(kHotTop, kFaceTop, kEdgeTop, kEdgeBottom, false), 4);
    put(runtime::kBitmapLine, Line(), 0);
    s.frames[runtime::kFrameActive] = {Frame(true).Dib(), 8};
    s.frames[runtime::kFrameInactive] = {Frame(false).Dib(), 8};
    return s;
  }();
  return skin;
}

SkinBitmapData View(const Stored& stored) {
  return {stored.dib.data(), static_cast<uint32_t>(stored.dib.size()), stored.border};
}

}  // namespace

extern "C" {

uint32_t SkinLibraryVersion() { return runtime::kSkinLibraryVersion; }

int FillSkinDescription(runtime::SkinDescription* skin) {
  if (skin == nullptr) return 0;
  runtime::SkinDescription filled{};
  filled.size = sizeof filled;
  const uint32_t colours[] = {0x00F4F1EE, 0x00E6DDD4, 0x00201A14, 0x00B07848, 0x00FFFFFF, 0x00907860, 0x00FFFFFF,
                              0x00A09890, 0x00FFFFFF, 0x00B8A898, 0x00D8D0C8, 0x00906030, 0x00FFFFFF};
  static_assert(sizeof colours / sizeof colours[0] <= runtime::kSkinColourCount);
  std::memcpy(filled.colours, colours, sizeof colours);
  const Skin& bitmaps = TheSkin();
  for (uint32_t i = 0; i < runtime::kSkinControlBitmapCount; ++i) filled.controls[i] = View(bitmaps.controls[i]);
  for (uint32_t i = 0; i < runtime::kSkinFrameBitmapCount; ++i) filled.frames[i] = View(bitmaps.frames[i]);
  // The caller says how much room it gave; an older caller's smaller description gets
  // only the part it knows.
  const uint32_t room = skin->size != 0 && skin->size < sizeof filled ? skin->size : sizeof filled;
  filled.size = room;
  std::memcpy(static_cast<void*>(skin), &filled, room);
  return 1;
}

}  // extern "C"
