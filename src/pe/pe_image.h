// Editing a Windows executable as a file: dropping import descriptors, appending the
// ".mdata" payload section and writing the result with corrected sizes and checksum.
//
// The editor keeps the whole file in memory plus copies of the headers and of up to 20
// section headers. Both PE32 and PE32+ images are handled; the fields the editor touches
// sit at the same offsets in both except the data directories.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_view.h"

namespace pe {

namespace pe {
inline constexpr uint16_t kDosMagic = 0x5A4D;         // "MZ"
inline constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
inline constexpr uint16_t kMagicPe32 = 0x10B;
inline constexpr uint16_t kMagicPe32Plus = 0x20B;
inline constexpr uint32_t kDosHeaderSize = 64;
inline constexpr uint32_t kLfanewOffset = 0x3C;
inline constexpr uint32_t kFileHeaderSize = 20;
inline constexpr uint32_t kOptionalHeader32Size = 224;
inline constexpr uint32_t kOptionalHeader64Size = 240;
inline constexpr uint32_t kNtHeaders32Size = 4 + kFileHeaderSize + kOptionalHeader32Size;  // 248
inline constexpr uint32_t kNtHeaders64Size = 4 + kFileHeaderSize + kOptionalHeader64Size;  // 264
inline constexpr uint32_t kSectionHeaderSize = 40;
inline constexpr uint32_t kImportDescriptorSize = 20;

// Offsets from the PE signature.
inline constexpr uint32_t kNumberOfSections = 0x06;
inline constexpr uint32_t kTimeDateStamp = 0x08;
inline constexpr uint32_t kPointerToSymbolTable = 0x0C;
inline constexpr uint32_t kNumberOfSymbols = 0x10;
inline constexpr uint32_t kSymbolSize = 18;
inline constexpr uint32_t kSizeOfOptionalHeader = 0x14;
inline constexpr uint32_t kOptionalMagic = 0x18;
inline constexpr uint32_t kSectionAlignment = 0x38;
inline constexpr uint32_t kFileAlignment = 0x3C;
inline constexpr uint32_t kSizeOfImage = 0x50;
inline constexpr uint32_t kSizeOfHeaders = 0x54;
inline constexpr uint32_t kCheckSum = 0x58;
inline constexpr uint32_t kNumberOfRvaAndSizes32 = 0x74;
inline constexpr uint32_t kNumberOfRvaAndSizes64 = 0x84;
inline constexpr uint32_t kDataDirectories32 = 0x78;
inline constexpr uint32_t kDataDirectories64 = 0x88;

inline constexpr uint32_t kDirImport = 1;
inline constexpr uint32_t kDirSecurity = 4;
}  // namespace pe

struct SectionHeader {
  char Name[8];
  uint32_t VirtualSize;
  uint32_t VirtualAddress;
  uint32_t SizeOfRawData;
  uint32_t PointerToRawData;
  uint32_t PointerToRelocations;
  uint32_t PointerToLinenumbers;
  uint16_t NumberOfRelocations;
  uint16_t NumberOfLinenumbers;
  uint32_t Characteristics;
};
static_assert(sizeof(SectionHeader) == pe::kSectionHeaderSize);
static_assert(offsetof(SectionHeader, VirtualSize) == 8);
static_assert(offsetof(SectionHeader, PointerToRawData) == 20);
static_assert(offsetof(SectionHeader, Characteristics) == 36);

// The image checksum of CheckSumMappedFile: 16-bit one's-complement-style sum of the
// file (an odd last byte counts as a low byte) with the 4 bytes at `checksum_offset`
// taken as zero, plus the file's length.
uint32_t PeChecksum(const uint8_t* data, size_t size, size_t checksum_offset);

// The import table as the editor finds it, and as RemoveImport edits it: from the
// directory entry through the loaded bytes of the section holding it, up to the all-zero
// terminator. A damaged table ends the walk at the entry where it stopped.
struct ImportTable {
  enum class Damage { kNone, kEntryOutside, kTooMany, kNameOutside, kNameUnterminated };
  std::vector<std::string> names;     // the libraries' names, in table order
  std::vector<uint32_t> descriptors;  // where each named entry lies in the image buffer
  uint32_t end = 0;                   // where the terminator lies, when one was found
  Damage damage = Damage::kNone;
  uint32_t damaged_entry = 0;  // the entry the walk stopped at
  // One line saying where a damaged table ended; empty when it is whole.
  std::string Note() const;
};

// Why the editor last refused an image or an edit.
enum class PeRefusal {
  kNone,
  kNoImage,
  kTruncatedHeaders,
  kNoDosSignature,
  kNoPeSignature,
  kUnknownOptionalHeader,
  kBadSectionCount,
  kBadAlignment,
  kSectionOutsideFile,
  kDamagedImportTable,
  kTooManyImports,
  kBadParameter,
  kNoSectionSlot,
  kNoHeaderRoom,
  kPastAddressSpace,
  kOverlappingSections,
  kSectionMayNotMove,
  kOutOfMemory,
};
// One English sentence for `refusal`, without a final stop; empty for kNone.
const char* PeRefusalText(PeRefusal refusal);

// Where Write sends the bytes of a streamed section, in order.
class SectionSink {
 public:
  virtual ~SectionSink() = default;
  // False (last error set) when the file cannot take them, or when they would run past
  // the section's size.
  virtual bool Append(plat::ByteView bytes) = 0;
};
// Appends a streamed section's bytes when Write asks; false (last error set) stops Write.
using SectionFiller = std::function<bool(SectionSink&)>;

class CPE_ImageEditor {
 public:
  static constexpr int kMaxSections = 20;
  // Including the terminating all-zero descriptor.
  static constexpr uint32_t kMaxImportDescriptors = 260;
  static constexpr uint8_t kSlotFree = 0xFF;
  static constexpr uint8_t kSlotLoaded = 0;
  static constexpr uint8_t kSlotAdded = 1;
  // A loaded section whose data was replaced whole (the rebuilt resource section).
  static constexpr uint8_t kSlotReplaced = 2;
  // An added section whose bytes come from a filler while Write writes the file.
  static constexpr uint8_t kSlotStreamed = 3;
  static constexpr uint32_t kDataCharacteristics = 0xC0000040;

