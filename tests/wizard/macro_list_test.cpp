#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/unicode.h"
#include "support/script_builder.h"
#include "wizard/macro_list.h"
#include "wizard/wizard_test_app.h"

namespace wizard {
namespace {

class MacroListPageTest : public brankel_test::WizardTest {
 protected:
  std::u16string TempPath(int row) { return project::FieldText(Lists().MacroEntries()[row].TempPath); }
  std::u16string EntryPath(int row) { return project::FieldText(Lists().MacroEntries()[row].Path); }
  // main.msd calls sub.msd, which names pic.bmp.
  void PrepareTree() {
    brankel_test::MacroBuilder sub;
    sub.Command(0x230A, 40).Param(40, brankel_test::TextAt(0, u"pic.bmp"));
    Write(u"sub.msd", sub.Bytes());
    Write(u"pic.bmp", "picture");
    Prepare(brankel_test::Calls({{brankel_test::kCallMacro, brankel_test::kByPath, Path(u"sub.msd")}}).Bytes());
    ASSERT_EQ(Lists().MacroCount(), 2);
  }
};

TEST_F(MacroListPageTest, AddsEachPathOnceInAnyCaseAndStopsAtTheLimit) {
  Prepare();
  MacroListPage& page = flow_->Macros();
  EXPECT_EQ(page.Add({Path(u"a.msd"), Path(u"A.MSD"), plat::ToUpper(Path(u"main.msd"))}), 1);
  EXPECT_TRUE(page.Changed());
  ASSERT_EQ(page.Rows().size(), 2u);
  EXPECT_TRUE(page.Rows()[0].grey && !page.Rows()[1].grey);
  EXPECT_EQ(page.Rows()[1].cells, (std::vector<std::u16string>{u"a.msd", u"", u"", Path(u"a.msd")}));

  std::vector<std::u16string> many;
  for (int i = 0; i < 509; ++i) many.push_back(Path(plat::Utf8ToUtf16(std::to_string(i))));
  page.Add(many);
  ASSERT_TRUE(Lists().MacroCount() == 511 && page.CanAdd());
  EXPECT_EQ(page.Add({Path(u"v.msd"), Path(u"w.msd"), Path(u"x.msd"), Path(u"y.msd"), Path(u"z.msd")}), 511);
  EXPECT_EQ(EntryPath(511), Path(u"v.msd"));
  EXPECT_FALSE(page.CanAdd());
  EXPECT_EQ(TakeKeys(), std::vector<std::u16string>{u"IDS_ERR_MACROFILETOOMANY"});
}

TEST_F(MacroListPageTest, OnlyUserRowsChangeAndAnEditDropsTheStaleCopy) {
  PrepareTree();
  MacroListPage& page = flow_->Macros();
  page.Add({Path(u"user.msd")});
  int select = 99;
  for (int row : {-1, 0, 1, 3}) {
    EXPECT_FALSE(page.CanChange(row) || page.Edit(row, Path(u"e.msd")) || page.Remove(row, &select)) << row;
  }
  EXPECT_TRUE(page.CanChange(2));
  Write(u"stale.tmp", "copy");
  plat::SetFixedText(Lists().MacroEntries()[2].TempPath, 260, Path(u"stale.tmp"));
  ASSERT_TRUE(page.Edit(2, Path(u"other.msd")));
  EXPECT_FALSE(plat::FileExists(Path(u"stale.tmp")));
  EXPECT_EQ(TempPath(2) + EntryPath(2), Path(u"other.msd"));
  ASSERT_TRUE(page.Remove(2, &select));
  EXPECT_EQ(select, 1);
  EXPECT_EQ(Lists().MacroCount(), 2);
}

TEST_F(MacroListPageTest, RemovingARowKeepsTheCallersOfTheRowsBelowIt) {
  Prepare();
  // As a project gives them: the user's entry first, then found ones calling each other.
  struct Row {
    const char16_t* name;
    uint8_t user;
    uint16_t parent;
  };
  for (const Row row : {Row{u"user.msd", 1, 0xFFFF}, Row{u"a.msd", 0, 0}, Row{u"b.msd", 0, 2}}) {
    project::MacroListEntry entry{};
    entry.ParentIndex = row.parent, entry.UserAdded = row.user;
    plat::SetFixedText(entry.Path, 260, Path(row.name));
    Lists().AddMacroEntry(entry);
  }
  project::ExtraFileEntry extra{};
  extra.ParentIndex = 3;
  Lists().AddExtraEntry(extra);
  int select = 0;
  ASSERT_TRUE(flow_->Macros().Remove(1, &select));
  EXPECT_EQ(Lists().MacroEntries()[1].ParentIndex, 0);
  EXPECT_EQ(Lists().MacroEntries()[2].ParentIndex, 1);
  EXPECT_EQ(Lists().ExtraEntries()[0].ParentIndex, 2);
  EXPECT_EQ(flow_->Macros().Rows()[2].cells[1], u"a.msd");
}

TEST_F(MacroListPageTest, EachNextMakesFreshCopiesAndAFailureRemovesThemAll) {
  PrepareTree();
  MacroListPage& page = flow_->Macros();
  const std::set<std::u16string> before = brankel_test::TemporaryFiles(u"~PD*");
  auto expect_only_current_copies = [&] {
    std::set<std::u16string> expected = before;
    for (int row : {0, 1}) {
      if (!TempPath(row).empty()) expected.insert(FileNamePart(TempPath(row)));
    }
    EXPECT_EQ(brankel_test::TemporaryFiles(u"~PD*"), expected);
  };
  ASSERT_TRUE(page.LeaveForward().proceed);
  EXPECT_EQ(brankel_test::ReadBytes(TempPath(1)), brankel_test::ReadBytes(Path(u"sub.msd")));
  expect_only_current_copies();
  // Changed on disk while the wizard is open: the next Next copies the new bytes.
  Write(u"sub.msd", brankel_test::MacroBuilder().Bytes());
  ASSERT_TRUE(page.LeaveForward().proceed);
  EXPECT_EQ(brankel_test::ReadBytes(TempPath(1)), brankel_test::MacroBuilder().Bytes());
  expect_only_current_copies();

  ASSERT_TRUE(plat::DeleteFile(Path(u"sub.msd")));
  EXPECT_FALSE(page.LeaveForward().proceed);
  EXPECT_EQ(TakeKeys(), std::vector<std::u16string>{u"IDS_ERR_FILENOTFOUND"});
  EXPECT_EQ(TempPath(0) + TempPath(1), u"");
  expect_only_current_copies();
}

TEST_F(MacroListPageTest, TheExtraFilesPageRunsItsDiscoveryAgainOnlyAfterAChange) {
  PrepareTree();
  MacroListPage& macros = flow_->Macros();
  ExtraFilesPage& extras = flow_->Extras();
  ASSERT_TRUE(macros.LeaveForward().proceed);
  EXPECT_TRUE(extras.OnShow());
  ASSERT_EQ(Lists().ExtraCount(), 1);
  EXPECT_EQ(project::FieldText(Lists().ExtraEntries()[0].TargetName), u"pic.bmp");
  EXPECT_FALSE(extras.OnShow());
  ASSERT_TRUE(macros.LeaveForward().proceed);
  EXPECT_FALSE(extras.OnShow()) << "back and on without a change";
  macros.Add({Path(u"user.msd")});
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_TRUE(macros.LeaveForward().proceed);
    EXPECT_TRUE(extras.OnShow()) << pass;
  }
  EXPECT_EQ(Lists().ExtraCount(), 1) << "found files are not listed twice";
  EXPECT_TRUE(TakeKeys().empty());
}

}  // namespace
}  // namespace wizard
