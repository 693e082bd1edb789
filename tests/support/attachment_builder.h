// Attachments areas for tests: the product's items and area, with items whose loose bytes
// are marked so that a reader that keeps or clears the wrong ones is seen.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "macro/attachments.h"
#include "macro/macro_builder.h"

namespace brankel_test {

// One 1920-byte item: the given extension and stream name, other bytes `fill`, the field
// a reader clears and the name hash set to values it must replace.
std::string AttachmentItemBytes(std::u16string_view stream, std::u16string_view extension, uint8_t fill = 0x5C);
using macro::AttachmentArea;
using macro::WithAttachmentsFlag;

}  // namespace brankel_test
