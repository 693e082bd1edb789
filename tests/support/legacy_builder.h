// Macro files of the two older versions (258 and 259), written byte by byte the way the
// older editors laid them out, with ANSI texts, so that the upgrade has real input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "macro/legacy_upgrade.h"
#include "macro/macro_format.h"

namespace brankel_test {

struct LegacyCommand {
  uint16_t code = 0;  // the old code, 0 to 1023
  uint16_t param_id = macro::kNoParamId;
  uint16_t number = 0;   // the word at 4
  uint8_t two_bit = 0;   // bits 0 and 1 of the word at 6
  uint8_t four_bit = 0;  // bits 4 to 7 of the first word
  bool disabled = false;
  bool flag = false;      // bit 1 of the first word
  uint32_t data[3] = {};  // at 8, 12 and 16
};

struct LegacyNamedItem {
  uint32_t first = 0;
  std::string name;  // ANSI
  std::string text;
};

struct LegacyRecord {
  uint16_t id = 0;
  std::vector<uint8_t> payload;
};

// Texts are ANSI bytes as the old editors stored them.
struct LegacyMacro {
  uint16_t version = 259;
  std::string name;
  std::string editor_text;
  std::string password;  // plain; stored scrambled in a version-259 header
  std::string variable_values;
  std::string path;
  std::string text_1014;  // the 64-byte editor text (1044 in a version-258 header)
  std::string text_1078;  // version 259 only
  int32_t save_stamp = 0x44332211;
  uint8_t option_flags = 0;  // bit 3: protect with the password
  bool scrambled = false;    // blocks scrambled with the password
  int8_t play_speed = 0;
  uint8_t emulation_level = 0;  // byte 34 of either header
  uint8_t path_kind = 0;
  uint8_t progress = 0;
  uint8_t dodge_mouse = 0;
  std::vector<LegacyNamedItem> named_items;
  int named_item_count = -1;  // the header's count; -1: the number of items
  std::vector<LegacyCommand> commands;
  std::vector<LegacyRecord> records;
  int64_t total_size = -1;  // the header's total size (259); -1: the file's size
};

std::vector<uint8_t> BuildLegacyMacro(const LegacyMacro& macro);

// Writes `text` and its terminator into `payload` at `offset`, growing it when needed.
void PutAnsi(std::vector<uint8_t>& payload, size_t offset, std::string_view text);
// A payload of `size` zero bytes with the texts at their offsets.
std::vector<uint8_t> AnsiPayload(size_t size, std::initializer_list<std::pair<size_t, std::string_view>> texts);

}  // namespace brankel_test
