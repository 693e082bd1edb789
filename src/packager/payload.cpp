#include "packager/payload.h"

#include <cstring>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <utility>

#include "analysis/references.h"
#include "app/res_string.h"
#include "platform/platform.h"

namespace packager {
namespace {

// Where the fields lie, from the start of the section or of a record head. The player and
// the stub read exactly these bytes.
namespace a {
constexpr uint32_t kMagic = 0;
constexpr uint32_t kFirstRecord = 4;  // 16-bit
constexpr uint32_t kCount = 8;
constexpr uint32_t kScriptName = 28;
constexpr size_t kScriptNameUnits = 260;
}  // namespace a
namespace b {
constexpr uint32_t kMagic = 0;
constexpr uint32_t kCount = 4;
constexpr uint32_t kTotal = 8;
constexpr uint32_t kFirstRecord = 12;
constexpr uint32_t kLanguageSize = 16;
constexpr uint32_t kRunMode = 20;
constexpr uint32_t kWebInstaller = 21;
constexpr uint32_t kExeName = 28;
}  // namespace b
namespace rec {
constexpr uint32_t kType = 0;
constexpr uint32_t kMarker = 1;  // payload A: 1
constexpr uint32_t kSize = 4;
constexpr uint32_t kNameHash = 8;  // payload A
constexpr uint32_t kName = 12;
constexpr uint32_t kDigest = 532;  // payload B
constexpr uint32_t kNameBytes = kRecordNameUnits * 2;
}  // namespace rec

static_assert(a::kScriptName + a::kScriptNameUnits * 2 <= kPlayerOptionsSize);
static_assert(kPlayerOptionsSize == project::kPlayerOptionsEnd - project::kPlayerOptionsOffset);
static_assert(kPayloadBHeaderSize == b::kExeName + kExeNameUnits * 2);
static_assert(rec::kName + rec::kNameBytes == rec::kDigest);
static_assert(rec::kDigest + sizeof(Md5Digest) + 4 == kFileRecordHeadSize);

constexpr uint64_t Align8(uint64_t value) { return (value + 7) & ~uint64_t{7}; }

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%" PRIX64, value);
  return text;
}

std::string Where(size_t index, uint64_t offset) { return "record " + std::to_string(index) + " at " + Hex(offset); }

// Lays the records out one after another from `first`; the plan's refusal says why not.
PayloadPlan Plan(std::vector<PlannedRecord> records, uint64_t first, size_t limit, const char* payload) {
  PayloadPlan plan;
  if (records.size() > limit) {
    plan.refusal = std::string(payload) + ": " + std::to_string(records.size()) + " files to pack, but at most " +
                   std::to_string(limit) + " fit its record table";
    return plan;
  }
  if (first > kPayloadSizeLimit) {
    plan.refusal = std::string(payload) + ": the header and language file need " + std::to_string(first) +
                   " bytes, more than the " + std::to_string(kPayloadSizeLimit) + " an executable's section may hold";
    return plan;
  }
  uint64_t at = first;
  for (size_t i = 0; i < records.size(); ++i) {
    PlannedRecord& record = records[i];
    const std::optional<uint32_t> span = FileRecordSpan(record.size);
    if (!span) {
      plan.refusal = std::string(payload) + ": record " + std::to_string(i) + " holds " + std::to_string(record.size) +
                     " bytes, more than a 32-bit size can say";
      return plan;
    }
    if (record.name.size() >= kRecordNameUnits) {
      plan.refusal = std::string(payload) + ": record " + std::to_string(i) + " has a name of " +
                     std::to_string(record.name.size()) + " characters, longer than the " +
                     std::to_string(kRecordNameUnits - 1) + " its field holds";
      return plan;
    }
    // `at` stays at most kPayloadSizeLimit and a span below 2^32, so the sum cannot wrap.
    if (at + *span > kPayloadSizeLimit) {
      plan.refusal = std::string(payload) + ": the files up to record " + std::to_string(i) + " need " +
                     std::to_string(at + *span) + " bytes, more than the " + std::to_string(kPayloadSizeLimit) +
                     " an executable's section may hold";
      return plan;
    }
    record.offset = static_cast<uint32_t>(at);
    at += *span;
  }
  plan.records = std::move(records);
  plan.first_record = static_cast<uint32_t>(first);
  plan.total_size = static_cast<uint32_t>(at);
  return plan;
}

// The zero-terminated text of a field of `units` units; false when it has no terminator
// there.
bool ReadName(plat::ByteView view, uint64_t offset, size_t units, std::u16string* text) {
  uint64_t next = 0;
  *text = view.Utf16z(offset, units, &next);
  return text->size() < units && next == offset + 2 * (text->size() + 1);
}

bool Refuse(std::string* refusal, std::string reason) {
  if (refusal != nullptr) *refusal = std::move(reason);
  return false;
}

}  // namespace

