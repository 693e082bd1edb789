// Macro files for tests: the product's builder (commands, parameter records with chosen
// ids, named items, a password, packed or plain, attachments), and packed files made to
// lie about their sizes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "macro/macro_builder.h"
#include "macro/macro_format.h"

namespace brankel_test {

using macro::MacroBuilder;
using macro::ParamRecordBytes;

// A packed stream that declares `declared` bytes, with just enough runs of zeros to be
// believed: about 3 bytes for every 254 it claims.
std::vector<uint8_t> ZeroRunStream(uint32_t declared);

enum class PackedBlock { kNamedItems, kCommands, kParams };
// A packed macro file whose one block is `stream` (stored after its 4-byte length), with
// `count` as the header's named-item or command count.
std::string PackedFileWith(PackedBlock block, const std::vector<uint8_t>& stream, uint32_t count = 0);

}  // namespace brankel_test
