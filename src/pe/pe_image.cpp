#include "pe/pe_image.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "platform/byte_view.h"
#include "platform/file_io.h"
#include "platform/file_retry.h"
#include "platform/platform.h"

namespace pe {
namespace {

// In 64 bits so that a value near 4 GiB cannot wrap to a small one.
uint64_t Align(uint64_t value, uint32_t alignment) {
  if (alignment == 0) return value;
  return (value + alignment - 1) / alignment * alignment;
}

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

bool AsciiEqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// The PE checksum as bytes stream past: 16-bit little-endian words summed with the carry
// folded back in, then the file size added. Folding once at the end gives the same value
// as folding after every word, and lets the loop run at memory speed.
class ChecksumStream {
 public:
  void Add(const uint8_t* data, size_t size) {
    size_t i = 0;
    if (size != 0 && odd_) {
      sum_ += uint64_t{data[0]} << 8;
      odd_ = false;
      i = 1;
    }
    for (; i + 1 < size; i += 2) sum_ += plat::le::Load16(data + i);
    if (i < size) {
      sum_ += data[i];
      odd_ = true;
    }
    size_ += size;
  }
  // Zero bytes add nothing but move the word boundary.
  void AddZeros(uint64_t count) {
    if (count % 2 != 0) odd_ = !odd_;
    size_ += count;
  }
  uint32_t Value() const {
    uint64_t folded = sum_;
    while ((folded >> 16) != 0) folded = (folded & 0xFFFF) + (folded >> 16);
    return static_cast<uint32_t>(folded + size_);
  }

 private:
  uint64_t sum_ = 0;
  uint64_t size_ = 0;
  bool odd_ = false;
};

// A file written beside its target and moved into place once complete, so a failure at
// any point leaves whatever was there byte for byte, and no half-written executable.
// Pieces are appended in file order and summed for the checksum on the way.
class StagedFile {
 public:
  StagedFile() = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile() {
    if (temporary_.empty()) return;
    const uint32_t error = plat::GetLastError();
    if (file_ != nullptr) plat::CloseFile(file_);
    plat::DeleteFile(temporary_);
    plat::SetLastError(error);
  }

  bool Open(std::u16string_view path) {
    target_ = plat::GetFullPathName(path);
    if (target_.empty()) return false;
    const size_t slash = target_.find_last_of(u"\\/");
    const std::u16string folder = slash == std::u16string::npos ? std::u16string(u".") : target_.substr(0, slash);
    temporary_ = plat::GetTempFileName(folder, u"~pe");
    if (temporary_.empty()) return false;
    file_ = plat::OpenFile(temporary_, plat::kGenericWrite, 0, plat::Disposition::kCreateAlways);
    return file_ != nullptr;
  }
  bool Append(plat::ByteView bytes) {
    sum_.Add(bytes.data(), bytes.size());
    return WriteRaw(bytes.data(), bytes.size());
  }
  bool AppendZeros(uint64_t count) {
    static const uint8_t zeros[0x10000] = {};
    sum_.AddZeros(count);
    for (; count != 0;) {
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(count, sizeof zeros));
      if (!WriteRaw(zeros, piece)) return false;
      count -= piece;
    }
    return true;
  }
  uint64_t Position() const { return position_; }
  uint32_t Checksum() const { return sum_.Value(); }
  // Overwrites four bytes already written (they were summed as they were then).
  bool Patch32(uint64_t offset, uint32_t value) {
    uint8_t bytes[4];
    plat::le::Store32(bytes, value);
    uint32_t done = 0;
    return plat::SeekFile(file_, static_cast<int64_t>(offset), plat::SeekOrigin::kBegin, nullptr) &&
           plat::WriteFile(file_, bytes, 4, &done) && done == 4 &&
           plat::SeekFile(file_, static_cast<int64_t>(position_), plat::SeekOrigin::kBegin, nullptr);
  }
  bool Commit() {
    bool ok = plat::SetEndOfFile(file_);
    ok = plat::CloseFile(file_) && ok;
    file_ = nullptr;
    // A scanner may be looking at the file just written, or at the one it replaces.
    ok = ok && plat::MoveFileRetrying(temporary_, target_, true);
    if (ok) temporary_.clear();
    return ok;
  }

 private:
  bool WriteRaw(const uint8_t* data, size_t size) {
    for (size_t at = 0; at < size;) {
      const uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(size - at, 0x40000000));
      uint32_t done = 0;
      if (!plat::WriteFile(file_, data + at, chunk, &done) || done != chunk) return false;
      at += chunk;
    }
    position_ += size;
    return true;
  }

  std::u16string target_;
  std::u16string temporary_;
  plat::FileHandle file_ = nullptr;
  uint64_t position_ = 0;
  ChecksumStream sum_;
};

bool WriteFileWhole(std::u16string_view path, const uint8_t* data, size_t size) {
  StagedFile file;
  return file.Open(path) && file.Append(plat::ByteView(data, size)) && file.Commit();
}

bool Fail(uint32_t error) {
  plat::SetLastError(error);
  return false;
}

// How far a section reaches in memory: the loader maps its virtual size, and the editor's
// lookups also reach over raw data that runs past it.
uint64_t VirtualEnd(const SectionHeader& s) {
  return uint64_t{s.VirtualAddress} + std::max(s.VirtualSize, s.SizeOfRawData);
}

}  // namespace

uint32_t PeChecksum(const uint8_t* data, size_t size, size_t checksum_offset) {
  const plat::ByteView view(data, size);
  ChecksumStream sum;
  const size_t before = std::min(checksum_offset, view.size());
  const size_t field = std::min<size_t>(4, view.size() - before);
  sum.Add(view.data(), before);
  sum.AddZeros(field);
  sum.Add(view.data() + before + field, view.size() - before - field);
  return sum.Value();
}

