// A scratch folder in the temporary folder for each test, removed afterwards, and small
// file helpers written on the platform layer itself.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/unicode.h"

namespace brankel_test {

// Test names in assertion messages.
inline std::string Narrow(std::u16string_view text) { return plat::Utf16ToUtf8(text); }

bool WriteBytes(std::u16string_view path, std::string_view bytes);
std::string ReadBytes(std::u16string_view path);
void RemoveTree(const std::u16string& path);

// Names of the files in the temporary folder that match `pattern` ("~PD*"), to show that
// a run left none behind.
std::set<std::u16string> TemporaryFiles(const char16_t* pattern);

// Sets an environment variable of the running process; nullptr removes it.
void SetVariable(const char* name, const char* value);

class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // dir_ + "\" + name
  std::u16string Path(std::u16string_view name) const;

  std::u16string dir_;
};

}  // namespace brankel_test
