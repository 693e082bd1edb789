#include "macro/attachments.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "app/res_string.h"
#include "app/startup.h"
#include "macro/error_state.h"
#include "platform/file_io.h"
#include "platform/file_retry.h"
#include "platform/unicode.h"

namespace macro {
namespace {

constexpr uint64_t kDefaultChunk = 10485760;   // 10 MiB
constexpr uint64_t kLargestChunk = 104857600;  // 100 MiB

constexpr char16_t kKeyRead[] = u"IDS_ERR_ATTACHMENTS_READ";
constexpr char16_t kKeyTemp[] = u"IDS_ERR_ATTACHMENTS_TEMP";
constexpr char16_t kKeyWriteTemp[] = u"IDS_ERR_ATTACHMENTS_WRITE_TEMP";
constexpr char16_t kKeyOpenTemp[] = u"IDS_ERR_ATTACHMENTS_OPEN_TEMP";
constexpr char16_t kKeyTmpOpen[] = u"IDS_ERR_ATTACHMENTS_TMP_OPEN";
constexpr char16_t kKeyWrite[] = u"IDS_ERR_ATTACHMENTS_WRITE";

}  // namespace

int CopyFileChunks(plat::FileHandle from, plat::FileHandle to, uint64_t length, uint64_t chunk) {
  if (chunk == 0 || chunk > kLargestChunk) chunk = kDefaultChunk;
  if (length == 0) {
    uint64_t size = 0, position = 0;
    if (!plat::GetFileSize(from, &size) || !plat::SeekFile(from, 0, plat::SeekOrigin::kCurrent, &position)) return 1;
    length = size > position ? size - position : 0;
  }
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(static_cast<size_t>(std::min(chunk, length)));
  } catch (const std::bad_alloc&) {
    plat::SetLastError(plat::err::kNotEnoughMemory);
    return 1;
  }
  while (length > 0) {
    const size_t part = static_cast<size_t>(std::min<uint64_t>(length, buffer.size()));
    uint32_t done = 0;
    if (!plat::ReadFile(from, buffer.data(), static_cast<uint32_t>(part), &done)) return 1;
    if (done != part) {
      plat::SetLastError(plat::err::kHandleEof);
      return 1;
    }
    if (!plat::WriteExact(to, buffer.data(), part)) return 2;
    length -= part;
  }
  return 0;
}