const char* PeRefusalText(PeRefusal refusal) {
  switch (refusal) {
    case PeRefusal::kNone:
      return "";
    case PeRefusal::kNoImage:
      return "no image is loaded";
    case PeRefusal::kTruncatedHeaders:
      return "the file ends inside the DOS or NT headers or the section table";
    case PeRefusal::kNoDosSignature:
      return "the file does not start with the DOS signature";
    case PeRefusal::kNoPeSignature:
      return "the NT headers do not start with the PE signature";
    case PeRefusal::kUnknownOptionalHeader:
      return "the optional header is neither PE32 nor PE32+ of its usual size";
    case PeRefusal::kBadSectionCount:
      return "the section count is 0 or more than 20";
    case PeRefusal::kBadAlignment:
      return "the file or section alignment is not a power of two the loader accepts";
    case PeRefusal::kSectionOutsideFile:
      return "a section's data lies outside the file";
    case PeRefusal::kDamagedImportTable:
      return "the import table lies outside the sections' data or is damaged";
    case PeRefusal::kTooManyImports:
      return "the import table has no terminating entry within 260 entries";
    case PeRefusal::kBadParameter:
      return "the edit asked for is not possible (empty data, long name or no such section)";
    case PeRefusal::kNoSectionSlot:
      return "no section can be added: the image already has 20";
    case PeRefusal::kNoHeaderRoom:
      return "no room for one more section header before the first section's data";
    case PeRefusal::kPastAddressSpace:
      return "the layout would no longer fit in 32 bits";
    case PeRefusal::kOverlappingSections:
      return "sections overlap each other or the headers";
    case PeRefusal::kSectionMayNotMove:
      return "a section after the one replaced would have to move and may not";
    case PeRefusal::kOutOfMemory:
      return "out of memory";
  }
  return "";
}

bool CPE_ImageEditor::Refuse(PeRefusal why, uint32_t error) {
  refusal_ = why;
  plat::SetLastError(error);
  return false;
}

CPE_ImageEditor::CPE_ImageEditor() { std::fill(std::begin(states_), std::end(states_), kSlotFree); }

CPE_ImageEditor::~CPE_ImageEditor() = default;

void CPE_ImageEditor::Reset() {
  std::vector<uint8_t>().swap(image_);
  lfanew_ = 0;
  pe32plus_ = false;
  std::memset(nt_, 0, sizeof(nt_));
  nt_size_ = 0;
  std::memset(sections_, 0, sizeof(sections_));
  std::memset(data_offset_, 0, sizeof(data_offset_));
  symbols_at_ = symbols_size_ = 0;
  for (auto& block : added_) std::vector<uint8_t>().swap(block);
  for (auto& fill : fillers_) fill = nullptr;
  std::fill(std::begin(states_), std::end(states_), kSlotFree);
  refusal_ = PeRefusal::kNone;
}

bool CPE_ImageEditor::Load(std::u16string_view path) {
  plat::FileHandle file =
      plat::OpenFile(path, plat::kGenericRead, plat::kShareRead | plat::kShareWrite, plat::Disposition::kOpenExisting);
  if (file == nullptr) return false;
  std::optional<std::string> bytes;
  try {
    bytes = plat::ReadOpenFile(file, 0xFFFFFFFEu);
  } catch (const std::bad_alloc&) {
    plat::CloseFile(file);
    plat::SetLastError(plat::err::kNotEnoughMemory);
    return false;
  }
  plat::CloseFile(file);
  if (!bytes) return false;
  try {
    std::vector<uint8_t> image(bytes->begin(), bytes->end());
    bytes.reset();
    // What was read is not an image the editor can take.
    if (image.empty()) refusal_ = PeRefusal::kTruncatedHeaders;
    if (image.empty() || !Parse(std::move(image))) {
      plat::SetLastError(plat::err::kBadExeFormat);
      return false;
    }
    return true;
  } catch (const std::bad_alloc&) {
    plat::SetLastError(plat::err::kNotEnoughMemory);
    return false;
  }
}

bool CPE_ImageEditor::Parse(const uint8_t* data, size_t size) {
  if (data == nullptr || size == 0) return Refuse(PeRefusal::kTruncatedHeaders, plat::err::kBadExeFormat);
  try {
    std::vector<uint8_t> image(data, data + size);
    return Parse(std::move(image));
  } catch (const std::bad_alloc&) {
    return Refuse(PeRefusal::kOutOfMemory, plat::err::kNotEnoughMemory);
  }
}

