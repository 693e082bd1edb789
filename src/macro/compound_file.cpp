#include "macro/compound_file.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

#include "macro/compound_format.h"
#include "platform/unicode.h"

namespace macro {
namespace {

using namespace compound_format;

// Header fields the reader uses.
constexpr size_t kMajorVersionAt = 26;
constexpr size_t kByteOrderAt = 28;
constexpr size_t kSectorShiftAt = 30;
constexpr size_t kMiniSectorShiftAt = 32;
constexpr size_t kFatCountAt = 44;
constexpr size_t kFirstDirAt = 48;
constexpr size_t kCutoffAt = 56;
constexpr size_t kFirstMiniFatAt = 60;
constexpr size_t kFirstDifatAt = 68;
constexpr size_t kHeaderDifatAt = 76;

// Directory entry fields.
constexpr size_t kNameLengthAt = 64;
constexpr size_t kTypeAt = 66;
constexpr size_t kLeftAt = 68;
constexpr size_t kRightAt = 72;
constexpr size_t kChildAt = 76;
constexpr size_t kStartAt = 116;
constexpr size_t kSizeAt = 120;
constexpr size_t kMaxNameBytes = 64;

std::string Num(uint64_t value) { return std::to_string(value); }

std::string SectorText(uint32_t sector) {
  switch (sector) {
    case kFreeSector:
      return "the free-sector marker";
    case kEndOfChain:
      return "the end-of-chain marker";
    case kFatMarker:
      return "the FAT-sector marker";
    case kDifatMarker:
      return "the DIFAT-sector marker";
    default:
      return "sector " + Num(sector);
  }
}

uint64_t CeilDiv(uint64_t value, uint64_t unit) { return value / unit + (value % unit != 0 ? 1 : 0); }

// ---- Upper-casing ----------------------------------------------------------------------

enum class Map : uint8_t {
  kShift,    // every unit in the range moves by `delta`
  kEvenOdd,  // pairs start at an even unit: the odd one is the lower case
  kOddEven,  // pairs start at an odd unit: the even one is the lower case
};
struct CaseRange {
  char16_t first;
  char16_t last;
  Map map;
  int32_t delta;
};

// Ranges of lower-case units, sorted; irregular single units are in kCaseSingles.
constexpr CaseRange kCaseRanges[] = {
    {0x0061, 0x007A, Map::kShift, -32},    {0x00E0, 0x00F6, Map::kShift, -32},   {0x00F8, 0x00FE, Map::kShift, -32},
    {0x0100, 0x012F, Map::kEvenOdd, 0},    {0x0132, 0x0137, Map::kEvenOdd, 0},   {0x0139, 0x0148, Map::kOddEven, 0},
    {0x014A, 0x0177, Map::kEvenOdd, 0},    {0x0179, 0x017E, Map::kOddEven, 0},   {0x01CD, 0x01DC, Map::kOddEven, 0},
    {0x01DE, 0x01EF, Map::kEvenOdd, 0},    {0x01F8, 0x021F, Map::kEvenOdd, 0},   {0x0222, 0x0233, Map::kEvenOdd, 0},
    {0x0246, 0x024F, Map::kEvenOdd, 0},    {0x0370, 0x0373, Map::kEvenOdd, 0},   {0x037B, 0x037D, Map::kShift, 130},
    {0x03AD, 0x03AF, Map::kShift, -37},    {0x03B1, 0x03C1, Map::kShift, -32},   {0x03C3, 0x03CB, Map::kShift, -32},
    {0x03CD, 0x03CE, Map::kShift, -63},    {0x03D8, 0x03EF, Map::kEvenOdd, 0},   {0x0430, 0x044F, Map::kShift, -32},
    {0x0450, 0x045F, Map::kShift, -80},    {0x0460, 0x0481, Map::kEvenOdd, 0},   {0x048A, 0x04BF, Map::kEvenOdd, 0},
    {0x04C1, 0x04CE, Map::kOddEven, 0},    {0x04D0, 0x052F, Map::kEvenOdd, 0},   {0x0561, 0x0586, Map::kShift, -48},
    {0x13F8, 0x13FD, Map::kShift, -8},     {0x1E00, 0x1E95, Map::kEvenOdd, 0},   {0x1EA0, 0x1EFF, Map::kEvenOdd, 0},
    {0x1F00, 0x1F07, Map::kShift, 8},      {0x1F10, 0x1F15, Map::kShift, 8},     {0x1F20, 0x1F27, Map::kShift, 8},
    {0x1F30, 0x1F37, Map::kShift, 8},      {0x1F40, 0x1F45, Map::kShift, 8},     {0x1F60, 0x1F67, Map::kShift, 8},
    {0x1F70, 0x1F71, Map::kShift, 74},     {0x1F72, 0x1F75, Map::kShift, 86},    {0x1F76, 0x1F77, Map::kShift, 100},
    {0x1F78, 0x1F79, Map::kShift, 128},    {0x1F7A, 0x1F7B, Map::kShift, 112},   {0x1F7C, 0x1F7D, Map::kShift, 126},
    {0x1F80, 0x1F87, Map::kShift, 8},      {0x1F90, 0x1F97, Map::kShift, 8},     {0x1FA0, 0x1FA7, Map::kShift, 8},
    {0x1FB0, 0x1FB1, Map::kShift, 8},      {0x1FD0, 0x1FD1, Map::kShift, 8},     {0x1FE0, 0x1FE1, Map::kShift, 8},
    {0x2170, 0x217F, Map::kShift, -16},    {0x24D0, 0x24E9, Map::kShift, -26},   {0x2C30, 0x2C5F, Map::kShift, -48},
    {0x2C80, 0x2CE3, Map::kEvenOdd, 0},    {0x2D00, 0x2D25, Map::kShift, -7264}, {0xA640, 0xA66D, Map::kEvenOdd, 0},
    {0xA680, 0xA69B, Map::kEvenOdd, 0},    {0xA722, 0xA72F, Map::kEvenOdd, 0},   {0xA732, 0xA76F, Map::kEvenOdd, 0},
    {0xAB70, 0xABBF, Map::kShift, -38864}, {0xFF41, 0xFF5A, Map::kShift, -32},
};

struct CaseSingle {
  char16_t lower;
  char16_t upper;
};
constexpr CaseSingle kCaseSingles[] = {
    {0x00B5, 0x039C}, {0x00FF, 0x0178}, {0x0131, 0x0049}, {0x017F, 0x0053}, {0x0180, 0x0243}, {0x0183, 0x0182},
    {0x0185, 0x0184}, {0x0188, 0x0187}, {0x018C, 0x018B}, {0x0192, 0x0191}, {0x0195, 0x01F6}, {0x0199, 0x0198},
    {0x019A, 0x023D}, {0x019E, 0x0220}, {0x01A1, 0x01A0}, {0x01A3, 0x01A2}, {0x01A5, 0x01A4}, {0x01A8, 0x01A7},
    {0x01AD, 0x01AC}, {0x01B0, 0x01AF}, {0x01B4, 0x01B3}, {0x01B6, 0x01B5}, {0x01B9, 0x01B8}, {0x01BD, 0x01BC},
    {0x01BF, 0x01F7}, {0x01C5, 0x01C4}, {0x01C6, 0x01C4}, {0x01C8, 0x01C7}, {0x01C9, 0x01C7}, {0x01CB, 0x01CA},
    {0x01CC, 0x01CA}, {0x01DD, 0x018E}, {0x01F2, 0x01F1}, {0x01F3, 0x01F1}, {0x01F5, 0x01F4}, {0x023C, 0x023B},
    {0x0242, 0x0241}, {0x0377, 0x0376}, {0x03AC, 0x0386}, {0x03C2, 0x03A3}, {0x03CC, 0x038C}, {0x03D0, 0x0392},
    {0x03D1, 0x0398}, {0x03D5, 0x03A6}, {0x03D6, 0x03A0}, {0x03D7, 0x03CF}, {0x03F0, 0x039A}, {0x03F1, 0x03A1},
    {0x03F2, 0x03F9}, {0x03F3, 0x037F}, {0x03F5, 0x0395}, {0x03F8, 0x03F7}, {0x03FB, 0x03FA}, {0x04CF, 0x04C0},
    {0x1E9B, 0x1E60}, {0x1F51, 0x1F59}, {0x1F53, 0x1F5B}, {0x1F55, 0x1F5D}, {0x1F57, 0x1F5F}, {0x1FB3, 0x1FBC},
    {0x1FBE, 0x0399}, {0x1FC3, 0x1FCC}, {0x1FE5, 0x1FEC}, {0x1FF3, 0x1FFC}, {0x214E, 0x2132}, {0x2184, 0x2183},
    {0x2D27, 0x10C7}, {0x2D2D, 0x10CD},
};

}  // namespace

char16_t CompoundUpper(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  for (const CaseSingle& single : kCaseSingles) {
    if (single.lower == c) return single.upper;
  }
  for (const CaseRange& range : kCaseRanges) {
    if (c < range.first) break;
    if (c > range.last) continue;
    switch (range.map) {
      case Map::kShift:
        return static_cast<char16_t>(static_cast<int32_t>(c) + range.delta);
      case Map::kEvenOdd:
        return (c % 2 == 1) ? static_cast<char16_t>(c - 1) : c;
      case Map::kOddEven:
        return (c % 2 == 0) ? static_cast<char16_t>(c - 1) : c;
    }
  }
  return c;
}

int CompareCompoundNames(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    const char16_t ua = CompoundUpper(a[i]);
    const char16_t ub = CompoundUpper(b[i]);
    if (ua != ub) return ua < ub ? -1 : 1;
  }
  return 0;
}

