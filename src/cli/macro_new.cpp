#include "cli/macro_new.h"

// The description, one JSON object (every key optional; unknown keys are refused so a
// typing error is not silently a different macro):
//   name ("Macro"), editor_text, variables, password: texts of the header; version (512),
//   save_stamp, emulation_level, play_speed, progress_mode, dodge_mouse_mode: numbers (0);
//   packed: true or false;
//   named_items: [ "name" or {"name": ..., "kinds": 0x10} ];
//   commands: [ {"code": "0x230A" or a name, "disabled": bool, "size": payload bytes,
//                "texts": [ {"offset": 0, "text": "pics\\a.bmp"} ]}
//               or {"code": "call" or "run-macro", "call": "sub\\Greet.msd", "kind": 1} ];
//   attachments: [ {"name": "Embedded.msd", "from": "file"} or {"name": ..., "macro": {...}} ].
// A record is as long as its texts need (each with a full 260-unit name field) unless
// "size" says otherwise; a text must fit its record and its field.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "macro/compound_writer.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace cli {

const char* const kMacroDescriptionHelp = R"(DESCRIPTION is one JSON object; every key is optional:
  "name", "editor_text", "variables", "password"    header texts
  "version" (512), "save_stamp", "emulation_level", "play_speed",
  "progress_mode", "dodge_mouse_mode"                header numbers
  "packed": true                                     store the blocks packed
  "named_items": ["count", {"name": "x", "kinds": 16}]
  "commands": [
    {"code": "0x230A", "texts": [{"offset": 0, "text": "docs\\readme.txt"}]},
    {"code": "0x2301", "disabled": true, "size": 600, "texts": [...]},
    {"code": "call", "call": "sub\\Greet.msd", "kind": 1}]
  "attachments": [
    {"name": "notes.txt", "from": "notes.txt"},
    {"name": "Embedded.msd", "macro": { ...a description like this one... }}]
Codes are hex ("0x4201") or one of: call (0x6105), run-macro (0x6605), open-file
(0x230A). A call's kind is 0 for a macro in the data folder, 1 for a path (default).
A text's offset counts payload bytes; a record is as long as its texts need, each with
a 260-character field, unless "size" gives its payload bytes. "from" is read relative
to DESCRIPTION's folder. Exit codes: 0 written, 1 a file could not be read or written, 2 the
description was refused. OUT's folder is made when missing; OUT is replaced only
by a whole file.)";

namespace {

using nlohmann::json;

constexpr int kMaxNesting = 8;
constexpr uint16_t kMaxParamId = 0x3FFF;
constexpr uint64_t kMaxSpecBytes = 16u << 20;
// Far beyond what a script needs; keeps the whole file well inside 32-bit sizes and memory.
constexpr uint64_t kMaxRecordBytes = 64u << 20;
// The area's sizes are 32-bit fields; this leaves room for the table and the container.
constexpr uint64_t kMaxAttachedBytes = 1u << 30;

struct CodeName {
  const char* name;
  uint16_t code;
};
constexpr CodeName kCodeNames[] = {{"call", macro::kCallMacro}, {"run-macro", macro::kRunMacro}, {"open-file", 0x230A}};

// Reads one description; the first refusal ends it, naming where it was found.
class DescriptionReader {
 public:
  DescriptionReader(std::u16string_view folder, std::string& error) : folder_(folder), error_(error) {}