bool CPE_ImageEditor::Parse(std::vector<uint8_t>&& image) {
  // Everything is checked before anything is replaced, so a refused image leaves the
  // editor as it was.
  const auto refuse = [this](PeRefusal why) { return Refuse(why, plat::err::kBadExeFormat); };
  const size_t size = image.size();
  if (size < pe::kDosHeaderSize || size > 0xFFFFFFFFu) return refuse(PeRefusal::kTruncatedHeaders);
  const plat::ByteView d(image);
  if (d.U16Or(0, 0) != pe::kDosMagic) return refuse(PeRefusal::kNoDosSignature);
  const uint64_t lfanew = d.U32Or(pe::kLfanewOffset, 0);
  if (!d.Fits(lfanew, pe::kOptionalMagic + 2)) return refuse(PeRefusal::kTruncatedHeaders);
  if (d.U32Or(lfanew, 0) != pe::kPeSignature) return refuse(PeRefusal::kNoPeSignature);
  const uint16_t optional_size = d.U16Or(lfanew + pe::kSizeOfOptionalHeader, 0);
  const uint16_t magic = d.U16Or(lfanew + pe::kOptionalMagic, 0);
  uint32_t nt_size = 0;
  if (magic == pe::kMagicPe32 && optional_size == pe::kOptionalHeader32Size) {
    nt_size = pe::kNtHeaders32Size;
  } else if (magic == pe::kMagicPe32Plus && optional_size == pe::kOptionalHeader64Size) {
    nt_size = pe::kNtHeaders64Size;
  } else {
    return refuse(PeRefusal::kUnknownOptionalHeader);
  }
  const std::optional<plat::ByteView> nt_view = d.Sub(lfanew, nt_size);
  if (!nt_view) return refuse(PeRefusal::kTruncatedHeaders);
  const plat::ByteView nt = *nt_view;
  const uint16_t count = nt.U16Or(pe::kNumberOfSections, 0);
  if (count == 0 || count > kMaxSections) return refuse(PeRefusal::kBadSectionCount);
  if (!d.Fits(lfanew + nt_size, uint64_t{count} * pe::kSectionHeaderSize)) return refuse(PeRefusal::kTruncatedHeaders);
  // Alignments outside what the loader accepts would let Write place data gigabytes
  // away or divide by zero.
  const uint32_t file_alignment = nt.U32Or(pe::kFileAlignment, 0);
  const uint32_t section_alignment = nt.U32Or(pe::kSectionAlignment, 0);
  if (!IsPowerOfTwo(file_alignment) || file_alignment > 0x10000 || !IsPowerOfTwo(section_alignment))
    return refuse(PeRefusal::kBadAlignment);

  SectionHeader headers[kMaxSections] = {};
  for (uint16_t i = 0; i < count; ++i) {
    const plat::ByteView h = d.From(lfanew + nt_size + uint64_t{i} * pe::kSectionHeaderSize);
    SectionHeader& s = headers[i];
    h.CopyTo(0, s.Name, sizeof s.Name);
    s.VirtualSize = h.U32Or(8, 0);
    s.VirtualAddress = h.U32Or(12, 0);
    s.SizeOfRawData = h.U32Or(16, 0);
    s.PointerToRawData = h.U32Or(20, 0);
    s.PointerToRelocations = h.U32Or(24, 0);
    s.PointerToLinenumbers = h.U32Or(28, 0);
    s.NumberOfRelocations = h.U16Or(32, 0);
    s.NumberOfLinenumbers = h.U16Or(34, 0);
    s.Characteristics = h.U32Or(36, 0);
    if (s.PointerToRawData > size) return refuse(PeRefusal::kSectionOutsideFile);
    if (s.SizeOfRawData != 0 && uint64_t{s.PointerToRawData} + s.SizeOfRawData > size)
      return refuse(PeRefusal::kSectionOutsideFile);
  }

  // The symbol table and the strings after it, when they lie whole in the file and
  // apart from the headers and every section's data; anything else is not carried.
  uint64_t symbols_at = nt.U32Or(pe::kPointerToSymbolTable, 0);
  uint64_t symbols_size = 0;
  if (symbols_at != 0) {
    const uint64_t strings = symbols_at + uint64_t{nt.U32Or(pe::kNumberOfSymbols, 0)} * pe::kSymbolSize;
    const uint32_t strings_size = d.U32Or(strings, 0);
    if (strings_size >= 4 && strings + strings_size <= size) symbols_size = strings + strings_size - symbols_at;
    if (symbols_at < lfanew + nt_size + uint64_t{count} * pe::kSectionHeaderSize) symbols_size = 0;
    for (uint16_t i = 0; i < count; ++i) {
      const SectionHeader& s = headers[i];
      if (s.SizeOfRawData != 0 && s.PointerToRawData < symbols_at + symbols_size &&
          symbols_at < uint64_t{s.PointerToRawData} + s.SizeOfRawData) {
        symbols_size = 0;
      }
    }
    if (symbols_size == 0) symbols_at = 0;
  }

  Reset();
  image_ = std::move(image);
  symbols_at_ = static_cast<uint32_t>(symbols_at);
  symbols_size_ = static_cast<uint32_t>(symbols_size);
  lfanew_ = static_cast<uint32_t>(lfanew);
  pe32plus_ = magic == pe::kMagicPe32Plus;
  nt_size_ = nt_size;
  plat::ByteView(image_).CopyTo(lfanew_, nt_, nt_size);
  for (uint16_t i = 0; i < count; ++i) {
    sections_[i] = headers[i];
    data_offset_[i] = headers[i].PointerToRawData;
    states_[i] = kSlotLoaded;
  }
  return true;
}

int CPE_ImageEditor::SectionCount() const {
  return IsLoaded() ? plat::ByteView(nt_, sizeof nt_).U16Or(pe::kNumberOfSections, 0) : 0;
}

uint32_t CPE_ImageEditor::Nt32(uint32_t offset) const { return plat::ByteView(nt_, sizeof nt_).U32Or(offset, 0); }
void CPE_ImageEditor::SetNt32(uint32_t offset, uint32_t value) {
  plat::MutableByteView(nt_, sizeof nt_).Put32(offset, value);
}

uint32_t CPE_ImageEditor::DirectoryOffset(uint32_t index) const {
  if (!IsLoaded()) return 0;
  const uint32_t entries = Nt32(pe32plus_ ? pe::kNumberOfRvaAndSizes64 : pe::kNumberOfRvaAndSizes32);
  if (index >= entries || index >= 16) return 0;
  return (pe32plus_ ? pe::kDataDirectories64 : pe::kDataDirectories32) + index * 8;
}

uint32_t CPE_ImageEditor::DirectoryAddress(uint32_t index) const {
  const uint32_t at = DirectoryOffset(index);
  return at == 0 ? 0 : Nt32(at);
}