const char* CompoundErrorName(CompoundError error) {
  switch (error) {
    case CompoundError::kNone:
      return "no error";
    case CompoundError::kNotOpen:
      return "no file is open";
    case CompoundError::kOpenFailed:
      return "the file would not open";
    case CompoundError::kReadFailed:
      return "reading the file failed";
    case CompoundError::kTruncated:
      return "the file is cut short";
    case CompoundError::kBadSignature:
      return "not a compound file";
    case CompoundError::kBadVersion:
      return "unknown compound file version";
    case CompoundError::kBadHeader:
      return "bad compound file header";
    case CompoundError::kSectorOutOfRange:
      return "sector number out of range";
    case CompoundError::kChainLoop:
      return "sector chain loops";
    case CompoundError::kChainTooShort:
      return "sector chain too short";
    case CompoundError::kBadEntryName:
      return "bad directory entry name";
    case CompoundError::kBadEntryId:
      return "directory entry id out of range";
    case CompoundError::kBadEntryType:
      return "bad directory entry type";
    case CompoundError::kDirectoryCycle:
      return "directory tree has a cycle";
    case CompoundError::kBadStreamSize:
      return "stream size larger than the file";
    case CompoundError::kNotFound:
      return "no such entry";
    case CompoundError::kNotAStream:
      return "the entry is not a stream";
    case CompoundError::kOutOfMemory:
      return "not enough memory";
  }
  return "unknown error";
}