  bool Macro(const json& description, const std::string& where, int depth, macro::MacroBuilder& builder) {
    if (depth > kMaxNesting) return Fail(where, "embedded macros nest too deep");
    if (!description.is_object()) return Fail(where, "must be a JSON object");
    if (!OnlyKeys(
            description, where,
            {"name", "editor_text", "variables", "password", "version", "save_stamp", "emulation_level", "play_speed",
             "progress_mode", "dodge_mouse_mode", "packed", "named_items", "commands", "attachments"})) {
      return false;
    }
    std::u16string text;
    int64_t number = 0;
    if (Text(description, "name", where, 127, text)) builder.Name(text);
    if (Text(description, "editor_text", where, 259, text)) builder.EditorText(text);
    if (Text(description, "variables", where, 519, text)) builder.VariableValues(text);
    if (Text(description, "password", where, macro::kMaxPasswordLength, text)) builder.Password(text);
    if (Number(description, "version", where, 0, UINT16_MAX, number)) builder.Version(static_cast<uint16_t>(number));
    if (Number(description, "save_stamp", where, INT32_MIN, INT32_MAX, number))
      builder.Stamp(static_cast<int32_t>(number));
    if (Number(description, "emulation_level", where, 0, UINT8_MAX, number)) {
      builder.EmulationLevel(static_cast<uint8_t>(number));
    }
    if (Number(description, "play_speed", where, INT8_MIN, INT8_MAX, number))
      builder.PlaySpeed(static_cast<int8_t>(number));
    if (Number(description, "progress_mode", where, 0, UINT8_MAX, number))
      builder.ProgressMode(static_cast<uint8_t>(number));
    if (Number(description, "dodge_mouse_mode", where, 0, UINT8_MAX, number)) {
      builder.DodgeMouseMode(static_cast<uint8_t>(number));
    }
    if (description.contains("packed")) {
      if (!description["packed"].is_boolean()) return Fail(where + ".packed", "must be true or false");
      builder.Packed(description["packed"].get<bool>());
    }
    if (!error_.empty()) return false;
    return NamedItems(description, where, builder) && Commands(description, where, builder) &&
           Attachments(description, where, depth, builder);
  }

 private:
  bool Fail(const std::string& where, const std::string& why) {
    if (error_.empty()) error_ = (where.empty() ? std::string() : where + ": ") + why;
    return false;
  }

