// The bytes of a macro file: header, named items, command records, parameter records, and
// the packing, scrambling and password rules that apply to them.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/byte_view.h"

namespace macro {

static_assert(std::endian::native == std::endian::little, "records are stored as they lie in memory");

inline constexpr uint16_t kMacroVersion = 512;
inline constexpr uint32_t kHeaderSize = 4632;
inline constexpr uint32_t kMaxNamedItems = 256;
inline constexpr uint32_t kNamedItemSize = 1044;
inline constexpr uint32_t kCommandSize = 24;
inline constexpr uint16_t kNoParamId = 8191;  // 0x1FFF: the command has no record
inline constexpr uint32_t kMaxParamPayload = 262143;
// A parameter block in memory is followed by room for its terminator record.
inline constexpr size_t kParamSpare = 6;
// The longest parameter block a file can carry: its length goes back into the 32-bit
// ParamBlockSize, and a copy written unpacked must still fit the 32-bit TotalSize after
// the header.
inline constexpr uint32_t kMaxParamBlockSize = UINT32_MAX - kHeaderSize;
inline constexpr uint8_t kFileFlagAttachments = 0x08;
inline constexpr uint8_t kProtectWithPassword = 0x08;
inline constexpr uint16_t kCommandDisabled = 0x0001;
inline constexpr size_t kPasswordUnits = 32;
inline constexpr size_t kMaxPasswordLength = 31;

#pragma pack(push, 1)

struct MacroFileHeader {
  char Magic[8];      // "VL_MA"
  uint16_t Version;   // 512
  uint8_t FileFlags;  // bit 3: an attachments area follows
  uint8_t Reserved11;
  uint16_t NamedItemCount;  // at most 256
  uint8_t Scrambled;        // command and parameter blocks scrambled with the password
  uint8_t Packed;           // all three blocks run-length packed
  uint32_t CommandCount;
  uint32_t ParamBlockSize;  // as stored (the stream length when packed)
  uint32_t TotalSize;       // header and blocks; the attachments area starts here
  uint32_t ParamBlockOffset;
  uint32_t CommandBlockOffset;
  uint8_t EditorData36;
  uint8_t EditorFlag37;    // any value but 1 reads as 0
  uint8_t EmulationLevel;  // low 4 bits
  uint8_t Reserved39;
  int32_t SaveStamp;  // seconds since 1970; also the password's key
  char16_t MacroName[128];
  char16_t EditorText[260];
  char16_t Password[32];  // scrambled on disk; unit 31 holds the length
  uint8_t ProtectFlags;   // bit 3: protect with the password
  uint8_t Reserved885;
  char16_t VariableValues[520];
  int8_t PlaySpeed;
  uint8_t EditorData1927[2367];
  uint8_t ProgressMode;    // low 4 bits: 0 default, 1 off, else on
  uint8_t DodgeMouseMode;  // same coding
  uint8_t EditorData4296[276];
  int32_t WriteStamp;
  uint8_t Reserved4576[56];
};

struct MacroNamedItem {
  uint8_t Editor0;
  uint8_t Carried1;
  uint16_t Cleared2;  // cleared on reading
  uint8_t Carried4;
  uint8_t Kinds5;  // high nibble 1 to 14
  uint8_t Carried6[6];
  char16_t Name[64];
  char16_t SecondText[192];
  char16_t ThirdText[260];
};

struct MacroCommand {
  uint16_t Code;     // high byte: the command group
  uint16_t ParamId;  // 14 bits; kNoParamId for none
  uint32_t Data[4];
  uint16_t Flags;  // bit 0: disabled
  uint8_t Editor22;
  uint8_t Editor23;
};

#pragma pack(pop)

static_assert(sizeof(MacroFileHeader) == kHeaderSize);
static_assert(offsetof(MacroFileHeader, Version) == 8);
static_assert(offsetof(MacroFileHeader, NamedItemCount) == 12);
static_assert(offsetof(MacroFileHeader, Scrambled) == 14);
static_assert(offsetof(MacroFileHeader, Packed) == 15);
static_assert(offsetof(MacroFileHeader, CommandCount) == 16);
static_assert(offsetof(MacroFileHeader, ParamBlockSize) == 20);
static_assert(offsetof(MacroFileHeader, TotalSize) == 24);
static_assert(offsetof(MacroFileHeader, ParamBlockOffset) == 28);
static_assert(offsetof(MacroFileHeader, CommandBlockOffset) == 32);
static_assert(offsetof(MacroFileHeader, EditorFlag37) == 37);
static_assert(offsetof(MacroFileHeader, EmulationLevel) == 38);
static_assert(offsetof(MacroFileHeader, SaveStamp) == 40);
static_assert(offsetof(MacroFileHeader, MacroName) == 44);
static_assert(offsetof(MacroFileHeader, Password) == 820);
static_assert(offsetof(MacroFileHeader, ProtectFlags) == 884);
static_assert(offsetof(MacroFileHeader, VariableValues) == 886);
static_assert(offsetof(MacroFileHeader, PlaySpeed) == 1926);
static_assert(offsetof(MacroFileHeader, ProgressMode) == 4294);
static_assert(offsetof(MacroFileHeader, DodgeMouseMode) == 4295);
static_assert(offsetof(MacroFileHeader, WriteStamp) == 4572);
static_assert(sizeof(MacroNamedItem) == kNamedItemSize);
static_assert(offsetof(MacroNamedItem, Kinds5) == 5);
static_assert(offsetof(MacroNamedItem, Name) == 12);
static_assert(offsetof(MacroNamedItem, SecondText) == 140);
static_assert(offsetof(MacroNamedItem, ThirdText) == 524);
static_assert(sizeof(MacroCommand) == kCommandSize);
static_assert(offsetof(MacroCommand, Flags) == 20);

// ---- Parameter records -----------------------------------------------------------------------
// A record is a 4-byte head (size bits 0-15; id in bits 0-13 of the second word, size bits
// 16-17 in its top bits) and the payload. A view too short for a head is no record: size
// 0, id kNoParamId.

inline constexpr size_t kParamHeadSize = 4;

inline uint32_t ParamRecordSize(plat::ByteView record) {
  if (!record.Fits(0, kParamHeadSize)) return 0;
  const uint16_t low = record.U16Or(0, 0);
  const uint16_t high = record.U16Or(2, 0);
  return low + (static_cast<uint32_t>(high >> 14) << 16);
}
inline uint16_t ParamRecordId(plat::ByteView record) {
  if (!record.Fits(0, kParamHeadSize)) return kNoParamId;
  return static_cast<uint16_t>(record.U16Or(2, 0) & 0x3FFF);
}
// The payload the head states, cut to what the view holds.
inline plat::ByteView ParamRecordPayload(plat::ByteView record) {
  return record.From(kParamHeadSize).First(ParamRecordSize(record));
}
// False (nothing written) when the view has no room for a head.
bool SetParamRecordHead(plat::MutableByteView record, uint16_t id, uint32_t size);
bool SetParamRecordId(plat::MutableByteView record, uint16_t id);
// The terminator: head 0x1FFF0000 (size 0, id 8191) and one zero byte. False (nothing
// written) when it does not fit.
bool WriteParamTerminator(plat::MutableByteView at);
inline constexpr size_t kParamTerminatorSize = 5;

// The walk a reader does after loading: records are followed from the start until one of
// size 0 or the end of the block. A last record that runs past the end is cut to end there
// (a head that does not fit is dropped); the terminator is written after the last record,
// into the spare bytes that follow the block. Returns the block's new length.
// `block` holds the `size` bytes and the kParamSpare after them; a shorter view is taken
// to end its block kParamSpare bytes early (and one without the spare has none: 0).
size_t NormaliseParamBlock(plat::MutableByteView block, size_t size);

// The first record with `id` in `block` (head and payload, cut to the block), empty for
// kNoParamId or no match. The walk stops at the terminator, at a record of size 0, or
// where the block ends: a record that starts inside the block is found even when its
// stated size runs past it.
plat::ByteView FindParamRecord(uint16_t id, plat::ByteView block);

// What FindParamRecord finds, for every id at once: one walk of the block, so that a file
// of many commands is not walked once per command.
class ParamRecordIndex {
 public:
  explicit ParamRecordIndex(plat::ByteView block);
  plat::ByteView Find(uint16_t id) const;

