#include "macro/macro_builder.h"

#include <algorithm>
#include <cstring>

#include "app/res_string.h"
#include "macro/compound_writer.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace macro {

namespace {

void AppendUtf16z(std::vector<uint8_t>& out, std::u16string_view text) {
  plat::ByteWriter writer(out);
  writer.Utf16z(text);
}

void SetText(char16_t* field, size_t units, std::u16string_view text) { plat::SetFixedText(field, units, text); }

}  // namespace

std::vector<uint8_t> CallPayload(uint16_t code, uint8_t kind, std::u16string_view name, uint8_t fill) {
  std::vector<uint8_t> payload(CallNameOffset(code), fill);
  payload[CallKindOffset(code)] = kind;
  AppendUtf16z(payload, name);
  payload.insert(payload.end(), 6, fill);
  return payload;
}

std::vector<uint8_t> TextAt(size_t offset, std::u16string_view text, uint8_t fill) {
  std::vector<uint8_t> payload(offset, fill);
  AppendUtf16z(payload, text);
  return payload;
}

std::string AttachmentItemBytes(std::u16string_view stream, std::u16string_view extension, uint8_t fill) {
  AttachmentItem item;
  std::memset(&item, fill, sizeof item);
  item.Cleared4 = 0;
  item.NameHash = app::KeyHash(plat::ToLower(stream));
  SetText(item.Extension, 32, extension);
  SetText(item.StreamName, 650, stream);
  std::memset(item.Text, 0, sizeof item.Text);
  return std::string(reinterpret_cast<const char*>(&item), sizeof item);
}

std::string AttachmentArea(const std::vector<std::string>& items, const std::vector<uint8_t>& compound,
                           uint32_t magic) {
  std::string table;
  for (const std::string& item : items) table += item;
  std::vector<uint8_t> head;
  plat::ByteWriter writer(head);
  for (uint32_t value : {magic, uint32_t{256}, static_cast<uint32_t>(items.size()),
                         static_cast<uint32_t>(table.size() + compound.size()), static_cast<uint32_t>(table.size())}) {
    writer.U32(value);
  }
  return std::string(head.begin(), head.end()) + table + std::string(compound.begin(), compound.end());
}

std::string WithAttachmentsFlag(std::string macro) {
  constexpr size_t kAt = offsetof(MacroFileHeader, FileFlags);
  if (macro.size() > kAt) macro[kAt] = static_cast<char>(macro[kAt] | kFileFlagAttachments);
  return macro;
}

MacroBuilder& MacroBuilder::Name(std::u16string_view name) {
  name_ = name;
  return *this;
}
MacroBuilder& MacroBuilder::Version(uint16_t version) {
  version_ = version;
  return *this;
}
MacroBuilder& MacroBuilder::EditorText(std::u16string_view text) {
  editor_text_ = text;
  return *this;
}
MacroBuilder& MacroBuilder::VariableValues(std::u16string_view text) {
  variable_values_ = text;
  return *this;
}
MacroBuilder& MacroBuilder::EmulationLevel(uint8_t level) {
  emulation_level_ = level;
  return *this;
}
MacroBuilder& MacroBuilder::PlaySpeed(int8_t speed) {
  play_speed_ = speed;
  return *this;
}
MacroBuilder& MacroBuilder::ProgressMode(uint8_t mode) {
  progress_mode_ = mode;
  return *this;
}
MacroBuilder& MacroBuilder::DodgeMouseMode(uint8_t mode) {
  dodge_mouse_mode_ = mode;
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
  command.Flags = flags;
  commands_.push_back(command);
  return *this;
}

MacroBuilder& MacroBuilder::Param(uint16_t id, std::vector<uint8_t> payload) {
  params_.emplace_back(id, std::move(payload));
  return *this;
}

MacroBuilder& MacroBuilder::ParamText(uint16_t id, std::u16string_view text) { return Param(id, TextAt(0, text)); }

