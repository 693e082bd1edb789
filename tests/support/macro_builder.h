// Builds macro files for tests byte by byte, independently of the writer under test:
// commands, parameter records with chosen ids, named items, a password, packed or plain.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "macro/macro_format.h"

namespace brankel_test {

class MacroBuilder {
 public:
  MacroBuilder& Name(std::u16string_view name);
  MacroBuilder& Password(std::u16string_view password, bool protect = true);
  MacroBuilder& Packed(bool packed = true);
  MacroBuilder& Stamp(int32_t save_stamp);
  // A command whose record is `param_id` (kNoParamId for none).
  MacroBuilder& Command(uint16_t code, uint16_t param_id = macro::kNoParamId, uint16_t flags = 0);
  MacroBuilder& Param(uint16_t id, std::vector<uint8_t> payload);
  // A record whose payload is UTF-16 text with its terminator, as commands name files.
  MacroBuilder& ParamText(uint16_t id, std::u16string_view text);
  MacroBuilder& NamedItem(std::u16string_view name, uint8_t kinds = 0x10);
  // Ends the stored parameter block with the terminator record, as some writers do.
  MacroBuilder& WithTerminator(bool on = true);

  // The blocks in their plain form.
  std::vector<uint8_t> CommandBlock() const;
  std::vector<uint8_t> ParamBlock() const;
  std::vector<uint8_t> NamedItemBlock() const;
  // The header with counts and the plain password, as a reader holds it after Open.
  macro::MacroFileHeader Header() const;
  // The whole file as stored.
  std::string Bytes() const;
  bool WriteTo(std::u16string_view path) const;

  const std::vector<macro::MacroCommand>& Commands() const { return commands_; }
  const std::vector<macro::MacroNamedItem>& NamedItems() const { return named_items_; }

 private:
  std::u16string name_ = u"Test macro";
  std::u16string password_;
  bool protect_ = false;
  bool packed_ = false;
  bool terminator_ = false;
  int32_t stamp_ = 0x12345678;
  std::vector<macro::MacroCommand> commands_;
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> params_;
  std::vector<macro::MacroNamedItem> named_items_;
};

// A parameter record's bytes: head and payload.
std::vector<uint8_t> ParamRecordBytes(uint16_t id, const std::vector<uint8_t>& payload);

// A packed stream that declares `declared` bytes, with just enough runs of zeros to be
// believed: about 3 bytes for every 254 it claims.
std::vector<uint8_t> ZeroRunStream(uint32_t declared);

enum class PackedBlock { kNamedItems, kCommands, kParams };
// A packed macro file whose one block is `stream` (stored after its 4-byte length), with
// `count` as the header's named-item or command count.
std::string PackedFileWith(PackedBlock block, const std::vector<uint8_t>& stream, uint32_t count = 0);

}  // namespace brankel_test
