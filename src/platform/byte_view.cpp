#include "platform/byte_view.h"

#include <cstring>

namespace plat {

bool ByteView::CopyTo(uint64_t offset, void* out, size_t length) const {
  if (!Fits(offset, length)) return false;
  if (length != 0) std::memcpy(out, data_ + offset, length);
  return true;
}

std::u16string ByteView::Utf16z(uint64_t offset, size_t max_units, uint64_t* next) const {
  std::u16string text;
  uint64_t at = offset;
  while (text.size() < max_units && Fits(at, 2)) {
    const char16_t unit = static_cast<char16_t>(le::Load16(data_ + at));
    at += 2;
    if (unit == 0) break;
    text.push_back(unit);
  }
  if (next) *next = at < offset ? offset : at;
  return text;
}

bool MutableByteView::CopyFrom(uint64_t offset, ByteView bytes) const {
  if (!Fits(offset, bytes.size())) return false;
  if (!bytes.empty()) std::memmove(data_ + offset, bytes.data(), bytes.size());
  return true;
}

bool MutableByteView::PutUtf16z(uint64_t offset, std::u16string_view text, size_t max_units) const {
  if (max_units == 0 || !Fits(offset, 2)) return false;
  const uint64_t room = (size_ - offset) / 2;
  uint64_t units = text.size();
  if (units > max_units - 1) units = max_units - 1;
  if (units > room - 1) units = room - 1;
  uint8_t* p = data_ + offset;
  for (uint64_t i = 0; i < units; ++i, p += 2) le::Store16(p, text[static_cast<size_t>(i)]);
  le::Store16(p, 0);
  return true;
}

void ByteWriter::U16(uint16_t v) {
  uint8_t b[2];
  le::Store16(b, v);
  out_.insert(out_.end(), b, b + 2);
}

void ByteWriter::U32(uint32_t v) {
  uint8_t b[4];
  le::Store32(b, v);
  out_.insert(out_.end(), b, b + 4);
}

void ByteWriter::U64(uint64_t v) {
  uint8_t b[8];
  le::Store64(b, v);
  out_.insert(out_.end(), b, b + 8);
}

void ByteWriter::Bytes(ByteView bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }

void ByteWriter::Zeros(size_t count) { out_.resize(out_.size() + count, 0); }

void ByteWriter::Utf16z(std::u16string_view text) {
  for (char16_t unit : text) U16(unit);
  U16(0);
}

void ByteWriter::Align(size_t alignment) {
  const size_t rest = out_.size() & (alignment - 1);
  if (rest != 0) Zeros(alignment - rest);
}

}  // namespace plat
