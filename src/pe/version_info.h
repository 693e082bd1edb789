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
#include <string_view>

namespace pe {

struct VersionValue {
  size_t offset = 0;  // from the start of the block
  size_t size = 0;    // in bytes, inside the node's own length
  bool text = false;
};

// The value at `path` ("\" for the root's value, "\StringFileInfo\040904b0\ProductName"
// and the like), keys compared without regard to ASCII case; nullopt when the path names
// no node or the block is damaged on the way.
std::optional<VersionValue> QueryVersionValue(const uint8_t* block, size_t size, std::u16string_view path);

}  // namespace pe
