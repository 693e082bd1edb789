#include "macro/legacy_upgrade.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <set>
#include <unordered_map>

#include "app/startup.h"
#include "macro/error_state.h"
#include "macro/legacy_rules.h"
#include "macro/macro_file.h"
#include "platform/file_io.h"
#include "platform/file_retry.h"
#include "platform/platform.h"

namespace macro {
namespace {

using legacy::AnsiText;
using legacy::PutWidened;
using legacy::TextCounts;

constexpr size_t kNamedItems258Bytes = size_t{kMaxNamedItems} * kNamedItem258Size;  // 66560
constexpr size_t kErrKeyUnits = 260;

// "VL_MA" as a NUL-terminated string in the first 8 bytes, compared without regard to case.
bool StartsWithMagic(plat::ByteView file) {
  MacroFileHeader header{};
  return file.CopyTo(0, header.Magic, sizeof header.Magic) && HasMacroMagic(header);
}

// ---- Version 258 to 259 ------------------------------------------------------------------

// A NUL-terminated ANSI copy into a field of `target` bytes (terminator included), the rest
// of the field zero. The source runs to its NUL, cut to the field; `source_field` (when not
// 0) is the source field's size, whose last byte counts as its terminator.
void CopyAnsiField(plat::ByteView from, uint64_t from_offset, size_t source_field, plat::MutableByteView to,
                   uint64_t to_offset, size_t target) {
  const uint64_t limit = source_field != 0 ? source_field - 1 : UINT64_MAX;
  const std::string text = AnsiText(from, from_offset, std::min<uint64_t>(limit, target - 1));
  const std::optional<plat::MutableByteView> field = to.Sub(to_offset, target);
  if (!field) return;
  std::memset(field->data(), 0, field->size());
  field->CopyFrom(0, plat::ByteView(text));
}

}  // namespace

UpgradeFault Convert258To259(plat::ByteView file, std::vector<uint8_t>& out) {
  out.clear();
  if (file.size() < kHeader259Size || !StartsWithMagic(file)) return UpgradeFault::kFileFormat;
  if (file.U16Or(8, 0) != kVersion258) return UpgradeFault::kFileVersion;
  const uint64_t tables_end = uint64_t{kHeader258Size} + kDropped258Size + kNamedItems258Bytes;
  const plat::ByteView old = file.First(kHeader258Size);
  const uint32_t count = file.U32Or(16, 0);
  const uint32_t params = file.U32Or(20, 0);
  const uint32_t records_at = file.U32Or(28, 0);
  const uint64_t record_bytes = uint64_t{count} * kCommand259Size;
  const uint64_t total = kRecords259Offset + record_bytes + params;
  // The version-259 header counts its file in 32 bits.
  if (file.size() < tables_end || !file.Fits(records_at, record_bytes + params) || total > UINT32_MAX) {
    return UpgradeFault::kBadFile;
  }
  if (!AllocateZeroed(out, total)) return UpgradeFault::kNoMemory;
  const plat::MutableByteView to(out);

  to.CopyFrom(0, file.First(kHeader259Size));
  to.Put16(8, kVersion259);
  to.Put32(24, static_cast<uint32_t>(total));
  to.Put32(28, kRecords259Offset);
  to.Put8(32, old.U8Or(32, 0) & 1);
  to.Put8(33, old.U8Or(33, 0));
  to.Put32(36, old.U32Or(36, 0));
  CopyAnsiField(old, 44, 128, to, 40, 128);
  CopyAnsiField(old, 172, 260, to, 168, 260);
  // The version-258 password is plain; version 259 keeps it keyed by the save stamp with
  // its length in the field's last byte, which is how the next step restores it.
  {
    const std::string password = AnsiText(old, 432, 31);
    const uint32_t stamp = old.U32Or(36, 0);
    std::memset(out.data() + 428, 0, 32);
    for (size_t i = 0; i < password.size(); ++i) {
      to.Put8(428 + i, static_cast<uint8_t>(static_cast<uint8_t>(password[i]) ^ (stamp >> (8 * (i % 4)))));
    }
    to.Put8(459, static_cast<uint8_t>(password.size()));
  }
  to.Put8(460, old.U8Or(464, 0));
  CopyAnsiField(old, 465, 0, to, 461, 260);
  to.Put8(721, old.U8Or(740, 0));
  to.Put8(722, old.U8Or(744, 0));
  to.Put8(723, old.U8Or(1006, 0));
  to.Put8(724, old.U8Or(1007, 0));
  CopyAnsiField(old, 746, 260, to, 725, 260);
  to.Put8(985, old.U8Or(1797, 0));
  to.Put8(986, old.U8Or(1008, 0));
  to.CopyFrom(988, old.From(1012).First(16));
  to.Put8(1004, old.U8Or(1032, 0));
  to.Put8(1005, old.U8Or(1034, 0));
  to.CopyFrom(1006, old.From(1036).First(8));
  CopyAnsiField(old, 1044, 0, to, 1014, 64);

  const plat::ByteView items = file.From(kHeader258Size + kDropped258Size).First(kNamedItems258Bytes);
  const size_t item_count = std::min<size_t>(file.U16Or(12, 0), kMaxNamedItems);
  for (size_t i = 0; i < item_count; ++i) {
    const plat::ByteView item = items.From(i * kNamedItem258Size).First(kNamedItem258Size);
    const uint64_t at = kHeader259Size + i * kNamedItem259Size;
    to.CopyFrom(at, item.First(4));
    CopyAnsiField(item, 4, 64, to, at + 8, 32);
    CopyAnsiField(item, 68, 192, to, at + 40, 224);
  }

  // The blocks follow unchanged, except that the flag's scrambling is applied now, to each
  // block as a whole, as the version-259 reader undoes it.
  const plat::MutableByteView records = *to.Sub(kRecords259Offset, record_bytes);
  const plat::MutableByteView block = *to.Sub(kRecords259Offset + record_bytes, params);
  records.CopyFrom(0, *file.Sub(records_at, record_bytes));
  block.CopyFrom(0, *file.Sub(records_at + record_bytes, params));
  if (file.U8Or(14, 0) != 0) {
    const std::string key = AnsiText(old, 432, 31);
    ScrambleBlock(records, key);
    ScrambleBlock(block, key);
  }
  return UpgradeFault::kNone;
}

// ---- Version 259 to 512 ------------------------------------------------------------------

namespace {

// The version-259 password: keyed by the save stamp, its length in the field's last byte.
std::string Password259(plat::ByteView header) {
  const plat::ByteView field = header.From(428).First(32);
  bool zero = true;
  for (size_t i = 0; i < 8; ++i) zero = zero && field.U8Or(i, 0) == 0;
  const int8_t length = static_cast<int8_t>(field.U8Or(31, 0));
  if (zero || length > 32 || length <= 0) return {};
  const uint32_t stamp = header.U32Or(36, 0);
  std::string password;
  for (int i = 0; i < length && i < 31; ++i) {
    password.push_back(static_cast<char>(field.U8Or(i, 0) ^ static_cast<uint8_t>(stamp >> (8 * (i % 4)))));
  }
  return password.substr(0, password.find('\0'));
}

// An ANSI field of the old header widened into a UTF-16 field of the new one.
void WidenHeaderField(plat::ByteView old, uint64_t from, size_t from_size, MacroFileHeader& header, size_t to,
                      size_t units, TextCounts* counts) {
  plat::MutableByteView out(reinterpret_cast<uint8_t*>(&header), sizeof header);
  PutWidened(out, to, units, AnsiText(old, from, from_size), counts);
}

void ConvertHeader(plat::ByteView old, const std::string& password, MacroFileHeader& header, TextCounts* counts) {
  header = MacroFileHeader{};
  std::memcpy(&header, old.data(), kHeader259Size);
  auto* bytes = reinterpret_cast<uint8_t*>(&header);
  header.Version = kMacroVersion;
  // A version-259 file has no attachments area, whatever this byte held there.
  header.FileFlags &= static_cast<uint8_t>(~kFileFlagAttachments);
  bytes[36] = old.U8Or(32, 0);
  header.EmulationLevel = old.U8Or(34, 0);
  header.SaveStamp = static_cast<int32_t>(old.U32Or(36, 0));
  WidenHeaderField(old, 40, 128, header, offsetof(MacroFileHeader, MacroName), 128, counts);
  WidenHeaderField(old, 168, 260, header, offsetof(MacroFileHeader, EditorText), 260, counts);
  std::memset(header.Password, 0, sizeof header.Password);
  WidenHeaderField(plat::ByteView(password), 0, 31, header, offsetof(MacroFileHeader, Password), 32, counts);
  header.ProtectFlags = old.U8Or(460, 0);
  WidenHeaderField(old, 461, 260, header, offsetof(MacroFileHeader, VariableValues), 520, counts);
  header.PlaySpeed = static_cast<int8_t>(old.U8Or(721, 0));
  bytes[1927] = old.U8Or(722, 0);
  const uint8_t path_kind = old.U8Or(723, 0);
  bytes[path_kind != 0 ? 1951 : 1952] = path_kind;
  bytes[path_kind != 0 ? 1949 : 1950] = old.U8Or(724, 0);
  WidenHeaderField(old, 725, 260, header, path_kind != 0 ? 2996 : 1956, 260, counts);
  bytes[1928] = old.U8Or(986, 0);
  old.CopyTo(988, bytes + 1932, 16);
  header.ProgressMode = old.U8Or(1004, 0) & 0x0F;
  header.DodgeMouseMode = old.U8Or(1005, 0) & 0x0F;
  old.CopyTo(1006, bytes + 4297, 8);
  WidenHeaderField(old, 1014, 64, header, 4314, 64, counts);
  WidenHeaderField(old, 1078, 64, header, 4442, 64, counts);
  bytes[4305] = old.U8Or(1142, 0);
  bytes[4306] = old.U8Or(1143, 0);
  plat::le::Store32(bytes + 4308, old.U32Or(1144, 0));
  bytes[4312] = old.U8Or(1148, 0);
  header.Scrambled = (header.ProtectFlags & kProtectWithPassword) && !password.empty() ? 1 : 0;
  header.Packed = 1;
  header.NamedItemCount = std::min<uint16_t>(old.U16Or(12, 0), kMaxNamedItems);
}

// The next id for a record the upgrade adds: above every id the old commands use, and
// never "none" or an id another record has.
uint16_t NextFreeId(uint32_t candidate, const std::set<uint16_t>& used) {
  for (uint32_t round = 0; round < 2; ++round) {
    for (; candidate <= 0x3FFF; ++candidate) {
      if (candidate != kNoParamId && used.count(static_cast<uint16_t>(candidate)) == 0) {
        return static_cast<uint16_t>(candidate);
      }
    }
    candidate = 1;
  }
  return kNoParamId;
}

// Appends one record (head and payload) to the new block; false when the block would
// outgrow what a file can carry or memory can hold.
bool AppendRecord(std::vector<uint8_t>& block, uint16_t id, plat::ByteView payload) {
  const uint64_t grown = uint64_t{block.size()} + kParamHeadSize + payload.size();
  if (grown > kMaxParamBlockSize || grown > block.max_size()) return false;
  try {
    const size_t at = block.size();
    block.resize(static_cast<size_t>(grown));
    SetParamRecordHead(plat::MutableByteView(block.data() + at, kParamHeadSize), id,
                       static_cast<uint32_t>(payload.size()));
    if (!payload.empty()) std::memcpy(block.data() + at + kParamHeadSize, payload.data(), payload.size());
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

}  // namespace

UpgradeFault Convert259To512(plat::ByteView file, UpgradedMacro& out, UpgradeReport* report) {
  out = UpgradedMacro{};
  UpgradeReport counts;
  if (file.size() < kHeaderSize || !StartsWithMagic(file)) return UpgradeFault::kFileFormat;
  const uint16_t version = file.U16Or(8, 0);
  counts.from_version = version;
  if (report != nullptr) report->from_version = version;
  if (version >= kMacroVersion) return UpgradeFault::kCurrent;
  if (version != kVersion259) return UpgradeFault::kFileVersion;
  const uint32_t total = file.U32Or(24, 0);
  if (file.size() < total) return UpgradeFault::kBadFile;

  const plat::ByteView old = file.First(kHeader259Size);
  const std::string password = Password259(old);
  const uint32_t count = old.U32Or(16, 0);
  const uint64_t record_bytes = uint64_t{count} * kCommand259Size;
  uint32_t records_at = old.U32Or(28, 0);
  if (records_at == 0 || records_at >= total) records_at = kRecords259Offset;
  const uint32_t param_size = old.U32Or(20, 0);
  const uint64_t params_at = kRecords259Offset + record_bytes;
  // Records or a block the file does not hold are no version-259 file.
  if (!file.Fits(records_at, record_bytes) || !file.Fits(params_at, param_size)) return UpgradeFault::kBadFile;

  std::vector<uint8_t> records, block;
  if (!AllocateZeroed(out.named_items, kMaxNamedItems) || !AllocateZeroed(out.commands, count) ||
      !AllocateZeroed(records, record_bytes) || !AllocateZeroed(block, uint64_t{param_size} + kParamSpare)) {
    return UpgradeFault::kNoMemory;
  }
  plat::MutableByteView(records).CopyFrom(0, *file.Sub(records_at, record_bytes));
  plat::MutableByteView(block).CopyFrom(0, *file.Sub(params_at, param_size));
  if (old.U8Or(14, 0) != 0) {
    ScrambleBlock(plat::MutableByteView(records), password);
    ScrambleBlock(plat::MutableByteView(block.data(), param_size), password);
  }
  WriteParamTerminator(plat::MutableByteView(block.data() + param_size, kParamSpare));
  const ParamRecordIndex old_params(plat::ByteView(block).First(param_size));

  TextCounts texts;
  ConvertHeader(old, password, out.header, &texts);

  const plat::ByteView old_items = file.From(kHeader259Size).First(kNamedItems259Bytes);
  counts.named_items = out.header.NamedItemCount;
  for (size_t i = 0; i < out.header.NamedItemCount; ++i) {
    const plat::ByteView item = old_items.From(i * kNamedItem259Size).First(kNamedItem259Size);
    plat::MutableByteView to(reinterpret_cast<uint8_t*>(&out.named_items[i]), kNamedItemSize);
    PutWidened(to, offsetof(MacroNamedItem, Name), 64, AnsiText(item, 8, 32), &texts);
    PutWidened(to, offsetof(MacroNamedItem, SecondText), 192, AnsiText(item, 40, 224), &texts);
  }

  // Ids the new block will carry: those of the old records the commands reach.
  const plat::ByteView old_records(records);
  uint32_t largest = 0;
  std::set<uint16_t> used;
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t id = old_records.U16Or(i * uint64_t{kCommand259Size} + 2, kNoParamId);
    if (id == kNoParamId || id == 0xFFFF) continue;
    largest = std::max<uint32_t>(largest, id);
    if (!old_params.Find(id).empty()) used.insert(id);
  }
  uint32_t next_free = largest + 1;

  std::vector<uint8_t> params;
  std::set<uint16_t> converted;
  std::set<uint16_t> dropped;  // records whose conversion left nothing
  std::set<uint16_t> without_rule;
  std::vector<uint8_t> payload;
  for (uint32_t i = 0; i < count; ++i) {
    const plat::ByteView source = old_records.From(i * uint64_t{kCommand259Size}).First(kCommand259Size);
    MacroCommand& command = out.commands[i];
    const uint16_t first = source.U16Or(0, 0);
    const uint16_t old_code = static_cast<uint16_t>((((first >> 2) & 3) << 8) | (first >> 8));
    const uint32_t data8 = source.U32Or(8, 0);
    const legacy::MappedCode mapped = legacy::MapCommandCode(old_code, data8);
    command.Code = mapped.code;
    command.ParamId = source.U16Or(2, kNoParamId);
    if (command.ParamId == 0xFFFF) command.ParamId = kNoParamId;
    command.Data[0] = uint32_t{source.U16Or(4, 0)} << 2;
    command.Data[1] = data8;
    command.Data[2] = source.U32Or(12, 0);
    command.Data[3] = source.U32Or(16, 0);
    command.Flags = static_cast<uint16_t>((first & 3) | ((source.U16Or(6, 0) & 3) << 3) | (((first >> 4) & 15) << 5));
    ++counts.commands;
    if (mapped.code != old_code) ++counts.codes_mapped;
    if (mapped.code == 0x230F) command.Data[1] = 0;

    const plat::ByteView record = old_params.Find(command.ParamId);
    if (record.empty()) {
      if (command.ParamId != kNoParamId) {
        // A reference to nothing would make the whole macro unreadable.
        command.ParamId = kNoParamId;
        ++counts.references_dropped;
      }
      if (mapped.code == 0x3304) {
        const uint16_t id = NextFreeId(next_free, used);
        if (id == kNoParamId) continue;
        const std::vector<uint8_t> zero(910);
        if (!AppendRecord(params, id, plat::ByteView(zero))) return UpgradeFault::kNoMemory;
        used.insert(id);
        next_free = id + 1u;
        command.ParamId = id;
        ++counts.records_added;
      }
      continue;
    }
    // A record two commands share is converted once: readers take the first anyway.
    if (dropped.count(command.ParamId) != 0) {
      command.ParamId = kNoParamId;
      ++counts.references_dropped;
      continue;
    }
    if (!converted.insert(command.ParamId).second) continue;
    const plat::ByteView old_payload = ParamRecordPayload(record);
    const legacy::ParamRule* rule = legacy::FindParamRule(mapped.code, mapped.old_layout);
    plat::ByteView new_payload = old_payload;
    if (rule == nullptr) {
      // No rule: the old payload stays, so that the record neither ends the block for
      // readers nor loses its bytes.
      ++counts.records_without_rule;
      without_rule.insert(mapped.code);
    } else {
      if (!legacy::ConvertPayload(*rule, mapped.code, old_payload, payload, &texts)) return UpgradeFault::kNoMemory;
      new_payload = plat::ByteView(payload);
      ++counts.records;
      if (rule->kind == legacy::RuleKind::kScalarsOnly ||
          (rule->kind == legacy::RuleKind::kComputed && rule->texts.empty())) {
        ++counts.records_without_text_rule;
      }
    }
    if (new_payload.empty()) {
      // A record of no bytes would end the block for every reader, and every record after
      // it would be lost: the command keeps no parameters instead.
      dropped.insert(command.ParamId);
      converted.erase(command.ParamId);
      command.ParamId = kNoParamId;
      ++counts.references_dropped;
      continue;
    }
    if (!AppendRecord(params, ParamRecordId(record), new_payload)) return UpgradeFault::kNoMemory;
  }
  const uint64_t params_size = params.size();
  try {
    params.resize(params.size() + kParamSpare);
  } catch (const std::bad_alloc&) {
    return UpgradeFault::kNoMemory;
  }
  WriteParamTerminator(plat::MutableByteView(params.data() + params_size, kParamSpare));
  out.params = std::move(params);
  out.header.CommandCount = count;
  out.header.ParamBlockSize = static_cast<uint32_t>(params_size);

  counts.converted = true;
  counts.texts_widened = texts.widened;
  counts.texts_cut = texts.cut;
  counts.codes_without_rule.assign(without_rule.begin(), without_rule.end());
  if (report != nullptr) *report = counts;
  return UpgradeFault::kNone;
}

// ---- The file --------------------------------------------------------------------------

std::u16string MakeUpgradeTempName() {
  const std::u16string folder = plat::GetTempPath();
  return folder.empty() ? std::u16string() : plat::GetTempFileName(folder, u"$Pandrel");
}

namespace {

void CopyKey(char16_t* err_key, std::u16string_view text) {
  if (err_key == nullptr) return;
  const size_t length = std::min(text.size(), kErrKeyUnits - 1);
  std::copy_n(text.data(), length, err_key);
  err_key[length] = 0;
}

// The system's text for the last error, as the key buffer carries it; the last error
// stays what it was.
void SystemErrorKey(char16_t* err_key) {
  const uint32_t error = plat::GetLastError();
  // Another program holding the file is worth its own words, which name the user's file.
  if (plat::IsFileInUse(error)) {
    CopyKey(err_key, u"IDS_ERR_FILEINUSE");
    return;
  }
  if (err_key != nullptr) FormatSystemError(error, err_key, kErrKeyUnits, false);
  plat::SetLastError(error);
}

// Removes the files it names when it goes, keeping the last error.
struct TemporaryFiles {
  std::vector<std::u16string> names;
  ~TemporaryFiles() {
    const uint32_t error = plat::GetLastError();
    for (const std::u16string& name : names) {
      if (!name.empty() && plat::FileExists(name)) plat::DeleteFileRetrying(name);
    }
    plat::SetLastError(error);
  }
};

// The whole file, shared for reading and writing as every open of a macro file is: the
// editor may hold it open.
std::optional<std::string> ReadFile(std::u16string_view path) {
  plat::FileHandle file = plat::OpenFileRetrying(path, plat::kGenericRead, plat::kShareRead | plat::kShareWrite,
                                                 plat::Disposition::kOpenExisting);
  if (file == nullptr) return std::nullopt;
  std::optional<std::string> bytes = plat::ReadOpenFile(file, UINT32_MAX);
  const uint32_t error = plat::GetLastError();
  plat::CloseFile(file);
  plat::SetLastError(error);
  return bytes;
}

// Puts the bytes of `source` at `target` whole or not at all: they are copied beside the
// target first and then moved over it, so a failure in between leaves the target as it was.
bool ReplaceFile(std::u16string_view source, std::u16string_view target, TemporaryFiles& temporary) {
  const std::u16string folder = app::FolderOfPath(target);
  const std::u16string beside = plat::GetTempFileName(folder.empty() ? u"." : folder, u"VLU");
  if (beside.empty()) return false;
  temporary.names.push_back(beside);
  return plat::CopyFile(source, beside, false) && plat::MoveFileRetrying(beside, target, true);
}

// What a fault of the second step leaves for the caller.
int ReportFault(UpgradeFault fault, char16_t* err_key) {
  switch (fault) {
    case UpgradeFault::kFileFormat:
      CopyKey(err_key, kKeyFileFormat);
      break;
    case UpgradeFault::kFileVersion:
      SetMacroFileError(kErrFileVersion, kKeyFileVersion);
      break;
    case UpgradeFault::kBadFile:
      SetMacroFileError(kErrBadFile, kKeyBadFile);
      break;
    case UpgradeFault::kNoMemory:
      SetMacroFileError(kErrNotEnoughMem, kKeyNotEnoughMem);
      break;
    case UpgradeFault::kCurrent:
    case UpgradeFault::kNone:
      break;
  }
  return 0;
}

}  // namespace

int UpgradeMacroFile(std::u16string_view path, uint16_t version, char16_t* err_key) {
  return UpgradeMacroFile(path, version, err_key, UpgradeOptions{}, nullptr);
}

int UpgradeMacroFile(std::u16string_view path, uint16_t version, char16_t* err_key, const UpgradeOptions& options,
                     UpgradeReport* report) {
  CopyKey(err_key, u"");
  if (version == 0) {
    MacroFileHeader header{};
    const int checked = CheckMacroFileSize(path, &header, err_key, &version);
    if (checked != 1 && version == 0) return checked;
  }
  if (report != nullptr) report->from_version = version;
  if (version != kVersion258 && version != kVersion259) return 1;
  // The header check that found the old version left its key; what goes wrong from here
  // must not read as that. A failure to write leaves the state empty and the system's
  // error as the last error, which is what callers then show.
  ClearMacroFileError();

  const std::optional<std::string> original = ReadFile(path);
  if (!original) {
    SystemErrorKey(err_key);
    return 0;
  }
  TemporaryFiles temporary;
  // The version-259 bytes: the file itself, or what the first step makes of it, kept in
  // a file of its own, which becomes the ".old" copy.
  std::u16string source(path);
  plat::ByteView bytes259(*original);
  std::vector<uint8_t> converted;
  if (version == kVersion258 && Convert258To259(bytes259, converted) == UpgradeFault::kNone) {
    bytes259 = plat::ByteView(converted);
    if (!options.dry_run) {
      source = MakeUpgradeTempName();
      temporary.names.push_back(source);
      if (source.empty() ||
          !plat::WriteWholeFile(source,
                                std::string_view(reinterpret_cast<const char*>(converted.data()), converted.size()))) {
        SystemErrorKey(err_key);
        return 0;
      }
    }
  }

  UpgradedMacro upgraded;
  UpgradeReport counts;
  const UpgradeFault fault = Convert259To512(bytes259, upgraded, &counts);
  counts.from_version = version;
  if (report != nullptr) *report = counts;
  if (fault != UpgradeFault::kNone) return ReportFault(fault, err_key);
  if (options.dry_run) return 1;

  const std::u16string written = plat::GetTempFileName(plat::GetTempPath(), u"VLUpgrade");
  temporary.names.push_back(written);
  if (written.empty() || WriteMacroFile(written, upgraded.commands.empty() ? nullptr : upgraded.commands.data(),
                                        upgraded.params.data(), upgraded.named_items.data(), upgraded.header) != 1) {
    SystemErrorKey(err_key);
    return 0;
  }
  // The old bytes are kept before the file changes; without them there is no upgrade.
  const std::u16string old_copy = std::u16string(path) + u".old";
  const bool had_old_copy = plat::FileExists(old_copy);
  if (!ReplaceFile(source, old_copy, temporary) || !ReplaceFile(written, path, temporary)) {
    SystemErrorKey(err_key);
    // A copy this run made goes with the upgrade that failed; the file is as it was.
    const uint32_t error = plat::GetLastError();
    if (!had_old_copy && plat::FileExists(old_copy)) plat::DeleteFileRetrying(old_copy);
    plat::SetLastError(error);
    if (report != nullptr) report->converted = false;
    return 0;
  }
  if (report != nullptr) report->old_copy = old_copy;
  return 1;
}

}  // namespace macro