  bool OnlyKeys(const json& object, const std::string& where, std::initializer_list<const char*> keys) {
    for (const auto& item : object.items()) {
      const std::string& key = item.key();
      if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return key == k; })) {
        return Fail(where, "unknown key \"" + key + "\"");
      }
    }
    return true;
  }

  static std::string Join(const std::string& where, const std::string& key) {
    return where.empty() ? key : where + "." + key;
  }

  // True when `key` is there and is a text of at most `max_units` UTF-16 units.
  bool Text(const json& object, const char* key, const std::string& where, size_t max_units, std::u16string& out) {
    if (!object.contains(key)) return false;
    if (!object[key].is_string()) return Fail(Join(where, key), "must be a text");
    out = plat::Utf8ToUtf16(object[key].get<std::string>());
    if (out.size() > max_units) {
      return Fail(Join(where, key), "is too long (at most " + std::to_string(max_units) + " characters)");
    }
    return true;
  }

  // True when `key` is there and is a whole number from `low` to `high`.
  bool Number(const json& object, const char* key, const std::string& where, int64_t low, int64_t high, int64_t& out) {
    if (!object.contains(key)) return false;
    const json& value = object[key];
    const bool whole = value.is_number_integer() &&
                       (!value.is_number_unsigned() || value.get<uint64_t>() <= static_cast<uint64_t>(INT64_MAX));
    if (!whole || value.get<int64_t>() < low || value.get<int64_t>() > high) {
      return Fail(Join(where, key),
                  "must be a whole number from " + std::to_string(low) + " to " + std::to_string(high));
    }
    out = value.get<int64_t>();
    return true;
  }

  const json* List(const json& object, const char* key, const std::string& where) {
    if (!object.contains(key)) return nullptr;
    if (!object[key].is_array()) {
      Fail(Join(where, key), "must be a list");
      return nullptr;
    }
    return &object[key];
  }

  bool NamedItems(const json& description, const std::string& where, macro::MacroBuilder& builder) {
    const json* items = List(description, "named_items", where);
    if (items == nullptr) return error_.empty();
    if (items->size() > macro::kMaxNamedItems) {
      return Fail(Join(where, "named_items"), "more than " + std::to_string(macro::kMaxNamedItems) + " items");
    }
    for (size_t i = 0; i < items->size(); ++i) {
      const std::string at = Join(where, "named_items[" + std::to_string(i) + "]");
      const json& item = (*items)[i];
      json object = item.is_string() ? json{{"name", item}} : item;
      if (!object.is_object()) return Fail(at, "must be a name or an object");
      if (!OnlyKeys(object, at, {"name", "kinds"})) return false;
      std::u16string name;
      int64_t kinds = 0x10;
      if (!Text(object, "name", at, 63, name)) return Fail(at, "needs a \"name\"");
      Number(object, "kinds", at, 0x10, 0xEF, kinds);
      if (!error_.empty()) return false;
      builder.NamedItem(name, static_cast<uint8_t>(kinds));
    }
    return true;
  }

  bool Code(const json& command, const std::string& at, uint16_t& code) {
    if (!command.contains("code")) {
      if (command.contains("call")) return code = macro::kCallMacro, true;
      return Fail(at, "needs a \"code\"");
    }
    if (!command["code"].is_string()) return Fail(at + ".code", "must be a text");
    const std::string name = command["code"].get<std::string>();
    for (const CodeName& known : kCodeNames) {
      if (name == known.name) return code = known.code, true;
    }
    const bool hex = name.size() > 2 && name.size() <= 6 && name[0] == '0' && (name[1] == 'x' || name[1] == 'X') &&
                     name.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
    if (!hex) {
      std::string names;
      for (const CodeName& known : kCodeNames) names += std::string(names.empty() ? "" : ", ") + known.name;
      return Fail(at + ".code",
                  "unknown code \"" + name + "\" (give it in hex, like \"0x230A\", or as one of: " + names + ")");
    }
    code = static_cast<uint16_t>(std::stoul(name.substr(2), nullptr, 16));
    return true;
  }

  // A text with its terminator at `offset` in a payload of `size` bytes, in a field of at
  // most 260 units.
  bool PlaceText(std::vector<uint8_t>& payload, int64_t offset, std::u16string_view text, const std::string& at) {
    const uint64_t size = payload.size();
    if (static_cast<uint64_t>(offset) + 2 > size) {
      return Fail(at, "offset " + std::to_string(offset) + " lies past the " + std::to_string(size) + "-byte record");
    }
    const size_t room = std::min<uint64_t>(macro::kNameFieldUnits, (size - static_cast<uint64_t>(offset)) / 2);
    if (text.size() + 1 > room) {
      return Fail(at, "text is too long for its field (at most " + std::to_string(room - 1) + " characters)");
    }
    plat::MutableByteView(payload).PutUtf16z(static_cast<uint64_t>(offset), text, room);
    return true;
  }

  bool Commands(const json& description, const std::string& where, macro::MacroBuilder& builder) {
    const json* commands = List(description, "commands", where);
    if (commands == nullptr) return error_.empty();
    uint16_t next_id = 1;
    for (size_t i = 0; i < commands->size(); ++i) {
      const std::string at = Join(where, "commands[" + std::to_string(i) + "]");
      const json& command = (*commands)[i];
      if (!command.is_object()) return Fail(at, "must be an object");
      if (!OnlyKeys(command, at, {"code", "disabled", "size", "texts", "call", "kind"})) return false;
      uint16_t code = 0;
      if (!Code(command, at, code)) return false;
      uint16_t flags = 0;
      if (command.contains("disabled")) {
        if (!command["disabled"].is_boolean()) return Fail(at + ".disabled", "must be true or false");
        if (command["disabled"].get<bool>()) flags |= macro::kCommandDisabled;
      }
      const bool call = command.contains("call");
      if (call && code != macro::kCallMacro && code != macro::kRunMacro) {
        return Fail(at, "only codes 0x6105 and 0x6605 call a macro");
      }
      if (call && command.contains("texts")) return Fail(at, "a call has no \"texts\"");
      if (!call && command.contains("kind")) return Fail(at, "\"kind\" belongs to a call");
      const json* texts = call ? nullptr : List(command, "texts", at);
      if (!error_.empty()) return false;

      // The record's length: as asked, or what its texts need.
      uint64_t size = 0;
      int64_t asked = 0;
      const bool sized = Number(command, "size", at, 0, macro::kMaxParamPayload, asked);
      if (!error_.empty()) return false;
      std::vector<std::pair<int64_t, std::u16string>> placed;
      if (call) {
        size = macro::CallNameOffset(code) + 2 * macro::kNameFieldUnits;
      }
      for (size_t t = 0; texts != nullptr && t < texts->size(); ++t) {
        const std::string text_at = at + ".texts[" + std::to_string(t) + "]";
        const json& field = (*texts)[t];
        if (!field.is_object()) return Fail(text_at, "must be an object");
        if (!OnlyKeys(field, text_at, {"offset", "text"})) return false;
        int64_t offset = 0;
        std::u16string text;
        if (!Number(field, "offset", text_at, 0, macro::kMaxParamPayload, offset) ||
            !Text(field, "text", text_at, SIZE_MAX, text)) {
          return Fail(text_at, "needs an \"offset\" and a \"text\"");
        }
        size = std::max<uint64_t>(size, static_cast<uint64_t>(offset) + 2 * macro::kNameFieldUnits);
        placed.emplace_back(offset, std::move(text));
      }
      if (sized) size = static_cast<uint64_t>(asked);
      size = std::min<uint64_t>(size, macro::kMaxParamPayload);
      if (!call && !sized && placed.empty()) {
        builder.Command(code, macro::kNoParamId, flags);
        continue;
      }
      if (next_id > kMaxParamId) return Fail(at, "too many commands with records");
      record_bytes_ += macro::kParamHeadSize + size;
      if (record_bytes_ > kMaxRecordBytes) return Fail(at, "the records together pass 64 MiB");
      std::vector<uint8_t> payload(static_cast<size_t>(size), 0);
      for (const auto& [offset, text] : placed) {
        if (!PlaceText(payload, offset, text, at)) return false;
      }
      if (call) {
        std::u16string name;
        int64_t kind = macro::kByPath;
        if (!Text(command, "call", at, SIZE_MAX, name)) return false;
        Number(command, "kind", at, 0, UINT8_MAX, kind);
        if (!error_.empty()) return false;
        if (!plat::MutableByteView(payload).Put8(macro::CallKindOffset(code), static_cast<uint8_t>(kind))) {
          return Fail(at, "the record is too short for the call's kind");
        }
        if (!PlaceText(payload, static_cast<int64_t>(macro::CallNameOffset(code)), name, at + ".call")) return false;
      }
      builder.Command(code, next_id, flags).Param(next_id, std::move(payload));
      ++next_id;
    }
    return true;
  }

  std::u16string Resolve(const std::string& name) const {
    std::u16string path = plat::Utf8ToUtf16(name);
    std::replace(path.begin(), path.end(), u'/', u'\\');
    const bool absolute = (!path.empty() && path[0] == u'\\') || (path.size() > 1 && path[1] == u':');
    return absolute ? plat::PathFromHost(name) : plat::GetFullPathName(folder_ + u"\\" + path);
  }

  bool Attachments(const json& description, const std::string& where, int depth, macro::MacroBuilder& builder) {
    const json* attachments = List(description, "attachments", where);
    if (attachments == nullptr) return error_.empty();
    macro::CompoundBuilder names;  // refuses the names the container cannot hold, as the real one will
    for (size_t i = 0; i < attachments->size(); ++i) {
      const std::string at = Join(where, "attachments[" + std::to_string(i) + "]");
      const json& attachment = (*attachments)[i];
      if (!attachment.is_object()) return Fail(at, "must be an object");
      if (!OnlyKeys(attachment, at, {"name", "extension", "from", "macro"})) return false;
      std::u16string name;
      if (!Text(attachment, "name", at, 31, name)) return Fail(at, "needs a \"name\"");
      names.AddStream(name, std::string_view());
      if (!names.Ok()) return Fail(at, names.Problem());
      std::u16string extension;
      if (!Text(attachment, "extension", at, 31, extension)) {
        const size_t dot = name.rfind(u'.');
        extension = dot == std::u16string::npos ? std::u16string() : name.substr(dot);
      }
      if (!error_.empty()) return false;
      if (attachment.contains("from") == attachment.contains("macro")) {
        return Fail(at, "needs either \"from\" or \"macro\"");
      }
      std::string bytes;
      if (attachment.contains("from")) {
        if (!attachment["from"].is_string()) return Fail(at + ".from", "must be a text");
        const std::u16string path = Resolve(attachment["from"].get<std::string>());
        std::optional<std::string> read = plat::ReadWholeFile(path);
        if (!read) return Fail(at + ".from", "cannot read " + plat::Utf16ToUtf8(path));
        bytes = std::move(*read);
      } else {
        macro::MacroBuilder embedded;
        embedded.Stamp(0).EmulationLevel(0).PlaySpeed(0);
        if (!Macro(attachment["macro"], at + ".macro", depth + 1, embedded)) return false;
        bytes = embedded.Bytes();
        if (bytes.empty()) return Fail(at + ".macro", "its attachments cannot be stored");
      }
      attached_bytes_ += bytes.size();
      if (attached_bytes_ > kMaxAttachedBytes) return Fail(at, "the attachments together pass 1 GiB");
      builder.Attach(name, extension, std::move(bytes));
    }
    return true;
  }

  std::u16string folder_;
  std::string& error_;
  uint64_t record_bytes_ = 0;    // of this macro and the macros it embeds
  uint64_t attached_bytes_ = 0;  // the same for attachments
};

