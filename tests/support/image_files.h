// Picture files made in code: Windows bitmap (.bmp) and icon (.ico) files whose every
// field is spelled out here, so tests of the resource editing can feed real-looking input
// and read back exactly what went in. Plain standard C++ only: the fixture generator is
// built from this file with the build machine's compiler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brankel_test {

inline constexpr size_t kBitmapFileHeaderSize = 14;  // "BM", file size, reserved, pixel offset
inline constexpr size_t kBitmapInfoHeaderSize = 40;
inline constexpr size_t kIconDirSize = 6;  // reserved, type, count
inline constexpr size_t kIconDirEntrySize = 16;

// The bytes of one stored row of a bottom-up DIB: rows are padded to 4 bytes.
uint32_t DibRowBytes(int width, int bits);

// A .bmp file: file header, BITMAPINFOHEADER, a 256-entry palette for 8 bits per pixel,
// then bottom-up rows. The pixels (and palette) follow from `seed`, so two pictures made
// with different seeds differ. Empty for a size below 1 or `bits` other than 8 or 24.
std::vector<uint8_t> MakeBitmapFile(int width, int height, int bits, uint8_t seed);

// One icon image as an icon file and an RT_ICON resource hold it: BITMAPINFOHEADER with
// the height doubled, 32-bit BGRA colour rows, then the 1-bit AND mask with 4-byte rows.
// The one-pixel frame is transparent (alpha 0, mask bit set). Empty unless 1 <= size <= 256.
std::vector<uint8_t> MakeIconImage(int size, uint8_t seed);

// An .ico file with one square 32-bit image per entry of `sizes`, in that order; a 256
// pixel image is recorded as 0 in the directory's width and height bytes. Each image
// differs from the others and, through `seed`, from another file's. Empty when `sizes` is
// empty, holds more than 65535 entries or a size MakeIconImage refuses.
std::vector<uint8_t> MakeIconFile(const std::vector<int>& sizes, uint8_t seed);

}  // namespace brankel_test
