// What `brankel macro info` reports about a macro file, gathered once from an open file and
// then written as text for people or as JSON for scripts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace macro {
class CFile_Macro;
}

namespace cli {

// "YYYY-MM-DD HH:MM:SS UTC" for seconds since 1970-01-01 UTC; negative values lie before.
std::string FormatUtcStamp(int64_t seconds);

struct MacroCommandInfo {
  uint32_t index = 0;
  uint16_t code = 0;
  uint16_t param_id = 0;
  bool disabled = false;
  // Payload bytes of the command's parameter record; nothing when it has none.
  std::optional<uint32_t> payload_size;
};

struct MacroNamedItemInfo {
  uint32_t index = 0;
  std::string name;  // UTF-8
};

struct MacroInfo {
  std::string file;  // as the user named it
  std::string name;  // UTF-8
  uint16_t version = 0;
  uint8_t file_flags = 0;
  bool packed = false;
  bool scrambled = false;
  bool protected_by_password = false;
  bool password_set = false;  // the password itself is never kept here
  uint32_t named_item_count = 0;
  uint32_t command_count = 0;
  uint32_t param_block_size = 0;  // expanded, as held in memory
  uint32_t total_size = 0;
  uint32_t command_block_offset = 0;
  uint32_t param_block_offset = 0;
  int32_t save_stamp = 0;
  int32_t write_stamp = 0;
  uint8_t emulation_level = 0;
  int8_t play_speed = 0;
  uint8_t progress_mode = 0;
  uint8_t dodge_mouse_mode = 0;
  std::vector<MacroNamedItemInfo> named_items;
  std::vector<MacroCommandInfo> commands;
};

// Reads what the report shows from `macro`, whose command records, parameter block and
// named items are already loaded.
MacroInfo DescribeMacro(macro::CFile_Macro& macro, const std::string& file);

// One value per line, then a line per named item and per command.
std::string MacroInfoText(const MacroInfo& info);
// One JSON object, indented, ending with a line break.
std::string MacroInfoJson(const MacroInfo& info);

}  // namespace cli
