// Small PE images made in code, so that every layout a test needs (many sections, an
// import table with several libraries, an appended certificate, resources in the middle,
// 32- and 64-bit headers) is spelled out rather than stored as an opaque binary.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brankel_test {

struct PeBuilder {
  bool pe32plus = false;
  uint32_t lfanew = 0x80;
  uint32_t file_alignment = 0x200;
  uint32_t section_alignment = 0x1000;
  uint32_t size_of_headers = 0x400;  // also where the first section's data starts
  int section_count = 3;             // including ".idata" and ".rsrc" when asked for
  int rsrc_slot = -1;                // a ".rsrc" section at this slot
  int import_slot = -1;              // the ".idata" section's slot; -1: the last one
  std::vector<std::string> imports;  // library names; none: no import table at all
  std::string certificate;           // appended after the last section when not empty
  uint32_t raw_size = 0x200;         // of each plain section
  uint32_t virtual_size = 0x180;     // of each plain section; deliberately unaligned
  std::vector<std::string> names;    // a non-empty name here overrides the slot's default
  // The ".rsrc" section's contents, made for the address it is given; the resource
  // directory entry then points at it.
  std::function<std::vector<uint8_t>(uint32_t rva)> resources;
  int reloc_slot = -1;  // the base-relocation directory covers this slot
  // Slots without file data (raw pointer and size 0), as an uninitialised ".bss" is.
  std::vector<int> uninitialized;
  // The order in which the sections' data lies in the file, as slots; empty: table order.
  std::vector<int> file_order;
  // A COFF symbol table of this many 18-byte records, followed by a string table holding
  // `symbol_strings`, after the last section's data (before any certificate).
  uint32_t symbol_count = 0;
  std::string symbol_strings;

  std::vector<uint8_t> Build() const;
};

// Where things landed in the last built image, read back from its own headers.
struct PeLayout {
  uint32_t nt = 0;             // offset of the PE signature
  uint32_t nt_size = 0;        // 248 or 264
  uint32_t directories = 0;    // offset of data directory 0
  uint32_t section_table = 0;  // offset of the first section header
  uint32_t import_table = 0;   // file offset of the first import descriptor, 0 when none
};
PeLayout LayoutOf(const std::vector<uint8_t>& image);

// The file offset of `rva`, by the sections' virtual extents as the loader maps them.
bool MapRva(const std::vector<uint8_t>& image, uint32_t rva, uint32_t* offset);

// Whole files as bytes; empty (false) when they cannot be read (written).
std::vector<uint8_t> ReadFileBytes(std::u16string_view path);
bool WriteFileBytes(std::u16string_view path, const std::vector<uint8_t>& bytes);

// The image checksum written without the editor's code: the file summed as 16-bit words
// in a wide accumulator, folded once at the end.
uint32_t ReferenceChecksum(std::vector<uint8_t> bytes);

uint32_t Read32(const std::vector<uint8_t>& bytes, size_t at);
uint16_t Read16(const std::vector<uint8_t>& bytes, size_t at);
void Write32(std::vector<uint8_t>& bytes, size_t at, uint32_t value);
void Write16(std::vector<uint8_t>& bytes, size_t at, uint16_t value);

// Four plain sections whose data does not simply follow the table: some without file
// data, some out of table order in the file. Each names what it holds.
struct OddLayout {
  const char* name;
  std::vector<int> uninitialized;
  std::vector<int> file_order;
};
const std::vector<OddLayout>& OddLayouts();
PeBuilder OddLayoutBuilder(const OddLayout& layout, bool pe32plus);

// Where each section's raw data lies in `image` (pointer, size), read from its headers.
std::vector<std::pair<uint32_t, uint32_t>> RawRanges(const std::vector<uint8_t>& image);

// Empty when every section of `image` has its bytes in `written` at the place the written
// header gives and no two sections' data in `written` share a byte; else what is wrong.
std::string SectionsCarriedMismatch(const std::vector<uint8_t>& image, const std::vector<uint8_t>& written);

// `image` with its sections' data laid out in the file in reverse table order, where the
// first one's was; the headers say where each went, anything after the data stays.
std::vector<uint8_t> ReverseFileOrder(const std::vector<uint8_t>& image);

// The byte every plain section's data starts with, so tests can tell sections apart.
uint8_t SectionFill(int slot);

// The library names of the import table, in order, read straight from the file bytes
// (an independent reading, not the editor's).
std::vector<std::string> ImportNames(const std::vector<uint8_t>& image);

}  // namespace brankel_test