uint32_t RecordNameHash(std::u16string_view name) { return app::KeyHash(plat::ToLower(analysis::TrimBlanks(name))); }

std::optional<uint32_t> FileRecordSpan(uint64_t size) {
  if (size > 0xFFFFFFFFu) return std::nullopt;
  const uint64_t span = Align8(kFileRecordHeadSize + size);
  if (span > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<uint32_t>(span);
}

PayloadPlan PlanPayloadA(std::vector<PlannedRecord> records) {
  return Plan(std::move(records), kPayloadAFirstRecord, kPayloadARecordLimit, "payload A");
}

PayloadPlan PlanPayloadB(std::vector<PlannedRecord> records, uint32_t language_file_size) {
  return Plan(std::move(records), Align8(uint64_t{kPayloadBHeaderSize} + language_file_size), kPayloadBRecordLimit,
              "payload B");
}

bool PutPayloadAHeader(plat::MutableByteView section, const project::MakeExeOptions& options, uint32_t macro_count,
                       std::u16string_view script_name) {
  if (!section.Fits(0, kPayloadAFirstRecord) || script_name.size() >= a::kScriptNameUnits) return false;
  const plat::ByteView record(reinterpret_cast<const uint8_t*>(&options), sizeof options);
  section.CopyFrom(0, *record.Sub(project::kPlayerOptionsOffset, kPlayerOptionsSize));
  section.Put32(a::kMagic, kPayloadAMagic);
  section.Put16(a::kFirstRecord, static_cast<uint16_t>(kPayloadAFirstRecord));
  section.Put32(a::kCount, macro_count);
  // The options record keeps this field free; whatever it holds goes, so the name ends
  // in zeros.
  const plat::MutableByteView name = *section.Sub(a::kScriptName, a::kScriptNameUnits * 2);
  std::fill(name.data(), name.data() + name.size(), uint8_t{0});
  name.PutUtf16z(0, script_name);
  const plat::MutableByteView gap = *section.Sub(kPlayerOptionsSize, kPayloadAFirstRecord - kPlayerOptionsSize);
  std::fill(gap.data(), gap.data() + gap.size(), uint8_t{0});
  return true;
}

bool PutPayloadARecordHead(plat::MutableByteView section, const PlannedRecord& record) {
  const std::optional<plat::MutableByteView> head = section.Sub(record.offset, kFileRecordHeadSize);
  if (!head || record.size > 0xFFFFFFFFu || record.name.size() >= kRecordNameUnits) return false;
  std::fill(head->data(), head->data() + head->size(), uint8_t{0});
  head->Put8(rec::kType, record.type);
  head->Put8(rec::kMarker, 1);
  head->Put32(rec::kSize, static_cast<uint32_t>(record.size));
  head->Put32(rec::kNameHash, RecordNameHash(record.name));
  head->PutUtf16z(rec::kName, record.name);
  return true;
}

bool PutPayloadBHeader(plat::MutableByteView section, const PayloadPlan& plan, uint8_t run_mode, bool web_installer,
                       std::u16string_view exe_name, plat::ByteView language_file) {
  if (!section.Fits(0, plan.first_record) || plan.first_record < kPayloadBHeaderSize ||
      language_file.size() > plan.first_record - kPayloadBHeaderSize || exe_name.size() >= kExeNameUnits) {
    return false;
  }
  const plat::MutableByteView header = *section.Sub(0, plan.first_record);
  std::fill(header.data(), header.data() + header.size(), uint8_t{0});
  header.Put32(b::kMagic, kPayloadBMagic);
  header.Put32(b::kCount, static_cast<uint32_t>(plan.records.size()));
  header.Put32(b::kTotal, plan.total_size);
  header.Put32(b::kFirstRecord, plan.first_record);
  header.Put32(b::kLanguageSize, static_cast<uint32_t>(language_file.size()));
  header.Put8(b::kRunMode, run_mode);
  header.Put8(b::kWebInstaller, web_installer ? 1 : 0);
  header.PutUtf16z(b::kExeName, exe_name);
  header.CopyFrom(kPayloadBHeaderSize, language_file);
  return true;
}

bool PutPayloadBRecordHead(plat::MutableByteView section, const PlannedRecord& record, const Md5Digest& digest) {
  const std::optional<plat::MutableByteView> head = section.Sub(record.offset, kFileRecordHeadSize);
  if (!head || record.size > 0xFFFFFFFFu || record.name.size() >= kRecordNameUnits) return false;
  std::fill(head->data(), head->data() + head->size(), uint8_t{0});
  head->Put8(rec::kType, record.type);
  head->Put32(rec::kSize, static_cast<uint32_t>(record.size));
  head->PutUtf16z(rec::kName, record.name);
  head->CopyFrom(rec::kDigest, plat::ByteView(digest.data(), digest.size()));
  return true;
}

std::optional<PayloadA> ReadPayloadA(plat::ByteView section, std::string* refusal) {
  const std::optional<plat::ByteView> options = section.Sub(0, kPlayerOptionsSize);
  if (!options) {
    Refuse(refusal, "payload A: the section holds " + std::to_string(section.size()) + " bytes, fewer than the " +
                        std::to_string(kPlayerOptionsSize) + " of its header");
    return std::nullopt;
  }
  const uint32_t magic = section.U32Or(a::kMagic, 0);
  if (magic != kPayloadAMagic) {
    Refuse(refusal, "payload A: the section starts with " + Hex(magic) + ", not the magic " + Hex(kPayloadAMagic));
    return std::nullopt;
  }
  PayloadA payload;
  payload.options = *options;
  payload.macro_count = section.U32Or(a::kCount, 0);
  const uint16_t first = section.U16Or(a::kFirstRecord, 0);
  if (first < kPlayerOptionsSize || first > section.size()) {
    Refuse(refusal, "payload A: the first record at " + Hex(first) + " lies " +
                        (first < kPlayerOptionsSize ? "inside the header" : "past the section's end"));
    return std::nullopt;
  }
  if (payload.macro_count > static_cast<uint32_t>(project::kMaxListEntries)) {
    Refuse(refusal, "payload A: the count " + std::to_string(payload.macro_count) +
                        " is larger than a macro list holds (" + std::to_string(project::kMaxListEntries) + ")");
    return std::nullopt;
  }
  if (!ReadName(section, a::kScriptName, a::kScriptNameUnits, &payload.script_name)) {
    Refuse(refusal, "payload A: the script name at " + Hex(a::kScriptName) + " has no terminator within " +
                        std::to_string(a::kScriptNameUnits) + " characters");
    return std::nullopt;
  }

  uint64_t at = first;
  while (section.U8Or(at, 0) != 0) {
    const size_t index = payload.records.size();
    if (index >= payload.macro_count) {
      Refuse(refusal,
             "payload A: " + Where(index, at) + " is beyond the count of " + std::to_string(payload.macro_count));
      return std::nullopt;
    }
    const std::optional<plat::ByteView> head = section.Sub(at, kFileRecordHeadSize);
    if (!head) {
      Refuse(refusal, "payload A: " + Where(index, at) + " has a head that runs past the section");
      return std::nullopt;
    }
    PayloadARecord record;
    record.type = head->U8Or(rec::kType, 0);
    if ((record.type != kEntryMacroFile && record.type != kEntryLanguageFile) || head->U8Or(rec::kMarker, 0) != 1) {
      Refuse(refusal, "payload A: " + Where(index, at) + " has the type " + std::to_string(record.type) +
                          " and marker " + std::to_string(head->U8Or(rec::kMarker, 0)) +
                          ", not a macro (3) or language file (4) with marker 1");
      return std::nullopt;
    }
    record.size = head->U32Or(rec::kSize, 0);
    record.name_hash = head->U32Or(rec::kNameHash, 0);
    if (!ReadName(*head, rec::kName, kRecordNameUnits, &record.name)) {
      Refuse(refusal, "payload A: " + Where(index, at) + " has a name without a terminator");
      return std::nullopt;
    }
    if (record.name_hash != RecordNameHash(record.name)) {
      Refuse(refusal, "payload A: " + Where(index, at) + " carries the name hash " + Hex(record.name_hash) +
                          ", but its name hashes to " + Hex(RecordNameHash(record.name)));
      return std::nullopt;
    }
    const std::optional<plat::ByteView> data = section.Sub(at + kFileRecordHeadSize, record.size);
    const uint64_t span = *FileRecordSpan(record.size);
    if (!data || !section.Fits(at, span)) {
      Refuse(refusal,
             "payload A: " + Where(index, at) + " of " + std::to_string(record.size) + " bytes runs past the section");
      return std::nullopt;
    }
    record.data = *data;
    payload.records.push_back(std::move(record));
    at += span;
  }
  return payload;
}

std::optional<PayloadB> ReadPayloadB(plat::ByteView section, std::string* refusal) {
  const std::optional<plat::ByteView> header = section.Sub(0, kPayloadBHeaderSize);
  if (!header) {
    Refuse(refusal, "payload B: the section holds " + std::to_string(section.size()) + " bytes, fewer than the " +
                        std::to_string(kPayloadBHeaderSize) + " of its header");
    return std::nullopt;
  }
  const uint32_t magic = header->U32Or(b::kMagic, 0);
  if (magic != kPayloadBMagic) {
    Refuse(refusal, "payload B: the section starts with " + Hex(magic) + ", not the magic " + Hex(kPayloadBMagic));
    return std::nullopt;
  }
  PayloadB payload;
  const uint32_t count = header->U32Or(b::kCount, 0);
  payload.total_size = header->U32Or(b::kTotal, 0);
  const uint32_t first = header->U32Or(b::kFirstRecord, 0);
  const uint32_t language_size = header->U32Or(b::kLanguageSize, 0);
  payload.run_mode = header->U8Or(b::kRunMode, 0);
  payload.web_installer = header->U8Or(b::kWebInstaller, 0) != 0;
  if (payload.total_size > section.size()) {
    Refuse(refusal, "payload B: the total size " + Hex(payload.total_size) + " passes the section's " +
                        Hex(section.size()) + " bytes");
    return std::nullopt;
  }
  const plat::ByteView payload_bytes = section.First(payload.total_size);
  if (first != Align8(uint64_t{kPayloadBHeaderSize} + language_size) || first > payload.total_size) {
    Refuse(refusal, "payload B: the first record at " + Hex(first) + " does not follow a language file of " +
                        std::to_string(language_size) + " bytes inside a total of " + Hex(payload.total_size));
    return std::nullopt;
  }
  payload.first_record = first;
  payload.language_file = *payload_bytes.Sub(kPayloadBHeaderSize, language_size);
  // Every record takes at least a head and 8 bytes of data; more records than that leaves
  // room for cannot be real, and the table is refused before anything is kept for them.
  if (count > kPayloadBRecordLimit || uint64_t{count} * (kFileRecordHeadSize + 8) > payload.total_size - first) {
    Refuse(refusal, "payload B: the count " + std::to_string(count) + " is too large for the " +
                        std::to_string(payload.total_size - first) + " bytes of records");
    return std::nullopt;
  }
  if (!ReadName(*header, b::kExeName, kExeNameUnits, &payload.exe_name)) {
    Refuse(refusal, "payload B: the EXE name at " + Hex(b::kExeName) + " has no terminator within " +
                        std::to_string(kExeNameUnits) + " characters");
    return std::nullopt;
  }

  payload.records.reserve(count);
  uint64_t at = first;
  for (size_t index = 0; index < count; ++index) {
    const std::optional<plat::ByteView> head = payload_bytes.Sub(at, kFileRecordHeadSize);
    if (!head) {
      Refuse(refusal, "payload B: " + Where(index, at) + " has a head that runs past the total size");
      return std::nullopt;
    }
    PayloadBRecord record;
    record.kind = head->U8Or(rec::kType, 0);
    if (record.kind > kFileKindPlayer) {
      Refuse(refusal, "payload B: " + Where(index, at) + " has the unknown file kind " + std::to_string(record.kind));
      return std::nullopt;
    }
    record.size = head->U32Or(rec::kSize, 0);
    if (!ReadName(*head, rec::kName, kRecordNameUnits, &record.target_name)) {
      Refuse(refusal, "payload B: " + Where(index, at) + " has a target name without a terminator");
      return std::nullopt;
    }
    head->CopyTo(rec::kDigest, record.digest.data(), record.digest.size());
    const uint64_t span = *FileRecordSpan(record.size);
    const std::optional<plat::ByteView> padded =
        payload_bytes.Sub(at + kFileRecordHeadSize, span - kFileRecordHeadSize);
    if (!padded) {
      Refuse(refusal, "payload B: " + Where(index, at) + " of " + std::to_string(record.size) +
                          " bytes runs past the total size");
      return std::nullopt;
    }
    record.padded = *padded;
    record.data = padded->First(record.size);
    payload.records.push_back(std::move(record));
    at += span;
  }
  if (at != payload.total_size) {
    Refuse(refusal,
           "payload B: the records end at " + Hex(at) + ", but the total size says " + Hex(payload.total_size));
    return std::nullopt;
  }
  return payload;
}

std::optional<plat::ByteView> PayloadSection(const pe::CPE_ImageEditor& image) {
  static constexpr char kName[8] = {'.', 'm', 'd', 'a', 't', 'a', '\0', '\0'};
  const int count = std::min(image.SectionCount(), pe::CPE_ImageEditor::kMaxSections);
  for (int slot = 0; slot < count; ++slot) {
    const pe::SectionHeader& s = image.Section(slot);
    if (std::memcmp(s.Name, kName, sizeof kName) != 0) continue;
    const uint8_t* data = image.SectionData(slot);
    if (data == nullptr) return plat::ByteView();
    size_t have = s.SizeOfRawData;
    if (image.SlotState(slot) == pe::CPE_ImageEditor::kSlotLoaded) {
      have = std::min<size_t>(have, image.ImageSize() - static_cast<size_t>(data - image.Image()));
    }
    return plat::ByteView(data, have);
  }
  return std::nullopt;
}

}  // namespace packager