uint32_t CPE_ImageEditor::DirectorySize(uint32_t index) const {
  const uint32_t at = DirectoryOffset(index);
  return at == 0 ? 0 : Nt32(at + 4);
}

size_t CPE_ImageEditor::SectionDataSize(int slot) const {
  if (states_[slot] == kSlotAdded || states_[slot] == kSlotReplaced) return added_[slot].size();
  if (states_[slot] == kSlotLoaded) return image_.size() - data_offset_[slot];
  return 0;
}

const uint8_t* CPE_ImageEditor::SectionData(int slot) const {
  if (slot < 0 || slot >= kMaxSections) return nullptr;
  if (states_[slot] == kSlotAdded || states_[slot] == kSlotReplaced) return added_[slot].data();
  if (states_[slot] == kSlotLoaded) return image_.data() + data_offset_[slot];
  return nullptr;
}

bool CPE_ImageEditor::RvaToOffset(uint32_t rva, uint32_t* offset, uint32_t* end) const {
  const int count = SectionCount();
  for (int i = 0; i < count; ++i) {
    const SectionHeader& s = sections_[i];
    if (s.VirtualAddress <= rva && uint64_t{rva} <= uint64_t{s.VirtualAddress} + s.SizeOfRawData) {
      // Only the loaded image's bytes can be edited in place; the first section that
      // claims the address decides, as the loader's order would.
      if (states_[i] != kSlotLoaded) return false;
      const uint64_t limit = std::min<uint64_t>(uint64_t{data_offset_[i]} + s.SizeOfRawData, image_.size());
      const uint64_t at = uint64_t{data_offset_[i]} + (rva - s.VirtualAddress);
      if (at > limit) return false;
      *offset = static_cast<uint32_t>(at);
      *end = static_cast<uint32_t>(limit);
      return true;
    }
  }
  return false;
}

bool CPE_ImageEditor::InsideLoadedSection(uint32_t offset, uint32_t size) const {
  const int count = SectionCount();
  for (int i = 0; i < count; ++i) {
    if (states_[i] != kSlotLoaded) continue;
    const uint64_t begin = data_offset_[i];
    const uint64_t end = std::min<uint64_t>(begin + sections_[i].SizeOfRawData, image_.size());
    if (offset >= begin && uint64_t{offset} + size <= end) return true;
  }
  return false;
}

std::string ImportTable::Note() const {
  const std::string entry = std::to_string(damaged_entry);
  switch (damage) {
    case Damage::kNone:
      return {};
    case Damage::kEntryOutside:
      return "import table: entry " + entry + " lies outside the sections' data";
    case Damage::kTooMany:
      return "import table: no terminating entry within " + std::to_string(CPE_ImageEditor::kMaxImportDescriptors) +
             " entries";
    case Damage::kNameOutside:
      return "import table: the name of entry " + entry + " lies outside the sections' data";
    case Damage::kNameUnterminated:
      return "import table: the name of entry " + entry + " does not end inside its section";
  }
  return {};
}

ImportTable CPE_ImageEditor::Imports() const {
  ImportTable list;
  const uint32_t table_rva = DirectoryAddress(pe::kDirImport);
  if (table_rva == 0) return list;
  auto damaged = [&list](ImportTable::Damage damage, uint32_t index) {
    list.damage = damage;
    list.damaged_entry = index;
    return list;
  };
  // The table must lie in the loaded bytes of one section, as RemoveImport edits it there.
  uint32_t table = 0;
  uint32_t table_end = 0;
  if (!RvaToOffset(table_rva, &table, &table_end)) return damaged(ImportTable::Damage::kEntryOutside, 0);
  const plat::ByteView loaded(image_);
  for (uint32_t index = 0;; ++index) {
    const uint64_t at = uint64_t{table} + uint64_t{index} * pe::kImportDescriptorSize;
    if (!plat::RangeFits(table_end, at, pe::kImportDescriptorSize)) {
      return damaged(ImportTable::Damage::kEntryOutside, index);
    }
    const uint32_t name_rva = loaded.U32Or(at + 12, 0);
    if (name_rva == 0) {
      list.end = static_cast<uint32_t>(at);
      return list;
    }
    if (index + 1 >= kMaxImportDescriptors) return damaged(ImportTable::Damage::kTooMany, index);
    uint32_t name_at = 0;
    uint32_t name_end = 0;
    if (!RvaToOffset(name_rva, &name_at, &name_end)) return damaged(ImportTable::Damage::kNameOutside, index);
    const plat::ByteView text = loaded.First(name_end).From(name_at);
    const uint8_t* nul = std::find(text.begin(), text.end(), uint8_t{0});
    if (nul == text.end()) return damaged(ImportTable::Damage::kNameUnterminated, index);
    list.names.emplace_back(reinterpret_cast<const char*>(text.data()), static_cast<size_t>(nul - text.begin()));
    list.descriptors.push_back(static_cast<uint32_t>(at));
  }
}

