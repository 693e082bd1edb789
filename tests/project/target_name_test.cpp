#include "project/target_name.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scratch.h"

namespace project {
namespace {

using brankel_test::Narrow;

TEST(NormalizePath, RemovesDotPartsAndRepeatedSeparatorsWithinTheRoot) {
  struct Case {
    std::u16string_view in, out;
  };
  const Case cases[] = {
      {u"C:\\s\\sub\\..\\x.txt", u"C:\\s\\x.txt"},
      {u"C:\\s\\.\\x.txt", u"C:\\s\\x.txt"},
      {u"C:\\s\\\\sub\\\\\\x.txt", u"C:\\s\\sub\\x.txt"},
      {u"C:/s/sub/x.txt", u"C:\\s\\sub\\x.txt"},
      {u"C:\\s\\..\\..\\..\\x.txt", u"C:\\x.txt"},
      {u"C:\\a\\..", u"C:\\"},
      {u"C:\\a\\b\\", u"C:\\a\\b\\"},
      {u"c:\\..\\A\\B", u"c:\\A\\B"},
      {u"\\\\server\\share\\..\\..\\x", u"\\\\server\\share\\x"},
      {u"\\\\server\\\\share\\d\\.\\x", u"\\\\server\\share\\d\\x"},
      {u"\\\\server\\..", u"\\\\server"},
      {u"\\a\\..\\..\\x", u"\\x"},
      {u"\\\\?\\C:\\a\\..\\..\\x", u"\\\\?\\C:\\x"},
      {u"\\\\?\\UNC\\srv\\share\\..\\x", u"\\\\?\\UNC\\srv\\share\\x"},
      {u"\\\\.\\COM1", u"\\\\.\\COM1"},
      {u"\\\\.\\pipe\\..\\x", u"\\\\.\\pipe\\x"},
      {u"a\\..\\..\\b", u"..\\b"},
      {u"..\\..\\etc\\hostname", u"..\\..\\etc\\hostname"},
      {u".\\data\\x.txt", u"data\\x.txt"},
      {u"sub\\..", u""},
      {u"C:..\\x", u"C:..\\x"},
      {u"C:a\\..\\x", u"C:x"},
      {u"x...\\y", u"x...\\y"},
      {u"", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Narrow(NormalizePath(c.in)), Narrow(c.out)) << Narrow(c.in);
    EXPECT_EQ(NormalizePath(NormalizePath(c.in)), NormalizePath(c.in)) << "stable: " << Narrow(c.in);
  }
}

TEST(TargetNames, OnlyNamesThatStayBelowTheUnpackFolderAreSafe) {
  struct Case {
    std::u16string_view name;
    bool safe;
  };
  const Case cases[] = {
      {u"x.txt", true},
      {u"data\\x.txt", true},
      {u"data/x.txt", true},
      {u"a b\\.hidden", true},
      {u"", false},
      {u"..", false},
      {u"..\\shared\\logo.bmp", false},
      {u"data\\..\\..\\x", false},
      {u"data/../x", false},
      {u".\\x", false},
      {u"...\\x", false},
      {u". .\\x", false},
      {u"\\x.txt", false},
      {u"/x.txt", false},
      {u"\\\\server\\share\\x", false},
      {u"C:\\x.txt", false},
      {u"C:x.txt", false},
      {u"x.txt:stream", false},
      {u"data\\", false},
      {u"data\\\\x", false},
      {u"a?b", false},
      {u"a*b", false},
      {u"a|b", false},
      {u"a\tb", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsSafeTargetName(c.name), c.safe) << Narrow(c.name);
  EXPECT_TRUE(IsSafeTargetName(std::u16string(259, u'n')));
  EXPECT_FALSE(IsSafeTargetName(std::u16string(260, u'n'))) << "no room for the terminator";
  EXPECT_FALSE(IsSafeTargetName(std::u16string(u"a\0b", 3)));
}

TEST(TargetNames, RelativeInsideTheScriptFolderElseTheBareNameElseNone) {
  struct Case {
    std::u16string_view path, folder, name;
  };
  const Case cases[] = {
      {u"C:\\Work\\data\\a.txt", u"C:\\Work\\", u"data\\a.txt"},
      {u"c:\\WORK\\Data\\A.txt", u"C:\\Work\\", u"Data\\A.txt"},
      {u"C:\\Work\\data\\a.txt", u"C:\\Work", u"data\\a.txt"},
      {u"C:\\Workshop\\a.txt", u"C:\\Work", u"a.txt"},
      {u"C:\\Work\\..\\shared\\logo.bmp", u"C:\\Work\\", u"logo.bmp"},
      {u"C:\\Work\\sub\\..\\x.txt", u"C:\\Work\\", u"x.txt"},
      {u"C:\\Work\\x.txt", u"C:\\Work\\sub\\..\\", u"x.txt"},
      {u"D:\\x\\b.txt", u"C:\\Work\\", u"b.txt"},
      {u"C:\\Other\\C:\\Work\\q.txt", u"C:\\Work\\", u"q.txt"},
      {u"\\\\srv\\share\\Work\\p.bmp", u"\\\\SRV\\share\\work\\", u"p.bmp"},
      {u"notepad.exe", u"C:\\Work\\", u"notepad.exe"},
      {u"..\\..\\..\\etc\\hostname", u"C:\\Work\\", u"hostname"},
      {u"..\\..\\..\\etc\\hostname", u"", u"hostname"},
      {u"data\\x.txt", u"", u"data\\x.txt"},
      {u"D:\\x\\b.txt", u"", u"b.txt"},
      {u"C:\\Work", u"C:\\Work\\", u"Work"},
      {u"d:\\x\\data:", u"C:\\Work\\", u""},
      {u"c:\\work\\data:", u"C:\\Work\\", u""},
      {u"C:\\Work\\sub\\", u"C:\\Work\\", u""},
      {u"C:\\", u"C:\\Work\\", u""},
      {u"..", u"", u""},
      {u"", u"C:\\Work\\", u""},
  };
  for (const Case& c : cases) {
    const std::u16string name = MakeTargetName(c.path, c.folder);
    EXPECT_EQ(Narrow(name), Narrow(c.name)) << Narrow(c.path) << " in " << Narrow(c.folder);
    EXPECT_TRUE(name.empty() || IsSafeTargetName(name)) << Narrow(name);
  }
}

}  // namespace
}  // namespace project