  CPE_ImageEditor();
  ~CPE_ImageEditor();
  CPE_ImageEditor(const CPE_ImageEditor&) = delete;
  CPE_ImageEditor& operator=(const CPE_ImageEditor&) = delete;

  void Reset();
  bool Load(std::u16string_view path);
  // Takes the image over when it is accepted; a refused image stays with the caller and
  // the editor keeps what it had.
  bool Parse(std::vector<uint8_t>&& image);
  bool Parse(const uint8_t* data, size_t size);
  // The zero-filled data block of the new ".mdata" section, or null.
  uint8_t* AddDataSection(uint32_t size);
  // The same section, its `size` bytes given by `fill` only when Write writes the file,
  // so that a large payload is never held in memory. Bytes `fill` leaves out are zero.
  // Its data cannot be looked at before it is written (SectionData is null).
  bool AddStreamedSection(uint32_t size, SectionFiller fill);
  // True when the image stays consistent (whether or not the library was imported); false
  // when its import table cannot be edited safely, with nothing changed.
  bool RemoveImport(std::string_view name);
  // The import table walked as RemoveImport walks it (empty when the image has none).
  // Throws std::bad_alloc when out of memory.
  ImportTable Imports() const;
  // Writes every section's data at its (aligned) PointerToRawData, followed by the COFF
  // symbol and string tables when the image has them, through a temporary file beside
  // `path` that replaces it only when complete. Refuses, with the reason as the last
  // error and any existing file untouched, an image whose section data would overlap
  // each other or the headers.
  bool Write(std::u16string_view path);