 private:
  plat::ByteView block_;
  bool walk_ = false;
  std::unordered_map<uint16_t, plat::ByteView> first_;
};

// ---- Memory for file data ------------------------------------------------------------------

// Makes `block` `count` zero-initialised elements. Every buffer whose size comes from a
// file goes through here: the count is 64-bit so that sums of file fields cannot wrap
// before they are checked, and a count this process cannot have gives false (with `block`
// empty) instead of an exception.
template <typename T>
bool AllocateZeroed(std::vector<T>& block, uint64_t count) noexcept {
  block = std::vector<T>();
  if (count > block.max_size()) return false;
  try {
    block.assign(static_cast<size_t>(count), T{});
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

// ---- Run-length packing -------------------------------------------------------------------

inline constexpr uint8_t kPackEscape = 0xFE;
inline constexpr size_t kPackHeadSize = 6;

// Packs n > 0 bytes: the 6-byte head (escape, 0, n) and the runs. False, with `out` empty,
// when n does not fit the head or the room for the worst case cannot be had.
bool PackBlock(plat::ByteView data, std::vector<uint8_t>& out);
// The same, with an empty result on failure (a packed block is never empty).
std::vector<uint8_t> PackBlock(plat::ByteView data);

// Why a stream was not unpacked.
enum class UnpackError {
  kNone,
  kNotPacked,  // a head cut short, or an output length no stream of this length can produce
  kTooLong,    // the block is longer than the caller's limit
  kNoMemory,   // the block with its spare bytes cannot be had in this process
};
// Unpacks a stream into its block followed by `spare` zero bytes. An
// empty stream gives an empty block. A block longer than `limit` bytes is refused before
// anything is allocated. Never throws; on failure `out` is empty and `*error` (when
// given) says why.
bool UnpackBlock(plat::ByteView stream, size_t spare, std::vector<uint8_t>& out, uint64_t limit = UINT64_MAX,
                 UnpackError* error = nullptr);
// The output length a stream declares (0 when it has no complete head).
uint32_t PackedOutputLength(plat::ByteView stream);

// ---- Scrambling -----------------------------------------------------------------------------

// XORs each chunk of key.size() bytes: byte i of a chunk of length c with (c + key[i]).
// Its own inverse; no change with an empty key.
void ScrambleBlock(plat::MutableByteView data, std::string_view key);

// The header's password as the scrambling key: its text in the ANSI code page.
std::string PasswordKey(const MacroFileHeader& header);
// The plain password a header copy holds (NUL-terminated in the field, at most 31 units).
std::u16string HeaderPassword(const MacroFileHeader& header);
// Sets the plain password of a header copy (cut to 31 characters).
void SetHeaderPassword(MacroFileHeader& header, std::u16string_view password);

// The password field on disk from the plain one, keyed by SaveStamp.
void ScramblePasswordField(MacroFileHeader& header);
// The plain password back from the field as read.
void RestorePasswordField(MacroFileHeader& header);

// "VL_MA" as a NUL-terminated string, compared without regard to case.
bool HasMacroMagic(const MacroFileHeader& header);
void SetMacroMagic(MacroFileHeader& header);

}  // namespace macro
