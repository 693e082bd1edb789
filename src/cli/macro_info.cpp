#include "cli/macro_info.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "macro/macro_file.h"
#include "platform/unicode.h"

namespace cli {
namespace {

// A text field of a record: up to its first NUL, or the whole field when the editor filled
// it. Copied out first because the record is packed and may sit at any address.
std::string FieldText(const void* field, size_t field_bytes) {
  std::u16string units(field_bytes / sizeof(char16_t), u'\0');
  std::memcpy(units.data(), field, units.size() * sizeof(char16_t));
  units.resize(std::min(units.size(), units.find(u'\0')));
  return plat::Utf16ToUtf8(units);
}

std::string YesNo(bool value) { return value ? "yes" : "no"; }

// Progress and mouse-dodging share one coding: 0 defers to the installation, 1 is off.
std::string ModeText(uint8_t mode) {
  const std::string number = std::to_string(mode);
  if (mode == 0) return number + " (installation default)";
  if (mode == 1) return number + " (off)";
  return number + " (on)";
}

std::string Hex(unsigned value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%0*X", digits, value);
  return buffer;
}

void Line(std::string& out, const char* label, const std::string& value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%-20s", label);
  out += buffer;
  out += value;
  out += '\n';
}

}  // namespace

std::string FormatUtcStamp(int64_t seconds) {
  using namespace std::chrono;
  // Floor division, so that a second before the epoch belongs to 1969-12-31.
  int64_t day = seconds / 86400;
  int64_t second_of_day = seconds % 86400;
  if (second_of_day < 0) second_of_day += 86400, --day;
  const year_month_day date{sys_days{days{day}}};
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u %02d:%02d:%02d UTC", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(second_of_day / 3600), static_cast<int>(second_of_day / 60 % 60),
                static_cast<int>(second_of_day % 60));
  return buffer;
}

MacroInfo DescribeMacro(macro::CFile_Macro& macro, const std::string& file) {
  const macro::MacroFileHeader& header = macro.Header();
  MacroInfo info;
  info.file = file;
  info.name = FieldText(header.MacroName, sizeof header.MacroName);
  info.version = header.Version;
  info.file_flags = header.FileFlags;
  info.packed = header.Packed != 0;
  info.scrambled = header.Scrambled != 0;
  info.protected_by_password = (header.ProtectFlags & macro::kProtectWithPassword) != 0;
  info.password_set = !macro::HeaderPassword(header).empty();
  info.named_item_count = header.NamedItemCount;
  info.command_count = header.CommandCount;
  info.param_block_size = header.ParamBlockSize;
  info.total_size = header.TotalSize;
  info.command_block_offset = header.CommandBlockOffset;
  info.param_block_offset = header.ParamBlockOffset;
  info.save_stamp = header.SaveStamp;
  info.write_stamp = header.WriteStamp;
  info.emulation_level = header.EmulationLevel & 0x0F;
  info.play_speed = header.PlaySpeed;
  info.progress_mode = header.ProgressMode & 0x0F;
  info.dodge_mouse_mode = header.DodgeMouseMode & 0x0F;

  if (const macro::MacroNamedItem* items = macro.NamedItems()) {
    for (uint32_t i = 0; i < header.NamedItemCount && i < macro::kMaxNamedItems; ++i) {
      info.named_items.push_back({i, FieldText(items[i].Name, sizeof items[i].Name)});
    }
  }
  const macro::MacroCommand* commands = macro.Commands();
  for (uint32_t i = 0; commands != nullptr && i < header.CommandCount; ++i) {
    const macro::MacroCommand command = commands[i];
    MacroCommandInfo entry;
    entry.index = i;
    entry.code = command.Code;
    entry.param_id = command.ParamId;
    entry.disabled = (command.Flags & macro::kCommandDisabled) != 0;
    if (const plat::ByteView record = macro::CFile_Macro::FindParamRecord(command.ParamId, macro.ParamView());
        !record.empty()) {
      entry.payload_size = macro::ParamRecordSize(record);
    }
    info.commands.push_back(entry);
  }
  return info;
}

