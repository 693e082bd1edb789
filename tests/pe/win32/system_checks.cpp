#include "pe/win32/system_checks.h"

// windows.h first: the other system headers build on its types.
#include <windows.h>

#include <imagehlp.h>

#include <gtest/gtest.h>

#include "support/pe_builder.h"

namespace brankel_test {

void ExpectSystemChecksum(const std::vector<uint8_t>& file) {
  ASSERT_FALSE(file.empty());
  SCOPED_TRACE("file of " + std::to_string(file.size()) + " bytes");
  DWORD stored = 0;
  DWORD computed = 0;
  // The service sums whole words and so reads the byte after an odd-length file; a
  // mapped view has zeros there, and so does this copy.
  std::vector<uint8_t> copy = file;
  copy.push_back(0);
  ASSERT_NE(CheckSumMappedFile(copy.data(), static_cast<DWORD>(file.size()), &stored, &computed), nullptr);
  EXPECT_EQ(stored, Read32(file, Read32(file, 0x3C) + 0x58));
  EXPECT_EQ(computed, stored);
  EXPECT_NE(computed, 0u);
}

}  // namespace brankel_test
