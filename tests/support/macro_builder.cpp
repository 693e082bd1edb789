#include "support/macro_builder.h"

#include <cstring>

#include "platform/platform.h"
#include "support/scratch.h"

namespace brankel_test {

using macro::MacroCommand;
using macro::MacroFileHeader;
using macro::MacroNamedItem;

MacroBuilder& MacroBuilder::Name(std::u16string_view name) {
  name_ = name;
  return *this;
}
MacroBuilder& MacroBuilder::Password(std::u16string_view password, bool protect) {
  password_ = password;
  protect_ = protect;
  return *this;
}
MacroBuilder& MacroBuilder::Packed(bool packed) {
  packed_ = packed;
  return *this;
}
MacroBuilder& MacroBuilder::Stamp(int32_t save_stamp) {
  stamp_ = save_stamp;
  return *this;
}
MacroBuilder& MacroBuilder::WithTerminator(bool on) {
  terminator_ = on;
  return *this;
}

MacroBuilder& MacroBuilder::Command(uint16_t code, uint16_t param_id, uint16_t flags) {
  MacroCommand command{};
  command.Code = code;
  command.ParamId = param_id;
  command.Data[0] = code * 3u;
  command.Data[3] = 0xA5A5A5A5u;
  command.Flags = flags;
  commands_.push_back(command);
  return *this;
}

MacroBuilder& MacroBuilder::Param(uint16_t id, std::vector<uint8_t> payload) {
  params_.emplace_back(id, std::move(payload));
  return *this;
}

MacroBuilder& MacroBuilder::ParamText(uint16_t id, std::u16string_view text) {
  std::vector<uint8_t> payload;
  for (char16_t c : text) payload.insert(payload.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
  payload.insert(payload.end(), {0, 0});
  return Param(id, std::move(payload));
}

MacroBuilder& MacroBuilder::NamedItem(std::u16string_view name, uint8_t kinds) {
  MacroNamedItem item{};
  item.Kinds5 = kinds;
  item.Editor0 = 7;
  char16_t units[64] = {};
  std::copy_n(name.begin(), std::min<size_t>(name.size(), 63), units);
  std::memcpy(item.Name, units, sizeof units);
  named_items_.push_back(item);
  return *this;
}

std::vector<uint8_t> ParamRecordBytes(uint16_t id, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> record(4 + payload.size());
  macro::SetParamRecordHead(plat::MutableByteView(record), id, static_cast<uint32_t>(payload.size()));
  std::copy(payload.begin(), payload.end(), record.begin() + 4);
  return record;
}

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

std::vector<uint8_t> MacroBuilder::CommandBlock() const {
  std::vector<uint8_t> block(commands_.size() * sizeof(MacroCommand));
  if (!block.empty()) std::memcpy(block.data(), commands_.data(), block.size());
  return block;
}

std::vector<uint8_t> MacroBuilder::ParamBlock() const {
  std::vector<uint8_t> block;
  for (const auto& [id, payload] : params_) {
    const std::vector<uint8_t> record = ParamRecordBytes(id, payload);
    block.insert(block.end(), record.begin(), record.end());
  }
  if (terminator_ && !block.empty()) {
    uint8_t terminator[macro::kParamTerminatorSize];
    macro::WriteParamTerminator(plat::MutableByteView(terminator, sizeof terminator));
    block.insert(block.end(), terminator, terminator + sizeof terminator);
  }
  return block;
}

std::vector<uint8_t> MacroBuilder::NamedItemBlock() const {
  std::vector<uint8_t> block(named_items_.size() * sizeof(MacroNamedItem));
  if (!block.empty()) std::memcpy(block.data(), named_items_.data(), block.size());
  return block;
}

MacroFileHeader MacroBuilder::Header() const {
  MacroFileHeader header{};
  macro::SetMacroMagic(header);
  header.Version = macro::kMacroVersion;
  header.NamedItemCount = static_cast<uint16_t>(named_items_.size());
  header.Packed = packed_ ? 1 : 0;
  header.ProtectFlags = protect_ ? macro::kProtectWithPassword : 0;
  header.Scrambled = protect_ && !password_.empty() ? 1 : 0;
  header.CommandCount = static_cast<uint32_t>(commands_.size());
  header.ParamBlockSize = static_cast<uint32_t>(ParamBlock().size());
  header.SaveStamp = stamp_;
  header.EmulationLevel = 0x32;
  header.PlaySpeed = -3;
  char16_t name[128] = {};
  std::copy_n(name_.begin(), std::min<size_t>(name_.size(), 127), name);
  std::memcpy(header.MacroName, name, sizeof name);
  macro::SetHeaderPassword(header, password_);
  return header;
}

std::string MacroBuilder::Bytes() const {
  MacroFileHeader header = Header();
  const std::string key = plat::WideToAnsi(password_);
  std::string body;
  // Stores one block; returns the length field as the header counts it.
  const auto store = [&](std::vector<uint8_t> block, bool scramble) {
    if (packed_) block = macro::PackBlock(plat::ByteView(block));
    if (scramble && header.Scrambled) macro::ScrambleBlock(plat::MutableByteView(block), key);
    if (packed_) {
      const uint32_t length = static_cast<uint32_t>(block.size());
      body.append(reinterpret_cast<const char*>(&length), 4);
    }
    body.append(block.begin(), block.end());
    return static_cast<uint32_t>(block.size());
  };
  if (!named_items_.empty()) store(NamedItemBlock(), false);
  if (!commands_.empty()) {
    header.CommandBlockOffset = static_cast<uint32_t>(macro::kHeaderSize + body.size());
    store(CommandBlock(), true);
  }
  header.ParamBlockOffset = static_cast<uint32_t>(macro::kHeaderSize + body.size());
  if (header.ParamBlockSize != 0) header.ParamBlockSize = store(ParamBlock(), true);
  header.TotalSize = static_cast<uint32_t>(macro::kHeaderSize + body.size());
  macro::ScramblePasswordField(header);
  return std::string(reinterpret_cast<const char*>(&header), sizeof header) + body;
}

bool MacroBuilder::WriteTo(std::u16string_view path) const { return WriteBytes(path, Bytes()); }

}  // namespace brankel_test