std::string MacroInfoText(const MacroInfo& info) {
  std::string out;
  Line(out, "file:", info.file);
  Line(out, "macro name:", info.name);
  Line(out, "version:", std::to_string(info.version));
  Line(out, "file flags:", Hex(info.file_flags, 2));
  Line(out, "packed:", YesNo(info.packed));
  Line(out, "scrambled:", YesNo(info.scrambled));
  Line(out, "protected:", YesNo(info.protected_by_password));
  Line(out, "password set:", YesNo(info.password_set));
  Line(out, "named items:", std::to_string(info.named_item_count));
  Line(out, "commands:", std::to_string(info.command_count));
  Line(out, "parameter block:", std::to_string(info.param_block_size) + " bytes");
  Line(out, "total size:", std::to_string(info.total_size) + " bytes");
  Line(out, "command block at:", std::to_string(info.command_block_offset));
  Line(out, "parameter block at:", std::to_string(info.param_block_offset));
  Line(out, "saved:", FormatUtcStamp(info.save_stamp));
  Line(out, "written:", FormatUtcStamp(info.write_stamp));
  Line(out, "emulation level:", std::to_string(info.emulation_level));
  Line(out, "play speed:", std::to_string(info.play_speed));
  Line(out, "progress mode:", ModeText(info.progress_mode));
  Line(out, "dodge mouse mode:", ModeText(info.dodge_mouse_mode));

  if (!info.named_items.empty()) out += "\nnamed items:\n";
  for (const MacroNamedItemInfo& item : info.named_items) {
    out += "  " + std::to_string(item.index) + "  " + item.name + "\n";
  }
  if (!info.commands.empty()) out += "\ncommands:\n";
  for (const MacroCommandInfo& command : info.commands) {
    out += "  " + std::to_string(command.index) + "  code=" + Hex(command.code, 4) +
           "  param=" + std::to_string(command.param_id) + "  disabled=" + YesNo(command.disabled) +
           "  payload=" + (command.payload_size ? std::to_string(*command.payload_size) : std::string("-")) + "\n";
  }
  return out;
}

std::string MacroInfoJson(const MacroInfo& info) {
  // Keys in the order a reader expects them, not sorted.
  using json = nlohmann::ordered_json;
  json named_items = json::array();
  for (const MacroNamedItemInfo& item : info.named_items) {
    named_items.push_back({{"index", item.index}, {"name", item.name}});
  }
  json commands = json::array();
  for (const MacroCommandInfo& command : info.commands) {
    commands.push_back({{"index", command.index},
                        {"code", command.code},
                        {"param_id", command.param_id},
                        {"disabled", command.disabled},
                        {"payload_size", command.payload_size ? json(*command.payload_size) : json(nullptr)}});
  }
  const json object = {
      {"file", info.file},
      {"name", info.name},
      {"version", info.version},
      {"file_flags", info.file_flags},
      {"packed", info.packed},
      {"scrambled", info.scrambled},
      {"protected", info.protected_by_password},
      {"password_set", info.password_set},
      {"named_item_count", info.named_item_count},
      {"command_count", info.command_count},
      {"param_block_size", info.param_block_size},
      {"total_size", info.total_size},
      {"command_block_offset", info.command_block_offset},
      {"param_block_offset", info.param_block_offset},
      {"save_stamp", info.save_stamp},
      {"saved", FormatUtcStamp(info.save_stamp)},
      {"write_stamp", info.write_stamp},
      {"written", FormatUtcStamp(info.write_stamp)},
      {"emulation_level", info.emulation_level},
      {"play_speed", info.play_speed},
      {"progress_mode", info.progress_mode},
      {"dodge_mouse_mode", info.dodge_mouse_mode},
      {"named_items", std::move(named_items)},
      {"commands", std::move(commands)},
  };
  // A file name from the command line need not be valid UTF-8; it must not make the
  // output fail.
  return object.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace cli
