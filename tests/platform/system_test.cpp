#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/testing.h"
#include "support/needs_md5.h"
#include "support/scratch.h"

namespace brankel_test {
namespace {

namespace err = plat::err;

TEST(LastError, SetAndGet) {
  plat::SetLastError(1234);
  EXPECT_EQ(plat::GetLastError(), 1234u);
  plat::SetLastError(0);
  EXPECT_EQ(plat::GetLastError(), 0u);
}

TEST(SystemMessages, KnownCodesHaveTextEndingInNewline) {
  for (uint32_t code : {2u, 3u, 5u, 8u, 32u, 183u}) {
    const std::optional<std::u16string> text = plat::FormatSystemMessage(code);
    ASSERT_TRUE(text.has_value()) << code;
    ASSERT_GT(text->size(), 2u);
    EXPECT_EQ(text->substr(text->size() - 2), u"\r\n") << code;
  }
  // A FACILITY_WIN32 HRESULT reads as its Win32 number.
  EXPECT_EQ(plat::FormatSystemMessage(0x80070002u), plat::FormatSystemMessage(2));
  EXPECT_FALSE(plat::FormatSystemMessage(0x2FFFFFF0u).has_value());
}

#ifndef _WIN32
// The stand-in carries Windows' English wording; Wine and localized Windows have their own.
TEST(SystemMessages, StandInUsesWindowsWording) {
  EXPECT_EQ(plat::FormatSystemMessage(2), u"The system cannot find the file specified.\r\n");
  EXPECT_EQ(plat::FormatSystemMessage(5), u"Access is denied.\r\n");
  EXPECT_EQ(plat::FormatSystemMessage(0x80070490u), u"Element not found.\r\n");
  plat::SetLastError(0);
  EXPECT_FALSE(plat::FormatSystemMessage(99999).has_value());
  EXPECT_EQ(plat::GetLastError(), err::kMessageNotFound);
}
#endif

TEST(Time, SleepAdvancesTheTickCount) {
  const uint32_t start = plat::GetTickCount();
  // Wine's tick count moves in steps of about 16 ms, hence the wide margin.
  plat::Sleep(100);
  EXPECT_GE(plat::GetTickCount() - start, 50u);
}

std::string Hex(const plat::Md5Digest& digest) {
  std::string out;
  char pair[3];
  for (uint8_t byte : digest) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    out += pair;
  }
  return out;
}

TEST(Md5, Rfc1321Vectors) {
  if (!plat::kHasMd5) {
    plat::SetLastError(0);
    EXPECT_EQ(plat::Md5("abc", 3), plat::Md5Digest{}) << "zeros match nothing real";
    EXPECT_EQ(plat::GetLastError(), plat::err::kNotSupported);
    GTEST_SKIP() << BRANKEL_MD5_SKIP_REASON;
  }
  const std::pair<std::string, std::string> vectors[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [input, expected] : vectors) {
    EXPECT_EQ(Hex(plat::Md5(input.data(), input.size())), expected) << input;
  }
}

class RegistryTest : public ::testing::Test {
 protected:
  static constexpr std::u16string_view kKey = u"Software\\BrankelTest\\Macro";
  void TearDown() override { plat::testing::DeleteRegistryKey(kKey); }
};

TEST_F(RegistryTest, DwordValuesMissingValuesAndWrongTypes) {
  ASSERT_TRUE(plat::testing::WriteRegistryValue(kKey, u"Version", 4602));
  ASSERT_TRUE(plat::testing::WriteRegistryValue(kKey, u"Type", 20, /*as_string=*/true));
  ASSERT_TRUE(plat::testing::WriteRegistryValue(kKey, u"Short", 5, /*as_string=*/true));
  plat::RegistryHandle key = nullptr;
  ASSERT_EQ(plat::RegOpenLocalMachineKey(u"software\\brankeltest\\MACRO", &key), err::kSuccess);
  ASSERT_NE(key, nullptr);
  uint32_t value = 0;
  bool type_ok = false;
  EXPECT_EQ(plat::RegQueryDword(key, u"version", &value, &type_ok), err::kSuccess);
  EXPECT_TRUE(type_ok);
  EXPECT_EQ(value, 4602u);
  // Strings are not DWORDs: one that fits four bytes reads, a longer one is "more data".
  value = 99;
  EXPECT_EQ(plat::RegQueryDword(key, u"Type", &value, &type_ok), err::kMoreData);
  EXPECT_FALSE(type_ok);
  EXPECT_EQ(value, 99u);
  EXPECT_EQ(plat::RegQueryDword(key, u"Short", &value, &type_ok), err::kSuccess);
  EXPECT_FALSE(type_ok);
  EXPECT_EQ(value, 99u);
  EXPECT_EQ(plat::RegQueryDword(key, u"Absent", &value, &type_ok), err::kFileNotFound);
  EXPECT_FALSE(type_ok);
  plat::RegCloseKey(key);
}

TEST_F(RegistryTest, MissingKey) {
  plat::RegistryHandle key = nullptr;
  EXPECT_EQ(plat::RegOpenLocalMachineKey(u"Software\\BrankelTest\\Nothing", &key), err::kFileNotFound);
}

class SearchPathTest : public ScratchTest {};

TEST_F(SearchPathTest, FindsNamesInTheCurrentFolderAndAbsolutePaths) {
  const std::u16string saved = plat::GetCurrentDirectory();
  ASSERT_TRUE(WriteBytes(Path(u"findme.ocr"), "x"));
  ASSERT_TRUE(plat::SetCurrentDirectory(dir_));
  const std::u16string found = plat::SearchPath(u"FINDME.OCR");
  EXPECT_TRUE(plat::EqualNoCase(found, Path(u"findme.ocr"))) << Narrow(found);
  EXPECT_TRUE(plat::SearchPath(u"surely-not-anywhere-1234.dll").empty());
  EXPECT_EQ(plat::GetLastError(), err::kFileNotFound);
  ASSERT_TRUE(plat::SetCurrentDirectory(saved));
  EXPECT_TRUE(plat::EqualNoCase(plat::SearchPath(Path(u"findme.ocr")), Path(u"findme.ocr")));
}

#ifndef _WIN32
// Inside a batch the search answers from an index of its folders' listings, which holds
// bits for 64 of them: names in a folder past that, names with folders, and names in
// another case must be found as without it.
TEST(SearchPathIndex, ABatchFindsNamesInEveryFolderOfALongPath) {
  char host[] = "/tmp/brankel-search-XXXXXX";
  ASSERT_NE(mkdtemp(host), nullptr);
  std::u16string windows = u"Z:" + plat::Utf8ToUtf16(host) + u"\\";
  for (char16_t& c : windows) c = c == u'/' ? u'\\' : c;
  const char* saved = std::getenv("PATH");
  const std::string saved_path = saved != nullptr ? saved : "";
  std::string path;
  for (int i = 0; i < 70; ++i) {
    ASSERT_TRUE(plat::CreateDirectory(windows + u"p" + plat::Utf8ToUtf16(std::to_string(i))));
    path += (i == 0 ? "" : ":") + std::string(host) + "/p" + std::to_string(i);
  }
  const std::vector<std::u16string> files = {u"p1\\Only-In-First.bin", u"p69\\Only-In-Last.BIN", u"p66\\Data\\x.bin"};
  ASSERT_TRUE(plat::CreateDirectory(windows + u"p66\\Data"));
  for (const std::u16string& file : files) ASSERT_TRUE(WriteBytes(windows + file, "x"));
  setenv("PATH", path.c_str(), 1);
  {
    const plat::LookupBatch batch;
    const struct {
      const char16_t* name;
      const char16_t* found;
    } cases[] = {{u"only-in-first.bin", u"p1\\only-in-first.bin"},
                 {u"ONLY-IN-LAST.bin", u"p69\\ONLY-IN-LAST.bin"},
                 {u"data\\X.BIN", u"p66\\data\\X.BIN"},
                 {u"nowhere-at-all.bin", nullptr}};
    for (const auto& c : cases) {
      const std::u16string found = plat::SearchPath(c.name);
      if (c.found == nullptr) {
        EXPECT_EQ(found, u"") << Narrow(c.name);
      } else {
        EXPECT_TRUE(plat::EqualNoCase(found, windows + c.found)) << Narrow(c.name) << " -> " << Narrow(found);
      }
    }
  }
  setenv("PATH", saved_path.c_str(), 1);
  for (const std::u16string& file : files) plat::DeleteFile(windows + file);
  plat::RemoveDirectory(windows + u"p66\\Data");
  for (int i = 0; i < 70; ++i) plat::RemoveDirectory(windows + u"p" + plat::Utf8ToUtf16(std::to_string(i)));
  plat::RemoveDirectory(windows);
}
#endif

TEST(Keyboard, LettersAndDigitsTypeThemselves) {
  EXPECT_EQ(plat::VirtualKeyToChar('A'), u'a');
  EXPECT_EQ(plat::VirtualKeyToChar('Z'), u'z');
  EXPECT_EQ(plat::VirtualKeyToChar('7'), u'7');
  EXPECT_EQ(plat::VirtualKeyToChar(0x20), u' ');
  EXPECT_EQ(plat::VirtualKeyToChar(0x70), 0) << "F1 types nothing";
}

TEST(Keyboard, PunctuationKeysFollowTheLayout) {
  // Only a US layout has these exact characters; any layout types something printable.
  const bool us = plat::VirtualKeyToChar(0xBA) == u';' && plat::VirtualKeyToChar(0xDE) == u'\'';
  for (uint32_t vk : {0xBAu, 0xBBu, 0xBCu, 0xBDu, 0xBEu, 0xBFu, 0xC0u, 0xDBu, 0xDCu, 0xDDu, 0xDEu}) {
    const char16_t c = plat::VirtualKeyToChar(vk);
    EXPECT_GE(c, u' ') << std::hex << vk;
  }
  if (!us) GTEST_SKIP() << "exact characters need the US layout";
  EXPECT_EQ(plat::VirtualKeyToChar(0xBD), u'-');
  EXPECT_EQ(plat::VirtualKeyToChar(0xBF), u'/');
  EXPECT_EQ(plat::VirtualKeyToChar(0xC0), u'`');
  EXPECT_EQ(plat::VirtualKeyToChar(0xDB), u'[');
}

}  // namespace
}  // namespace brankel_test