// ---- Opening -----------------------------------------------------------------------------

CompoundFile::~CompoundFile() { Close(); }

void CompoundFile::Close() {
  if (file_ != nullptr) plat::CloseFile(file_);
  file_ = nullptr;
  base_ = 0;
  std::vector<uint8_t>().swap(memory_);
  data_size_ = 0;
  open_ = false;
  major_version_ = 0;
  sector_size_ = 0;
  sector_count_ = 0;
  std::vector<uint32_t>().swap(fat_);
  std::vector<CompoundEntry>().swap(entries_);
  mini_loaded_ = false;
  mini_error_ = CompoundError::kNone;
  mini_error_text_.clear();
  std::vector<uint32_t>().swap(mini_fat_);
  std::vector<uint32_t>().swap(mini_stream_chain_);
  mini_stream_size_ = 0;
  error_ = CompoundError::kNotOpen;
  error_text_ = "no file is open";
  system_error_ = 0;
}

bool CompoundFile::Fail(CompoundError error, std::string text) {
  error_ = error;
  error_text_ = std::move(text);
  return false;
}

void CompoundFile::FailOutOfMemory() noexcept {
  // Without memory there is no room for a text either; the error's name says it.
  error_ = CompoundError::kOutOfMemory;
  error_text_.clear();
}

bool CompoundFile::OpenFile(std::u16string_view path, uint64_t offset, uint64_t length) {
  try {
    return OpenFileUnguarded(path, offset, length);
  } catch (const std::exception&) {
    Close();
    FailOutOfMemory();
    return false;
  }
}

bool CompoundFile::OpenFileUnguarded(std::u16string_view path, uint64_t offset, uint64_t length) {
  Close();
  // Others may keep the file open for writing (a macro file being processed); every read
  // is checked against the size taken now, so a file cut meanwhile only fails a read.
  file_ =
      plat::OpenFile(path, plat::kGenericRead, plat::kShareRead | plat::kShareWrite, plat::Disposition::kOpenExisting);
  if (file_ == nullptr) {
    system_error_ = plat::GetLastError();
    return Fail(CompoundError::kOpenFailed, "cannot open the file (system error " + Num(system_error_) + ")");
  }
  uint64_t file_size = 0;
  if (!plat::GetFileSize(file_, &file_size)) {
    const uint32_t code = plat::GetLastError();
    Close();
    system_error_ = code;
    return Fail(CompoundError::kOpenFailed, "cannot tell the file's size (system error " + Num(code) + ")");
  }
  if (offset > file_size) {
    Close();
    return Fail(CompoundError::kTruncated, "the compound file would start after the end of the file");
  }
  base_ = offset;
  data_size_ = std::min(length, file_size - offset);
  if (Load()) return true;
  // Keep the reason across the reset.
  const CompoundError error = error_;
  std::string text = std::move(error_text_);
  const uint32_t code = system_error_;
  Close();
  system_error_ = code;
  return Fail(error, std::move(text));
}

