// How the commands of a version-259 macro become version-512 commands: the map of command
// codes and, per new code, the rule that rebuilds a parameter record with its ANSI texts
// widened to UTF-16.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "macro/macro_format.h"
#include "platform/byte_view.h"

namespace macro::legacy {

struct MappedCode {
  uint16_t code = 0;
  // The old codes 0x1A1 to 0x1A3 reach codes that others reach too, with another record
  // layout.
  bool old_layout = false;
};
// The new code of an old one (0 to 1023); `data8` is the command's data at 8, which
// decides between two codes for one old code.
MappedCode MapCommandCode(uint16_t old_code, uint32_t data8);

enum class TextKind : uint8_t {
  kFixed,     // a field of fixed units
  kCut,       // the same, filled by a cutting copy
  kVariable,  // the closing text; the payload grows with it
};
struct TextField {
  uint16_t to = 0;     // new payload offset
  uint16_t units = 0;  // field size in UTF-16 units, terminator included
  uint16_t from = 0;   // old payload offset of the ANSI text
  TextKind kind = TextKind::kFixed;
};

enum class RuleKind : uint8_t {
  kFields,       // fixed (or base + closing text) size; scalars kept, texts widened
  kScalarsOnly,  // a size but no known texts: the old bytes are kept within it
  kComputed,     // the size follows the old payload; its known texts widened
  kFull,         // a rule of its own (0x1001 to 0x1005, 0x6105)
};
struct ParamRule {
  RuleKind kind = RuleKind::kFields;
  uint32_t size = 0;  // the payload size, or the base size before a closing text
  bool variable = false;
  std::vector<TextField> texts;  // ascending by new offset
};
// The rule of a new code, or nullptr when it has none.
const ParamRule* FindParamRule(uint16_t code, bool old_layout);
// Every rule with its codes, for tests that check the tables' own consistency.
struct RuleEntry {
  uint16_t first = 0, last = 0;
  bool old_layout = false;
  const ParamRule* rule = nullptr;
};
std::vector<RuleEntry> AllParamRules();

struct TextCounts {
  uint32_t widened = 0;
  uint32_t cut = 0;
};
// The payload of the new record for `code`, built from the old payload `old`. Nothing is
// read outside `old` and nothing written outside the new payload; a text that does not
// fit its field (or the record's largest size) is cut there.
bool ConvertPayload(const ParamRule& rule, uint16_t code, plat::ByteView old, std::vector<uint8_t>& payload,
                    TextCounts* counts);

// The ANSI text at `offset` of `bytes`, up to its NUL, `max_bytes` or the end of `bytes`.
std::string AnsiText(plat::ByteView bytes, uint64_t offset, uint64_t max_bytes = UINT64_MAX);
// `text` widened with the ANSI code page into a field of `units` (terminator included) at
// `offset` of `out`; the rest of the field is zero. True when it had to be cut.
bool PutWidened(plat::MutableByteView out, uint64_t offset, size_t units, std::string_view text, TextCounts* counts);

}  // namespace macro::legacy
