#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/unicode.h"
#include "wizard/extra_files.h"
#include "wizard/wizard_test_app.h"

namespace wizard {
namespace {

using brankel_test::Narrow;

class ExtraFilesPageTest : public brankel_test::WizardTest {
 protected:
  project::CMakeExe_FileLists& Lists() { return flow_->Session().Lists(); }
  const project::ExtraFileEntry& Entry(int row) { return Lists().ExtraEntries()[row]; }
  // A file the discovery found.
  void AddFound(std::u16string_view path, bool excluded, bool on_search_path = false) {
    project::ExtraFileEntry entry{};
    entry.ParentIndex = 0;
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
  EXPECT_EQ(project::FieldText(Entry(0).TargetName), u"data\\a.txt");
  EXPECT_EQ(project::FieldText(Entry(1).TargetName), u"b.txt");
  EXPECT_EQ(Entry(1).ParentIndex, 0xFFFF);
  EXPECT_EQ(Entry(1).CommandIndex, -1);
  EXPECT_EQ(page.Rows()[1].cells, (std::vector<std::u16string>{u"b.txt", u"D:\\x\\b.txt", u"", u""}));
  EXPECT_FALSE(page.Rows()[1].grey);

  std::vector<std::u16string> many;
  for (int i = 2; i < 512; ++i) many.push_back(u"D:\\f" + plat::Utf8ToUtf16(std::to_string(i)));
  EXPECT_EQ(page.Add(many), 511);
  EXPECT_EQ(page.Add({u"D:\\one.more"}), -1);
  EXPECT_EQ(Lists().ExtraCount(), 512);
  EXPECT_EQ(TakeKeys(), std::vector<std::u16string>{u"IDS_ERR_EXTRAFILETOOMANY"});
}

TEST_F(ExtraFilesPageTest, ButtonFiveRemovesExcludesOrIncludesAndEditIsForUserRows) {
  Prepare();
  ExtraFilesPage& page = flow_->Extras();
  AddFound(Path(u"included.txt"), false);
  AddFound(Path(u"excluded.txt"), true);
  page.Add({Path(u"mine.txt")});
  struct Case {
    int row;
    bool remove;
    const char16_t* key;
    bool edit;
  };
  const Case cases[] = {{-1, false, u"IDS_BTN_REMOVEFILE", false},
                        {0, true, u"IDS_BTN_EXCLUDEFILE", false},
                        {1, true, u"IDS_BTN_INCLUDEFILE", false},
                        {2, true, u"IDS_BTN_REMOVEFILE", true},
                        {3, false, u"IDS_BTN_REMOVEFILE", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    const ExtraFilesPage::Buttons buttons = page.ButtonsFor(c.row);
    EXPECT_EQ(buttons.remove_enabled, c.remove);
    EXPECT_EQ(std::u16string(buttons.remove_key), c.key);
    EXPECT_EQ(buttons.edit_enabled, c.edit);
    EnsureFileValues values;
    EXPECT_EQ(page.EditValues(c.row, &values), c.edit);
  }
  EXPECT_EQ(page.RemoveOrToggle(0), 2);
  EXPECT_EQ(Entry(0).Excluded, 1);
  EXPECT_EQ(page.RemoveOrToggle(1), 2);
  EXPECT_EQ(Entry(1).Excluded, 0);
  EXPECT_EQ(page.RemoveOrToggle(2), 1);
  EXPECT_EQ(Lists().ExtraCount(), 2);

  // The last row of a one-row list.
  Lists().SetExtraCount(0);
  page.Add({Path(u"only.txt")});
  EXPECT_EQ(page.RemoveOrToggle(0), -1);
  EXPECT_FALSE(page.ButtonsFor(-1).remove_enabled);
}

TEST_F(ExtraFilesPageTest, AnEditThatWouldUnpackOutsideTheFolderIsRefusedAndChangesNothing) {
  Prepare();
  ExtraFilesPage& page = flow_->Extras();
  page.Add({Path(u"a.txt")});
  struct Case {
    std::u16string target;
    const char16_t* stored;  // nullptr: refused
  };
  const Case cases[] = {
      {u"  data\\b.txt  ", u"data\\b.txt"},
      {u"..\\evil.txt", nullptr},
      {u"sub\\..\\..\\evil.txt", nullptr},
      {u"C:\\evil.txt", nullptr},
      {u"\\evil.txt", nullptr},
      {u"a:stream", nullptr},
      {u"wild*.txt", nullptr},
      {u"   ", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.target));
    const project::ExtraFileEntry before = Entry(0);
    EXPECT_EQ(page.StoreEdit(0, {c.target, u" " + Path(u"b.txt")}), c.stored != nullptr);
    if (c.stored != nullptr) {
      EXPECT_EQ(project::FieldText(Entry(0).TargetName), c.stored);
      EXPECT_EQ(project::FieldText(Entry(0).SourcePath), Path(u"b.txt"));
      EXPECT_TRUE(TakeKeys().empty());
    } else {
      EXPECT_EQ(std::memcmp(&before, &Entry(0), sizeof(before)), 0);
      EXPECT_EQ(TakeKeys(), std::vector<std::u16string>{u"IDS_ERR_UNSAFETARGETNAME"});
    }
  }
  AddFound(Path(u"found.txt"), false);
  EXPECT_FALSE(page.StoreEdit(1, {u"x.txt", Path(u"x.txt")}));
}

TEST_F(ExtraFilesPageTest, NextIsBlockedByAMissingIncludedFileOnly) {
  Prepare();
  ASSERT_TRUE(plat::CreateDirectory(Path(u"folder")));
  Write(u"here.txt", "x");
  struct Case {
    const char* name;
    std::u16string path;
    bool user, excluded, search;
    bool blocks;
  };
  const Case cases[] = {
      {"found, there", Path(u"here.txt"), false, false, false, false},
      {"found, missing", Path(u"gone.txt"), false, false, false, true},
      {"found, missing, excluded", Path(u"gone.txt"), false, true, false, false},
      {"found on the search path", Path(u"gone.txt"), false, false, true, false},
      {"user's, missing", Path(u"gone.txt"), true, false, false, true},
      {"user's, missing, flagged excluded", Path(u"gone.txt"), true, true, false, true},
      {"a folder", Path(u"folder"), false, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Lists().SetExtraCount(0);
    AddFound(c.path, c.excluded, c.search);
    Lists().ExtraEntries()[0].UserAdded = c.user ? 1 : 0;
    EXPECT_EQ(flow_->Extras().LeaveForward().proceed, !c.blocks);
    if (c.blocks) {
      ASSERT_EQ(app_.shown.size(), 1u);
      EXPECT_EQ(app_.shown[0].key, u"IDS_ERR_FILENOTFOUND");
      EXPECT_EQ(app_.shown[0].text, c.path);
    }
    app_.shown.clear();
  }
}

}  // namespace
}  // namespace wizard
