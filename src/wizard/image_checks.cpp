#include "wizard/image_checks.h"

#include <limits>

#include "pe/resource_edits.h"
#include "platform/platform.h"

namespace wizard {
namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
// BITMAPINFOHEADER and the V2 to V5 headers that extend it.
constexpr uint32_t kInfoHeaderSizes[] = {40, 52, 56, 108, 124};
constexpr uint32_t kLargestHeaderSize = 124;

bool KnownBitCount(uint16_t bits, bool core) {
  switch (bits) {
    case 1:
    case 4:
    case 8:
    case 24:
      return true;
    case 16:
    case 32:
      return !core;
    default:
      return false;
  }
}

}  // namespace

std::optional<BitmapSize> ReadBitmapSize(plat::ByteView head, uint64_t file_size) {
  if (head.U8Or(0, 0) != 'B' || head.U8Or(1, 0) != 'M') return std::nullopt;
  const std::optional<uint32_t> pixels = head.U32(10);
  const std::optional<uint32_t> header_size = head.U32(kFileHeaderSize);
  if (!pixels || !header_size) return std::nullopt;
  const bool core = *header_size == kCoreHeaderSize;
  bool info = false;
  for (uint32_t size : kInfoHeaderSizes) info = info || *header_size == size;
  if (!core && !info) return std::nullopt;
  // The headers lie in the file, and the pixels start after them and before its end.
  const uint64_t headers_end = uint64_t{kFileHeaderSize} + *header_size;
  if (headers_end > file_size || *pixels < headers_end || *pixels >= file_size) return std::nullopt;

  BitmapSize size;
  uint16_t planes = 0;
  uint16_t bits = 0;
  if (core) {
    const std::optional<uint16_t> width = head.U16(18), height = head.U16(20), p = head.U16(22), b = head.U16(24);
    if (!width || !height || !p || !b) return std::nullopt;
    size = {*width, *height};
    planes = *p;
    bits = *b;
  } else {
    const std::optional<uint32_t> width = head.U32(18), height = head.U32(22);
    const std::optional<uint16_t> p = head.U16(26), b = head.U16(28);
    if (!width || !height || !p || !b) return std::nullopt;
    size.width = static_cast<int32_t>(*width);
    const int32_t signed_height = static_cast<int32_t>(*height);
    // A top-down bitmap gives its height negative; the most negative value has no positive.
    if (signed_height == std::numeric_limits<int32_t>::min()) return std::nullopt;
    size.height = signed_height < 0 ? -signed_height : signed_height;
    planes = *p;
    bits = *b;
  }
  if (size.width <= 0 || size.height <= 0 || planes != 1 || !KnownBitCount(bits, core)) return std::nullopt;
  return size;
}

bool IsRefusedBitmapSize(const BitmapSize& size) { return size.height >= 65 && size.height <= 75 && size.width < 200; }

ImageCheck CheckIconFile(std::u16string_view path) {
  if (!plat::FileExists(path)) return ImageCheck::kMissing;
  if (plat::IsDirectory(path) || !pe::ReadIconFile(path)) return ImageCheck::kUnloadable;
  return ImageCheck::kUsable;
}

ImageCheck CheckBitmapFile(std::u16string_view path) {
  if (!plat::FileExists(path)) return ImageCheck::kMissing;
  if (plat::IsDirectory(path)) return ImageCheck::kUnloadable;
  plat::FileHandle file =
      plat::OpenFile(path, plat::kGenericRead, plat::kShareRead | plat::kShareWrite, plat::Disposition::kOpenExisting);
  if (file == nullptr) return ImageCheck::kUnloadable;
  // The headers alone tell the size; the pixels are not read.
  uint8_t head[kFileHeaderSize + kLargestHeaderSize] = {};
  uint64_t file_size = 0;
  uint32_t done = 0;
  const bool read = plat::GetFileSize(file, &file_size) && plat::ReadFile(file, head, sizeof(head), &done);
  plat::CloseFile(file);
  if (!read) return ImageCheck::kUnloadable;
  const std::optional<BitmapSize> size = ReadBitmapSize(plat::ByteView(head, done), file_size);
  if (!size) return ImageCheck::kUnloadable;
  return IsRefusedBitmapSize(*size) ? ImageCheck::kRefused : ImageCheck::kUsable;
}

}  // namespace wizard
