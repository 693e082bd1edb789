#include "macro/macro_format.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace macro {

bool SetParamRecordHead(plat::MutableByteView record, uint16_t id, uint32_t size) {
  const uint16_t low = static_cast<uint16_t>(size & 0xFFFF);
  const uint16_t high = static_cast<uint16_t>((id & 0x3FFF) | (((size >> 16) & 0x3) << 14));
  if (!record.Fits(0, kParamHeadSize)) return false;
  return record.Put16(0, low) && record.Put16(2, high);
}

bool SetParamRecordId(plat::MutableByteView record, uint16_t id) {
  return SetParamRecordHead(record, id, ParamRecordSize(record));
}

bool WriteParamTerminator(plat::MutableByteView at) {
  if (!at.Fits(0, kParamTerminatorSize)) return false;
  return SetParamRecordHead(at, kNoParamId, 0) && at.Put8(4, 0);
}

size_t NormaliseParamBlock(plat::MutableByteView block, size_t size) {
  if (block.size() < kParamSpare) return 0;
  size = std::min(size, block.size() - kParamSpare);
  const auto at = [&](size_t offset) {
    return block.Sub(offset, block.size() - offset).value_or(plat::MutableByteView());
  };
  if (size == 0) {
    WriteParamTerminator(block);
    return 0;
  }
  size_t offset = 0;
  size_t last = 0;
  while (offset < size) {
    if (size - offset < kParamHeadSize) {
      // A head cut off by the block's end is no record.
      WriteParamTerminator(at(offset));
      return offset;
    }
    const uint32_t record_size = ParamRecordSize(at(offset));
    if (record_size == 0) break;
    last = offset;
    // Counted in 64 bits: near the end of a large block the sum could wrap a 32-bit size_t.
    const uint64_t next = uint64_t{offset} + kParamHeadSize + record_size;
    if (next > size) {
      offset = size + 1;
      break;
    }
    offset = static_cast<size_t>(next);
  }
  if (offset > size) {
    SetParamRecordHead(at(last), ParamRecordId(at(last)), static_cast<uint32_t>(size - last - kParamHeadSize));
    WriteParamTerminator(at(size));
    return size;
  }
  WriteParamTerminator(at(offset));
  return offset;
}

plat::ByteView FindParamRecord(uint16_t id, plat::ByteView block) {
  if (id == kNoParamId) return {};
  uint64_t offset = 0;
  for (;;) {
    const plat::ByteView record = block.From(offset);
    // The terminator, or no head left in the block.
    if (ParamRecordId(record) == kNoParamId) return {};
    const uint32_t size = ParamRecordSize(record);
    if (size == 0) return {};
    if (ParamRecordId(record) == id) return record.First(kParamHeadSize + uint64_t{size});
    offset += kParamHeadSize + uint64_t{size};
  }
}

ParamRecordIndex::ParamRecordIndex(plat::ByteView block) : block_(block) {
  try {
    for (uint64_t offset = 0;;) {
      const plat::ByteView record = block.From(offset);
      const uint16_t id = ParamRecordId(record);
      const uint32_t size = ParamRecordSize(record);
      if (id == kNoParamId || size == 0) break;
      first_.emplace(id, record.First(kParamHeadSize + uint64_t{size}));  // the first of an id stays
      offset += kParamHeadSize + uint64_t{size};
    }
  } catch (const std::bad_alloc&) {
    // Without room for the index every look-up walks the block, as it would anyway.
    first_.clear();
    walk_ = true;
  }
}

plat::ByteView ParamRecordIndex::Find(uint16_t id) const {
  if (walk_) return FindParamRecord(id, block_);
  const auto found = first_.find(id);
  return found == first_.end() ? plat::ByteView() : found->second;
}

bool PackBlock(plat::ByteView input, std::vector<uint8_t>& out) {
  // Every index below is under n, the view's size.
  const uint8_t* const data = input.data();
  const size_t n = input.size();
  // Worst case: every byte the escape, each written as a run of three.
  if (n > UINT32_MAX || !AllocateZeroed(out, kPackHeadSize + 3 * uint64_t{n})) {
    out.clear();
    return false;
  }
  uint8_t* put = out.data();
  const uint32_t length = static_cast<uint32_t>(n);
  *put++ = kPackEscape;
  *put++ = 0;
  for (int shift = 0; shift < 32; shift += 8) *put++ = static_cast<uint8_t>(length >> shift);
  size_t i = 0;
  while (i < n) {
    const uint8_t value = data[i];
    size_t run = 1;
    while (run < 254 && i + run < n && data[i + run] == value) ++run;
    if (run == 1 && value != kPackEscape) {
      *put++ = value;
    } else {
      *put++ = kPackEscape;
      *put++ = static_cast<uint8_t>(run);
      *put++ = value;
    }
    i += run;
  }
  out.resize(static_cast<size_t>(put - out.data()));
  return true;
}

std::vector<uint8_t> PackBlock(plat::ByteView data) {
  std::vector<uint8_t> out;
  PackBlock(data, out);
  return out;
}

uint32_t PackedOutputLength(plat::ByteView stream) {
  if (stream.size() < kPackHeadSize) return 0;
  return stream.U32Or(2, 0);
}