bool CVL_ItemBuffer::Reserve(uint32_t n) {
  if (n < capacity_ && data_) return true;
  const uint64_t bytes = std::max<uint64_t>((uint64_t{n} * item_size_ + 7) & ~uint64_t{7}, 8);
  // With a 32-bit size_t a table of a large file would otherwise wrap to a small block.
  if (static_cast<size_t>(bytes) != bytes) return false;
  std::unique_ptr<uint8_t[]> block;
  try {
    block.reset(new uint8_t[static_cast<size_t>(bytes)]());
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (data_) std::memcpy(block.get(), data_.get(), size_t{count_} * item_size_);
  data_ = std::move(block);
  capacity_ = n;
  return true;
}

void CVL_ItemBuffer::Free() {
  data_.reset();
  capacity_ = count_ = 0;
}

uint8_t* CVL_ItemBuffer::GetItem(uint32_t i) {
  return data_ && i < count_ ? data_.get() + size_t{i} * item_size_ : nullptr;
}

const uint8_t* CVL_ItemBuffer::GetItem(uint32_t i) const {
  return data_ && i < count_ ? data_.get() + size_t{i} * item_size_ : nullptr;
}

CAttachments_Manager::CAttachments_Manager(const app::CVLResString* table) : CMacroError(table) {
  SetItemSize(kAttachmentItemSize);
}

CAttachments_Manager::~CAttachments_Manager() {
  ReleaseStorage();
  // Naming the file for the system can need memory; without it the temporary file stays,
  // which is better than ending the program from a destructor.
  try {
    if (!temp_path_.empty()) plat::DeleteFile(temp_path_);
  } catch (const std::exception&) {
  }
}

void CAttachments_Manager::RecordKeyError(const char16_t* key, int32_t code, std::u16string_view argument) {
  try {
    const ErrorArg text = ErrorArg::Text(argument);
    AddKeyError(key, code, &text);
  } catch (const std::bad_alloc&) {
    // Recording is best effort: without memory for the argument the key still tells.
    AddKeyError(key, code);
  }
}

void CAttachments_Manager::RecordCodeError(const char16_t* key, int32_t code) {
  // The texts end in the system's words for the failure.
  char16_t message[512];
  FormatSystemError(static_cast<uint32_t>(code), message, sizeof message / sizeof message[0], false);
  RecordKeyError(key, code, message);
}

void CAttachments_Manager::RecordSystemError(const char16_t* key) {
  RecordCodeError(key, StoredErrorCode(static_cast<int32_t>(plat::GetLastError())));
}

std::u16string CAttachments_Manager::StreamName(uint32_t i) const {
  const AttachmentItem* item = Item(i);
  return item == nullptr ? std::u16string() : plat::FixedText(item->StreamName, 650);
}

std::u16string CAttachments_Manager::Extension(uint32_t i) const {
  const AttachmentItem* item = Item(i);
  return item == nullptr ? std::u16string() : plat::FixedText(item->Extension, 32);
}

void CAttachments_Manager::RebuildIndex() {
  for (uint32_t i = 0; i < Count(); ++i) {
    auto* item = reinterpret_cast<AttachmentItem*>(GetItem(i));
    item->Cleared4 = 0;
    item->NameHash = app::KeyHash(plat::ToLower(StreamName(i)));
  }
}

bool CAttachments_Manager::OpenStorage() {
  auto storage = std::make_unique<CompoundFile>();
  if (!storage->OpenFile(temp_path_)) return false;
  storage_ = std::move(storage);
  return true;
}

std::optional<CAttachments_Manager::AreaSizes> CAttachments_Manager::AcceptHead(plat::ByteView head,
                                                                                uint64_t following) {
  const uint32_t magic = head.U32Or(0, 0), count = head.U32Or(8, 0), rest = head.U32Or(12, 0),
                 table = head.U32Or(16, 0);
  SetItemSize(kAttachmentItemSize);
  // The area must lie inside the file, and its table inside the area.
  if (magic != kAttachmentsMagic || following < rest || table > rest ||
      !EnsureCapacity(table / kAttachmentItemSize + 1)) {
    AddKeyError(kKeyAttachmentsBad, kErrAttachmentsBad);
    return std::nullopt;
  }
  SetCount(count <= Capacity() ? count : 0);
  return AreaSizes{table, rest};
}

int CAttachments_Manager::ReadFromMacroFile(plat::FileHandle file, const MacroFileHeader& header) {
  if (!(header.FileFlags & kFileFlagAttachments)) return 1;
  uint64_t size = 0;
  if (!plat::GetFileSize(file, &size) || size < uint64_t{header.TotalSize} + kAttachmentsHeadSize) return 1;
  if (!plat::SeekFile(file, header.TotalSize, plat::SeekOrigin::kBegin, nullptr)) {
    RecordSystemError(kKeyRead);
    return 0;
  }
  Free();
  uint8_t head_bytes[kAttachmentsHeadSize] = {};
  if (!plat::ReadExact(file, head_bytes, sizeof head_bytes)) {
    RecordSystemError(kKeyRead);
    return 0;
  }
  const std::optional<AreaSizes> area =
      AcceptHead(plat::ByteView(head_bytes, sizeof head_bytes), size - header.TotalSize - kAttachmentsHeadSize);
  if (!area) return 0;
  const uint32_t table = area->table, rest = area->rest;
  if (!plat::ReadExact(file, Data(), table)) {
    RecordSystemError(kKeyRead);
    return 0;
  }

  ReleaseStorage();
  const std::u16string temp = plat::GetTempFileName(plat::GetTempPath(), u"~MAth");
  plat::FileHandle out =
      temp.empty() ? nullptr
                   : plat::OpenFile(temp, plat::kGenericWrite, plat::kShareRead, plat::Disposition::kCreateAlways);
  if (out == nullptr) {
    RecordSystemError(kKeyTemp);
    if (!temp.empty()) plat::DeleteFile(temp);
    return 0;
  }
  const int copied = rest > table ? CopyFileChunks(file, out, rest - table) : 0;
  plat::CloseFile(out);
  if (copied != 0) {
    RecordSystemError(copied == 1 ? kKeyRead : kKeyWriteTemp);
    plat::DeleteFile(temp);
    return 0;
  }
  if (!temp_path_.empty() && temp_path_ != temp) plat::DeleteFile(temp_path_);
  temp_path_ = temp;
  const bool opened = OpenStorage();
  if (!opened) RecordCodeError(kKeyOpenTemp, kErrAttachmentsOpenTemp);
  RebuildIndex();
  return opened ? 1 : 0;
}

int CAttachments_Manager::ReadFromMacroMemory(plat::ByteView file, const MacroFileHeader& header) {
  if (!(header.FileFlags & kFileFlagAttachments)) return 1;
  const uint64_t size = file.size();
  if (size < uint64_t{header.TotalSize} + kAttachmentsHeadSize) return 1;
  Free();
  const uint64_t at = header.TotalSize;
  const std::optional<AreaSizes> area = AcceptHead(file.From(at), size - at - kAttachmentsHeadSize);
  if (!area) return 0;
  const uint32_t table = area->table, rest = area->rest;
  const uint64_t table_at = at + kAttachmentsHeadSize;
  if (!file.CopyTo(table_at, Data(), table)) {
    RecordSystemError(kKeyRead);
    return 0;
  }
  ReleaseStorage();
  if (!temp_path_.empty()) plat::DeleteFile(temp_path_);
  temp_path_.clear();
  auto storage = std::make_unique<CompoundFile>();
  const plat::ByteView compound = file.Sub(table_at + table, rest - table).value_or(plat::ByteView());
  const bool opened = storage->OpenMemory(compound.data(), compound.size());
  if (opened) {
    storage_ = std::move(storage);
  } else {
    RecordCodeError(kKeyOpenTemp, kErrAttachmentsOpenTemp);
  }
  RebuildIndex();
  return opened ? 1 : 0;
}

int CAttachments_Manager::WriteToMacroFile(std::u16string_view path, const char16_t** err_key, uint32_t* err_code) {
  const auto fail = [&](const char16_t* key, uint32_t code) {
    if (err_key != nullptr) *err_key = key;
    if (err_code != nullptr) *err_code = code;
    return 0;
  };
  plat::FileHandle file =
      plat::OpenFileRetrying(path, plat::kGenericRead, plat::kShareRead, plat::Disposition::kOpenExisting);
  if (file == nullptr) return fail(kKeyTmpOpen, plat::GetLastError());
  uint64_t size = 0;
  MacroFileHeader header{};
  if (!plat::GetFileSize(file, &size) || size < kHeaderSize) {
    plat::CloseFile(file);
    return fail(kKeyFileFormat, 0);
  }
  if (!plat::ReadExact(file, &header, sizeof header)) {
    const uint32_t error = plat::GetLastError();
    plat::CloseFile(file);
    return fail(kKeyRead, error);
  }
  ReleaseStorage();
  const auto reopen = [&] {
    if (!temp_path_.empty() && !OpenStorage()) RecordKeyError(kKeyOpenTemp, kErrAttachmentsOpenTemp, temp_path_);
  };
  plat::FileHandle storage =
      temp_path_.empty() ? nullptr
                         : plat::OpenFileRetrying(temp_path_, plat::kGenericRead, 0, plat::Disposition::kOpenExisting);
  if (storage == nullptr) {
    const uint32_t error = temp_path_.empty() ? plat::err::kFileNotFound : plat::GetLastError();
    plat::CloseFile(file);
    reopen();
    return fail(kKeyRead, error);
  }
  uint64_t compound_size = 0;
  plat::GetFileSize(storage, &compound_size);
  const uint64_t table = uint64_t{Count()} * kAttachmentItemSize;
  std::vector<uint8_t> head;
  plat::ByteWriter head_writer(head);
  for (const uint64_t field :
       {uint64_t{kAttachmentsMagic}, uint64_t{256}, uint64_t{Count()}, table + compound_size, table}) {
    head_writer.U32(static_cast<uint32_t>(field));
  }
  const auto close_both = [&] {
    plat::CloseFile(storage);
    plat::CloseFile(file);
  };
  // The head's 32-bit sizes must hold the whole area.
  if (table + compound_size > UINT32_MAX) {
    close_both();
    reopen();
    return fail(kKeyWrite, plat::err::kInvalidData);
  }

  // The new file is made beside the macro file and takes its place whole: a write that
  // fails half way leaves the macro file as it was.
  const std::u16string folder = app::FolderOfPath(path);
  const std::u16string beside = plat::GetTempFileName(folder.empty() ? u"." : folder, u"~MAw");
  plat::FileHandle out = beside.empty()
                             ? nullptr
                             : plat::OpenFileRetrying(beside, plat::kGenericWrite, 0, plat::Disposition::kCreateAlways);
  // On every failure from here: close all, remove the new file, keep the failure's error.
  const auto give_up = [&](const char16_t* key, uint32_t error) {
    if (out != nullptr) plat::CloseFile(out);
    close_both();
    if (!beside.empty()) plat::DeleteFileRetrying(beside);
    reopen();
    plat::SetLastError(error);
    return fail(key, error);
  };
  if (out == nullptr) return give_up(kKeyWrite, plat::GetLastError());
  // The macro itself: everything before the attachments area, which the header counts.
  if (!plat::SeekFile(file, 0, plat::SeekOrigin::kBegin, nullptr)) return give_up(kKeyRead, plat::GetLastError());
  if (const int copied = CopyFileChunks(file, out, header.TotalSize); copied != 0) {
    return give_up(copied == 1 ? kKeyRead : kKeyWrite, plat::GetLastError());
  }
  if (!plat::WriteExact(out, head.data(), head.size())) return give_up(kKeyWrite, plat::GetLastError());
  if (Count() > 0) {
    std::vector<uint8_t> copy;
    if (!AllocateZeroed(copy, table)) return give_up(kKeyWrite, plat::err::kNotEnoughMemory);
    std::memcpy(copy.data(), Data(), copy.size());
    for (uint32_t i = 0; i < Count(); ++i) {
      std::memset(copy.data() + size_t{i} * kAttachmentItemSize + offsetof(AttachmentItem, Text), 0, 520);
    }
    if (!plat::WriteExact(out, copy.data(), copy.size())) return give_up(kKeyWrite, plat::GetLastError());
  }
  if (compound_size > 0) {
    if (const int copied = CopyFileChunks(storage, out, compound_size); copied != 0) {
      return give_up(copied == 1 ? kKeyRead : kKeyWrite, plat::GetLastError());
    }
  }
  if (!plat::CloseFile(out)) {
    out = nullptr;
    return give_up(kKeyWrite, plat::GetLastError());
  }
  out = nullptr;
  close_both();
  if (!plat::MoveFileRetrying(beside, path, true)) {
    const uint32_t error = plat::GetLastError();
    plat::DeleteFileRetrying(beside);
    reopen();
    // Held by another program past the wait: said so, naming the macro file.
    if (plat::IsFileInUse(error)) return fail(u"IDS_ERR_FILEINUSE", error);
    return fail(kKeyWrite, error);
  }
  reopen();
  return 1;
}

std::optional<size_t> CAttachments_Manager::FindStream(std::u16string_view name) const {
  // The streams lie in the root; a backslash is part of a name there, never a path.
  if (!storage_ || !storage_->IsOpen()) return std::nullopt;
  const std::optional<size_t> index = storage_->FindChild(0, name);
  if (!index || !storage_->Entries()[*index].IsStream()) return std::nullopt;
  return index;
}

std::optional<uint64_t> CAttachments_Manager::StreamSize(std::u16string_view name) {
  const std::optional<size_t> index = FindStream(name);
  if (!index) return std::nullopt;
  return storage_->Entries()[*index].size;
}

bool CAttachments_Manager::ExtractStream(std::u16string_view name, std::u16string_view target) {
  const std::optional<size_t> index = FindStream(name);
  if (!index) {
    plat::SetLastError(plat::err::kFileNotFound);
    return false;
  }
  std::optional<std::vector<uint8_t>> bytes = storage_->ReadStreamAt(*index);
  if (!bytes) {
    plat::SetLastError(storage_->Error() == CompoundError::kOutOfMemory ? plat::err::kNotEnoughMemory
                                                                        : plat::err::kInvalidData);
    return false;
  }
  if (bytes->size() > kHeaderSize) {
    MacroFileHeader header;
    if (plat::ByteView(*bytes).CopyTo(0, &header, sizeof header) && HasMacroMagic(header)) {
      // MacroName holds 127 characters: a longer stream name is cut, never written past.
      plat::SetFixedText(header.MacroName, 128, name);
      plat::MutableByteView(*bytes).CopyFrom(0,
                                             plat::ByteView(reinterpret_cast<const uint8_t*>(&header), sizeof header));
    }
  }
  plat::FileHandle out = plat::OpenFile(target, plat::kGenericRead | plat::kGenericWrite, plat::kShareWrite,
                                        plat::Disposition::kCreateAlways);
  if (out == nullptr) return false;
  const bool written = plat::WriteExact(out, bytes->data(), bytes->size());
  const uint32_t error = plat::GetLastError();
  plat::CloseFile(out);
  // Half a file is no extracted file.
  if (!written) plat::DeleteFileRetrying(target);
  plat::SetLastError(error);
  return written;
}

std::optional<std::vector<uint8_t>> CAttachments_Manager::ReadStream(std::u16string_view name) {
  const std::optional<size_t> index = FindStream(name);
  if (!index) return std::nullopt;
  return storage_->ReadStreamAt(*index);
}

int CAttachments_Manager::DeleteTempStorage() {
  if (temp_path_.empty()) return 0;
  ReleaseStorage();
  if (!plat::FileExists(temp_path_)) return 1;
  const bool deleted = plat::DeleteFile(temp_path_);
  if (deleted) temp_path_.clear();
  return deleted ? 1 : 0;
}

}  // namespace macro
