// What the system itself says about an image file, shared by the tests that let it judge
// the editor's output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brankel_test {

// The stored checksum must be what the image-help service computes, and non-zero.
void ExpectSystemChecksum(const std::vector<uint8_t>& file);

}  // namespace brankel_test
