#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/res_string.h"
#include "platform/unicode.h"
#include "support/script_builder.h"
#include "wizard/extra_files.h"
#include "wizard/wizard_test_app.h"

namespace wizard {
namespace {

using brankel_test::Narrow;

class ExtraFilesPageTest : public brankel_test::WizardTest {
 protected:
  const project::ExtraFileEntry& Entry(int row) { return Lists().ExtraEntries()[row]; }
  void AddFound(std::u16string_view path, bool excluded = false, bool on_search_path = false) {
    project::ExtraFileEntry entry{};
    entry.Excluded = excluded ? 1 : 0;
    entry.OnSearchPath = on_search_path ? 1 : 0;
    plat::SetFixedText(entry.SourcePath, 260, path);
    plat::SetFixedText(entry.TargetName, 260, FileNamePart(path));
    ASSERT_TRUE(Lists().AddExtraEntry(entry));
  }
};

TEST_F(ExtraFilesPageTest, AddedFilesTravelBelowTheScriptFolderOrUnderTheirName) {
  Prepare();
  ExtraFilesPage& page = flow_->Extras();
  EXPECT_EQ(page.Add({Path(u"data\\a.txt"), u"D:\\x\\b.txt", u"D:\\x\\", u"D:\\X\\B.TXT"}), 1);
  ASSERT_EQ(Lists().ExtraCount(), 2) << "no name for a folder, and a listed path is not added again";
  EXPECT_EQ(page.Rows()[0].cells[0], u"data\\a.txt");
  EXPECT_EQ(page.Rows()[1].cells, (std::vector<std::u16string>{u"b.txt", u"D:\\x\\b.txt", u"", u""}));
  EXPECT_TRUE(Entry(1).UserAdded == 1 && Entry(1).ParentIndex == 0xFFFF && !page.Rows()[1].grey);

  std::vector<std::u16string> many;
  for (int i = 2; i < 512; ++i) many.push_back(u"D:\\" + plat::Utf8ToUtf16(std::to_string(i)));
  EXPECT_EQ(page.Add(many), 511);
  EXPECT_EQ(page.Add({u"D:\\one.more"}), -1);
  EXPECT_EQ(TakeKeys(), std::vector<std::u16string>{u"IDS_ERR_EXTRAFILETOOMANY"});
}

TEST_F(ExtraFilesPageTest, ButtonFiveRemovesExcludesOrIncludesAndEditIsForUserRows) {
  Prepare();
  ExtraFilesPage& page = flow_->Extras();
  AddFound(Path(u"included.txt"));
  AddFound(Path(u"excluded.txt"), true);
  page.Add({Path(u"mine.txt")});
  const std::tuple<int, bool, std::u16string, bool> cases[] = {{-1, false, u"IDS_BTN_REMOVEFILE", false},
                                                               {0, true, u"IDS_BTN_EXCLUDEFILE", false},
                                                               {1, true, u"IDS_BTN_INCLUDEFILE", false},
                                                               {2, true, u"IDS_BTN_REMOVEFILE", true},
                                                               {3, false, u"IDS_BTN_REMOVEFILE", false}};
  for (const auto& [row, remove, key, edit] : cases) {
    const ExtraFilesPage::Buttons buttons = page.ButtonsFor(row);
    EnsureFileValues values;
    EXPECT_TRUE(buttons.remove_enabled == remove && buttons.remove_key == key && buttons.edit_enabled == edit) << row;
    EXPECT_EQ(page.EditValues(row, &values), edit) << row;
  }
  EXPECT_EQ(page.RemoveOrToggle(0), 2);
  EXPECT_EQ(page.RemoveOrToggle(1), 2);
  EXPECT_TRUE(Entry(0).Excluded == 1 && Entry(1).Excluded == 0);
  EXPECT_EQ(page.RemoveOrToggle(2), 1);
  Lists().SetExtraCount(0);
  page.Add({Path(u"only.txt")});
  EXPECT_EQ(page.RemoveOrToggle(0), -1) << "the last row of a one-row list";
}

TEST_F(ExtraFilesPageTest, AnEditThatWouldUnpackOutsideTheFolderIsRefusedAndChangesNothing) {
  Prepare();
  ExtraFilesPage& page = flow_->Extras();
  page.Add({Path(u"a.txt")});
  for (const std::u16string target :
       {u"..\\evil.txt", u"sub\\..\\..\\evil.txt", u"C:\\evil.txt", u"\\evil.txt", u"a:stream", u"wild*.txt", u"   "}) {
    const project::ExtraFileEntry before = Entry(0);
    EXPECT_FALSE(page.StoreEdit(0, {target, Path(u"b.txt")})) << Narrow(target);
    EXPECT_EQ(std::memcmp(&before, &Entry(0), sizeof(before)), 0);
    EXPECT_EQ(TakeKeys(), std::vector<std::u16string>{u"IDS_ERR_UNSAFETARGETNAME"});
  }
  ASSERT_TRUE(page.StoreEdit(0, {u"  data\\b.txt  ", u" " + Path(u"b.txt")}));
  EXPECT_EQ(page.Rows()[0].cells[0] + u"|" + page.Rows()[0].cells[1], u"data\\b.txt|" + Path(u"b.txt"));
  AddFound(Path(u"found.txt"));
  EXPECT_FALSE(page.StoreEdit(1, {u"x.txt", Path(u"x.txt")})) << "a found row";
  // A name another packed file travels under would have the build leave one out.
  EXPECT_FALSE(page.StoreEdit(0, {u"FOUND.txt", Path(u"b.txt")}));
  EXPECT_EQ(TakeKeys(), std::vector<std::u16string>{u"IDS_ERR_TARGETNAMETAKEN"});
  page.RemoveOrToggle(1);
  EXPECT_TRUE(page.StoreEdit(0, {u"FOUND.txt", Path(u"b.txt")})) << "the found file is excluded";
}

TEST_F(ExtraFilesPageTest, NextIsBlockedByAMissingIncludedFileOnly) {
  Prepare();
  ASSERT_TRUE(plat::CreateDirectory(Path(u"folder")));
  Write(u"here.txt", "x");
  struct Case {
    const char* name;
    std::u16string path;
    bool user, excluded, search, blocks;
  };
  const Case cases[] = {
      {"found, there", Path(u"here.txt"), false, false, false, false},
      {"found, missing", Path(u"gone.txt"), false, false, false, true},
      {"found, missing, excluded", Path(u"gone.txt"), false, true, false, false},
      {"found on the search path", Path(u"gone.txt"), false, false, true, false},
      {"user's, missing, flagged excluded", Path(u"gone.txt"), true, true, false, true},
      {"a folder", Path(u"folder"), false, false, false, true},
  };
  for (const Case& c : cases) {
    Lists().SetExtraCount(0);
    AddFound(c.path, c.excluded, c.search);
    Lists().ExtraEntries()[0].UserAdded = c.user ? 1 : 0;
    EXPECT_EQ(flow_->Extras().LeaveForward().proceed, !c.blocks) << c.name;
    const bool told =
        app_.shown.size() == 1 && app_.shown[0].key == u"IDS_ERR_FILENOTFOUND" && app_.shown[0].text == c.path;
    EXPECT_EQ(told, c.blocks) << c.name;
    app_.shown.clear();
  }
  Lists().SetExtraCount(0);
  AddFound(Path(u"here.txt"));
  // A project may bring a user's entry under a name a found file has.
  Write(u"folder\\x.txt", "x");
  flow_->Extras().Add({Path(u"folder\\x.txt")});
  plat::SetFixedText(Lists().ExtraEntries()[1].TargetName, 260, u"HERE.TXT");
  EXPECT_FALSE(flow_->Extras().LeaveForward().proceed);
  EXPECT_EQ(TakeKeys(), std::vector<std::u16string>{u"IDS_ERR_TARGETNAMETAKEN"});
}

// The discovery reads the macro's temporary copy, but its messages name the macro file the
// user knows: the copy's "~PDPA" name means nothing to them.
TEST_F(ExtraFilesPageTest, TheLimitMessageNamesTheMacroFileNotItsCopy) {
  brankel_test::MacroBuilder script;
  for (int i = 0; i < 530; ++i) {
    Write(u"f" + plat::Utf8ToUtf16(std::to_string(i)) + u".txt", "x");
    const auto id = static_cast<uint16_t>(40 + i);
    script.Command(0x230A, id)
        .Param(id, brankel_test::TextAt(0, u"f" + plat::Utf8ToUtf16(std::to_string(i)) + u".txt"));
  }
  // The English texts, so that the message shows its argument.
  app::CVLResString texts;
  for (const std::u16string& file : app_.LanguageFiles()) texts.LoadFile(file);
  app_.SetLanguageTable(&texts);
  Prepare(script.Bytes());
  ASSERT_TRUE(flow_->Macros().LeaveForward().proceed);
  ASSERT_NE(Lists().MacroEntries()[0].TempPath[0], 0);
  EXPECT_TRUE(flow_->Extras().OnShow());
  ASSERT_EQ(app_.shown.size(), 1u);
  EXPECT_NE(app_.shown[0].text.find(Path(u"main.msd")), std::u16string::npos) << Narrow(app_.shown[0].text);
  EXPECT_EQ(app_.shown[0].text.find(u"~PD"), std::u16string::npos) << Narrow(app_.shown[0].text);
}

}  // namespace
}  // namespace wizard