bool CompoundFile::OpenMemory(std::vector<uint8_t> bytes) {
  Close();
  memory_ = std::move(bytes);
  data_size_ = memory_.size();
  if (Load()) return true;
  const CompoundError error = error_;
  std::string text = std::move(error_text_);
  Close();
  error_ = error;
  error_text_ = std::move(text);
  return false;
}

bool CompoundFile::OpenMemory(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes;
  try {
    if (size > 0) bytes.assign(data, data + size);
  } catch (const std::exception&) {
    Close();
    FailOutOfMemory();
    return false;
  }
  return OpenMemory(std::move(bytes));
}

bool CompoundFile::Load() {
  try {
    uint8_t header[kHeaderSize];
    if (data_size_ < kHeaderSize) {
      return Fail(CompoundError::kTruncated, "only " + Num(data_size_) + " bytes, shorter than a header");
    }
    if (!ReadAt(0, header, kHeaderSize)) return false;
    const plat::ByteView head(header, kHeaderSize);
    if (!LoadHeader(head) || !LoadFat(head) || !LoadDirectory()) return false;
  } catch (const std::exception&) {
    // Allocation failures (bad_alloc, length_error) are the only exceptions possible.
    FailOutOfMemory();
    return false;
  }
  open_ = true;
  error_ = CompoundError::kNone;
  error_text_.clear();
  return true;
}

bool CompoundFile::ReadAt(uint64_t offset, uint8_t* out, size_t length) {
  if (offset > data_size_ || length > data_size_ - offset) {
    return Fail(CompoundError::kTruncated, "the data ends before byte " + Num(offset + length));
  }
  if (length == 0) return true;
  if (file_ == nullptr) return plat::ByteView(memory_).CopyTo(offset, out, length);
  uint64_t position = 0;
  if (!plat::SeekFile(file_, static_cast<int64_t>(base_ + offset), plat::SeekOrigin::kBegin, &position)) {
    system_error_ = plat::GetLastError();
    return Fail(CompoundError::kReadFailed, "cannot seek in the file (system error " + Num(system_error_) + ")");
  }
  while (length > 0) {
    const uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(length, 1u << 30));
    uint32_t done = 0;
    if (!plat::ReadFile(file_, out, chunk, &done)) {
      system_error_ = plat::GetLastError();
      return Fail(CompoundError::kReadFailed, "cannot read the file (system error " + Num(system_error_) + ")");
    }
    if (done == 0) {
      // The size was taken at opening; someone has cut the file since.
      system_error_ = plat::err::kHandleEof;
      return Fail(CompoundError::kReadFailed, "the file became shorter while open");
    }
    out += done;
    length -= done;
  }
  return true;
}

bool CompoundFile::ReadSector(uint32_t sector, uint8_t* out) {
  if (sector >= sector_count_) {
    return Fail(CompoundError::kSectorOutOfRange, SectorText(sector) + " is beyond the file");
  }
  if (!ReadAt((uint64_t{sector} + 1) * sector_size_, out, sector_size_)) {
    if (error_ == CompoundError::kTruncated) error_text_ = "the file ends inside sector " + Num(sector);
    return false;
  }
  return true;
}

bool CompoundFile::LoadHeader(plat::ByteView header) {
  if (!header.Fits(0, kHeaderSize) || std::memcmp(header.data(), kSignature, sizeof kSignature) != 0) {
    return Fail(CompoundError::kBadSignature, "the signature is not that of a compound file");
  }
  if (header.U16Or(kByteOrderAt, 0) != 0xFFFE) {
    return Fail(CompoundError::kBadHeader, "the byte order mark is not FFFE");
  }
  // The minor version is not checked: writers disagree on it and it changes no layout.
  major_version_ = header.U16Or(kMajorVersionAt, 0);
  const uint16_t shift = header.U16Or(kSectorShiftAt, 0);
  if (major_version_ != 3 && major_version_ != 4) {
    return Fail(CompoundError::kBadVersion, "major version " + Num(major_version_));
  }
  if ((major_version_ == 3 && shift != 9) || (major_version_ == 4 && shift != 12)) {
    return Fail(CompoundError::kBadVersion,
                "sector shift " + Num(shift) + " does not belong to version " + Num(major_version_));
  }
  if (header.U16Or(kMiniSectorShiftAt, 0) != 6) {
    return Fail(CompoundError::kBadHeader, "mini sector shift " + Num(header.U16Or(kMiniSectorShiftAt, 0)));
  }
  if (header.U32Or(kCutoffAt, 0) != kMiniStreamCutoff) {
    return Fail(CompoundError::kBadHeader, "mini stream cutoff " + Num(header.U32Or(kCutoffAt, 0)));
  }
  sector_size_ = 1u << shift;
  // Version 4 pads its header to a whole sector; sector 0 follows it.
  if (data_size_ < sector_size_) {
    return Fail(CompoundError::kTruncated, "the file ends inside the header sector");
  }
  // A last sector that is only partly there still counts: reads that need its missing
  // bytes fail on their own.
  sector_count_ = static_cast<uint32_t>(
      std::min<uint64_t>(CeilDiv(data_size_ - sector_size_, sector_size_), uint64_t{kMaxRegularSector} + 1));
  first_dir_sector_ = header.U32Or(kFirstDirAt, 0);
  first_mini_fat_sector_ = header.U32Or(kFirstMiniFatAt, 0);
  return true;
}

