// Attachments areas for tests: items and a compound file, appended to a macro file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "macro/attachments.h"

namespace brankel_test {

// One 1920-byte item: the given extension and stream name, other bytes `fill`.
std::string AttachmentItemBytes(std::u16string_view stream, std::u16string_view extension, uint8_t fill = 0x5C);
// The area: head, items, compound file.
std::string AttachmentArea(const std::vector<std::string>& items, const std::vector<uint8_t>& compound,
                           uint32_t magic = macro::kAttachmentsMagic);
// A macro file's bytes with the flag that says an area follows.
std::string WithAttachmentsFlag(std::string macro);

}  // namespace brankel_test
