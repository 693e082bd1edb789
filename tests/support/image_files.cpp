#include "support/image_files.h"

namespace brankel_test {
namespace {

using Bytes = std::vector<uint8_t>;

// Little-endian appends; this file must not depend on the rest of the tests.
void Put16(Bytes& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(Bytes& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// 2835 pixels per metre is 72 dots per inch, what most painting programs record.
constexpr uint32_t kPixelsPerMetre = 2835;

void PutInfoHeader(Bytes& out, int width, int height, int bits, uint32_t image_bytes, uint32_t colours) {
  Put32(out, kBitmapInfoHeaderSize);
  Put32(out, static_cast<uint32_t>(width));
  Put32(out, static_cast<uint32_t>(height));  // positive: bottom-up rows
  Put16(out, 1);                              // planes
  Put16(out, static_cast<uint32_t>(bits));
  Put32(out, 0);  // uncompressed
  Put32(out, image_bytes);
  Put32(out, kPixelsPerMetre);
  Put32(out, kPixelsPerMetre);
  Put32(out, colours);
  Put32(out, 0);  // all colours important
}

// Pattern values: different along both axes and for every seed.
uint8_t Blue(int x, int y, uint8_t seed) { return static_cast<uint8_t>(x * 7 + y + seed); }
uint8_t Green(int x, int y, uint8_t seed) { return static_cast<uint8_t>(y * 5 + x / 4 + seed * 3); }
uint8_t Red(int x, int y, uint8_t seed) { return static_cast<uint8_t>((x ^ y) * 3 + seed * 11); }

}  // namespace

uint32_t DibRowBytes(int width, int bits) {
  return (static_cast<uint32_t>(width) * static_cast<uint32_t>(bits) + 31) / 32 * 4;
}

std::vector<uint8_t> MakeBitmapFile(int width, int height, int bits, uint8_t seed) {
  if (width < 1 || height < 1 || (bits != 8 && bits != 24)) return {};
  const uint32_t colours = bits == 8 ? 256 : 0;
  const uint32_t row = DibRowBytes(width, bits);
  const uint32_t pixels_offset = kBitmapFileHeaderSize + kBitmapInfoHeaderSize + colours * 4;
  const uint32_t image_bytes = row * static_cast<uint32_t>(height);

  Bytes out;
  out.reserve(pixels_offset + image_bytes);
  out.push_back('B');
  out.push_back('M');
  Put32(out, pixels_offset + image_bytes);
  Put32(out, 0);  // two reserved words
  Put32(out, pixels_offset);
  PutInfoHeader(out, width, height, bits, image_bytes, colours);
  for (uint32_t i = 0; i < colours; ++i) {  // blue, green, red, unused
    out.push_back(static_cast<uint8_t>(i));
    out.push_back(static_cast<uint8_t>(i * 3 + seed));
    out.push_back(static_cast<uint8_t>(255 - i));
    out.push_back(0);
  }
  // The first stored row is the bottom line of the picture.
  for (int line = height - 1; line >= 0; --line) {
    const size_t start = out.size();
    for (int x = 0; x < width; ++x) {
      if (bits == 8) {
        out.push_back(static_cast<uint8_t>(x + line * 3 + seed));
      } else {
        out.push_back(Blue(x, line, seed));
        out.push_back(Green(x, line, seed));
        out.push_back(Red(x, line, seed));
      }
    }
    out.resize(start + row, 0);
  }
  return out;
}

std::vector<uint8_t> MakeIconImage(int size, uint8_t seed) {
  if (size < 1 || size > 256) return {};
  const uint32_t colour_bytes = DibRowBytes(size, 32) * static_cast<uint32_t>(size);
  const uint32_t mask_row = DibRowBytes(size, 1);
  const uint32_t mask_bytes = mask_row * static_cast<uint32_t>(size);

  Bytes out;
  out.reserve(kBitmapInfoHeaderSize + colour_bytes + mask_bytes);
  // The colour rows and the mask rows stack up to twice the picture's height.
  PutInfoHeader(out, size, size * 2, 32, colour_bytes + mask_bytes, 0);
  auto frame = [size](int x, int line) { return x == 0 || line == 0 || x == size - 1 || line == size - 1; };
  for (int line = size - 1; line >= 0; --line) {
    for (int x = 0; x < size; ++x) {
      out.push_back(Blue(x, line, seed));
      out.push_back(Green(x, line, seed));
      out.push_back(Red(x, line, seed));
      out.push_back(frame(x, line) ? 0 : 255);
    }
  }
  for (int line = size - 1; line >= 0; --line) {
    const size_t start = out.size();
    out.resize(start + mask_row, 0);
    for (int x = 0; x < size; ++x) {
      if (frame(x, line)) out[start + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  }
  return out;
}

std::vector<uint8_t> MakeIconFile(const std::vector<int>& sizes, uint8_t seed) {
  if (sizes.empty() || sizes.size() > 0xFFFF) return {};
  std::vector<Bytes> images;
  for (size_t i = 0; i < sizes.size(); ++i) {
    images.push_back(MakeIconImage(sizes[i], static_cast<uint8_t>(seed + i * 17)));
    if (images.back().empty()) return {};
  }

  Bytes out;
  Put16(out, 0);  // reserved
  Put16(out, 1);  // icons, not cursors
  Put16(out, static_cast<uint32_t>(sizes.size()));
  uint32_t offset = static_cast<uint32_t>(kIconDirSize + kIconDirEntrySize * sizes.size());
  for (size_t i = 0; i < sizes.size(); ++i) {
    const uint8_t side = static_cast<uint8_t>(sizes[i] & 0xFF);  // 256 does not fit: 0
    out.push_back(side);
    out.push_back(side);
    out.push_back(0);  // no palette
    out.push_back(0);  // reserved
    Put16(out, 1);     // planes
    Put16(out, 32);    // bits per pixel
    Put32(out, static_cast<uint32_t>(images[i].size()));
    Put32(out, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  for (const Bytes& image : images) out.insert(out.end(), image.begin(), image.end());
  return out;
}

}  // namespace brankel_test