bool CPE_ImageEditor::RemoveImport(std::string_view name) {
  if (!IsLoaded()) return Refuse(PeRefusal::kNoImage, plat::err::kInvalidHandle);
  ImportTable imports;
  try {
    imports = Imports();
  } catch (const std::bad_alloc&) {
    return Refuse(PeRefusal::kOutOfMemory, plat::err::kNotEnoughMemory);
  }
  if (imports.damage == ImportTable::Damage::kTooMany)
    return Refuse(PeRefusal::kTooManyImports, plat::err::kNotSupported);
  if (imports.damage != ImportTable::Damage::kNone)
    return Refuse(PeRefusal::kDamagedImportTable, plat::err::kBadExeFormat);
  if (imports.descriptors.empty()) return true;  // imports nothing, so there is nothing to drop
  if (std::none_of(imports.names.begin(), imports.names.end(),
                   [name](const std::string& library) { return AsciiEqualNoCase(library, name); })) {
    return true;
  }

  // Kept descriptors only ever move towards the start, by whole descriptors, so copying
  // in order never overwrites one still to be copied.
  const plat::MutableByteView file(image_);
  uint32_t out = imports.descriptors.front();
  for (size_t k = 0; k < imports.names.size(); ++k) {
    if (AsciiEqualNoCase(imports.names[k], name)) continue;
    const uint32_t from = imports.descriptors[k];
    if (from != out) file.CopyFrom(out, *plat::ByteView(image_).Sub(from, pe::kImportDescriptorSize));
    out += pe::kImportDescriptorSize;
  }
  static constexpr uint8_t kTerminator[pe::kImportDescriptorSize] = {};
  file.CopyFrom(out, plat::ByteView(kTerminator, sizeof kTerminator));
  return true;
}

uint64_t CPE_ImageEditor::HeadersEnd(int count) const {
  const uint64_t end = uint64_t{lfanew_} + nt_size_ + uint64_t(count) * pe::kSectionHeaderSize;
  return std::max<uint64_t>(pe::kDosHeaderSize, end);
}

uint64_t CPE_ImageEditor::FileDataEnd() const {
  const uint32_t fa = Nt32(pe::kFileAlignment);
  uint64_t end = 0;
  for (int i = 0; i < SectionCount(); ++i) {
    const SectionHeader& s = sections_[i];
    if (s.SizeOfRawData != 0) end = std::max(end, Align(s.PointerToRawData, fa) + Align(s.SizeOfRawData, fa));
  }
  return end;
}

uint64_t CPE_ImageEditor::NextFileOffset(int count) const {
  // SizeOfHeaders counts only when it lies in the file, as a real one does: a damaged
  // value would put the data gigabytes away.
  const uint32_t size_of_headers = Nt32(pe::kSizeOfHeaders);
  const uint64_t headers = size_of_headers <= image_.size() ? size_of_headers : 0;
  return Align(std::max({FileDataEnd(), HeadersEnd(count), headers}), Nt32(pe::kFileAlignment));
}

SectionHeader* CPE_ImageEditor::NewSectionHeader(uint64_t data_size) {
  auto refuse = [this](PeRefusal why, uint32_t error) -> SectionHeader* {
    Refuse(why, error);
    return nullptr;
  };
  if (!IsLoaded()) return refuse(PeRefusal::kNoImage, plat::err::kInvalidHandle);
  const int count = SectionCount();
  if (count >= kMaxSections || count < 1) return refuse(PeRefusal::kNoSectionSlot, plat::err::kNotSupported);
  const uint32_t fa = Nt32(pe::kFileAlignment);
  const uint32_t sa = Nt32(pe::kSectionAlignment);
  const uint64_t raw = Align(data_size, fa);
  const uint64_t virtual_size = Align(raw, sa);
  const uint64_t virtual_address = NextSectionAddress();
  const uint64_t pointer = NextFileOffset(count + 1);
  if (virtual_address == 0 || raw > 0xFFFFFFFFu || virtual_size > 0xFFFFFFFFu ||
      virtual_address + virtual_size > 0xFFFFFFFFu || pointer + raw > 0xFFFFFFFFu) {
    return refuse(PeRefusal::kPastAddressSpace, plat::err::kArithmeticOverflow);
  }
  // One more header must not run into the first section's data.
  const uint64_t headers_end = HeadersEnd(count + 1);
  for (int i = 0; i < count; ++i) {
    if (sections_[i].SizeOfRawData != 0 && sections_[i].PointerToRawData < headers_end) {
      return refuse(PeRefusal::kNoHeaderRoom, plat::err::kNotSupported);
    }
  }

  SectionHeader& s = sections_[count];
  s = SectionHeader{};
  s.SizeOfRawData = static_cast<uint32_t>(raw);
  s.VirtualSize = static_cast<uint32_t>(virtual_size);
  s.VirtualAddress = static_cast<uint32_t>(virtual_address);
  s.PointerToRawData = static_cast<uint32_t>(pointer);
  return &s;
}

uint8_t* CPE_ImageEditor::AddDataSection(uint32_t size) {
  if (size == 0) {
    Refuse(PeRefusal::kBadParameter, plat::err::kInvalidParameter);
    return nullptr;
  }
  SectionHeader* s = NewSectionHeader(size);
  if (s == nullptr) return nullptr;
  const int count = SectionCount();
  try {
    added_[count].assign(s->SizeOfRawData, 0);
  } catch (const std::bad_alloc&) {
    *s = SectionHeader{};
    Refuse(PeRefusal::kOutOfMemory, plat::err::kNotEnoughMemory);
    return nullptr;
  }
  std::memcpy(s->Name, ".mdata\0\0", 8);
  s->Characteristics = kDataCharacteristics;
  states_[count] = kSlotAdded;
  SetSectionCount(count + 1);
  return added_[count].data();
}

bool CPE_ImageEditor::AddStreamedSection(uint32_t size, SectionFiller fill) {
  if (size == 0 || !fill) return Refuse(PeRefusal::kBadParameter, plat::err::kInvalidParameter);
  SectionHeader* s = NewSectionHeader(size);
  if (s == nullptr) return false;
  const int count = SectionCount();
  std::memcpy(s->Name, ".mdata\0\0", 8);
  s->Characteristics = kDataCharacteristics;
  fillers_[count] = std::move(fill);
  states_[count] = kSlotStreamed;
  SetSectionCount(count + 1);
  return true;
}