bool CompoundFile::LoadFat(plat::ByteView header) {
  // The FAT's sectors: the first 109 listed in the header, the rest in the DIFAT chain.
  const uint32_t fat_count = header.U32Or(kFatCountAt, 0);
  if (fat_count == 0) return Fail(CompoundError::kBadHeader, "the header lists no FAT sectors");
  if (fat_count > sector_count_) {
    return Fail(CompoundError::kBadHeader,
                Num(fat_count) + " FAT sectors in a file of " + Num(sector_count_) + " sectors");
  }
  std::vector<uint32_t> fat_sectors;
  fat_sectors.reserve(fat_count);
  for (uint32_t i = 0; i < std::min(fat_count, kHeaderDifatCount); ++i) {
    fat_sectors.push_back(header.U32Or(kHeaderDifatAt + 4 * size_t{i}, 0));
  }
  // Each DIFAT sector adds up to `per_sector` entries, so the walk ends after at most
  // fat_count / per_sector + 1 steps whatever the links say.
  const uint32_t per_sector = sector_size_ / 4 - 1;
  std::vector<uint8_t> difat(sector_size_);
  uint32_t next = header.U32Or(kFirstDifatAt, 0);
  while (fat_sectors.size() < fat_count) {
    if (next >= sector_count_) {
      return Fail(next == kEndOfChain ? CompoundError::kChainTooShort : CompoundError::kSectorOutOfRange,
                  "the DIFAT chain reaches " + SectorText(next) + " with " + Num(fat_count - fat_sectors.size()) +
                      " FAT sectors still to list");
    }
    if (!ReadSector(next, difat.data())) return false;
    for (uint32_t i = 0; i < per_sector && fat_sectors.size() < fat_count; ++i) {
      fat_sectors.push_back(plat::ByteView(difat).U32Or(4 * size_t{i}, 0));
    }
    next = plat::ByteView(difat).U32Or(4 * size_t{per_sector}, 0);
  }

  const uint64_t entries = uint64_t{fat_count} * (sector_size_ / 4);
  if (entries > std::numeric_limits<size_t>::max() / 4) {
    return Fail(CompoundError::kOutOfMemory, "the FAT does not fit in memory");
  }
  fat_.assign(static_cast<size_t>(entries), kFreeSector);
  std::vector<uint8_t> sector(sector_size_);
  for (uint32_t i = 0; i < fat_count; ++i) {
    if (fat_sectors[i] >= sector_count_) {
      return Fail(CompoundError::kSectorOutOfRange,
                  "FAT sector " + Num(i) + " is " + SectorText(fat_sectors[i]) + ", beyond the file");
    }
    if (!ReadSector(fat_sectors[i], sector.data())) return false;
    for (uint32_t k = 0; k < sector_size_ / 4; ++k) {
      fat_[size_t{i} * (sector_size_ / 4) + k] = plat::ByteView(sector).U32Or(4 * size_t{k}, 0);
    }
  }
  return true;
}

bool CompoundFile::FollowChain(const std::vector<uint32_t>& table, uint64_t limit, uint32_t start, const char* what,
                               std::vector<uint32_t>* chain) {
  chain->clear();
  // Every link must be below `bound`, so a chain of more than `bound` links repeats one
  // and would never end.
  const uint64_t bound = std::min<uint64_t>(table.size(), limit);
  uint32_t at = start;
  while (at != kEndOfChain) {
    if (at >= bound) {
      return Fail(CompoundError::kSectorOutOfRange,
                  std::string(what) + " reaches " + SectorText(at) + ", beyond the " + Num(bound) + " there are");
    }
    if (chain->size() >= bound) {
      return Fail(CompoundError::kChainLoop, std::string(what) + " runs past " + Num(bound) + " sectors: it loops");
    }
    chain->push_back(at);
    at = table[at];
  }
  return true;
}

