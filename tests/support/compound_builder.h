// Compound files for tests: the product's writer, and patterns and patches for damaging
// what it wrote.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "macro/compound_writer.h"

namespace brankel_test {

using macro::CompoundBuilder;
using macro::CompoundLayout;

// Bytes that differ from stream to stream and from offset to offset, so that a misplaced
// sector cannot go unnoticed.
std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed);

// Little-endian patches for damaging a built file.
void Put16(std::vector<uint8_t>& bytes, uint64_t at, uint16_t value);
void Put32(std::vector<uint8_t>& bytes, uint64_t at, uint32_t value);
void Put64(std::vector<uint8_t>& bytes, uint64_t at, uint64_t value);
uint32_t Get32(const std::vector<uint8_t>& bytes, uint64_t at);

}  // namespace brankel_test