  // The slot whose address range (virtual or raw, whichever is larger) holds `rva`, or -1.
  int SectionOfRva(uint32_t rva) const;
  // The bytes at `rva` up to the end of its section's data, in whatever state the section
  // is; empty when no section's data holds the address.
  plat::ByteView ViewRva(uint32_t rva) const;
  // Where a section appended now would start in memory: after the furthest section, in
  // whatever order the table lists them; 0 when that is past 32 bits.
  uint32_t NextSectionAddress() const;
  // Replaces the data of the section in `slot` whole; its virtual size becomes at least
  // the data's length. When the data no longer fits before the sections that lie after it
  // (in memory or in the file, whatever their order in the table), those move up, which
  // `may_move` must allow for each of them; data directory entries inside sections moved
  // in memory move with them. A section without file data gets a place after all other
  // data. False with nothing changed (and the reason as the last error) when sections
  // overlap the one replaced or one may not move.
  bool ReplaceSectionData(int slot, std::vector<uint8_t>&& data, bool (*may_move)(const SectionHeader&));
  // Appends a section holding `data`; false with nothing changed when no slot or no header
  // room is left.
  bool AddSection(std::string_view name, std::vector<uint8_t>&& data, uint32_t characteristics);
  void SetDirectory(uint32_t index, uint32_t address, uint32_t size);
  static bool FixChecksum(std::u16string_view path);
  // The link time the file header records (seconds since 1970), for reproducible builds.
  void SetTimeStamp(uint32_t seconds) {
    if (IsLoaded()) SetNt32(pe::kTimeDateStamp, seconds);
  }

  // Why the last refused call refused (the failures of file access aside, which leave
  // only the last error); kNone until one does.
  PeRefusal Refusal() const { return refusal_; }
  std::string RefusalText() const { return PeRefusalText(refusal_); }

  bool IsLoaded() const { return !image_.empty(); }
  bool IsPe32Plus() const { return pe32plus_; }
  uint32_t ImageSize() const { return static_cast<uint32_t>(image_.size()); }
  const uint8_t* Image() const { return image_.data(); }
  const uint8_t* NtHeaders() const { return nt_; }
  uint32_t NtHeadersSize() const { return nt_size_; }
  int SectionCount() const;
  const SectionHeader& Section(int slot) const { return sections_[slot]; }
  uint8_t SlotState(int slot) const { return states_[slot]; }
  const uint8_t* SectionData(int slot) const;
  // The data directory entry `index` as (address, size); zeros when the image has none.
  uint32_t DirectoryAddress(uint32_t index) const;
  uint32_t DirectorySize(uint32_t index) const;

 private:
  bool Refuse(PeRefusal why, uint32_t error);
  uint32_t Nt32(uint32_t offset) const;
  void SetNt32(uint32_t offset, uint32_t value);
  uint32_t DirectoryOffset(uint32_t index) const;  // 0 when the image has no such entry
  // File offset of `rva` in the image buffer, by the first used slot whose range holds it.
  bool RvaToOffset(uint32_t rva, uint32_t* offset, uint32_t* end) const;
  size_t SectionDataSize(int slot) const;
  // The end of the headers as written with `count` section headers.
  uint64_t HeadersEnd(int count) const;
  // The furthest end of any section's data in the file, with Write's alignment applied.
  uint64_t FileDataEnd() const;
  // Where an appended section's data starts in the file: after every section's data,
  // the headers with `count` section headers and SizeOfHeaders.
  uint64_t NextFileOffset(int count) const;
  // Claims the next free slot for a section of `data_size` bytes; null when none fits.
  SectionHeader* NewSectionHeader(uint64_t data_size);
  void SetSectionCount(int count);
  // Whether the file range lies in the loaded bytes that Write carries over.
  bool InsideLoadedSection(uint32_t offset, uint32_t size) const;

  std::vector<uint8_t> image_;
  uint32_t lfanew_ = 0;
  bool pe32plus_ = false;
  uint8_t nt_[pe::kNtHeaders64Size] = {};
  uint32_t nt_size_ = 0;
  SectionHeader sections_[kMaxSections] = {};
  // Where a loaded slot's data lies in the image buffer: fixed when parsed, even though
  // Write later aligns the header's PointerToRawData.
  uint32_t data_offset_[kMaxSections] = {};
  std::vector<uint8_t> added_[kMaxSections];
  SectionFiller fillers_[kMaxSections];
  uint8_t states_[kMaxSections] = {};
  // The COFF symbol table with the string table after it, in the image buffer; size 0
  // when the image has none (or one Write cannot carry). Section names of the form "/n"
  // point into the strings, so tools need the tables wherever the sections end.
  uint32_t symbols_at_ = 0;
  uint32_t symbols_size_ = 0;
  PeRefusal refusal_ = PeRefusal::kNone;
};

}  // namespace pe