bool CompoundFile::LoadDirectory() {
  std::vector<uint32_t> chain;
  if (!FollowChain(fat_, sector_count_, first_dir_sector_, "the directory chain", &chain)) return false;
  if (chain.empty()) return Fail(CompoundError::kBadHeader, "the directory has no sectors");
  std::vector<uint8_t> dir(chain.size() * size_t{sector_size_});
  for (size_t i = 0; i < chain.size(); ++i) {
    if (!ReadSector(chain[i], dir.data() + i * sector_size_)) return false;
  }
  const uint64_t count = dir.size() / kEntrySize;

  auto parse = [&](uint32_t id, size_t parent, uint32_t depth, CompoundEntry* entry) -> bool {
    const plat::ByteView p = plat::ByteView(dir).Sub(uint64_t{id} * kEntrySize, kEntrySize).value_or(plat::ByteView());
    const uint16_t name_bytes = p.U16Or(kNameLengthAt, 0);
    if (name_bytes == 0 || name_bytes % 2 != 0 || name_bytes > kMaxNameBytes) {
      return Fail(CompoundError::kBadEntryName, "entry " + Num(id) + " has a name length of " + Num(name_bytes));
    }
    const size_t units = name_bytes / 2 - 1;
    if (units == 0) return Fail(CompoundError::kBadEntryName, "entry " + Num(id) + " has an empty name");
    entry->name.resize(units);
    for (size_t i = 0; i < units; ++i) {
      entry->name[i] = static_cast<char16_t>(p.U16Or(2 * i, 0));
      if (entry->name[i] == 0) {
        return Fail(CompoundError::kBadEntryName, "entry " + Num(id) + " has a NUL inside its name");
      }
    }
    if (p.U16Or(2 * units, 0) != 0) {
      return Fail(CompoundError::kBadEntryName, "entry " + Num(id) + "'s name is not terminated");
    }
    const uint8_t type = p.U8Or(kTypeAt, 0);
    const bool is_root = id == 0;
    if (is_root ? type != 5 : (type != 1 && type != 2)) {
      return Fail(CompoundError::kBadEntryType, "entry " + Num(id) + " has type " + Num(type));
    }
    entry->type = static_cast<CompoundEntryType>(type);
    entry->dir_id = id;
    entry->parent = parent;
    entry->depth = depth;
    entry->start_sector = p.U32Or(kStartAt, 0);
    entry->size = 0;
    if (type != 1) {
      // Version 3 writers were free to leave the high half uninitialised.
      uint64_t size = p.U64Or(kSizeAt, 0);
      if (major_version_ == 3) size &= 0xFFFFFFFFu;
      if (size > data_size_) {
        return Fail(CompoundError::kBadStreamSize,
                    "entry " + Num(id) + " claims " + Num(size) + " bytes in a file of " + Num(data_size_));
      }
      entry->size = size;
    }
    return true;
  };
  auto link = [&](uint32_t id, size_t field) {
    return plat::ByteView(dir).U32Or(uint64_t{id} * kEntrySize + field, 0);
  };

  // Each id may be reached once in the whole tree; that alone keeps the walk finite.
  std::vector<bool> reached(static_cast<size_t>(count), false);
  reached[0] = true;
  entries_.clear();
  entries_.emplace_back();
  if (!parse(0, 0, 0, &entries_.back())) return false;

  std::vector<uint32_t> stack;
  auto descend = [&](uint32_t id, size_t storage, const char* from) -> bool {
    // Walks down the left links from `id`, stacking each entry for in-order output.
    while (id != kNoEntry) {
      if (id >= count) {
        return Fail(CompoundError::kBadEntryId, std::string(from) + " names entry " + Num(id) + " of " + Num(count));
      }
      if (reached[id]) {
        return Fail(CompoundError::kDirectoryCycle,
                    "entry " + Num(id) + " is reached twice (below entry " + Num(entries_[storage].dir_id) + ")");
      }
      reached[id] = true;
      stack.push_back(id);
      id = link(id, kLeftAt);
      from = "a left sibling link";
    }
    return true;
  };
  for (size_t storage = 0; storage < entries_.size(); ++storage) {
    if (!entries_[storage].IsStorage()) continue;
    const uint32_t depth = entries_[storage].depth + 1;
    if (!descend(link(entries_[storage].dir_id, kChildAt), storage, "a child link")) return false;
    while (!stack.empty()) {
      const uint32_t id = stack.back();
      stack.pop_back();
      CompoundEntry entry;
      if (!parse(id, storage, depth, &entry)) return false;
      entries_[storage].children.push_back(entries_.size());
      entries_.push_back(std::move(entry));
      if (!descend(link(id, kRightAt), storage, "a right sibling link")) return false;
    }
  }
  return true;
}

// ---- Streams -------------------------------------------------------------------------------

