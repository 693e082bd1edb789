// A macro file's bytes, read from memory the way the build reads and rewrites a macro: every block
// loaded, every command's record looked up, one record replaced by a larger one. The same
// bytes also go to the unpacker as a packed stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "macro/attachments.h"
#include "macro/macro_file.h"
#include "macro/macro_format.h"
#include "platform/byte_view.h"

namespace {

// A record found for a command must lie wholly inside the loaded block, its head's size
// and all: the rewriting code copies it by its stated size.
void CheckInsideBlock(plat::ByteView record, plat::ByteView block) {
  if (record.empty()) return;
  if (record.data() < block.data() || record.end() > block.end() ||
      record.size() != 4 + uint64_t{macro::ParamRecordSize(record)}) {
    __builtin_trap();
  }
}

void ReadMacro(plat::ByteView input) {
  macro::CFile_Macro file;
  if (!file.OpenMemory(input)) return;
  const macro::MacroCommand* commands = nullptr;
  const bool commands_ok = file.ReadCommands(&commands) == 1;
  uint8_t* block = nullptr;
  file.GetParamBlock(&block);
  file.LoadNamedItems();

  // The attachments area, its compound file and every stream in it.
  macro::CAttachments_Manager attachments;
  if (attachments.ReadFromMacroMemory(file.Memory(), file.Header()) == 1) {
    for (uint32_t i = 0; i < attachments.Count(); ++i) attachments.StreamSize(attachments.StreamName(i));
  }

  if (!commands_ok || file.Commands() == nullptr) return;

  plat::ByteView first;
  for (uint32_t i = 0; i < file.Header().CommandCount; ++i) {
    const plat::ByteView record = macro::CFile_Macro::FindParamRecord(file.Commands()[i].ParamId, file.ParamView());
    CheckInsideBlock(record, file.ParamView());
    if (first.empty()) first = record;
  }
  if (first.empty()) return;

  // A longer copy of the record, as a rewritten file name makes one.
  const uint16_t id = macro::ParamRecordId(first);
  const uint32_t size = macro::ParamRecordSize(first);
  const uint32_t grown = size + 16 <= macro::kMaxParamPayload ? size + 16 : size - 16;
  std::vector<uint8_t> record(4 + size_t{grown}, 0x5A);
  plat::MutableByteView(record).CopyFrom(0, first.First(4 + uint64_t{std::min(size, grown)}));
  macro::SetParamRecordHead(plat::MutableByteView(record), id, grown);
  if (file.SetParamRecord(id, plat::MutableByteView(record)) != 1) return;
  const uint16_t new_id = macro::ParamRecordId(plat::ByteView(record));
  const plat::ByteView placed = macro::CFile_Macro::FindParamRecord(new_id, file.ParamView());
  if (placed.empty() || macro::ParamRecordSize(placed) != grown) __builtin_trap();
  CheckInsideBlock(placed, file.ParamView());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ReadMacro(plat::ByteView(data, size));

  // Whatever unpacks must pack and unpack to the same bytes again; the spare bytes that
  // hold a parameter block's terminator start out zero.
  std::vector<uint8_t> block;
  if (macro::UnpackBlock(plat::ByteView(data, size), macro::kParamSpare, block) && block.size() > macro::kParamSpare) {
    const size_t n = block.size() - macro::kParamSpare;
    for (size_t i = n; i < block.size(); ++i) {
      if (block[i] != 0) __builtin_trap();
    }
    const std::vector<uint8_t> packed = macro::PackBlock(plat::ByteView(block.data(), n));
    std::vector<uint8_t> again;
    if (!macro::UnpackBlock(plat::ByteView(packed), 0, again) || again.size() != n ||
        std::memcmp(again.data(), block.data(), n) != 0) {
      __builtin_trap();
    }
  }
  // A limit is kept exactly: a block within it unpacks as without it, one beyond it is
  // refused as too long.
  const uint64_t limit = macro::PackedOutputLength(plat::ByteView(data, size)) ^ (size & 1);
  std::vector<uint8_t> limited;
  macro::UnpackError error = macro::UnpackError::kNone;
  const bool within = macro::UnpackBlock(plat::ByteView(data, size), 0, limited, limit, &error);
  if (within
          ? limited.size() > limit || block.size() != limited.size() + macro::kParamSpare
          : error == macro::UnpackError::kTooLong && macro::PackedOutputLength(plat::ByteView(data, size)) <= limit) {
    __builtin_trap();
  }
  return 0;
}
