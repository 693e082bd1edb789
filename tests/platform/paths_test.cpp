#include <gtest/gtest.h>

#include "platform/testing.h"
#include "support/scratch.h"

namespace brankel_test {
namespace {

namespace err = plat::err;

bool EndsWithNoCase(std::u16string_view text, std::u16string_view tail) {
  return text.size() >= tail.size() && plat::EqualNoCase(text.substr(text.size() - tail.size()), tail);
}

TEST(FullPath, ResolvesDotsSeparatorsAndTrailingDots) {
  EXPECT_EQ(plat::GetFullPathName(u"C:\\a\\b\\..\\c"), u"C:\\a\\c");
  EXPECT_EQ(plat::GetFullPathName(u"C:/a/./b"), u"C:\\a\\b");
  EXPECT_EQ(plat::GetFullPathName(u"C:\\a\\..\\..\\x"), u"C:\\x");
  EXPECT_EQ(plat::GetFullPathName(u"C:\\a\\b\\"), u"C:\\a\\b\\");
  EXPECT_EQ(plat::GetFullPathName(u"C:\\a\\name. . "), u"C:\\a\\name");
  EXPECT_EQ(plat::GetFullPathName(u"C:\\"), u"C:\\");
  EXPECT_TRUE(plat::GetFullPathName(u"").empty());
}

class CurrentFolderTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    saved_ = plat::GetCurrentDirectory();
  }
  void TearDown() override {
    plat::SetCurrentDirectory(saved_);
    ScratchTest::TearDown();
  }
  std::u16string saved_;
};

TEST_F(CurrentFolderTest, RelativePathsFollowTheCurrentFolder) {
  ASSERT_TRUE(plat::SetCurrentDirectory(dir_));
  EXPECT_TRUE(plat::EqualNoCase(plat::GetCurrentDirectory(), dir_));
  EXPECT_TRUE(plat::EqualNoCase(plat::GetFullPathName(u"x.msd"), dir_ + u"\\x.msd"));
  EXPECT_TRUE(plat::EqualNoCase(plat::GetFullPathName(u"..\\y"), plat::GetFullPathName(dir_ + u"\\..\\y")));
  // A leading backslash means the current drive's root.
  EXPECT_TRUE(plat::EqualNoCase(plat::GetFullPathName(u"\\top"), dir_.substr(0, 3) + u"top"));

  ASSERT_TRUE(WriteBytes(u"relative.bin", "rel"));
  EXPECT_EQ(ReadBytes(Path(u"relative.bin")), "rel");
}

TEST_F(CurrentFolderTest, OnlyExistingFoldersBecomeCurrent) {
  EXPECT_FALSE(plat::SetCurrentDirectory(Path(u"missing")));
  EXPECT_EQ(plat::GetLastError(), err::kFileNotFound);
  ASSERT_TRUE(WriteBytes(Path(u"file"), ""));
  EXPECT_FALSE(plat::SetCurrentDirectory(Path(u"file")));
  EXPECT_EQ(plat::GetLastError(), err::kDirectory);
  EXPECT_TRUE(plat::EqualNoCase(plat::GetCurrentDirectory(), saved_));
}

TEST(ModulePath, NamesTheRunningProgram) {
  const std::u16string module = plat::GetModuleFileName();
  ASSERT_GE(module.size(), 3u);
  EXPECT_EQ(module[1], u':');
  EXPECT_TRUE(EndsWithNoCase(module, u"brankel_tests") || EndsWithNoCase(module, u"brankel_tests.exe"))
      << Narrow(module);
  EXPECT_TRUE(plat::FileExists(module));
}

class TempNameTest : public ScratchTest {};

TEST_F(TempNameTest, FormedFromFolderPrefixAndHexNumber) {
  const std::u16string named = plat::GetTempFileName(dir_, u"~PDPA", 0x1A2B);
  EXPECT_TRUE(plat::EqualNoCase(named, dir_ + u"\\~PD1A2B.tmp")) << Narrow(named);
  EXPECT_FALSE(plat::FileExists(named)) << "a given number only forms the name";
  // The number is cut to 16 bits.
  EXPECT_TRUE(plat::EqualNoCase(plat::GetTempFileName(dir_ + u"\\", u"~Ma", 0x12345), dir_ + u"\\~Ma2345.tmp"));
}

TEST_F(TempNameTest, FreeNumberCreatesAnEmptyFile) {
  const std::u16string first = plat::GetTempFileName(dir_, u"$tmpmacro");
  const std::u16string second = plat::GetTempFileName(dir_, u"$tmpmacro");
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  for (const std::u16string& name : {first, second}) {
    ASSERT_GT(name.size(), dir_.size() + 8);
    const std::u16string leaf = name.substr(dir_.size() + 1);
    EXPECT_EQ(leaf.substr(0, 3), u"$tm");
    EXPECT_TRUE(EndsWithNoCase(leaf, u".tmp"));
    const std::u16string number = leaf.substr(3, leaf.size() - 7);
    EXPECT_TRUE(!number.empty() && number.size() <= 4) << Narrow(leaf);
    for (char16_t c : number) EXPECT_TRUE(std::isxdigit(static_cast<int>(c))) << Narrow(leaf);
    EXPECT_TRUE(plat::FileExists(name));
    EXPECT_EQ(ReadBytes(name), "");
  }
}

TEST_F(TempNameTest, MissingFolderFails) {
  EXPECT_TRUE(plat::GetTempFileName(Path(u"missing"), u"~mt").empty());
  EXPECT_NE(plat::GetLastError(), err::kSuccess);
}

TEST(SystemFolders, TempAndKnownFoldersExist) {
  const std::u16string temp = plat::GetTempPath();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), u'\\');
  EXPECT_TRUE(plat::IsDirectory(temp));
  for (plat::KnownFolder which : {plat::KnownFolder::kCommonAppData, plat::KnownFolder::kRoamingAppData}) {
    const std::optional<std::u16string> folder = plat::GetKnownFolder(which);
    ASSERT_TRUE(folder.has_value());
    ASSERT_FALSE(folder->empty());
    EXPECT_NE(folder->back(), u'\\');
    EXPECT_TRUE(plat::IsDirectory(*folder)) << Narrow(*folder);
  }
  EXPECT_NE(plat::GetKnownFolder(plat::KnownFolder::kCommonAppData),
            plat::GetKnownFolder(plat::KnownFolder::kRoamingAppData));
}

#ifndef _WIN32
// The stand-in's own contract: drives are folders of the root, Z: is the host's "/".
TEST(PosixDrives, MapOntoTheRootAndTheHost) {
  const std::string root = plat::testing::ScratchRootHostPath();
  ASSERT_FALSE(root.empty());
  ASSERT_TRUE(WriteBytes(u"C:\\mapped.bin", "on c"));
  EXPECT_EQ(ReadBytes(u"Z:" + plat::Utf8ToUtf16(root) + u"\\drive_c\\MAPPED.BIN"), "on c");
  EXPECT_TRUE(plat::IsDirectory(u"Z:\\tmp"));
  EXPECT_TRUE(plat::IsDirectory(u"z:\\"));
  EXPECT_FALSE(plat::FileExists(u"Q:\\anything"));
  EXPECT_EQ(plat::GetLastError(), err::kPathNotFound);
  ASSERT_TRUE(plat::DeleteFile(u"c:\\Mapped.bin"));
}
#endif

}  // namespace
}  // namespace brankel_test
