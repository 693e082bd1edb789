// The rules of the skin that need no window: how the user's shifts tint the skin's
// bitmaps, how sizes follow the screen's DPI, and which buttons a message shows.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/byte_view.h"

namespace ui {

inline constexpr int kControlBitmapCount = 24;
inline constexpr int kFrameBitmapCount = 2;
// The control bitmap that keeps its hue and saturation: it only follows the lightness.
inline constexpr int kLightnessOnlyBitmap = 12;
inline constexpr uint32_t kMaxColourTableEntries = 256;

struct SkinShifts {
  int32_t hue = 0;
  int32_t lightness = 0;
  int32_t saturation = 0;
};

// Bitmaps keep their colours when neither lightness nor saturation moves, whatever the hue.
constexpr bool TintsBitmaps(const SkinShifts& shifts) { return shifts.lightness != 0 || shifts.saturation != 0; }

// The shifts that one bitmap's colour table gets: control bitmap 12 only the lightness.
SkinShifts BitmapShifts(const SkinShifts& shifts, bool frame, int index);

// The colour table of a device-independent bitmap (BITMAPINFOHEADER, then its colour
// table): the entries it has, up to 256, or nothing when the header is short or damaged
// or the table runs past the bitmap's bytes.
std::optional<plat::MutableByteView> DibColourTable(plat::MutableByteView dib);
// The same, to read.
std::optional<plat::ByteView> DibColours(plat::ByteView dib);

// The pixel rows of a bitmap of at most 8 bits per pixel, when its header, colour table
// and rows all lie inside `dib`.
std::optional<plat::ByteView> DibPixels(plat::ByteView dib);

// Rewrites each colour table entry with AdjustColour. False (and nothing changed) when
// the bitmap has no readable colour table.
bool TintDibColourTable(plat::MutableByteView dib, const SkinShifts& shifts);

// A skin colour as the toolkit uses it: through the colour model and back, unshifted.
uint32_t SkinColour(uint32_t colour_ref);

inline constexpr int32_t kDefaultDpi = 96;

// value x dpi / 96, to the nearest integer, halves away from zero.
int32_t Scale(int32_t value, int32_t dpi);

// The screen DPI: on a system that prefers it, the primary monitor's effective DPI; else
// the "AppliedDPI" setting (96 when it is not set), and the monitor's DPI when the setting
// is 0; 96 when nothing usable is known. Values beyond 3840 are taken as damage.
int32_t ChooseDpi(std::optional<uint32_t> applied_dpi, std::optional<uint32_t> monitor_dpi, bool prefer_monitor);

struct MessageButton {
  uint32_t caption_id;  // language key, as its decimal number
  int result;           // the standard button id the dialog returns
};

// The message dialog's buttons for a message-box type, from its low four bits; an
// unknown button set shows OK alone.
std::span<const MessageButton> MessageButtons(uint32_t type);

}  // namespace ui
