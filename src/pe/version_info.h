// Reading values out of a version-information block the way the version service's query
// does, so that a block can be edited in place on any platform.
//
// A block is a tree of nodes: a 16-bit total length, a 16-bit value length (in characters
// for text values, in bytes otherwise), a 16-bit type (1 for text), a NUL-terminated
// UTF-16 key, padding to 4 bytes, the value, padding to 4 bytes, then the child nodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/byte_view.h"

namespace pe {

class CPE_ImageEditor;

struct VersionValue {
  size_t offset = 0;  // from the start of the block
  size_t size = 0;    // in bytes, inside the node's own length
  bool text = false;
};

// The value at `path` ("\" for the root's value, "\StringFileInfo\040904b0\ProductName"
// and the like), keys compared without regard to ASCII case; nullopt when the path names
// no node or the block is damaged on the way.
std::optional<VersionValue> QueryVersionValue(const uint8_t* block, size_t size, std::u16string_view path);

// The numbers of a block's fixed information (its root value), each as two 32-bit halves.
struct FixedVersion {
  uint32_t file_ms = 0;
  uint32_t file_ls = 0;
  uint32_t product_ms = 0;
  uint32_t product_ls = 0;
};
inline constexpr uint32_t kFixedInfoSignature = 0xFEEF04BDu;

// The fixed information of a version block: nullopt when the root value is missing, is
// text, is shorter than the numbers or lacks the signature.
std::optional<FixedVersion> ReadFixedVersion(plat::ByteView block);

// The fixed information of the image's version resource (identifier 1, found from the
// neutral language as the loader finds it); nullopt without one or when it is damaged.
std::optional<FixedVersion> ImageFixedVersion(const CPE_ImageEditor& image);

// "major.minor.patch.build" from the two halves of a version.
std::string DottedVersion(uint32_t most, uint32_t least);

}  // namespace pe
