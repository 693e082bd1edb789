// Builds a macro file from parts in memory: header values, named items, commands with
// their parameter records, a password, packed or plain, and attachments. `brankel macro
// new` writes scripts with it, and the tests build their macro files with it, byte by
// byte, without going through the reader or the rewriting writer they test.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "macro/attachments.h"
#include "macro/macro_format.h"

namespace macro {

// Call commands and where their payload keeps the kind and the called macro's name.
inline constexpr uint16_t kCallMacro = 0x6105;  // kind at payload byte 1, name at byte 8
inline constexpr uint16_t kRunMacro = 0x6605;   // kind at payload byte 0, name at byte 258
inline constexpr uint8_t kByLibraryName = 0;    // a name in the data folder
inline constexpr uint8_t kByPath = 1;
inline constexpr size_t CallKindOffset(uint16_t code) { return code == kCallMacro ? 1 : 0; }
inline constexpr size_t CallNameOffset(uint16_t code) { return code == kCallMacro ? 8 : 258; }
// A file name field in a record: 260 units with the terminator.
inline constexpr size_t kNameFieldUnits = 260;

// The payload of a call command: `fill` everywhere but the kind and the name with its
// terminator, and six bytes after it.
std::vector<uint8_t> CallPayload(uint16_t code, uint8_t kind, std::u16string_view name, uint8_t fill = 0);
// A payload holding `text` with its terminator at `offset`, `fill` before it.
std::vector<uint8_t> TextAt(size_t offset, std::u16string_view text, uint8_t fill = 0);

// One 1920-byte attachment item naming `stream`, its other bytes `fill`.
std::string AttachmentItemBytes(std::u16string_view stream, std::u16string_view extension, uint8_t fill = 0);
// The attachments area: head, items, compound file.
std::string AttachmentArea(const std::vector<std::string>& items, const std::vector<uint8_t>& compound,
                           uint32_t magic = kAttachmentsMagic);
// A macro file's bytes with the flag that says an attachments area follows.
std::string WithAttachmentsFlag(std::string macro);

class MacroBuilder {
 public:
  MacroBuilder& Name(std::u16string_view name);
  MacroBuilder& Version(uint16_t version);
  MacroBuilder& EditorText(std::u16string_view text);
  MacroBuilder& VariableValues(std::u16string_view text);
  MacroBuilder& EmulationLevel(uint8_t level);
  MacroBuilder& PlaySpeed(int8_t speed);
  MacroBuilder& ProgressMode(uint8_t mode);
  MacroBuilder& DodgeMouseMode(uint8_t mode);
  MacroBuilder& Password(std::u16string_view password, bool protect = true);
  MacroBuilder& Packed(bool packed = true);
  MacroBuilder& Stamp(int32_t save_stamp);
  // A command whose record is `param_id` (kNoParamId for none).
  MacroBuilder& Command(uint16_t code, uint16_t param_id = kNoParamId, uint16_t flags = 0);
  MacroBuilder& Param(uint16_t id, std::vector<uint8_t> payload);
  // A record whose payload is UTF-16 text with its terminator, as commands name files.
  MacroBuilder& ParamText(uint16_t id, std::u16string_view text);
  MacroBuilder& NamedItem(std::u16string_view name, uint8_t kinds = 0x10);
  // Ends the stored parameter block with the terminator record, as some writers do.
  MacroBuilder& WithTerminator(bool on = true);
  // An attachment: a stream of the attachments' compound file and its item.
  MacroBuilder& Attach(std::u16string_view stream, std::u16string_view extension, std::string bytes);

  // The blocks in their plain form.
  std::vector<uint8_t> CommandBlock() const;
  std::vector<uint8_t> ParamBlock() const;
  std::vector<uint8_t> NamedItemBlock() const;
  // The header with counts and the plain password, as a reader holds it after Open.
  MacroFileHeader Header() const;
  // The whole file as stored, with the attachments area when there are attachments;
  // empty when the attachments cannot be stored (a bad or repeated stream name).
  std::string Bytes() const;
  bool WriteTo(std::u16string_view path) const;

  const std::vector<MacroCommand>& Commands() const { return commands_; }
  const std::vector<MacroNamedItem>& NamedItems() const { return named_items_; }

 private:
  struct Attachment {
    std::u16string stream;
    std::u16string extension;
    std::string bytes;
  };

  std::u16string name_ = u"Macro";  // the packager takes the EXE's name from it, so never empty by default
  std::u16string editor_text_;
  std::u16string variable_values_;
  std::u16string password_;
  uint16_t version_ = kMacroVersion;
  uint8_t emulation_level_ = 0x32;
  int8_t play_speed_ = -3;
  uint8_t progress_mode_ = 0;
  uint8_t dodge_mouse_mode_ = 0;
  bool protect_ = false;
  bool packed_ = false;
  bool terminator_ = false;
  int32_t stamp_ = 0x12345678;
  std::vector<MacroCommand> commands_;
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> params_;
  std::vector<MacroNamedItem> named_items_;
  std::vector<Attachment> attachments_;
};

// A parameter record's bytes: head and payload.
std::vector<uint8_t> ParamRecordBytes(uint16_t id, const std::vector<uint8_t>& payload);

}  // namespace macro