bool UnpackBlock(plat::ByteView stream, size_t spare, std::vector<uint8_t>& out, uint64_t limit, UnpackError* error) {
  // Every index below is under length, the view's size.
  const uint8_t* const bytes = stream.data();
  const size_t length = stream.size();
  const auto fail = [&](UnpackError why) {
    out = std::vector<uint8_t>();
    if (error != nullptr) *error = why;
    return false;
  };
  if (error != nullptr) *error = UnpackError::kNone;
  uint64_t n = 0;
  if (length != 0) {
    if (length < kPackHeadSize) return fail(UnpackError::kNotPacked);
    n = PackedOutputLength(stream);
    // No stream expands more than 254 bytes from 3; a larger claim is not a packed block
    // and must not make us allocate what it says.
    if (n / 254 > (length - kPackHeadSize) / 3 + 1) return fail(UnpackError::kNotPacked);
  }
  if (n > limit) return fail(UnpackError::kTooLong);
  // n is at most 32 bits, so the sum cannot wrap here; with a 32-bit size_t it may still
  // exceed what the process can address, which AllocateZeroed refuses.
  if (spare > UINT64_MAX - n || !AllocateZeroed(out, n + spare)) return fail(UnpackError::kNoMemory);
  if (length == 0) return true;
  const uint8_t escape = bytes[0];
  const size_t block = static_cast<size_t>(n);
  size_t in = kPackHeadSize, put = 0;
  while (in < length && put < block) {
    const uint8_t byte = bytes[in];
    if (byte == escape && in + 1 < length) {
      const size_t count = bytes[in + 1];
      const uint8_t value = in + 2 < length ? bytes[in + 2] : 0;
      const size_t copies = std::min(count, block - put);
      std::memset(out.data() + put, value, copies);
      put += copies;
      in += 3;
    } else {
      out[put++] = byte;
      ++in;
    }
  }
  return true;
}

void ScrambleBlock(plat::MutableByteView bytes, std::string_view key) {
  uint8_t* const data = bytes.data();
  const size_t n = bytes.size();
  const size_t k = key.size();
  if (k == 0) return;
  for (size_t start = 0; start < n; start += k) {
    const size_t c = std::min(k, n - start);
    for (size_t i = 0; i < c; ++i) {
      data[start + i] ^= static_cast<uint8_t>(c + static_cast<uint8_t>(key[i]));
    }
  }
}

std::u16string HeaderPassword(const MacroFileHeader& header) {
  char16_t units[kPasswordUnits];
  std::memcpy(units, header.Password, sizeof units);
  size_t length = 0;
  while (length < kMaxPasswordLength && units[length] != 0) ++length;
  return std::u16string(units, length);
}

std::string PasswordKey(const MacroFileHeader& header) { return plat::WideToAnsi(HeaderPassword(header)); }

void SetHeaderPassword(MacroFileHeader& header, std::u16string_view password) {
  char16_t units[kPasswordUnits] = {};
  const size_t length = std::min(password.size(), kMaxPasswordLength);
  std::copy_n(password.begin(), length, units);
  std::memcpy(header.Password, units, sizeof units);
}

namespace {

uint8_t StampByte(int32_t stamp, size_t i) {
  return static_cast<uint8_t>(static_cast<uint32_t>(stamp) >> (8 * (i % 4)));
}

}  // namespace

void ScramblePasswordField(MacroFileHeader& header) {
  const std::u16string password = HeaderPassword(header);
  char16_t units[kPasswordUnits] = {};
  if (!password.empty()) {
    for (size_t i = 0; i < password.size(); ++i) {
      units[i] = static_cast<char16_t>(password[i] ^ StampByte(header.SaveStamp, i));
    }
    units[kPasswordUnits - 1] = static_cast<char16_t>(password.size());
  }
  std::memcpy(header.Password, units, sizeof units);
}

void RestorePasswordField(MacroFileHeader& header) {
  char16_t units[kPasswordUnits];
  std::memcpy(units, header.Password, sizeof units);
  const bool first_eight_zero = std::all_of(units, units + 8, [](char16_t u) { return u == 0; });
  if (first_eight_zero || units[kPasswordUnits - 1] > kPasswordUnits) {
    std::fill(units, units + 16, 0);
  } else {
    const size_t n = units[kPasswordUnits - 1];
    size_t i = 0;
    for (; i < n && i < kMaxPasswordLength; ++i) {
      units[i] = static_cast<char16_t>(units[i] ^ StampByte(header.SaveStamp, i));
    }
    units[i] = 0;
  }
  std::memcpy(header.Password, units, sizeof units);
}

bool HasMacroMagic(const MacroFileHeader& header) {
  static constexpr char kMagic[] = "vl_ma";
  for (size_t i = 0; i < sizeof header.Magic; ++i) {
    const char c = header.Magic[i];
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    if (lower != kMagic[i]) return false;
    if (c == 0) return true;
  }
  return false;
}

void SetMacroMagic(MacroFileHeader& header) {
  std::memset(header.Magic, 0, sizeof header.Magic);
  std::memcpy(header.Magic, "VL_MA", 5);
}

}  // namespace macro
