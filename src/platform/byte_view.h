// The one way file data is read and written: a view over bytes whose every access is
// checked against its length. Offsets and lengths that come from a file go through
// `Fits` (which cannot overflow, whatever the width of size_t) before anything is read;
// a read that would run past the end fails instead of reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// Whether [offset, offset + length) lies inside `total` bytes, without ever forming
// offset + length (which could wrap).
constexpr bool RangeFits(uint64_t total, uint64_t offset, uint64_t length) {
  return offset <= total && length <= total - offset;
}

// Little-endian loads and stores at a pointer the caller has already checked. Only the
// views below and the record structures' own accessors use them.
namespace le {
constexpr uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
constexpr uint32_t Load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
constexpr uint64_t Load64(const uint8_t* p) { return Load32(p) | (static_cast<uint64_t>(Load32(p + 4)) << 32); }
constexpr void Store16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
constexpr void Store32(uint8_t* p, uint32_t v) {
  Store16(p, static_cast<uint16_t>(v));
  Store16(p + 2, static_cast<uint16_t>(v >> 16));
}
constexpr void Store64(uint8_t* p, uint64_t v) {
  Store32(p, static_cast<uint32_t>(v));
  Store32(p + 4, static_cast<uint32_t>(v >> 32));
}
}  // namespace le

class ByteView {
 public:
  constexpr ByteView() = default;
  constexpr ByteView(const uint8_t* data, size_t size) : data_(size != 0 ? data : nullptr), size_(data_ ? size : 0) {}
  constexpr ByteView(std::span<const uint8_t> bytes) : ByteView(bytes.data(), bytes.size()) {}
  ByteView(const std::vector<uint8_t>& bytes) : ByteView(bytes.data(), bytes.size()) {}
  ByteView(std::string_view bytes) : ByteView(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) {}

  constexpr const uint8_t* data() const { return data_; }
  constexpr size_t size() const { return size_; }
  constexpr bool empty() const { return size_ == 0; }
  constexpr std::span<const uint8_t> span() const { return {data_, size_}; }
  constexpr const uint8_t* begin() const { return data_; }
  constexpr const uint8_t* end() const { return data_ + size_; }

  constexpr bool Fits(uint64_t offset, uint64_t length) const { return RangeFits(size_, offset, length); }

  // The value at `offset`, or nothing when the view ends before it does.
  constexpr std::optional<uint8_t> U8(uint64_t offset) const {
    if (!Fits(offset, 1)) return std::nullopt;
    return data_[offset];
  }
  constexpr std::optional<uint16_t> U16(uint64_t offset) const {
    if (!Fits(offset, 2)) return std::nullopt;
    return le::Load16(data_ + offset);
  }
  constexpr std::optional<uint32_t> U32(uint64_t offset) const {
    if (!Fits(offset, 4)) return std::nullopt;
    return le::Load32(data_ + offset);
  }
  constexpr std::optional<uint64_t> U64(uint64_t offset) const {
    if (!Fits(offset, 8)) return std::nullopt;
    return le::Load64(data_ + offset);
  }
  // The same with a value for what the view does not hold (damaged records whose missing
  // fields read as zero).
  constexpr uint8_t U8Or(uint64_t offset, uint8_t missing) const { return U8(offset).value_or(missing); }
  constexpr uint16_t U16Or(uint64_t offset, uint16_t missing) const { return U16(offset).value_or(missing); }
  constexpr uint32_t U32Or(uint64_t offset, uint32_t missing) const { return U32(offset).value_or(missing); }
  constexpr uint64_t U64Or(uint64_t offset, uint64_t missing) const { return U64(offset).value_or(missing); }

