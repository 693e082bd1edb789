// A read-only reader of compound files (structured storage in docfile form), the
// container an attachments area carries. It is our own code on every build, so a file
// that reads on Windows reads the same way on Linux and the other way round.
//
// Open checks the header, the sector tables and the whole directory tree once; a stream's
// own sector chain is checked when the stream is read. Anything that comes from the file
// (sector numbers, entry ids, sizes, name lengths) is checked before it is used, and a bad
// file ends in a CompoundError, never in an exception or a read outside the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_view.h"
#include "platform/platform.h"

namespace macro {

enum class CompoundError {
  kNone,
  kNotOpen,     // no file is open
  kOpenFailed,  // the file would not open or tell its size (SystemError() holds why)
  kReadFailed,  // the platform layer failed to read (SystemError() holds why)
  kTruncated,   // the data ends inside the header or inside a sector it needs
  kBadSignature,
  kBadVersion,        // major version other than 3 or 4, or a sector size that does not match it
  kBadHeader,         // byte order, mini sector size, mini stream cutoff, sector counts
  kSectorOutOfRange,  // a chain or table names a sector the file does not hold
  kChainLoop,         // a chain runs longer than the sectors there are
  kChainTooShort,     // a chain ends before the size it carries is covered
  kBadEntryName,      // name length odd, over 64 bytes, empty, or not terminated
  kBadEntryId,        // child or sibling id beyond the directory
  kBadEntryType,      // the tree reaches an entry that is neither storage nor stream
  kDirectoryCycle,    // the tree reaches an entry twice
  kBadStreamSize,     // a size larger than the file can hold
  kNotFound,
  kNotAStream,
  kOutOfMemory,
};

// A short English name of the error, for logs and test messages.
const char* CompoundErrorName(CompoundError error);

enum class CompoundEntryType : uint8_t { kStorage = 1, kStream = 2, kRoot = 5 };

struct CompoundEntry {
  std::u16string name;
  CompoundEntryType type = CompoundEntryType::kStream;
  uint64_t size = 0;             // streams: the stream's length; storages: 0
  uint32_t dir_id = 0;           // the entry's number in the file's directory
  uint32_t start_sector = 0;     // first (mini) sector of a stream's data, as stored
  size_t parent = 0;             // index in Entries() of the storage holding it (the root: 0)
  uint32_t depth = 0;            // 0 for the root, 1 for the root's children, ...
  std::vector<size_t> children;  // storages: indices in Entries(), in the tree's order

  bool IsStream() const { return type == CompoundEntryType::kStream; }
  bool IsStorage() const { return type != CompoundEntryType::kStream; }
};

class CompoundFile {
 public:
  // Marks "to the end of the file" for OpenFile's length.
  static constexpr uint64_t kToEnd = UINT64_MAX;

  CompoundFile() = default;
  CompoundFile(const CompoundFile&) = delete;
  CompoundFile& operator=(const CompoundFile&) = delete;
  ~CompoundFile();

  // Opens the compound file held at `offset` of the file `path` (`length` bytes, or the
  // rest of the file); the file stays open, readable by others, until Close. An attachments
  // area can be read in place this way.
  bool OpenFile(std::u16string_view path, uint64_t offset = 0, uint64_t length = kToEnd);
  bool OpenMemory(std::vector<uint8_t> bytes);
  bool OpenMemory(const uint8_t* data, size_t size);
  void Close();
  bool IsOpen() const { return open_; }

  // What the last failing call met; kNone after a success.
  CompoundError Error() const { return error_; }
  const std::string& ErrorText() const { return error_text_; }
  uint32_t SystemError() const { return system_error_; }

  uint16_t MajorVersion() const { return major_version_; }
  uint32_t SectorSize() const { return sector_size_; }

  // Every entry the directory tree reaches: the root first, each storage's children after
  // it in the tree's order (storages breadth first). Empty when no file is open.
  const std::vector<CompoundEntry>& Entries() const { return entries_; }
  const CompoundEntry& Root() const { return entries_.front(); }  // only while open
  const std::vector<size_t>& RootChildren() const;
  // The names from the root's child down to `index`, joined by backslashes.
  std::u16string PathOf(size_t index) const;