bool CPE_ImageEditor::AddSection(std::string_view name, std::vector<uint8_t>&& data, uint32_t characteristics) {
  if (data.empty() || name.size() > sizeof(SectionHeader::Name))
    return Refuse(PeRefusal::kBadParameter, plat::err::kInvalidParameter);
  if (data.size() > 0xFFFFFFFFu) return Refuse(PeRefusal::kPastAddressSpace, plat::err::kArithmeticOverflow);
  SectionHeader* s = NewSectionHeader(data.size());
  if (s == nullptr) return false;
  const int count = SectionCount();
  std::memcpy(s->Name, name.data(), name.size());
  // The memory size is the data's own; Write rounds it to the section alignment.
  s->VirtualSize = static_cast<uint32_t>(data.size());
  s->Characteristics = characteristics;
  added_[count] = std::move(data);
  states_[count] = kSlotAdded;
  SetSectionCount(count + 1);
  return true;
}

void CPE_ImageEditor::SetSectionCount(int count) {
  plat::MutableByteView(nt_, sizeof nt_).Put16(pe::kNumberOfSections, static_cast<uint16_t>(count));
  // The loader maps only SizeOfHeaders bytes of headers: a section header past them would
  // not be seen. NewSectionHeader made sure the table ends before any section's data.
  const uint64_t headers = Align(HeadersEnd(count), Nt32(pe::kFileAlignment));
  if (Nt32(pe::kSizeOfHeaders) < headers) SetNt32(pe::kSizeOfHeaders, static_cast<uint32_t>(headers));
}

int CPE_ImageEditor::SectionOfRva(uint32_t rva) const {
  const int count = SectionCount();
  for (int i = 0; i < count; ++i) {
    const SectionHeader& s = sections_[i];
    const uint64_t span = std::max(s.VirtualSize, s.SizeOfRawData);
    if (s.VirtualAddress <= rva && rva < s.VirtualAddress + span) return i;
  }
  return -1;
}

plat::ByteView CPE_ImageEditor::ViewRva(uint32_t rva) const {
  const int slot = SectionOfRva(rva);
  if (slot < 0) return {};
  const SectionHeader& s = sections_[slot];
  const uint64_t have = std::min<uint64_t>(SectionDataSize(slot), s.SizeOfRawData);
  return plat::ByteView(SectionData(slot), static_cast<size_t>(have)).From(rva - s.VirtualAddress);
}

uint32_t CPE_ImageEditor::NextSectionAddress() const {
  const int count = SectionCount();
  if (count < 1) return 0;
  uint64_t end = 0;
  for (int i = 0; i < count; ++i) end = std::max(end, VirtualEnd(sections_[i]));
  const uint64_t next = Align(end, Nt32(pe::kSectionAlignment));
  return next > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(next);
}

void CPE_ImageEditor::SetDirectory(uint32_t index, uint32_t address, uint32_t size) {
  const uint32_t at = DirectoryOffset(index);
  if (at == 0) return;
  SetNt32(at, address);
  SetNt32(at + 4, size);
}

bool CPE_ImageEditor::ReplaceSectionData(int slot, std::vector<uint8_t>&& data,
                                         bool (*may_move)(const SectionHeader&)) {
  const int count = SectionCount();
  if (slot < 0 || slot >= count) return Refuse(PeRefusal::kBadParameter, plat::err::kInvalidParameter);
  if (data.size() > 0xFFFFFFFFu) return Refuse(PeRefusal::kPastAddressSpace, plat::err::kArithmeticOverflow);
  const uint32_t fa = Nt32(pe::kFileAlignment);
  const uint32_t sa = Nt32(pe::kSectionAlignment);
  const SectionHeader& s = sections_[slot];
  const uint64_t virtual_size = std::max<uint64_t>(s.VirtualSize, data.size());
  const uint64_t raw = Align(data.size(), fa);
  // A section without file data has no place there to grow from; it gets one after all.
  const uint64_t pointer = s.SizeOfRawData != 0 ? Align(s.PointerToRawData, fa) : NextFileOffset(count);
  const uint64_t old_raw_end = s.SizeOfRawData != 0 ? pointer + Align(s.SizeOfRawData, fa) : pointer;
  const uint64_t va_end = Align(uint64_t{s.VirtualAddress} + virtual_size, sa);
  const uint64_t raw_end = Align(pointer + raw, fa);
  if (va_end > 0xFFFFFFFFu || raw_end > 0xFFFFFFFFu)
    return Refuse(PeRefusal::kPastAddressSpace, plat::err::kArithmeticOverflow);

  // The sections after this one, in memory and in the file, whatever the table's order:
  // those move up together by what the new data needs, which keeps their spacing. All
  // others must end where this one begins, or they would come to overlap the new data.
  bool after_in_memory[kMaxSections] = {};
  bool after_in_file[kMaxSections] = {};
  uint64_t va_shift = 0;
  uint64_t raw_shift = 0;
  for (int i = 0; i < count; ++i) {
    if (i == slot) continue;
    const SectionHeader& other = sections_[i];
    if (other.VirtualAddress > s.VirtualAddress) {
      after_in_memory[i] = true;
      if (va_end > other.VirtualAddress) va_shift = std::max<uint64_t>(va_shift, va_end - other.VirtualAddress);
    } else if (VirtualEnd(other) > s.VirtualAddress) {
      return Refuse(PeRefusal::kOverlappingSections, plat::err::kBadExeFormat);
    }
    if (other.SizeOfRawData == 0) continue;
    const uint64_t begin = Align(other.PointerToRawData, fa);
    if (begin >= old_raw_end) {
      after_in_file[i] = true;
      if (raw_end > begin) raw_shift = std::max<uint64_t>(raw_shift, raw_end - begin);
    } else if (begin + Align(other.SizeOfRawData, fa) > pointer) {
      return Refuse(PeRefusal::kOverlappingSections, plat::err::kBadExeFormat);
    }
  }
  va_shift = Align(va_shift, sa);
  raw_shift = Align(raw_shift, fa);
  for (int i = 0; i < count; ++i) {
    const bool moves_in_memory = after_in_memory[i] && va_shift != 0;
    const bool moves_in_file = after_in_file[i] && raw_shift != 0;
    if (!moves_in_memory && !moves_in_file) continue;
    const SectionHeader& other = sections_[i];
    if (may_move == nullptr || !may_move(other)) return Refuse(PeRefusal::kSectionMayNotMove, plat::err::kNotSupported);
    if (VirtualEnd(other) + (moves_in_memory ? va_shift : 0) > 0xFFFFFFFFu ||
        Align(other.PointerToRawData, fa) + Align(other.SizeOfRawData, fa) + (moves_in_file ? raw_shift : 0) >
            0xFFFFFFFFu) {
      return Refuse(PeRefusal::kPastAddressSpace, plat::err::kArithmeticOverflow);
    }
  }

  // Directory entries are moved by the old layout, before any header changes.
  if (va_shift != 0) {
    const uint32_t entries =
        std::min<uint32_t>(16, Nt32(pe32plus_ ? pe::kNumberOfRvaAndSizes64 : pe::kNumberOfRvaAndSizes32));
    for (uint32_t index = 0; index < entries; ++index) {
      if (index == pe::kDirSecurity) continue;  // a file offset, not an address
      const uint32_t address = DirectoryAddress(index);
      const int holder = address == 0 ? -1 : SectionOfRva(address);
      if (holder >= 0 && after_in_memory[holder]) {
        SetDirectory(index, static_cast<uint32_t>(address + va_shift), DirectorySize(index));
      }
    }
  }
  for (int i = 0; i < count; ++i) {
    if (after_in_memory[i]) sections_[i].VirtualAddress += static_cast<uint32_t>(va_shift);
    if (after_in_file[i]) sections_[i].PointerToRawData += static_cast<uint32_t>(raw_shift);
  }
  SectionHeader& target = sections_[slot];
  target.VirtualSize = static_cast<uint32_t>(virtual_size);
  target.SizeOfRawData = static_cast<uint32_t>(raw);
  target.PointerToRawData = static_cast<uint32_t>(pointer);
  added_[slot] = std::move(data);
  states_[slot] = kSlotReplaced;
  return true;
}

