#include <gtest/gtest.h>

#include <map>

#include "support/scratch.h"

namespace brankel_test {
namespace {

namespace err = plat::err;

class FindTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    ASSERT_TRUE(WriteBytes(Path(u"a.txt"), "1"));
    ASSERT_TRUE(WriteBytes(Path(u"B.TXT"), "22"));
    ASSERT_TRUE(WriteBytes(Path(u"c.dat"), "333"));
    ASSERT_TRUE(WriteBytes(Path(u"noext"), ""));
    ASSERT_TRUE(plat::CreateDirectory(Path(u"sub")));
  }

  // Name (upper case) -> entry, for every entry the pattern lists; fails on duplicates.
  std::map<std::u16string, plat::FindData> List(std::u16string_view pattern) {
    std::map<std::u16string, plat::FindData> found;
    plat::FindData data;
    plat::FindHandle find = plat::FindFirstFile(Path(pattern), &data);
    if (find == nullptr) return found;
    do {
      EXPECT_TRUE(found.emplace(plat::ToUpper(data.name), data).second) << Narrow(data.name);
    } while (plat::FindNextFile(find, &data));
    EXPECT_EQ(plat::GetLastError(), err::kNoMoreFiles);
    plat::FindClose(find);
    return found;
  }
};

TEST_F(FindTest, ExtensionPatternMatchesWithoutRegardToCase) {
  const auto found = List(u"*.txt");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found.at(u"A.TXT").name, u"a.txt");
  EXPECT_EQ(found.at(u"B.TXT").size, 2u);
  EXPECT_EQ(found.at(u"B.TXT").attributes & plat::kAttrDirectory, 0u);
}

TEST_F(FindTest, StarListsEverythingWithDotEntries) {
  for (const char16_t* pattern : {u"*", u"*.*"}) {
    const auto found = List(pattern);
    EXPECT_EQ(found.size(), 7u) << Narrow(pattern);  // ., .., four files, sub
    ASSERT_TRUE(found.count(u"SUB"));
    EXPECT_NE(found.at(u"SUB").attributes & plat::kAttrDirectory, 0u);
    EXPECT_TRUE(found.count(u"."));
    EXPECT_TRUE(found.count(u".."));
    EXPECT_TRUE(found.count(u"NOEXT")) << "*.* also matches names without a dot";
    EXPECT_EQ(found.at(u"C.DAT").size, 3u);
  }
}

TEST_F(FindTest, QuestionMarkAndExactNames) {
  EXPECT_EQ(List(u"?.dat").size(), 1u);
  EXPECT_EQ(List(u"??.dat").size(), 0u);
  const auto exact = List(u"C.DAT");
  ASSERT_EQ(exact.size(), 1u);
  EXPECT_EQ(exact.begin()->second.name, u"c.dat");
}

TEST_F(FindTest, NoMatchAndMissingFolder) {
  plat::FindData data;
  EXPECT_EQ(plat::FindFirstFile(Path(u"*.none"), &data), nullptr);
  EXPECT_EQ(plat::GetLastError(), err::kFileNotFound);
  EXPECT_EQ(plat::FindFirstFile(Path(u"missing\\*"), &data), nullptr);
  EXPECT_EQ(plat::GetLastError(), err::kPathNotFound);
}

}  // namespace
}  // namespace brankel_test
