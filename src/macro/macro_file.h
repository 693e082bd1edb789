// Reading and writing macro files: CFile_Macro hands out a file's blocks on demand; the
// free functions check a header and write a whole file. Failures leave a code and key in
// the macro file error state.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "macro/macro_format.h"
#include "platform/byte_view.h"
#include "platform/platform.h"

namespace macro {

class CFile_Macro {
 public:
  CFile_Macro();
  CFile_Macro(const CFile_Macro&) = delete;
  CFile_Macro& operator=(const CFile_Macro&) = delete;
  virtual ~CFile_Macro();

  // Opens and checks `path` (upgrading an older version first); on success the object
  // drops what it held and keeps the new file open. 1 or 0.
  int Open(std::u16string_view path);
  // The same for a whole macro file held in memory (copied, so the caller's buffer may
  // go): the same checks, results and error keys as Open, except that an older version
  // is not upgraded (memory has no file to upgrade) and access is never denied.
  int OpenMemory(plat::ByteView bytes);
  void Close();

  // Loads the command records and the parameter block and checks every command's record
  // reference; `*commands` is the records (nullptr without commands). 1 or 0.
  int ReadCommands(const MacroCommand** commands);
  // The parameter block, loaded if needed; its length is Header().ParamBlockSize and a
  // terminator follows it. 1 or 0.
  int GetParamBlock(uint8_t** block);
  // The named-item table (256 entries). A table that cannot be read is dropped: the call
  // still succeeds, with NamedItemCount 0 and "IDS_ERR_BADFILE" in the error state.
  int LoadNamedItems();
  // Replaces the record `id` by `record` (head and payload) when its size differs; the
  // record gets a new id, written into its head, which the caller stores in the command.
  // A view that does not hold the whole record its head states is refused (0).
  int SetParamRecord(uint16_t id, plat::MutableByteView record);

  static plat::ByteView FindParamRecord(uint16_t id, plat::ByteView block) { return macro::FindParamRecord(id, block); }

  const MacroFileHeader& Header() const { return header_; }
  MacroFileHeader& Header() { return header_; }
  plat::FileHandle File() const { return file_; }
  // The whole file when it was opened from memory; empty otherwise.
  plat::ByteView Memory() const { return in_memory_ ? plat::ByteView(memory_) : plat::ByteView(); }
  const MacroCommand* Commands() const { return commands_loaded_ && !commands_.empty() ? commands_.data() : nullptr; }
  MacroCommand* Commands() { return commands_loaded_ && !commands_.empty() ? commands_.data() : nullptr; }
  uint8_t* Params() { return params_.empty() ? nullptr : params_.data(); }
  // The loaded parameter block, ParamBlockSize bytes (without the terminator after it).
  plat::ByteView ParamView() const { return plat::ByteView(params_).First(header_.ParamBlockSize); }
  const MacroNamedItem* NamedItems() const { return named_items_.empty() ? nullptr : named_items_.data(); }

 private:
  enum class LoadStart { kDone, kFailed, kLoad };
  enum class ReadResult { kOk, kFailed, kShort };
  // The open file or memory, read the same way: a seek that always succeeds in memory,
  // reads that fall short where the data ends.
  bool IsSourceOpen() const { return file_ != nullptr || in_memory_; }
  bool SeekSource(uint32_t offset);
  ReadResult ReadSource(void* out, size_t length);
  // What every block load does first: clear the error state; a loaded block is done (one
  // whose unpacking failed is a bad file); a closed file fails; an empty block is done.
  LoadStart BeginLoad(bool* loaded, bool have_block, uint64_t declared);
  bool LoadCommandRecords();
  bool LoadParamBlock();
  // Seeks to `offset` and reads the stored length of a block there (packed: the 4-byte
  // length; plain: `plain_length`).
  bool StoredLength(uint32_t offset, uint64_t plain_length, uint64_t* length);
  // Reads a block's stored bytes (unscrambled, `spare` zero bytes after them) at `offset`;
  // a stored length beyond the file is refused with the given code and key.
  bool ReadStoredBlock(uint32_t offset, uint64_t plain_length, size_t spare, int32_t too_long_code,
                       const char16_t* too_long_key, std::vector<uint8_t>* stored, size_t* length);

  plat::FileHandle file_ = nullptr;
  std::vector<uint8_t> memory_;  // the file, when opened from memory
  uint64_t memory_position_ = 0;
  bool in_memory_ = false;
  // Aligned so that its 32-bit fields are too: callers bind references to them.
  alignas(8) MacroFileHeader header_{};
  std::vector<MacroCommand> commands_;
  std::vector<MacroNamedItem> named_items_;
  std::vector<uint8_t> params_;  // ParamBlockSize bytes, then the terminator's room
  bool named_items_loaded_ = false;
  bool params_loaded_ = false;
  bool commands_loaded_ = false;
};

// Opens `path` (open existing) and reads and checks its header into `*header`, with the
// password restored. Returns the open file, or nullptr: with "IDS_ERR_FILEFORMAT" or
// "IDS_ERR_FILEVERSION" in the error state for a bad header (never cleared here), or with
// only the system's last error when the file itself would not open.
plat::FileHandle OpenMacroHeader(std::u16string_view path, MacroFileHeader* header, uint32_t access, uint32_t share,
                                 uint16_t* version);

// OpenMacroHeader for reading, then whether the file holds all of TotalSize; the file is
// closed in every case. A short file writes "IDS_ERR_FILEFORMAT" into `err_key` (260
// units) when one is given. 1 or 0.
int CheckMacroFileSize(std::u16string_view path, MacroFileHeader* header, char16_t* err_key, uint16_t* version);

// Writes a complete macro file from blocks in memory; counts and sizes come from `header`
// (a copy is changed, the caller's blocks are not). The target is replaced only by the
// final copy of a complete temporary file, which is removed whatever happens. 1 or 0.
int WriteMacroFile(std::u16string_view path, const MacroCommand* commands, const uint8_t* params,
                   const MacroNamedItem* named_items, const MacroFileHeader& header);

}  // namespace macro
