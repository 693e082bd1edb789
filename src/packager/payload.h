// The two payloads a build writes into ".mdata" sections: payload A in the player copy
// (the player's options and the packed macro files) and payload B in the final EXE (the
// proxy language file and every packed file, the player copy among them). The player and
// the stub read them at run time, so every byte stands where they expect it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pe/pe_image.h"
#include "platform/byte_view.h"
#include "platform/platform.h"
#include "project/options.h"

namespace packager {

inline constexpr uint32_t kPayloadAMagic = 0x0000414D;  // "MA"
inline constexpr uint32_t kPayloadBMagic = 0x0000464D;  // "MF"
inline constexpr uint32_t kPayloadAFirstRecord = 0x4000;
inline constexpr uint32_t kPlayerOptionsSize = 12552;  // options record bytes 16 to 12567
inline constexpr uint32_t kPayloadBHeaderSize = 288;
inline constexpr uint32_t kFileRecordHeadSize = 552;
inline constexpr size_t kPayloadARecordLimit = 260;
inline constexpr size_t kPayloadBRecordLimit = 512;
// The largest section a plan accepts. The stub reads its payload in a 32-bit process
// whose address space ends at 2 GiB, and the image around the section and the file
// alignment after it need room too, so the limit stays a little below 2 GiB.
inline constexpr uint32_t kPayloadSizeLimit = 0x7FFF0000;
// Record names and the EXE name in units, terminator included.
inline constexpr size_t kRecordNameUnits = 260;
inline constexpr size_t kExeNameUnits = 130;

inline constexpr uint8_t kEntryMacroFile = 3;
inline constexpr uint8_t kEntryLanguageFile = 4;
inline constexpr uint8_t kFileKindFile = 0;
inline constexpr uint8_t kFileKindRuntime = 1;
inline constexpr uint8_t kFileKindPlayer = 2;

using Md5Digest = plat::Md5Digest;

// The name hash a payload A record carries: app::KeyHash of the name trimmed of blanks and
// lower-cased, as the player looks its files up.
uint32_t RecordNameHash(std::u16string_view name);

// (552 + size) raised to a multiple of 8, or nothing when it passes 32 bits.
std::optional<uint32_t> FileRecordSpan(uint64_t size);

// One record to be packed, as the writer lays it out.
struct PlannedRecord {
  uint8_t type = 0;  // payload A: entry type; payload B: file kind
  uint64_t size = 0;
  std::u16string name;  // A: script-relative name; B: target name
  uint32_t offset = 0;  // filled by the plan: where the record head starts
};

// Offsets of every record and the section size, or a reason when a count or size does
// not fit (more records than the table, a name longer than its field, a size or a total
// beyond 32 bits or beyond kPayloadSizeLimit).
struct PayloadPlan {
  std::vector<PlannedRecord> records;
  uint32_t first_record = 0;
  uint32_t total_size = 0;
  std::string refusal;  // empty when the plan holds
};
PayloadPlan PlanPayloadA(std::vector<PlannedRecord> records);
PayloadPlan PlanPayloadB(std::vector<PlannedRecord> records, uint32_t language_file_size);

// Writers over a zero-filled section of the plan's total size. Each returns false without
// writing when its data does not fit the view or a text does not fit its field.
bool PutPayloadAHeader(plat::MutableByteView section, const project::MakeExeOptions& options, uint32_t macro_count,
                       std::u16string_view script_name);
bool PutPayloadARecordHead(plat::MutableByteView section, const PlannedRecord& record);
bool PutPayloadBHeader(plat::MutableByteView section, const PayloadPlan& plan, uint8_t run_mode, bool web_installer,
                       std::u16string_view exe_name, plat::ByteView language_file);
bool PutPayloadBRecordHead(plat::MutableByteView section, const PlannedRecord& record, const Md5Digest& digest);

// Readers, as the player and the stub read: every size and offset checked against the
// section; `refusal` says what is wrong and where when nothing is returned. Payload A has
// no record count of its own (its count is the macro list's, which may hold more entries
// than were packed): its records run from 0x4000 up to a zero type byte or the end of the
// section, and never more of them than the count. Payload B's records must end exactly at
// its total size, which must lie inside the section.
struct PayloadARecord {
  uint8_t type = 0;
  uint32_t size = 0;
  uint32_t name_hash = 0;
  std::u16string name;
  plat::ByteView data;
};
struct PayloadA {
  plat::ByteView options;  // the 12552 player option bytes
  uint32_t macro_count = 0;
  std::u16string script_name;
  std::vector<PayloadARecord> records;
};
std::optional<PayloadA> ReadPayloadA(plat::ByteView section, std::string* refusal);

struct PayloadBRecord {
  uint8_t kind = 0;
  uint32_t size = 0;
  std::u16string target_name;
  Md5Digest digest{};
  plat::ByteView data;    // the file's bytes
  plat::ByteView padded;  // the bytes the digest covers
};
struct PayloadB {
  uint32_t total_size = 0;
  uint32_t first_record = 0;
  uint8_t run_mode = 0;
  bool web_installer = false;
  std::u16string exe_name;
  plat::ByteView language_file;
  std::vector<PayloadBRecord> records;
};
std::optional<PayloadB> ReadPayloadB(plat::ByteView section, std::string* refusal);

// The bytes of the image's ".mdata" section as its header gives them, cut to what the
// image holds; nothing when it has no such section.
std::optional<plat::ByteView> PayloadSection(const pe::CPE_ImageEditor& image);

}  // namespace packager