bool CPE_ImageEditor::Write(std::u16string_view path) {
  if (!IsLoaded()) return Refuse(PeRefusal::kNoImage, plat::err::kInvalidHandle);
  const int count = SectionCount();
  const uint32_t fa = Nt32(pe::kFileAlignment);
  const uint32_t sa = Nt32(pe::kSectionAlignment);

  // The aligned headers and where everything lands are worked out first: a layout that
  // no longer fits in 32 bits, or in which two sections' data (or data and the headers)
  // would share bytes, is refused before anything is changed or any file is touched.
  SectionHeader aligned[kMaxSections] = {};
  uint64_t virtual_end = 0;
  uint64_t file_end = HeadersEnd(count);
  for (int i = 0; i < count; ++i) {
    aligned[i] = sections_[i];
    const uint64_t va = Align(sections_[i].VirtualAddress, sa);
    const uint64_t vs = Align(sections_[i].VirtualSize, sa);
    const uint64_t sr = Align(sections_[i].SizeOfRawData, fa);
    // Without file data the pointer means nothing; one left past the new file's end
    // would have readers (this editor among them) refuse the file.
    const uint64_t pr = sr == 0 ? 0 : Align(sections_[i].PointerToRawData, fa);
    if (va + vs > 0xFFFFFFFFu || pr + sr > 0xFFFFFFFFu)
      return Refuse(PeRefusal::kPastAddressSpace, plat::err::kArithmeticOverflow);
    aligned[i].VirtualAddress = static_cast<uint32_t>(va);
    aligned[i].VirtualSize = static_cast<uint32_t>(vs);
    aligned[i].PointerToRawData = static_cast<uint32_t>(pr);
    aligned[i].SizeOfRawData = static_cast<uint32_t>(sr);
    virtual_end = std::max(virtual_end, VirtualEnd(aligned[i]));
    if (sr == 0) continue;
    if (pr < HeadersEnd(count)) return Refuse(PeRefusal::kOverlappingSections, plat::err::kBadExeFormat);
    for (int j = 0; j < i; ++j) {
      if (aligned[j].SizeOfRawData != 0 && pr < uint64_t{aligned[j].PointerToRawData} + aligned[j].SizeOfRawData &&
          aligned[j].PointerToRawData < pr + sr) {
        return Refuse(PeRefusal::kOverlappingSections, plat::err::kBadExeFormat);
      }
    }
    file_end = std::max(file_end, pr + sr);
  }
  const uint64_t size_of_image = Align(virtual_end, sa);
  // The symbol and string tables follow the sections, wherever those now end.
  const uint64_t symbols_at = file_end;
  const uint64_t total = file_end + symbols_size_;
  if (size_of_image > 0xFFFFFFFFu || total > 0xFFFFFFFFu)
    return Refuse(PeRefusal::kPastAddressSpace, plat::err::kArithmeticOverflow);

  // Only section data is carried over, so an appended certificate table is gone; an
  // entry left pointing at its old place would have signature checks read the new
  // payload or nothing.
  if (const uint32_t security = DirectoryOffset(pe::kDirSecurity); security != 0) {
    const uint32_t cert_at = Nt32(security);
    const uint32_t cert_size = Nt32(security + 4);
    if ((cert_at != 0 || cert_size != 0) && !InsideLoadedSection(cert_at, cert_size)) {
      SetNt32(security, 0);
      SetNt32(security + 4, 0);
    }
  }
  SetNt32(pe::kPointerToSymbolTable, symbols_size_ != 0 ? static_cast<uint32_t>(symbols_at) : 0);
  if (symbols_size_ == 0) SetNt32(pe::kNumberOfSymbols, 0);
  std::copy(aligned, aligned + count, sections_);
  SetNt32(pe::kSizeOfImage, static_cast<uint32_t>(size_of_image));

  // The headers are assembled here; the sections' data goes to the file straight from the
  // image, so a large payload is never held twice.
  std::vector<uint8_t> head;
  try {
    head.assign(static_cast<size_t>(HeadersEnd(count)), 0);
  } catch (const std::bad_alloc&) {
    return Refuse(PeRefusal::kOutOfMemory, plat::err::kNotEnoughMemory);
  }
  // The DOS header and stub are the loaded bytes up to the PE signature.
  const plat::MutableByteView file(head);
  const plat::ByteView loaded(image_);
  file.CopyFrom(0, loaded.First(std::max<size_t>(lfanew_, pe::kDosHeaderSize)));
  file.CopyFrom(lfanew_, plat::ByteView(nt_, nt_size_));
  for (int i = 0; i < count; ++i) {
    const uint64_t h = uint64_t{lfanew_} + nt_size_ + uint64_t(i) * pe::kSectionHeaderSize;
    const SectionHeader& s = sections_[i];
    file.CopyFrom(h, plat::ByteView(reinterpret_cast<const uint8_t*>(s.Name), sizeof s.Name));
    file.Put32(h + 8, s.VirtualSize);
    file.Put32(h + 12, s.VirtualAddress);
    file.Put32(h + 16, s.SizeOfRawData);
    file.Put32(h + 20, s.PointerToRawData);
    file.Put32(h + 24, s.PointerToRelocations);
    file.Put32(h + 28, s.PointerToLinenumbers);
    file.Put16(h + 32, s.NumberOfRelocations);
    file.Put16(h + 34, s.NumberOfLinenumbers);
    file.Put32(h + 36, s.Characteristics);
  }
  // The checksum is that of the finished file: summed with its own field zero, then put in.
  const size_t checksum_at = size_t{lfanew_} + pe::kCheckSum;
  file.Put32(checksum_at, 0);

  struct Piece {
    uint64_t at;
    plat::ByteView bytes;
    const SectionFiller* fill = nullptr;  // a streamed section of `room` bytes
    uint64_t room = 0;
  };
  std::vector<Piece> pieces = {{0, plat::ByteView(head)}};
  for (int i = 0; i < count; ++i) {
    const SectionHeader& s = sections_[i];
    if (s.SizeOfRawData == 0) continue;
    if (states_[i] == kSlotStreamed) {
      pieces.push_back({s.PointerToRawData, {}, &fillers_[i], s.SizeOfRawData});
      continue;
    }
    // Alignment may have grown the section past the bytes there are; the rest stays zero.
    const size_t have = std::min<size_t>(SectionDataSize(i), s.SizeOfRawData);
    pieces.push_back({s.PointerToRawData, plat::ByteView(SectionData(i), have)});
  }
  if (symbols_size_ != 0) pieces.push_back({symbols_at, *loaded.Sub(symbols_at_, symbols_size_)});
  std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.at < b.at; });

  StagedFile out;
  if (!out.Open(path)) return false;
  for (const Piece& piece : pieces) {
    if (!out.AppendZeros(piece.at - out.Position())) return false;
    if (piece.fill == nullptr) {
      if (!out.Append(piece.bytes)) return false;
      continue;
    }
    // The filler's bytes go straight to the file; it may not write past its section.
    class Sink : public SectionSink {
     public:
      Sink(StagedFile& file, uint64_t end) : file_(file), end_(end) {}
      bool Append(plat::ByteView bytes) override {
        if (bytes.size() > end_ - file_.Position()) {
          plat::SetLastError(plat::err::kInvalidParameter);
          return false;
        }
        return file_.Append(bytes);
      }

     private:
      StagedFile& file_;
      uint64_t end_;
    } sink(out, piece.at + piece.room);
    if (!(*piece.fill)(sink)) return false;
    if (!out.AppendZeros(piece.at + piece.room - out.Position())) return false;
  }
  return out.AppendZeros(total - out.Position()) && out.Patch32(checksum_at, out.Checksum()) && out.Commit();
}