bool CompoundFile::LoadMini() {
  if (mini_loaded_) {
    if (mini_error_ == CompoundError::kNone) return true;
    return Fail(mini_error_, mini_error_text_);
  }
  mini_loaded_ = true;
  auto remember = [&]() {
    mini_error_ = error_;
    mini_error_text_ = error_text_;
    mini_fat_.clear();
    mini_stream_chain_.clear();
    return false;
  };
  const CompoundEntry& root = entries_.front();
  mini_stream_size_ = root.size;
  if (mini_stream_size_ > 0) {
    if (!FollowChain(fat_, sector_count_, root.start_sector, "the mini stream's chain", &mini_stream_chain_)) {
      return remember();
    }
    if (uint64_t{mini_stream_chain_.size()} * sector_size_ < mini_stream_size_) {
      Fail(CompoundError::kChainTooShort, "the mini stream's chain holds " + Num(mini_stream_chain_.size()) +
                                              " sectors for " + Num(mini_stream_size_) + " bytes");
      return remember();
    }
  }
  std::vector<uint32_t> chain;
  if (!FollowChain(fat_, sector_count_, first_mini_fat_sector_, "the mini FAT chain", &chain)) {
    return remember();
  }
  mini_fat_.assign(chain.size() * (sector_size_ / 4), kFreeSector);
  std::vector<uint8_t> sector(sector_size_);
  for (size_t i = 0; i < chain.size(); ++i) {
    if (!ReadSector(chain[i], sector.data())) return remember();
    for (uint32_t k = 0; k < sector_size_ / 4; ++k) {
      mini_fat_[i * (sector_size_ / 4) + k] = plat::ByteView(sector).U32Or(4 * size_t{k}, 0);
    }
  }
  return true;
}

bool CompoundFile::ReadRegular(const CompoundEntry& entry, std::vector<uint8_t>* out) {
  std::vector<uint32_t> chain;
  const std::string what = "the chain of stream \"" + plat::Utf16ToUtf8(entry.name) + "\"";
  if (!FollowChain(fat_, sector_count_, entry.start_sector, what.c_str(), &chain)) return false;
  const uint64_t needed = CeilDiv(entry.size, sector_size_);
  if (chain.size() < needed) {
    return Fail(CompoundError::kChainTooShort,
                what + " holds " + Num(chain.size()) + " sectors for " + Num(entry.size) + " bytes");
  }
  out->resize(static_cast<size_t>(entry.size));
  // Neighbouring sectors are read in one go.
  size_t i = 0;
  while (i < needed) {
    size_t run = 1;
    while (i + run < needed && chain[i + run] == chain[i] + run) ++run;
    const uint64_t from = uint64_t{i} * sector_size_;
    const uint64_t length = std::min<uint64_t>(uint64_t{run} * sector_size_, entry.size - from);
    if (!ReadAt((uint64_t{chain[i]} + 1) * sector_size_, out->data() + from, static_cast<size_t>(length))) {
      if (error_ == CompoundError::kTruncated) error_text_ = "the file ends inside " + what;
      return false;
    }
    i += run;
  }
  return true;
}

bool CompoundFile::ReadMini(const CompoundEntry& entry, std::vector<uint8_t>* out) {
  if (!LoadMini()) return false;
  std::vector<uint32_t> chain;
  const std::string what = "the mini chain of stream \"" + plat::Utf16ToUtf8(entry.name) + "\"";
  if (!FollowChain(mini_fat_, CeilDiv(mini_stream_size_, kMiniSectorSize), entry.start_sector, what.c_str(), &chain)) {
    return false;
  }
  const uint64_t needed = CeilDiv(entry.size, kMiniSectorSize);
  if (chain.size() < needed) {
    return Fail(CompoundError::kChainTooShort,
                what + " holds " + Num(chain.size()) + " mini sectors for " + Num(entry.size) + " bytes");
  }
  out->resize(static_cast<size_t>(entry.size));
  for (size_t i = 0; i < needed; ++i) {
    const uint64_t from = uint64_t{i} * kMiniSectorSize;
    const uint64_t length = std::min<uint64_t>(kMiniSectorSize, entry.size - from);
    const uint64_t at = uint64_t{chain[i]} * kMiniSectorSize;
    if (at + length > mini_stream_size_) {
      return Fail(CompoundError::kTruncated, "the mini stream ends inside mini sector " + Num(chain[i]));
    }
    // A mini sector never spans two sectors: 64 divides the sector size.
    const uint32_t sector = mini_stream_chain_[static_cast<size_t>(at / sector_size_)];
    const uint64_t offset = (uint64_t{sector} + 1) * sector_size_ + at % sector_size_;
    if (!ReadAt(offset, out->data() + from, static_cast<size_t>(length))) return false;
  }
  return true;
}

