#include "support/compound_builder.h"

#include "platform/byte_view.h"

namespace brankel_test {

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = seed * 2654435761u + 0x9E3779B9u;
  for (size_t i = 0; i < size; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    bytes[i] = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

// Patches past the end are test faults, so they throw (through at) instead of doing nothing.
void Put16(std::vector<uint8_t>& bytes, uint64_t at, uint16_t value) {
  bytes.at(at) = static_cast<uint8_t>(value);
  bytes.at(at + 1) = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& bytes, uint64_t at, uint32_t value) {
  Put16(bytes, at, static_cast<uint16_t>(value));
  Put16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}

void Put64(std::vector<uint8_t>& bytes, uint64_t at, uint64_t value) {
  Put32(bytes, at, static_cast<uint32_t>(value));
  Put32(bytes, at + 4, static_cast<uint32_t>(value >> 32));
}

uint32_t Get32(const std::vector<uint8_t>& bytes, uint64_t at) {
  return uint32_t{bytes.at(at)} | (uint32_t{bytes.at(at + 1)} << 8) | (uint32_t{bytes.at(at + 2)} << 16) |
         (uint32_t{bytes.at(at + 3)} << 24);
}

}  // namespace brankel_test
