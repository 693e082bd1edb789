#include "support/legacy_builder.h"

#include <algorithm>
#include <cstring>

namespace brankel_test {
namespace {

void Put16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) {
  bytes[offset] = static_cast<uint8_t>(value);
  bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A text cut to leave its field's terminator.
void PutField(std::vector<uint8_t>& bytes, size_t offset, size_t field, std::string_view text) {
  const size_t length = std::min(text.size(), field - 1);
  std::memcpy(bytes.data() + offset, text.data(), length);
}

std::vector<uint8_t> CommandBytes(const std::vector<LegacyCommand>& commands) {
  std::vector<uint8_t> bytes(commands.size() * macro::kCommand259Size);
  for (size_t i = 0; i < commands.size(); ++i) {
    const LegacyCommand& command = commands[i];
    const size_t at = i * macro::kCommand259Size;
    const uint16_t first =
        static_cast<uint16_t>((command.disabled ? 1 : 0) | (command.flag ? 2 : 0) | (((command.code >> 8) & 3) << 2) |
                              ((command.four_bit & 15) << 4) | ((command.code & 0xFF) << 8));
    Put16(bytes, at, first);
    Put16(bytes, at + 2, command.param_id);
    Put16(bytes, at + 4, command.number);
    Put16(bytes, at + 6, command.two_bit & 3);
    for (int d = 0; d < 3; ++d) Put32(bytes, at + 8 + 4 * d, command.data[d]);
  }
  return bytes;
}

std::vector<uint8_t> RecordBytes(const std::vector<LegacyRecord>& records) {
  std::vector<uint8_t> bytes;
  for (const LegacyRecord& record : records) {
    const size_t at = bytes.size();
    bytes.resize(at + 4 + record.payload.size());
    const uint32_t size = static_cast<uint32_t>(record.payload.size());
    Put16(bytes, at, static_cast<uint16_t>(size));
    Put16(bytes, at + 2, static_cast<uint16_t>((record.id & 0x3FFF) | ((size >> 16) << 14)));
    if (!record.payload.empty()) std::memcpy(bytes.data() + at + 4, record.payload.data(), record.payload.size());
  }
  return bytes;
}

}  // namespace

void PutAnsi(std::vector<uint8_t>& payload, size_t offset, std::string_view text) {
  if (payload.size() < offset + text.size() + 1) payload.resize(offset + text.size() + 1);
  std::memcpy(payload.data() + offset, text.data(), text.size());
  payload[offset + text.size()] = 0;
}

std::vector<uint8_t> AnsiPayload(size_t size, std::initializer_list<std::pair<size_t, std::string_view>> texts) {
  std::vector<uint8_t> payload(size);
  for (const auto& [offset, text] : texts) PutAnsi(payload, offset, text);
  return payload;
}

std::vector<uint8_t> BuildLegacyMacro(const LegacyMacro& macro) {
  const bool v258 = macro.version == macro::kVersion258;
  std::vector<uint8_t> commands = CommandBytes(macro.commands);
  std::vector<uint8_t> params = RecordBytes(macro.records);
  const std::string key = macro.password.substr(0, 31);
  // A version-258 file keeps its blocks plain under the flag: the upgrade scrambles them
  // on the way to version 259.
  if (macro.scrambled && !v258) {
    macro::ScrambleBlock(plat::MutableByteView(commands), key);
    macro::ScrambleBlock(plat::MutableByteView(params), key);
  }
  const size_t header_size = v258 ? macro::kHeader258Size : macro::kHeader259Size;
  const size_t item_size = v258 ? macro::kNamedItem258Size : macro::kNamedItem259Size;
  const size_t records_at = v258 ? header_size + macro::kDropped258Size + 256 * item_size : macro::kRecords259Offset;
  std::vector<uint8_t> file(records_at + commands.size() + params.size());

  std::memcpy(file.data(), "VL_MA", 5);
  Put16(file, 8, macro.version);
  const size_t count =
      macro.named_item_count >= 0 ? static_cast<size_t>(macro.named_item_count) : macro.named_items.size();
  Put16(file, 12, static_cast<uint16_t>(count));
  file[14] = macro.scrambled ? 1 : 0;
  Put32(file, 16, static_cast<uint32_t>(macro.commands.size()));
  Put32(file, 20, static_cast<uint32_t>(params.size()));
  Put32(file, 28, static_cast<uint32_t>(records_at));
  file[34] = macro.emulation_level;
  Put32(file, 36, static_cast<uint32_t>(macro.save_stamp));
  if (v258) {
    PutField(file, 44, 128, macro.name);
    PutField(file, 172, 260, macro.editor_text);
    PutField(file, 432, 32, key);
    file[464] = macro.option_flags;
    PutField(file, 465, 260, macro.variable_values);
    file[740] = static_cast<uint8_t>(macro.play_speed);
    PutField(file, 746, 260, macro.path);
    file[1006] = macro.path_kind;
    file[1032] = macro.progress;
    file[1034] = macro.dodge_mouse;
    PutField(file, 1044, 64, macro.text_1014);
  } else {
    Put32(file, 24, static_cast<uint32_t>(macro.total_size >= 0 ? macro.total_size : int64_t(file.size())));
    PutField(file, 40, 128, macro.name);
    PutField(file, 168, 260, macro.editor_text);
    for (size_t i = 0; i < key.size(); ++i) {
      file[428 + i] = static_cast<uint8_t>(key[i] ^ (static_cast<uint32_t>(macro.save_stamp) >> (8 * (i % 4))));
    }
    file[459] = static_cast<uint8_t>(key.size());
    file[460] = macro.option_flags;
    PutField(file, 461, 260, macro.variable_values);
    file[721] = static_cast<uint8_t>(macro.play_speed);
    file[723] = macro.path_kind;
    PutField(file, 725, 260, macro.path);
    file[1004] = macro.progress;
    file[1005] = macro.dodge_mouse;
    PutField(file, 1014, 64, macro.text_1014);
    PutField(file, 1078, 64, macro.text_1078);
  }
  const size_t items_at = v258 ? header_size + macro::kDropped258Size : header_size;
  for (size_t i = 0; i < macro.named_items.size() && i < 256; ++i) {
    const LegacyNamedItem& item = macro.named_items[i];
    const size_t at = items_at + i * item_size;
    Put32(file, at, item.first);
    if (v258) {
      PutField(file, at + 4, 64, item.name);
      PutField(file, at + 68, 192, item.text);
    } else {
      PutField(file, at + 8, 32, item.name);
      PutField(file, at + 40, 224, item.text);
    }
  }
  if (!commands.empty()) std::memcpy(file.data() + records_at, commands.data(), commands.size());
  if (!params.empty()) std::memcpy(file.data() + records_at + commands.size(), params.data(), params.size());
  return file;
}

}  // namespace brankel_test
