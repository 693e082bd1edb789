// Upgrading macro files of the two older versions (258, 259) in place to the current one.
// A version-258 file is first made a version-259 file, and that one a version-512 file;
// the version-259 bytes are kept beside the file as "<name>.old". The conversions work on
// bytes in memory; only UpgradeMacroFile touches the disk, and the user's file changes
// only by its last step, a whole new file moved over it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "macro/macro_format.h"
#include "platform/byte_view.h"

namespace macro {

inline constexpr uint16_t kVersion258 = 258;
inline constexpr uint16_t kVersion259 = 259;

// Layout of the version-259 file that the first step writes and the second reads.
inline constexpr uint32_t kHeader259Size = 1208;
inline constexpr uint32_t kNamedItem259Size = 264;
inline constexpr uint32_t kNamedItems259Bytes = kMaxNamedItems * kNamedItem259Size;  // 67584
inline constexpr uint32_t kRecords259Offset = kHeader259Size + kNamedItems259Bytes;  // 68792
inline constexpr uint32_t kCommand259Size = 20;
// And of the version-258 file before it.
inline constexpr uint32_t kHeader258Size = 1860;
inline constexpr uint32_t kDropped258Size = 8832;
inline constexpr uint32_t kNamedItem258Size = 260;

// What an upgrade changed, or with a dry run would change.
struct UpgradeReport {
  uint16_t from_version = 0;  // the stored version (0 when it could not be read)
  bool converted = false;     // a version-512 file was made (or would be, in a dry run)
  uint32_t commands = 0;      // command records converted
  uint32_t codes_mapped = 0;  // of them, those whose command code changed
  uint32_t named_items = 0;
  uint32_t records = 0;        // parameter records converted by their code's rule
  uint32_t records_added = 0;  // records made for commands whose new code needs one
  // Records whose new code has no rule: kept with their old payload, so that readers walk
  // past them. Their codes, each once, ascending.
  uint32_t records_without_rule = 0;
  std::vector<uint16_t> codes_without_rule;
  // Records whose rule moves scalars only: their old bytes are kept where the new
  // layout has no text field of its own (no text of them was widened).
  uint32_t records_without_text_rule = 0;
  uint32_t texts_widened = 0;  // text fields of the header, named items and records
  uint32_t texts_cut = 0;      // of them, those cut at their field
  // References to records the old file does not hold, dropped (the command has none).
  uint32_t references_dropped = 0;
  std::u16string old_copy;  // the ".old" file written (empty in a dry run)
};

// Why a conversion in memory stopped.
enum class UpgradeFault {
  kNone,
  kFileFormat,   // too short, or no "VL_MA" magic: "IDS_ERR_FILEFORMAT"
  kCurrent,      // version 512 or newer: nothing to do
  kFileVersion,  // not the version the step converts: "IDS_ERR_FILEVERSION"
  kBadFile,      // shorter than its sizes say: "IDS_ERR_BADFILE"
  kNoMemory,     // "IDS_ERR_NOTENOUGHMEM"
};

// A version-512 macro in memory, ready for WriteMacroFile.
struct UpgradedMacro {
  MacroFileHeader header{};
  std::vector<MacroNamedItem> named_items;  // 256 entries
  std::vector<MacroCommand> commands;
  std::vector<uint8_t> params;  // ParamBlockSize bytes, then the terminator's room
};

// The first step: the bytes of a version-258 file as the bytes of a version-259 file.
UpgradeFault Convert258To259(plat::ByteView file, std::vector<uint8_t>& out);
// The second step: the bytes of a version-259 file as a version-512 macro. `report`
// (optional) receives the counts.
UpgradeFault Convert259To512(plat::ByteView file, UpgradedMacro& out, UpgradeReport* report);

// A new empty file in the temporary folder named with the prefix "$Pandrel" (the first
// step's intermediate file); empty when none could be made.
std::u16string MakeUpgradeTempName();

// Rewrites the file at `path` as a version-512 file when its stored version (`version`,
// or 0 to read it) is 258 or 259. Returns 1 when that succeeded or there was nothing to
// do, else 0 with the key or message in `err_key` (260 units, optional) and, for the
// version checks, the macro file error state. On 0 the file is as it was and no
// temporary file is left.
int UpgradeMacroFile(std::u16string_view path, uint16_t version, char16_t* err_key);

struct UpgradeOptions {
  bool dry_run = false;  // convert in memory only: nothing is written
};
// The same, reporting what it changed; a dry run returns 1 when the file would convert.
int UpgradeMacroFile(std::u16string_view path, uint16_t version, char16_t* err_key, const UpgradeOptions& options,
                     UpgradeReport* report);

}  // namespace macro
