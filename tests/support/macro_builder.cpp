#include "support/macro_builder.h"

#include <cstring>

#include "platform/platform.h"
#include "support/scratch.h"

namespace brankel_test {

using macro::MacroFileHeader;

std::vector<uint8_t> ZeroRunStream(uint32_t declared) {
  std::vector<uint8_t> stream = {macro::kPackEscape, 0};
  for (int shift = 0; shift < 32; shift += 8) stream.push_back(static_cast<uint8_t>(declared >> shift));
  const size_t runs = declared / 254 + 1;
  stream.reserve(stream.size() + 3 * runs);
  for (size_t i = 0; i < runs; ++i) stream.insert(stream.end(), {macro::kPackEscape, 254, 0});
  return stream;
}

std::string PackedFileWith(PackedBlock block, const std::vector<uint8_t>& stream, uint32_t count) {
  MacroFileHeader header = MacroBuilder().Packed().Header();
  const uint32_t length = static_cast<uint32_t>(stream.size());
  switch (block) {
    case PackedBlock::kNamedItems:
      header.NamedItemCount = static_cast<uint16_t>(count);
      break;
    case PackedBlock::kCommands:
      header.CommandCount = count, header.CommandBlockOffset = macro::kHeaderSize;
      break;
    case PackedBlock::kParams:
      header.ParamBlockSize = length;
      break;
  }
  header.ParamBlockOffset = block == PackedBlock::kParams ? macro::kHeaderSize : macro::kHeaderSize + 4 + length;
  header.TotalSize = macro::kHeaderSize + 4 + length;
  macro::ScramblePasswordField(header);
  std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
  bytes.append(reinterpret_cast<const char*>(&length), 4);
  bytes.append(stream.begin(), stream.end());
  return bytes;
}

}  // namespace brankel_test
