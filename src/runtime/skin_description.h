// What the UI resource library's ordinal 2 fills: the skin the program's toolkit draws
// its windows with. Colours are 0x00BBGGRR, as Windows wants them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace runtime {

// What ordinal 1 returns; the toolkit refuses a library that gives anything else.
inline constexpr uint32_t kSkinLibraryVersion = 257;
inline constexpr uint32_t kSkinColourCount = 32;
inline constexpr uint32_t kSkinControlBitmapCount = 24;
inline constexpr uint32_t kSkinFrameBitmapCount = 2;

// The skin's colours, by index.
enum SkinColour : uint32_t {
  kColourWindow = 0,     // dialog background
  kColourFace = 1,       // control face
  kColourText = 2,       // text
  kColourHighlight = 3,  // selection, focus, slider fill
  kColourHighlightText = 4,
  kColourFrame = 5,  // control borders
  kColourField = 6,  // background of edits, lists and combo boxes
  kColourDisabledText = 7,
  kColourLightEdge = 8,  // the light side of a separator line
  kColourDarkEdge = 9,   // its dark side
  kColourGridLine = 10,
  kColourCaption = 11,  // frame caption bar
  kColourCaptionText = 12,
};

// The control bitmaps, by index. Each is a nine-part image: its corners keep their size,
// its edges and middle stretch (see kSkinBitmapBorder).
enum SkinBitmap : uint32_t {
  kBitmapButton = 0,
  kBitmapButtonHot = 1,
  kBitmapButtonPressed = 2,
  kBitmapButtonDisabled = 3,
  kBitmapButtonDefault = 4,
  kBitmapCheckOff = 5,
  kBitmapCheckOn = 6,
  kBitmapCheckDisabled = 7,
  kBitmapRadioOff = 8,
  kBitmapRadioOn = 9,
  kBitmapRadioDisabled = 10,
  kBitmapComboArrow = 11,
  kBitmapField = 12,  // the frame of edits, lists and combo boxes: only lightened or darkened
  kBitmapComboArrowPressed = 13,
  kBitmapSliderTrack = 14,
  kBitmapSliderThumb = 15,
  kBitmapSliderThumbHot = 16,
  kBitmapScrollArrow = 17,
  kBitmapScrollThumb = 18,
  kBitmapListSelection = 19,
  kBitmapHeader = 20,
  kBitmapTab = 21,
  kBitmapTabSelected = 22,
  kBitmapLine = 23,
};
enum SkinFrameBitmap : uint32_t { kFrameActive = 0, kFrameInactive = 1 };

// One bitmap as a packed device-independent bitmap: BITMAPINFOHEADER, 256 RGBQUAD
// entries, then 8-bit pixels (rows bottom-up, each padded to 4 bytes). The library owns
// the bytes; the toolkit copies them before tinting.
struct SkinBitmapData {
  const uint8_t* dib = nullptr;
  uint32_t size = 0;    // bytes at dib
  uint32_t border = 0;  // pixels of each side that do not stretch
};

struct SkinDescription {
  uint32_t size = 0;  // sizeof(SkinDescription), so later layouts can grow
  uint32_t colours[kSkinColourCount] = {};
  SkinBitmapData controls[kSkinControlBitmapCount] = {};
  SkinBitmapData frames[kSkinFrameBitmapCount] = {};
};
static_assert(offsetof(SkinDescription, size) == 0);
static_assert(offsetof(SkinDescription, colours) == 4);

}  // namespace runtime