MacroBuilder& MacroBuilder::NamedItem(std::u16string_view name, uint8_t kinds) {
  MacroNamedItem item{};
  item.Kinds5 = kinds;
  item.Editor0 = 7;
  SetText(item.Name, 64, name);
  named_items_.push_back(item);
  return *this;
}

MacroBuilder& MacroBuilder::Attach(std::u16string_view stream, std::u16string_view extension, std::string bytes) {
  attachments_.push_back({std::u16string(stream), std::u16string(extension), std::move(bytes)});
  return *this;
}

std::vector<uint8_t> ParamRecordBytes(uint16_t id, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> record(kParamHeadSize + payload.size());
  SetParamRecordHead(plat::MutableByteView(record), id, static_cast<uint32_t>(payload.size()));
  std::copy(payload.begin(), payload.end(), record.begin() + kParamHeadSize);
  return record;
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
    uint8_t terminator[kParamTerminatorSize];
    WriteParamTerminator(plat::MutableByteView(terminator, sizeof terminator));
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
  SetMacroMagic(header);
  header.Version = version_;
  header.NamedItemCount = static_cast<uint16_t>(named_items_.size());
  header.Packed = packed_ ? 1 : 0;
  header.ProtectFlags = protect_ ? kProtectWithPassword : 0;
  header.Scrambled = protect_ && !password_.empty() ? 1 : 0;
  header.CommandCount = static_cast<uint32_t>(commands_.size());
  header.ParamBlockSize = static_cast<uint32_t>(ParamBlock().size());
  header.SaveStamp = stamp_;
  header.WriteStamp = stamp_;
  header.EmulationLevel = emulation_level_;
  header.PlaySpeed = play_speed_;
  header.ProgressMode = progress_mode_;
  header.DodgeMouseMode = dodge_mouse_mode_;
  SetText(header.MacroName, 128, name_);
  SetText(header.EditorText, 260, editor_text_);
  SetText(header.VariableValues, 520, variable_values_);
  SetHeaderPassword(header, password_);
  return header;
}

std::string MacroBuilder::Bytes() const {
  MacroFileHeader header = Header();
  const std::string key = plat::WideToAnsi(password_);
  std::string body;
  // Stores one block; returns the length field as the header counts it.
  const auto store = [&](std::vector<uint8_t> block, bool scramble) {
    if (packed_) block = PackBlock(plat::ByteView(block));
    if (scramble && header.Scrambled) ScrambleBlock(plat::MutableByteView(block), key);
    if (packed_) {
      std::vector<uint8_t> length;
      plat::ByteWriter(length).U32(static_cast<uint32_t>(block.size()));
      body.append(length.begin(), length.end());
    }
    body.append(block.begin(), block.end());
    return static_cast<uint32_t>(block.size());
  };
  if (!named_items_.empty()) store(NamedItemBlock(), false);
  if (!commands_.empty()) {
    header.CommandBlockOffset = static_cast<uint32_t>(kHeaderSize + body.size());
    store(CommandBlock(), true);
  }
  header.ParamBlockOffset = static_cast<uint32_t>(kHeaderSize + body.size());
  if (header.ParamBlockSize != 0) header.ParamBlockSize = store(ParamBlock(), true);
  header.TotalSize = static_cast<uint32_t>(kHeaderSize + body.size());
  if (!attachments_.empty()) header.FileFlags |= kFileFlagAttachments;
  ScramblePasswordField(header);
  std::string bytes = std::string(reinterpret_cast<const char*>(&header), sizeof header) + body;
  if (attachments_.empty()) return bytes;
  CompoundBuilder compound;
  std::vector<std::string> items;
  for (const Attachment& a : attachments_) {
    compound.AddStream(a.stream, std::string_view(a.bytes));
    items.push_back(AttachmentItemBytes(a.stream, a.extension));
  }
  if (!compound.Ok()) return {};
  return bytes + AttachmentArea(items, compound.Build());
}

bool MacroBuilder::WriteTo(std::u16string_view path) const {
  const std::string bytes = Bytes();
  return !bytes.empty() && plat::WriteWholeFile(path, bytes);
}

}  // namespace macro
