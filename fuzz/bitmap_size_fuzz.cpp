// Any bytes as the head of a picture file, with any claimed file size: an accepted size is
// positive, and the same bytes as a whole file give the same answer.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/byte_view.h"
#include "wizard/image_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  uint64_t claimed = 0;
  std::memcpy(&claimed, data, 8);
  const plat::ByteView head(data + 8, size - 8);
  const std::optional<wizard::BitmapSize> size_of = wizard::ReadBitmapSize(head, claimed);
  if (size_of && (size_of->width <= 0 || size_of->height <= 0)) __builtin_trap();
  const std::optional<wizard::BitmapSize> whole = wizard::ReadBitmapSize(head, head.size());
  if (whole && (whole->width <= 0 || whole->height <= 0)) __builtin_trap();
  if (whole) wizard::IsRefusedBitmapSize(*whole);
  return 0;
}
