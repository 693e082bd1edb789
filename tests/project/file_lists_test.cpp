#include <gtest/gtest.h>

#include "app/system_error.h"
#include "app/vl_win_app.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/file_lists.h"

namespace project {
namespace {

MacroListEntry Macro(std::u16string_view path, uint16_t parent = kNoParent) {
  MacroListEntry entry{};
  entry.ParentIndex = parent;
  entry.EntryType = 3;
  entry.CommandIndex = -1;
  plat::SetFixedText(entry.Path, 260, path);
  return entry;
}

ExtraFileEntry Extra(std::u16string_view path) {
  ExtraFileEntry entry{};
  entry.ParentIndex = kNoParent;
  entry.CommandIndex = -1;
  plat::SetFixedText(entry.SourcePath, 260, path);
  return entry;
}

TEST(FileLists, PathsAreKeysWithoutRegardToCase) {
  CMakeExe_FileLists lists;
  bool already = true;
  EXPECT_EQ(lists.AddMacroEntry(Macro(u"C:\\M\\Main.msd"), &already), 0);
  EXPECT_FALSE(already);
  EXPECT_EQ(lists.AddMacroEntry(Macro(u"c:\\m\\lib.msl", 0), &already), 1);
  EXPECT_EQ(lists.AddMacroEntry(Macro(u"C:\\M\\LIB.MSL", 0), &already), 1);
  EXPECT_TRUE(already);
  EXPECT_EQ(lists.MacroCount(), 2);
  EXPECT_EQ(lists.MacroEntries()[1].ParentIndex, 0);

  EXPECT_TRUE(lists.AddExtraEntry(Extra(u"C:\\data\\a.txt")));
  EXPECT_FALSE(lists.AddExtraEntry(Extra(u"c:\\DATA\\A.TXT")));
  EXPECT_EQ(lists.ExtraCount(), 1);
}

TEST(FileLists, FullBlocksAreRefusedNotOverrun) {
  CMakeExe_FileLists lists;
  for (int i = 0; i < kMacroCapacity; ++i) {
    ASSERT_EQ(lists.AddMacroEntry(Macro(u"C:\\m" + plat::AsciiToUtf16(std::to_string(i)))), i);
  }
  EXPECT_EQ(lists.AddMacroEntry(Macro(u"C:\\one more")), -1);
  EXPECT_EQ(lists.MacroCount(), kMacroCapacity);
  for (int i = 0; i < kExtraCapacity; ++i)
    ASSERT_TRUE(lists.AddExtraEntry(Extra(u"C:\\e" + plat::AsciiToUtf16(std::to_string(i)))));
  EXPECT_FALSE(lists.AddExtraEntry(Extra(u"C:\\one more")));
}

TEST(FileLists, CopyTakesCountsAndEntries) {
  CMakeExe_FileLists a, b;
  a.AddMacroEntry(Macro(u"C:\\x.msd"));
  a.AddExtraEntry(Extra(u"C:\\y.txt"));
  a.AddExtraEntry(Extra(u"C:\\z.txt"));
  b.AddMacroEntry(Macro(u"C:\\old1.msd"));
  b.AddMacroEntry(Macro(u"C:\\old2.msd"));
  EXPECT_EQ(b.CopyFrom(a), 3);
  EXPECT_EQ(b.MacroCount(), 1);
  EXPECT_EQ(plat::FixedText(b.MacroEntries()[0].Path, 260), u"C:\\x.msd");
  EXPECT_EQ(plat::FixedText(b.ExtraEntries()[1].SourcePath, 260), u"C:\\z.txt");
  EXPECT_EQ(b.CopyFrom(b), 3);
}

TEST(FileLists, BuildCopiesHaveRoomAndNeverOverrunSmallerLists) {
  CMakeExe_FileLists wizard;
  for (int i = 0; i < kMacroCapacity; ++i)
    wizard.AddMacroEntry(Macro(u"C:\\m" + plat::AsciiToUtf16(std::to_string(i))));
  for (int i = 0; i < kExtraCapacity; ++i)
    wizard.AddExtraEntry(Extra(u"C:\\e" + plat::AsciiToUtf16(std::to_string(i))));
  CMakeExe_FileLists build(nullptr, kMacroCapacity + kBuildMacroRoom, kExtraCapacity + kBuildExtraRoom);
  ASSERT_EQ(build.CopyFrom(wizard), kMacroCapacity + kExtraCapacity);
  EXPECT_GE(build.AddMacroEntry(Macro(u"C:\\sysdata\\Player_en.lng")), kMacroCapacity) << "room for the language files";
  EXPECT_TRUE(build.AddExtraEntry(Extra(u"C:\\runtime.dll"))) << "room for the runtime files";

  // Copied back into lists that cannot hold them, nothing changes.
  CMakeExe_FileLists small;
  small.AddMacroEntry(Macro(u"C:\\kept.msd"));
  EXPECT_EQ(small.CopyFrom(build), -1);
  EXPECT_EQ(small.MacroCount(), 1);
  EXPECT_EQ(plat::FixedText(small.MacroEntries()[0].Path, 260), u"C:\\kept.msd");
  EXPECT_EQ(small.ExtraCount(), 0);
}

TEST(FileLists, MessagesByKeyEmptyOrSystem) {
  app::CVLResString table;
  ASSERT_TRUE(table.LoadText("[String]\r\nIDS_ERR_OPENSCRIPT=Cannot open %s.\r\n"));
  app::CVLWinApp application;
  application.SetLanguageTable(&table);
  CMakeExe_FileLists lists(&application);
  lists.SetListMessage(u"IDS_ERR_OPENSCRIPT", u"C:\\a.msd");
  EXPECT_EQ(lists.Message(), u"Cannot open C:\\a.msd.");
  lists.SetListMessage(u"IDS_ERR_OPENSCRIPT", std::u16string(400, u'x'));
  EXPECT_EQ(lists.Message().size(), 259u) << "cut to the message buffer";
  lists.SetListMessage(u"");
  EXPECT_EQ(lists.Message(), u"");
  plat::SetLastError(2);
  lists.SetListMessage(nullptr);
  char16_t expected[260];
  app::FormatSystemError(2, expected, 260, false);
  EXPECT_EQ(lists.Message(), std::u16string_view(expected));
  EXPECT_NE(lists.Message().back(), u'\n');
  CMakeExe_FileLists bare;
  bare.SetListMessage(u"IDS_ERR_OPENSCRIPT", u"x");
  EXPECT_EQ(bare.Message(), u"IDS_ERR_OPENSCRIPT") << "without texts the key shows as itself";
}

}  // namespace
}  // namespace project
