#include "macro/macro_file.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>

#include "macro/error_state.h"
#include "macro/legacy_upgrade.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/file_retry.h"

namespace macro {
namespace {

constexpr size_t kNamedItemTableBytes = size_t{kMaxNamedItems} * kNamedItemSize;

// SOURCE_DATE_EPOCH stands in for the clock, so a reproducible build's macro copies are
// the same bytes every time.
int32_t Now() { return static_cast<int32_t>(plat::StampTime()); }

uint64_t Position(plat::FileHandle file) {
  uint64_t position = 0;
  plat::SeekFile(file, 0, plat::SeekOrigin::kCurrent, &position);
  return position;
}

// Headroom that is not a block: the file size a block may claim.
uint64_t BlockRoom(const MacroFileHeader& header) {
  return header.TotalSize >= kHeaderSize ? header.TotalSize - kHeaderSize : 0;
}

// The key a refused unpacking leaves: memory that cannot be had says so, anything else
// means the stream is not what its block needs.
void SetUnpackError(UnpackError error) {
  if (error == UnpackError::kNoMemory) {
    SetMacroFileError(kErrNotEnoughMem, kKeyNotEnoughMem);
  } else {
    SetMacroFileError(kErrBadFile, kKeyBadFile);
  }
}

void NormaliseNamedItems(std::vector<MacroNamedItem>& items, uint16_t count) {
  for (uint32_t i = 0; i < kMaxNamedItems; ++i) {
    MacroNamedItem& item = items[i];
    if (i < count) {
      const uint8_t high = item.Kinds5 >> 4;
      if (high == 0 || high == 15) item.Kinds5 = static_cast<uint8_t>((item.Kinds5 & 0x0F) | 0x20);
      item.Name[63] = 0, item.SecondText[191] = 0, item.ThirdText[259] = 0;
      item.Cleared2 = 0;
    } else {
      item.Editor0 = 0, item.Cleared2 = 0, item.Name[0] = 0, item.SecondText[0] = 0;
    }
  }
}

// The header checks every open makes: `read` as it lies in the file (`whole` when all of
// it was there) becomes `*header` with the password restored.
bool CheckHeader(bool whole, MacroFileHeader read, MacroFileHeader* header, uint16_t* version) {
  if (!whole || !HasMacroMagic(read)) {
    SetMacroFileError(kErrFileFormat, kKeyFileFormat);
    return false;
  }
  if (version != nullptr) *version = read.Version;
  if (read.Version != kMacroVersion) {
    SetMacroFileError(kErrFileVersion, kKeyFileVersion);
    return false;
  }
  if (read.EditorFlag37 != 1) read.EditorFlag37 = 0;
  RestorePasswordField(read);
  *header = read;
  return true;
}

}  // namespace

plat::FileHandle OpenMacroHeader(std::u16string_view path, MacroFileHeader* header, uint32_t access, uint32_t share,
                                 uint16_t* version) {
  if (version != nullptr) *version = 0;
  plat::FileHandle file = plat::OpenFile(path, access, share, plat::Disposition::kOpenExisting);
  if (file == nullptr) return nullptr;
  MacroFileHeader read{};
  const bool whole = plat::ReadExact(file, &read, sizeof read);
  if (!CheckHeader(whole, read, header, version)) {
    plat::CloseFile(file);
    return nullptr;
  }
  return file;
}

int CheckMacroFileSize(std::u16string_view path, MacroFileHeader* header, char16_t* err_key, uint16_t* version) {
  plat::FileHandle file =
      OpenMacroHeader(path, header, plat::kGenericRead, plat::kShareRead | plat::kShareWrite, version);
  if (file == nullptr) return 0;
  uint64_t size = 0;
  const bool whole = plat::GetFileSize(file, &size) && size >= header->TotalSize;
  plat::CloseFile(file);
  if (!whole && err_key != nullptr) {
    std::u16string_view key = kKeyFileFormat;
    std::copy(key.begin(), key.end(), err_key);
    err_key[key.size()] = 0;
  }
  return whole ? 1 : 0;
}

CFile_Macro::CFile_Macro() {
  int32_t code = 0;
  GetMacroFileError(&code);
  SetMacroFileError(code, nullptr);
}

CFile_Macro::~CFile_Macro() { Close(); }

void CFile_Macro::Close() {
  if (file_ != nullptr) plat::CloseFile(file_);
  file_ = nullptr;
  memory_ = {};
  memory_position_ = 0;
  in_memory_ = false;
  header_ = MacroFileHeader{};
  commands_ = {};
  named_items_ = {};
  params_ = {};
  named_items_loaded_ = params_loaded_ = commands_loaded_ = false;
}

int CFile_Macro::Open(std::u16string_view path) {
  ClearMacroFileError();
  MacroFileHeader header{};
  uint16_t version = 0;
  const uint32_t share = plat::kShareRead | plat::kShareWrite;
  plat::FileHandle file = OpenMacroHeader(path, &header, plat::kGenericRead, share, &version);
  if (file == nullptr) {
    if (plat::GetLastError() == plat::err::kAccessDenied) {
      SetMacroFileError(kErrAccessDenied, kKeyAccessDenied);
      return 0;
    }
    if (version == 0 || version >= kMacroVersion) return 0;
    char16_t key[260] = {};
    if (UpgradeMacroFile(path, version, key) != 1) return 0;
    file = OpenMacroHeader(path, &header, plat::kGenericRead, share, &version);
    if (file == nullptr) return 0;
  }
  uint64_t size = 0;
  if (!plat::GetFileSize(file, &size) || size < header.TotalSize) {
    plat::CloseFile(file);
    SetMacroFileError(kErrBadFile, kKeyBadFile);
    return 0;
  }
  Close();
  header_ = header;
  file_ = file;
  return 1;
}

int CFile_Macro::OpenMemory(plat::ByteView bytes) {
  ClearMacroFileError();
  MacroFileHeader read{};
  MacroFileHeader header{};
  if (!CheckHeader(bytes.CopyTo(0, &read, sizeof read), read, &header, nullptr)) return 0;
  if (bytes.size() < header.TotalSize) {
    SetMacroFileError(kErrBadFile, kKeyBadFile);
    return 0;
  }
  std::vector<uint8_t> copy;
  if (!AllocateZeroed(copy, bytes.size())) {
    SetMacroFileError(kErrNotEnoughMem, kKeyNotEnoughMem);
    return 0;
  }
  if (!bytes.empty()) std::memcpy(copy.data(), bytes.data(), bytes.size());
  Close();
  header_ = header;
  memory_ = std::move(copy);
  in_memory_ = true;
  return 1;
}

bool CFile_Macro::SeekSource(uint32_t offset) {
  if (!in_memory_) return plat::SeekFile(file_, offset, plat::SeekOrigin::kBegin, nullptr);
  // As in a file, a position past the end is no error; reading there is.
  memory_position_ = offset;
  return true;
}

CFile_Macro::ReadResult CFile_Macro::ReadSource(void* out, size_t length) {
  if (in_memory_) {
    const plat::ByteView memory(memory_);
    const plat::ByteView rest = memory.From(memory_position_);
    const size_t done = std::min(rest.size(), length);
    if (done != 0) std::memcpy(out, rest.data(), done);
    memory_position_ += done;
    return done == length ? ReadResult::kOk : ReadResult::kShort;
  }
  uint32_t done = 0;
  if (length > UINT32_MAX || !plat::ReadFile(file_, out, static_cast<uint32_t>(length), &done)) {
    return ReadResult::kFailed;
  }
  return done == length ? ReadResult::kOk : ReadResult::kShort;
}

bool CFile_Macro::StoredLength(uint32_t offset, uint64_t plain_length, uint64_t* length) {
  if (!SeekSource(offset)) return false;
  if (!header_.Packed) {
    *length = plain_length;
    return true;
  }
  uint8_t bytes[4];
  if (ReadSource(bytes, 4) != ReadResult::kOk) return false;
  *length = plat::le::Load32(bytes);
  return true;
}

bool CFile_Macro::ReadStoredBlock(uint32_t offset, uint64_t plain_length, size_t spare, int32_t too_long_code,
                                  const char16_t* too_long_key, std::vector<uint8_t>* stored, size_t* length) {
  uint64_t stored_length = 0;
  if (!StoredLength(offset, plain_length, &stored_length)) return false;
  if (stored_length > BlockRoom(header_)) {
    SetMacroFileError(too_long_code, too_long_key);
    return false;
  }
  // Whole multiples of 8, counted in 64 bits: with a 32-bit size_t the sum must not wrap.
  if (!AllocateZeroed(*stored, (stored_length + spare + 7) & ~uint64_t{7})) {
    SetMacroFileError(kErrNotEnoughMem, kKeyNotEnoughMem);
    return false;
  }
  *length = static_cast<size_t>(stored_length);
  if (const ReadResult read = ReadSource(stored->data(), *length); read != ReadResult::kOk) {
    // A failed read leaves the system's error to tell why; a block the file does not
    // hold in full is a bad file.
    if (read == ReadResult::kShort) SetMacroFileError(kErrBadFile, kKeyBadFile);
    return false;
  }
  if (header_.Scrambled) ScrambleBlock(plat::MutableByteView(stored->data(), *length), PasswordKey(header_));
  return true;
}

CFile_Macro::LoadStart CFile_Macro::BeginLoad(bool* loaded, bool have_block, uint64_t declared) {
  ClearMacroFileError();
  if (*loaded) {
    // A block whose unpacking failed stays absent; it must not pass for an empty one.
    if (!have_block && declared != 0) {
      SetMacroFileError(kErrBadFile, kKeyBadFile);
      return LoadStart::kFailed;
    }
    return LoadStart::kDone;
  }
  if (!IsSourceOpen()) {
    SetMacroFileError(kErrFileOpen, kKeyFileOpen);
    return LoadStart::kFailed;
  }
  if (declared == 0) {
    *loaded = true;
    return LoadStart::kDone;
  }
  return LoadStart::kLoad;
}

bool CFile_Macro::LoadCommandRecords() {
  const uint64_t count = header_.CommandCount;
  if (const LoadStart start = BeginLoad(&commands_loaded_, !commands_.empty(), count); start != LoadStart::kLoad) {
    return start == LoadStart::kDone;
  }
  std::vector<uint8_t> stored;
  size_t length = 0;
  if (!ReadStoredBlock(header_.CommandBlockOffset, count * kCommandSize, 0, kErrBadFile, kKeyBadFile, &stored,
                       &length)) {
    return false;
  }
  const uint64_t table_bytes = count * kCommandSize;
  std::vector<uint8_t> expanded;
  const std::vector<uint8_t>* records = &stored;
  if (header_.Packed) {
    // The stream must expand to exactly the count's records: a longer claim is refused
    // before it is allocated, a shorter one after.
    UnpackError error = UnpackError::kNone;
    if (!UnpackBlock(plat::ByteView(stored.data(), length), 0, expanded, table_bytes, &error) ||
        expanded.size() < table_bytes) {
      // Refused for good, except for memory, which may be there on a later try.
      commands_loaded_ = error != UnpackError::kNoMemory;
      SetUnpackError(error);
      return false;
    }
    records = &expanded;
  }
  if (!AllocateZeroed(commands_, count)) {
    SetMacroFileError(kErrNotEnoughMem, kKeyNotEnoughMem);
    return false;
  }
  commands_loaded_ = true;
  std::memcpy(commands_.data(), records->data(), static_cast<size_t>(table_bytes));
  for (MacroCommand& command : commands_) {
    if (command.ParamId == 0xFFFF) command.ParamId = kNoParamId;
  }
  return true;
}

bool CFile_Macro::LoadParamBlock() {
  if (const LoadStart start = BeginLoad(&params_loaded_, !params_.empty(), header_.ParamBlockSize);
      start != LoadStart::kLoad) {
    return start == LoadStart::kDone;
  }
  std::vector<uint8_t> stored;
  size_t length = 0;
  if (!ReadStoredBlock(header_.ParamBlockOffset, header_.ParamBlockSize, kParamSpare, kErrNotEnoughMem,
                       kKeyNotEnoughMem, &stored, &length)) {
    return false;
  }
  size_t size = length;
  if (header_.Packed) {
    std::vector<uint8_t> expanded;
    UnpackError error = UnpackError::kNone;
    if (!UnpackBlock(plat::ByteView(stored.data(), size), kParamSpare, expanded, kMaxParamBlockSize, &error)) {
      // Refused for good, except for memory, which may be there on a later try.
      params_loaded_ = error != UnpackError::kNoMemory;
      SetUnpackError(error);
      return false;
    }
    size = expanded.size() - kParamSpare;
    stored = std::move(expanded);
  }
  params_loaded_ = true;
  header_.ParamBlockSize = static_cast<uint32_t>(NormaliseParamBlock(plat::MutableByteView(stored), size));
  params_ = std::move(stored);
  return true;
}

int CFile_Macro::ReadCommands(const MacroCommand** commands) {
  if (commands != nullptr) *commands = nullptr;
  if (header_.CommandCount == 0) return 1;
  if (!LoadCommandRecords()) return 0;
  if (commands != nullptr) *commands = Commands();
  if (!LoadParamBlock()) return 0;
  bool all_found = true;
  const ParamRecordIndex records(ParamView());
  for (const MacroCommand& command : commands_) {
    if (command.ParamId == kNoParamId || command.ParamId == 0xFFFF) continue;
    if (records.Find(command.ParamId).empty()) {
      SetMacroFileError(kErrBadFile, kKeyBadFile);
      all_found = false;
    }
  }
  return all_found ? 1 : 0;
}

int CFile_Macro::GetParamBlock(uint8_t** block) {
  if (block != nullptr) *block = nullptr;
  if (!LoadParamBlock()) return 0;
  if (block != nullptr) *block = Params();
  return 1;
}

int CFile_Macro::LoadNamedItems() {
  // A dropped table leaves a count of 0, so it never counts as absent.
  if (const LoadStart start = BeginLoad(&named_items_loaded_, true, header_.NamedItemCount);
      start != LoadStart::kLoad) {
    return start == LoadStart::kDone ? 1 : 0;
  }
  if (!AllocateZeroed(named_items_, kMaxNamedItems)) {
    SetMacroFileError(kErrNotEnoughMem, kKeyNotEnoughMem);
    return 0;
  }
  // The table is refused: the call fails and the count stays, so that no copy of the
  // macro can be written as if it had none.
  const auto refuse = [&](int32_t code, const char16_t* key) {
    named_items_ = {};
    SetMacroFileError(code, key);
    return 0;
  };
  // The table cannot be read: the macro goes on without named items.
  const auto drop = [&] {
    named_items_ = {};
    SetMacroFileError(kErrBadFile, kKeyBadFile);
    header_.NamedItemCount = 0;
    return 1;
  };
  const size_t count = header_.NamedItemCount;
  // More entries than the table holds is no table this system can carry.
  if (count > kMaxNamedItems) return drop();
  uint64_t length = 0;
  if (!StoredLength(kHeaderSize, count * kNamedItemSize, &length)) return drop();
  if (header_.Packed) {
    if (length > BlockRoom(header_)) return refuse(kErrBadFile, kKeyBadFile);
    std::vector<uint8_t> stored;
    if (!AllocateZeroed(stored, length)) return refuse(kErrNotEnoughMem, kKeyNotEnoughMem);
    if (ReadSource(stored.data(), stored.size()) != ReadResult::kOk) return drop();
    std::vector<uint8_t> expanded;
    UnpackError error = UnpackError::kNone;
    if (!UnpackBlock(plat::ByteView(stored), 0, expanded, kNamedItemTableBytes, &error)) {
      return error == UnpackError::kNoMemory ? refuse(kErrNotEnoughMem, kKeyNotEnoughMem) : drop();
    }
    if (expanded.size() < count * kNamedItemSize) return drop();
    std::memcpy(named_items_.data(), expanded.data(), expanded.size());
  } else if (ReadSource(named_items_.data(), count * kNamedItemSize) != ReadResult::kOk) {
    return drop();
  }
  named_items_loaded_ = true;
  NormaliseNamedItems(named_items_, header_.NamedItemCount);
  return 1;
}

int CFile_Macro::SetParamRecord(uint16_t id, plat::MutableByteView record) {
  if (!params_loaded_ || params_.empty() || !record.Fits(0, kParamHeadSize)) return 0;
  const plat::ByteView found = FindParamRecord(id, ParamView());
  if (found.empty()) return 0;
  if (record.View().U16Or(0, 0) == found.U16Or(0, 0)) return 1;

  // The new id is the smallest one no record carries, so the new record can never be
  // shadowed by an older one with the same id. The walk stops where every reader of the
  // block stops: a record put after that point would never be found again.
  std::set<uint16_t> used;
  const plat::ByteView block = ParamView();
  uint64_t chain_end = 0;
  for (;;) {
    const plat::ByteView at = block.From(chain_end);
    if (ParamRecordId(at) == kNoParamId || ParamRecordSize(at) == 0) break;
    used.insert(ParamRecordId(at));
    chain_end += kParamHeadSize + uint64_t{ParamRecordSize(at)};
  }
  // A last record that claims more than the block holds leaves no place for a new one.
  if (chain_end > block.size()) return 0;
  uint16_t candidate = 0;
  while (used.count(candidate) != 0 || candidate == kNoParamId) ++candidate;
  if (candidate > 0x3FFF) return 0;
  const uint64_t record_length = kParamHeadSize + uint64_t{ParamRecordSize(record)};
  if (!record.Fits(0, record_length)) return 0;
  SetParamRecordId(record, candidate);

  const size_t old_size = header_.ParamBlockSize;
  // The block must still fit the file's sizes with the new record in it.
  if (uint64_t{old_size} + record_length > kMaxParamBlockSize) return 0;
  std::vector<uint8_t> grown;
  if (!AllocateZeroed(grown, uint64_t{old_size} + record_length + kParamSpare)) return 0;
  const plat::MutableByteView into(grown);
  // The new record goes where the walk ends; whatever the block holds past that point
  // stays behind it, byte for byte.
  const size_t insert_at = static_cast<size_t>(chain_end);
  into.CopyFrom(0, block.First(insert_at));
  into.CopyFrom(insert_at, record.View().First(record_length));
  into.CopyFrom(insert_at + static_cast<size_t>(record_length), block.From(insert_at).First(old_size - insert_at));
  size_t size = old_size + static_cast<size_t>(record_length);
  WriteParamTerminator(into.Sub(size, kParamSpare).value_or(plat::MutableByteView()));

  // Take the old record out; everything after it moves down, the terminator with it.
  const plat::ByteView old = FindParamRecord(id, plat::ByteView(grown).First(size));
  if (old.empty()) return 0;
  const size_t at = static_cast<size_t>(old.data() - grown.data());
  const size_t old_length = old.size();
  std::memmove(grown.data() + at, grown.data() + at + old_length, size + kParamTerminatorSize - (at + old_length));
  size -= old_length;
  params_ = std::move(grown);
  header_.ParamBlockSize = static_cast<uint32_t>(size);
  return 1;
}

int WriteMacroFile(std::u16string_view path, const MacroCommand* commands, const uint8_t* params,
                   const MacroNamedItem* named_items, const MacroFileHeader& source) {
  MacroFileHeader header = source;
  if (commands == nullptr) header.CommandCount = 0, header.ParamBlockSize = 0;
  if (params == nullptr) header.ParamBlockSize = 0;
  if (named_items == nullptr) header.NamedItemCount = 0;

  const std::u16string temporary = plat::GetTempFileName(plat::GetTempPath(), u"$tmpmacro");
  if (temporary.empty()) return 0;
  plat::DeleteFile(temporary);
  plat::FileHandle file = plat::OpenFile(temporary, plat::kGenericRead | plat::kGenericWrite, plat::kShareRead,
                                         plat::Disposition::kCreateAlways);
  if (file == nullptr) return 0;
  // On any failure: close, remove the temporary file, keep the failure's system error.
  const auto fail = [&] {
    const uint32_t error = plat::GetLastError();
    plat::CloseFile(file);
    plat::DeleteFileRetrying(temporary);
    plat::SetLastError(error);
    return 0;
  };

  SetMacroMagic(header);
  header.Version = kMacroVersion;
  header.TotalSize = kHeaderSize;
  const std::u16string password = HeaderPassword(header);
  header.Scrambled = (header.ProtectFlags & kProtectWithPassword) && !password.empty() ? 1 : 0;
  header.SaveStamp = header.WriteStamp = Now();
  if (!plat::WriteExact(file, &header, sizeof header)) return fail();

  const std::string key = header.Scrambled ? plat::WideToAnsi(password) : std::string();
  // One block in its stored form: packed (length, then stream) or plain; scrambled when
  // asked. Returns the bytes it added to the file, or -1 with the reason as the system's
  // last error.
  const auto write_block = [&](const void* data, uint64_t length, bool scramble) -> int64_t {
    std::vector<uint8_t> bytes;
    const bool made =
        static_cast<size_t>(length) == length &&
        (header.Packed
             ? PackBlock(plat::ByteView(static_cast<const uint8_t*>(data), static_cast<size_t>(length)), bytes)
             : AllocateZeroed(bytes, length));
    if (!made) {
      plat::SetLastError(plat::err::kNotEnoughMemory);
      return -1;
    }
    if (!header.Packed && length != 0) std::memcpy(bytes.data(), data, bytes.size());
    if (scramble) ScrambleBlock(plat::MutableByteView(bytes), key);
    const uint64_t stored = bytes.size() + (header.Packed ? 4 : 0);
    // TotalSize must still count the whole file.
    if (header.TotalSize + stored > UINT32_MAX) {
      plat::SetLastError(plat::err::kInvalidData);
      return -1;
    }
    if (header.Packed) {
      const uint32_t stream = static_cast<uint32_t>(bytes.size());
      if (!plat::WriteExact(file, &stream, 4)) return -1;
    }
    if (!plat::WriteExact(file, bytes.data(), bytes.size())) return -1;
    return static_cast<int64_t>(stored);
  };

  header.NamedItemCount = std::min<uint16_t>(header.NamedItemCount, kMaxNamedItems);
  if (header.NamedItemCount != 0) {
    const int64_t stored = write_block(named_items, uint64_t{header.NamedItemCount} * kNamedItemSize, false);
    if (stored < 0) return fail();
    header.TotalSize += static_cast<uint32_t>(stored);
  }
  if (header.CommandCount != 0) {
    header.CommandBlockOffset = static_cast<uint32_t>(Position(file));
    const int64_t stored = write_block(commands, uint64_t{header.CommandCount} * kCommandSize, header.Scrambled);
    if (stored < 0) return fail();
    header.TotalSize += static_cast<uint32_t>(stored);
  }
  header.ParamBlockOffset = static_cast<uint32_t>(Position(file));
  if (header.ParamBlockSize != 0) {
    const int64_t stored = write_block(params, header.ParamBlockSize, header.Scrambled);
    if (stored < 0) return fail();
    if (header.Packed) header.ParamBlockSize = static_cast<uint32_t>(stored - 4);
    header.TotalSize += static_cast<uint32_t>(stored);
  }

  header.WriteStamp = Now();
  ScramblePasswordField(header);
  if (!plat::SeekFile(file, 0, plat::SeekOrigin::kBegin, nullptr) || !plat::WriteExact(file, &header, sizeof header)) {
    return fail();
  }
  plat::CloseFile(file);
  if (!plat::CopyFile(temporary, path, false)) {
    const uint32_t error = plat::GetLastError();
    plat::DeleteFileRetrying(temporary);
    plat::SetLastError(error);
    return 0;
  }
  plat::DeleteFileRetrying(temporary);
  return 1;
}

}  // namespace macro