  // The child of the storage at `storage` called `name` (compared as the format compares
  // names: letter case does not matter); nullopt when there is none.
  std::optional<size_t> FindChild(size_t storage, std::u16string_view name) const;
  // The entry at a backslash-separated path from the root ("Data\\Part\\Stream"); a plain
  // name is a child of the root.
  std::optional<size_t> Find(std::u16string_view path) const;

  // The size of the stream at `path`; nullopt (with the error set) when there is none.
  std::optional<uint64_t> StreamSize(std::u16string_view path);
  // The whole stream at `path`, or of the entry at `index`; nullopt with the error set
  // when it is not there, is not a stream, or its sectors are damaged.
  std::optional<std::vector<uint8_t>> ReadStream(std::u16string_view path);
  std::optional<std::vector<uint8_t>> ReadStreamAt(size_t index);

 private:
  bool Fail(CompoundError error, std::string text);
  void FailOutOfMemory() noexcept;
  bool OpenFileUnguarded(std::u16string_view path, uint64_t offset, uint64_t length);
  std::optional<std::vector<uint8_t>> ReadEntryUnguarded(size_t index);
  std::optional<uint64_t> StreamSizeUnguarded(std::u16string_view path);
  bool Load();
  bool LoadHeader(plat::ByteView header);
  bool LoadFat(plat::ByteView header);
  bool LoadDirectory();
  bool LoadMini();
  bool ReadAt(uint64_t offset, uint8_t* out, size_t length);
  bool ReadSector(uint32_t sector, uint8_t* out);
  // Follows a chain in `table` from `start` to its end; a link must name an index below
  // `limit` (and inside the table).
  bool FollowChain(const std::vector<uint32_t>& table, uint64_t limit, uint32_t start, const char* what,
                   std::vector<uint32_t>* chain);
  bool ReadRegular(const CompoundEntry& entry, std::vector<uint8_t>* out);
  bool ReadMini(const CompoundEntry& entry, std::vector<uint8_t>* out);
  std::optional<std::vector<uint8_t>> ReadEntry(size_t index);

  // Where the bytes come from: a file window or a block in memory.
  plat::FileHandle file_ = nullptr;
  uint64_t base_ = 0;
  std::vector<uint8_t> memory_;
  uint64_t data_size_ = 0;

  bool open_ = false;
  CompoundError error_ = CompoundError::kNotOpen;
  std::string error_text_ = "no file is open";
  uint32_t system_error_ = 0;

  uint16_t major_version_ = 0;
  uint32_t sector_size_ = 0;
  uint32_t sector_count_ = 0;  // whole or partial sectors the data holds after the header
  uint32_t first_dir_sector_ = 0;
  uint32_t first_mini_fat_sector_ = 0;
  std::vector<uint32_t> fat_;
  std::vector<CompoundEntry> entries_;

  // Loaded when a small stream is first read.
  bool mini_loaded_ = false;
  CompoundError mini_error_ = CompoundError::kNone;
  std::string mini_error_text_;
  std::vector<uint32_t> mini_fat_;
  std::vector<uint32_t> mini_stream_chain_;  // the root's sectors
  uint64_t mini_stream_size_ = 0;
};

// The upper-case form names are compared in: a simple one-to-one mapping of the letters of
// the Latin, Greek, Cyrillic, Armenian, Georgian, Glagolitic, Coptic and Cherokee scripts
// and the full-width Latin letters; everything else, surrogate halves included, is
// unchanged. It is the same table on every host, unlike the system's own mapping.
char16_t CompoundUpper(char16_t c);
// Orders names as the directory tree does: a shorter name first, names of one length by
// their upper-case units. Negative, zero or positive.
int CompareCompoundNames(std::u16string_view a, std::u16string_view b);

}  // namespace macro