  // `length` bytes from `offset`, or nothing when they are not all inside.
  constexpr std::optional<ByteView> Sub(uint64_t offset, uint64_t length) const {
    if (!Fits(offset, length)) return std::nullopt;
    return ByteView(data_ + offset, static_cast<size_t>(length));
  }
  // What lies from `offset` to the end; empty past the end.
  constexpr ByteView From(uint64_t offset) const {
    if (offset >= size_) return {};
    return ByteView(data_ + offset, size_ - static_cast<size_t>(offset));
  }
  // The first `length` bytes, or all of them when the view is shorter.
  constexpr ByteView First(uint64_t length) const {
    return ByteView(data_, length < size_ ? static_cast<size_t>(length) : size_);
  }
  // Copies `length` bytes at `offset` to `out`; false (with `out` untouched) when short.
  bool CopyTo(uint64_t offset, void* out, size_t length) const;

  // The zero-terminated UTF-16LE text at `offset`: it ends at its terminator, after
  // `max_units` units, or where the view ends (an odd last byte is not a unit). Past the
  // end it is empty. `*next` (when given) is the offset after the terminator, or where
  // reading stopped when there was none.
  std::u16string Utf16z(uint64_t offset, size_t max_units = SIZE_MAX, uint64_t* next = nullptr) const;

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// Writable bytes with the same checks; every store fails (changing nothing) when short.
class MutableByteView {
 public:
  constexpr MutableByteView() = default;
  constexpr MutableByteView(uint8_t* data, size_t size) : data_(size != 0 ? data : nullptr), size_(data_ ? size : 0) {}
  constexpr MutableByteView(std::span<uint8_t> bytes) : MutableByteView(bytes.data(), bytes.size()) {}
  MutableByteView(std::vector<uint8_t>& bytes) : MutableByteView(bytes.data(), bytes.size()) {}

  constexpr uint8_t* data() const { return data_; }
  constexpr size_t size() const { return size_; }
  constexpr bool empty() const { return size_ == 0; }
  constexpr operator ByteView() const { return ByteView(data_, size_); }
  constexpr ByteView View() const { return ByteView(data_, size_); }

  constexpr bool Fits(uint64_t offset, uint64_t length) const { return RangeFits(size_, offset, length); }

  constexpr bool Put8(uint64_t offset, uint8_t v) const {
    if (!Fits(offset, 1)) return false;
    data_[offset] = v;
    return true;
  }
  constexpr bool Put16(uint64_t offset, uint16_t v) const {
    if (!Fits(offset, 2)) return false;
    le::Store16(data_ + offset, v);
    return true;
  }
  constexpr bool Put32(uint64_t offset, uint32_t v) const {
    if (!Fits(offset, 4)) return false;
    le::Store32(data_ + offset, v);
    return true;
  }
  constexpr bool Put64(uint64_t offset, uint64_t v) const {
    if (!Fits(offset, 8)) return false;
    le::Store64(data_ + offset, v);
    return true;
  }
  constexpr std::optional<MutableByteView> Sub(uint64_t offset, uint64_t length) const {
    if (!Fits(offset, length)) return std::nullopt;
    return MutableByteView(data_ + offset, static_cast<size_t>(length));
  }
  // Copies `bytes` to `offset`; false (nothing written) when they do not all fit.
  bool CopyFrom(uint64_t offset, ByteView bytes) const;
  // Writes `text` and its terminator as UTF-16LE at `offset`, cut to `max_units` units
  // in all (terminator included) and to the view; false when not even the terminator fits.
  bool PutUtf16z(uint64_t offset, std::u16string_view text, size_t max_units = SIZE_MAX) const;

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// Appends little-endian values to a growing buffer: the writers' side of the view.
class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}
  size_t size() const { return out_.size(); }
  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v);
  void U32(uint32_t v);
  void U64(uint64_t v);
  void Bytes(ByteView bytes);
  void Zeros(size_t count);
  // The text's units and a terminator.
  void Utf16z(std::u16string_view text);
  // Zeros up to the next multiple of `alignment` (a power of two).
  void Align(size_t alignment);

 private:
  std::vector<uint8_t>& out_;
};

}  // namespace plat