std::u16string FolderOf(std::u16string_view path) {
  const size_t slash = path.rfind(u'\\');
  return std::u16string(path.substr(0, slash == std::u16string_view::npos ? 0 : slash));
}

// Makes `folder` and the folders above it that are missing, as a build script expects of
// an output folder.
void MakeFolders(const std::u16string& folder, int depth = 0) {
  if (folder.empty() || folder.back() == u':' || plat::FileExists(folder) || depth > 64) return;
  MakeFolders(FolderOf(folder), depth + 1);
  plat::CreateDirectory(folder);
}

}  // namespace

bool BuildMacroFromDescription(std::string_view json_text, std::u16string_view folder, macro::MacroBuilder& builder,
                               std::string& error) {
  error.clear();
  json description;
  try {
    description = json::parse(json_text);
  } catch (const json::parse_error& bad) {
    error = std::string("bad JSON: ") + bad.what();
    return false;
  }
  // Neutral header values for what the description leaves out; the same text gives the
  // same bytes on every run.
  builder.Stamp(0).EmulationLevel(0).PlaySpeed(0);
  DescriptionReader reader(folder, error);
  return reader.Macro(description, "", 0, builder);
}

int NewMacro(const std::string& description, const std::string& out, const Streams& io) {
  const std::u16string description_path = plat::PathFromHost(description);
  const std::optional<std::string> text = plat::ReadWholeFile(description_path, kMaxSpecBytes);
  if (!text) {
    std::fprintf(io.err, "brankel: %s: cannot read the description\n", description.c_str());
    return 1;
  }
  macro::MacroBuilder builder;
  std::string error;
  if (!BuildMacroFromDescription(*text, FolderOf(description_path), builder, error)) {
    std::fprintf(io.err, "brankel: %s: %s\n", description.c_str(), error.c_str());
    return 2;
  }
  const std::string bytes = builder.Bytes();
  if (bytes.empty()) {
    std::fprintf(io.err, "brankel: %s: the attachments cannot be stored\n", description.c_str());
    return 2;
  }
  // Written beside OUT and moved over it, so OUT is the old file or the whole new one.
  const std::u16string target = plat::PathFromHost(out);
  MakeFolders(FolderOf(target));
  const std::u16string staging = plat::GetTempFileName(FolderOf(target), u"~Mn");
  if (staging.empty() || !plat::WriteWholeFile(staging, bytes) || !plat::MoveFile(staging, target, true)) {
    if (!staging.empty()) plat::DeleteFile(staging);
    std::fprintf(io.err, "brankel: %s: cannot write the macro file\n", out.c_str());
    return 1;
  }
  return 0;
}

void AddMacroNewCommand(CLI::App& macro, const Streams& streams, int& result) {
  struct Options {
    std::string description;
    std::string out;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = macro.add_subcommand("new", "Write the macro file OUT from the JSON description DESCRIPTION");
  command->add_option("DESCRIPTION", options->description, "JSON description")->required();
  command->add_option("OUT", options->out, "macro file to write")->required();
  command->footer(kMacroDescriptionHelp);
  command->callback([&result, streams, options] {
    try {
      result = NewMacro(options->description, options->out, streams);
    } catch (const std::exception& error) {
      // Only memory can run out here.
      std::fprintf(streams.err, "brankel: %s: %s\n", options->description.c_str(), error.what());
      result = 1;
    }
  });
}

}  // namespace cli
