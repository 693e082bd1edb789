// The attachments area at the end of a macro file: a table of items, then a compound file
// with one stream per attached file. The manager reads it into a temporary compound file,
// gives its streams out, and writes the area back after a macro file was rewritten.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "macro/compound_file.h"
#include "macro/macro_format.h"
#include "macro/vl_error.h"
#include "platform/byte_view.h"
#include "platform/platform.h"

namespace macro {

inline constexpr uint32_t kAttachmentsMagic = 0xFCDD0001u;
inline constexpr size_t kAttachmentItemSize = 1920;
inline constexpr size_t kAttachmentsHeadSize = 20;
inline constexpr int32_t kErrAttachmentsOpenTemp = static_cast<int32_t>(0x80030109u);  // a damaged compound file

#pragma pack(push, 1)
struct AttachmentItem {
  uint8_t Carried0[4];
  uint32_t Cleared4;  // 0 once the table is loaded
  uint32_t NameHash;  // of the lower-cased stream name
  uint8_t Carried12[20];
  char16_t Extension[32];    // with its dot: ".msd"
  char16_t StreamName[650];  // the item's key in the compound file
  char16_t Text[260];        // written as zeros
  uint8_t Carried1916[4];
};
#pragma pack(pop)
static_assert(sizeof(AttachmentItem) == kAttachmentItemSize);
static_assert(offsetof(AttachmentItem, NameHash) == 8);
static_assert(offsetof(AttachmentItem, Extension) == 32);
static_assert(offsetof(AttachmentItem, StreamName) == 96);
static_assert(offsetof(AttachmentItem, Text) == 1396);

// A growable array of fixed-size items.
class CVL_ItemBuffer {
 public:
  CVL_ItemBuffer() = default;
  CVL_ItemBuffer(const CVL_ItemBuffer&) = delete;
  CVL_ItemBuffer& operator=(const CVL_ItemBuffer&) = delete;
  virtual ~CVL_ItemBuffer() = default;

  // Room for `n` items (kept when there is room already); the old items are kept. False
  // when the memory cannot be had, and nothing changes.
  virtual bool Reserve(uint32_t n);
  bool EnsureCapacity(uint32_t n) { return Reserve(n); }
  void Free();
  void SetItemSize(uint32_t bytes) { item_size_ = bytes; }
  uint8_t* GetItem(uint32_t i);
  const uint8_t* GetItem(uint32_t i) const;

  uint32_t Capacity() const { return capacity_; }
  uint32_t Count() const { return count_; }
  uint32_t ItemSize() const { return item_size_; }

 protected:
  uint8_t* Data() { return data_.get(); }
  void SetCount(uint32_t count) { count_ = count; }

 private:
  uint32_t capacity_ = 0;
  uint32_t count_ = 0;
  uint32_t item_size_ = 0;
  std::unique_ptr<uint8_t[]> data_;
};

class CAttachments_Manager : public CVL_ItemBuffer, public CMacroError {
 public:
  explicit CAttachments_Manager(const app::CVLResString* table = nullptr);
  ~CAttachments_Manager() override;

  // Reads the area of the macro file open as `file` with `header`. A file without the
  // area has no items and succeeds. Errors are recorded in this object.
  int ReadFromMacroFile(plat::FileHandle file, const MacroFileHeader& header);
  // The same for a macro file held in memory (`file` is all of it): the same checks and
  // errors, but the compound file is kept in memory, not in a temporary file, so the
  // streams can be looked up and extracted but the area cannot be written back.
  int ReadFromMacroMemory(plat::ByteView file, const MacroFileHeader& header);
  // Appends the area (this table and the temporary compound file) to the macro file at
  // `path`; on failure `*err_key` and `*err_code` (a system error number) say why.
  int WriteToMacroFile(std::u16string_view path, const char16_t** err_key, uint32_t* err_code);
  // Writes the stream `name` of the container's root to `target`; an attached macro file
  // gets the stream's name as its macro name. A backslash in `name` is no path: such a
  // name is looked up in the root like any other.
  bool ExtractStream(std::u16string_view name, std::u16string_view target);
  virtual void RebuildIndex();
  int DeleteTempStorage();

  const AttachmentItem* Item(uint32_t i) const { return reinterpret_cast<const AttachmentItem*>(GetItem(i)); }
  std::u16string StreamName(uint32_t i) const;
  std::u16string Extension(uint32_t i) const;
  const std::u16string& TempPath() const { return temp_path_; }
  bool HasStorage() const { return storage_ != nullptr; }
  // The bytes of the root's stream `name`, looked up as ExtractStream does but kept in
  // memory and unchanged; nothing when there is no such stream or it cannot be read.
  std::optional<std::vector<uint8_t>> ReadStream(std::u16string_view name);
  // The size of the root's stream `name`, looked up as ExtractStream does.
  std::optional<uint64_t> StreamSize(std::u16string_view name);

 private:
  // The sizes an accepted area head gives: the item table's, and the table's with the
  // compound file after it.
  struct AreaSizes {
    uint32_t table = 0;
    uint32_t rest = 0;
  };
  // Checks the area's head (`head`, at least kAttachmentsHeadSize bytes) against the
  // `following` bytes the file holds after it, and makes room for its table and sets the
  // count. A damaged head records its error and gives nothing.
  std::optional<AreaSizes> AcceptHead(plat::ByteView head, uint64_t following);
  bool OpenStorage();
  void ReleaseStorage() { storage_.reset(); }
  // The root's stream called `name`, as an index into the storage's entries.
  std::optional<size_t> FindStream(std::u16string_view name) const;
  // Records `key` with `code` and one text for the "%s" of the key's text: `argument`,
  // or the system's message for the code.
  void RecordKeyError(const char16_t* key, int32_t code, std::u16string_view argument);
  void RecordCodeError(const char16_t* key, int32_t code);
  void RecordSystemError(const char16_t* key);

  std::unique_ptr<CompoundFile> storage_;
  std::u16string temp_path_;
};

// Copies `length` bytes (0: to the end of `from`) in chunks of `chunk` bytes (0 or more
// than 100 MiB: 10 MiB). Returns 0 when done, 1 when a read failed, 2 when a write failed.
int CopyFileChunks(plat::FileHandle from, plat::FileHandle to, uint64_t length, uint64_t chunk = 0);

}  // namespace macro