bool CPE_ImageEditor::FixChecksum(std::u16string_view path) {
  std::optional<std::string> bytes;
  try {
    bytes = plat::ReadWholeFile(path);
  } catch (const std::bad_alloc&) {
    plat::SetLastError(plat::err::kNotEnoughMemory);
    return false;
  }
  if (!bytes) return false;
  if (bytes->empty()) {
    plat::SetLastError(plat::err::kNegativeSeek);
    return false;
  }
  const plat::MutableByteView d(reinterpret_cast<uint8_t*>(bytes->data()), bytes->size());
  if (d.size() < pe::kDosHeaderSize || d.View().U16Or(0, 0) != pe::kDosMagic) return Fail(plat::err::kBadExeFormat);
  const uint64_t lfanew = d.View().U32Or(pe::kLfanewOffset, 0);
  if (!d.Fits(lfanew, pe::kCheckSum + 4) || d.View().U32Or(lfanew, 0) != pe::kPeSignature) {
    return Fail(plat::err::kBadExeFormat);
  }
  const size_t checksum_at = static_cast<size_t>(lfanew) + pe::kCheckSum;
  d.Put32(checksum_at, 0);
  d.Put32(checksum_at, PeChecksum(d.data(), d.size(), checksum_at));
  return WriteFileWhole(path, d.data(), d.size());
}

}  // namespace pe