std::optional<std::vector<uint8_t>> CompoundFile::ReadEntry(size_t index) {
  try {
    return ReadEntryUnguarded(index);
  } catch (const std::exception&) {
    FailOutOfMemory();
    return std::nullopt;
  }
}

std::optional<std::vector<uint8_t>> CompoundFile::ReadEntryUnguarded(size_t index) {
  if (!open_) {
    Fail(CompoundError::kNotOpen, "no file is open");
    return std::nullopt;
  }
  if (index >= entries_.size()) {
    Fail(CompoundError::kNotFound, "no entry " + Num(index));
    return std::nullopt;
  }
  const CompoundEntry& entry = entries_[index];
  if (!entry.IsStream()) {
    Fail(CompoundError::kNotAStream, "\"" + plat::Utf16ToUtf8(entry.name) + "\" is a storage");
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  if (entry.size > std::numeric_limits<size_t>::max()) {
    Fail(CompoundError::kOutOfMemory, "the stream does not fit in memory");
    return std::nullopt;
  }
  if (entry.size > 0) {
    // Below the cutoff a stream lives in the mini stream, whatever its start sector says.
    const bool ok = entry.size < kMiniStreamCutoff ? ReadMini(entry, &bytes) : ReadRegular(entry, &bytes);
    if (!ok) return std::nullopt;
  }
  error_ = CompoundError::kNone;
  error_text_.clear();
  return bytes;
}

std::optional<std::vector<uint8_t>> CompoundFile::ReadStreamAt(size_t index) { return ReadEntry(index); }

std::optional<std::vector<uint8_t>> CompoundFile::ReadStream(std::u16string_view path) {
  const std::optional<size_t> index = Find(path);
  if (open_ && !index) {
    try {
      Fail(CompoundError::kNotFound, "no entry \"" + plat::Utf16ToUtf8(path) + "\"");
    } catch (const std::exception&) {
      FailOutOfMemory();
    }
    return std::nullopt;
  }
  // Unopened, ReadEntry says so.
  return ReadEntry(index.value_or(0));
}

std::optional<uint64_t> CompoundFile::StreamSize(std::u16string_view path) {
  try {
    return StreamSizeUnguarded(path);
  } catch (const std::exception&) {
    FailOutOfMemory();
    return std::nullopt;
  }
}

std::optional<uint64_t> CompoundFile::StreamSizeUnguarded(std::u16string_view path) {
  if (!open_) {
    Fail(CompoundError::kNotOpen, "no file is open");
    return std::nullopt;
  }
  const std::optional<size_t> index = Find(path);
  if (!index) {
    Fail(CompoundError::kNotFound, "no entry \"" + plat::Utf16ToUtf8(path) + "\"");
    return std::nullopt;
  }
  if (!entries_[*index].IsStream()) {
    Fail(CompoundError::kNotAStream, "\"" + plat::Utf16ToUtf8(path) + "\" is a storage");
    return std::nullopt;
  }
  error_ = CompoundError::kNone;
  error_text_.clear();
  return entries_[*index].size;
}

// ---- Names ---------------------------------------------------------------------------------

const std::vector<size_t>& CompoundFile::RootChildren() const {
  static const std::vector<size_t> kNone;
  return entries_.empty() ? kNone : entries_.front().children;
}

std::optional<size_t> CompoundFile::FindChild(size_t storage, std::u16string_view name) const {
  if (storage >= entries_.size() || !entries_[storage].IsStorage()) return std::nullopt;
  // A plain scan rather than a descent by comparison: another writer's idea of upper
  // case may have ordered the tree differently from ours.
  for (size_t child : entries_[storage].children) {
    if (CompareCompoundNames(entries_[child].name, name) == 0) return child;
  }
  return std::nullopt;
}

std::optional<size_t> CompoundFile::Find(std::u16string_view path) const {
  if (entries_.empty()) return std::nullopt;
  size_t at = 0;
  while (!path.empty()) {
    const size_t cut = path.find(u'\\');
    const std::u16string_view part = path.substr(0, cut);
    if (part.empty()) return std::nullopt;
    const std::optional<size_t> child = FindChild(at, part);
    if (!child) return std::nullopt;
    at = *child;
    if (cut == std::u16string_view::npos) break;
    path.remove_prefix(cut + 1);
    if (path.empty()) return std::nullopt;  // a trailing backslash names nothing
  }
  return at;
}

std::u16string CompoundFile::PathOf(size_t index) const {
  if (index >= entries_.size() || index == 0) return {};
  try {
    std::vector<size_t> chain;
    for (size_t at = index; at != 0; at = entries_[at].parent) chain.push_back(at);
    std::u16string path;
    for (size_t i = chain.size(); i-- > 0;) {
      path += entries_[chain[i]].name;
      if (i > 0) path += u'\\';
    }
    return path;
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace macro
