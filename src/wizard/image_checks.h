// Whether an icon or a picture file is one the build can use, read from its bytes, so that
// the wizard and the command-line tool refuse the same files.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/byte_view.h"

namespace wizard {

enum class ImageCheck {
  kUsable,
  kMissing,     // no such file
  kUnloadable,  // not an icon or not a bitmap
  kRefused,     // a bitmap of a size the start-up window cannot show
};

struct BitmapSize {
  int32_t width = 0;
  int32_t height = 0;  // positive whichever way the rows run
};

// The size of a bitmap file from its first bytes `head` (the file header and the bitmap
// header; more may follow) and the file's whole size: "BM", a core or info header with a
// plausible size, planes 1, a known bit count and pixel data that starts inside the file;
// nothing otherwise.
std::optional<BitmapSize> ReadBitmapSize(plat::ByteView head, uint64_t file_size);

// 65 to 75 pixels high and narrower than 200: the one shape the start-up window refuses.
bool IsRefusedBitmapSize(const BitmapSize& size);

ImageCheck CheckIconFile(std::u16string_view path);
ImageCheck CheckBitmapFile(std::u16string_view path);

}  // namespace wizard
