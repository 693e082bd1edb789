// Macro scripts that call each other and carry macro files in their attachments, for the
// tests of the collection and of `brankel analyze`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/macro_builder.h"

namespace brankel_test {

using macro::kByLibraryName;
using macro::kByPath;
using macro::kCallMacro;
using macro::kRunMacro;
inline constexpr uint8_t kNotAFile = 2;
inline constexpr uint8_t kFiller = 0x7F;  // payload bytes a call does not define

// The payload of a call command, laid out by hand; every other byte is filler, so a reader
// looking in the wrong place finds no sensible kind or name.
std::vector<uint8_t> CallPayload(uint16_t code, uint8_t kind, std::u16string_view name);

struct Call {
  uint16_t code;
  uint8_t kind;
  std::u16string name;
  uint16_t flags = 0;
};
// A record payload holding `text` (with its terminator) at `offset`, filler before it.
std::vector<uint8_t> TextAt(size_t offset, std::u16string_view text);

// A macro whose commands are the given calls, each with a record of its own.
MacroBuilder Calls(const std::vector<Call>& calls);

// A macro file's bytes carrying the given attachments: (stream name, extension, bytes);
// `items_without_streams` are listed in the table but have no stream.
struct Attached {
  std::u16string stream;
  std::u16string extension;
  std::string bytes;
};
std::string WithAttachments(const MacroBuilder& host, const std::vector<Attached>& attached,
                            const std::vector<Attached>& items_without_streams = {});

}  // namespace brankel_test
