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

using brankel_test::Narrow;

class MacroListPageTest : public brankel_test::WizardTest {
 protected:
  project::CMakeExe_FileLists& Lists() { return flow_->Session().Lists(); }
  std::u16string TempPath(int row) { return project::FieldText(Lists().MacroEntries()[row].TempPath); }

  // main.msd calls sub.msd, which names a picture.
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
  EXPECT_FALSE(page.Changed());
  const std::u16string main_upper = plat::ToUpper(Path(u"main.msd"));
  EXPECT_EQ(page.Add({Path(u"a.msd"), Path(u"A.MSD"), main_upper}), 1);
  EXPECT_TRUE(page.Changed());
  const std::vector<GridRow> rows = page.Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_TRUE(rows[0].grey);
  EXPECT_FALSE(rows[1].grey);
  EXPECT_EQ(rows[1].cells, (std::vector<std::u16string>{u"a.msd", u"", u"", Path(u"a.msd")}));

  std::vector<std::u16string> many;
  for (int i = 0; i < 509; ++i) many.push_back(Path(u"m" + plat::Utf8ToUtf16(std::to_string(i)) + u".msd"));
  page.Add(many);
  ASSERT_EQ(Lists().MacroCount(), 511);
  EXPECT_TRUE(page.CanAdd());
  EXPECT_EQ(page.Add({Path(u"v.msd"), Path(u"w.msd"), Path(u"x.msd"), Path(u"y.msd"), Path(u"z.msd")}), 511);
  EXPECT_EQ(Lists().MacroCount(), 512);
  EXPECT_EQ(project::FieldText(Lists().MacroEntries()[511].Path), Path(u"v.msd"));
  EXPECT_TRUE(TakeKeys().empty());
  EXPECT_FALSE(page.CanAdd());
  EXPECT_EQ(TakeKeys(), std::vector<std::u16string>{u"IDS_ERR_MACROFILETOOMANY"});
}

TEST_F(MacroListPageTest, OnlyUserRowsChangeAndAnEditDropsTheStaleCopy) {
  PrepareTree();
  MacroListPage& page = flow_->Macros();
  page.Add({Path(u"user.msd")});
  struct Case {
    int row;
    bool can_change;
  };
  for (const Case c : {Case{-1, false}, Case{0, false}, Case{1, false}, Case{2, true}, Case{3, false}}) {
    SCOPED_TRACE(c.row);
    EXPECT_EQ(page.CanChange(c.row), c.can_change);
    EXPECT_EQ(page.Edit(c.row, Path(u"edited.msd")), c.can_change);
    int select = 99;
    if (!c.can_change) {
      EXPECT_FALSE(page.Remove(c.row, &select));
    }
  }
  // A copy left in the edited entry's field is deleted with it.
  Write(u"stale.tmp", "copy");
  plat::SetFixedText(Lists().MacroEntries()[2].TempPath, 260, Path(u"stale.tmp"));
  ASSERT_TRUE(page.Edit(2, Path(u"other.msd")));
  EXPECT_FALSE(plat::FileExists(Path(u"stale.tmp")));
  EXPECT_EQ(TempPath(2), u"");
  EXPECT_EQ(project::FieldText(Lists().MacroEntries()[2].Path), Path(u"other.msd"));

  int select = 99;
  ASSERT_TRUE(page.Remove(2, &select));
  EXPECT_EQ(select, 1);
  EXPECT_EQ(Lists().MacroCount(), 2);
}

TEST_F(MacroListPageTest, RemovingARowKeepsTheCallersOfTheRowsBelowIt) {
  Prepare();
  // As a project gives them: the user's own entry first, the found ones after it.
  project::MacroListEntry entry{};
  entry.ParentIndex = 0xFFFF, entry.UserAdded = 1, entry.CommandIndex = -1, entry.EntryType = 3;
  plat::SetFixedText(entry.Path, 260, Path(u"user.msd"));
  project::MacroListEntry found = entry;
  found.UserAdded = 0;
  found.ParentIndex = 0;
  plat::SetFixedText(found.Path, 260, Path(u"a.msd"));
  project::MacroListEntry deeper = found;
  deeper.ParentIndex = 2;
  plat::SetFixedText(deeper.Path, 260, Path(u"b.msd"));
  for (const project::MacroListEntry& e : {entry, found, deeper}) Lists().AddMacroEntry(e);
  project::ExtraFileEntry extra{};
  extra.ParentIndex = 3;
  plat::SetFixedText(extra.SourcePath, 260, Path(u"x.txt"));
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
  // Exactly the entries' current copies are in the temporary folder, besides what was there.
  auto expect_only_current_copies = [&] {
    std::set<std::u16string> expected = before;
    for (int row = 0; row < 2; ++row) {
      if (!TempPath(row).empty()) expected.insert(FileNamePart(TempPath(row)));
    }
    EXPECT_EQ(brankel_test::TemporaryFiles(u"~PD*"), expected);
  };
  ASSERT_TRUE(page.LeaveForward().proceed);
  ASSERT_FALSE(TempPath(0).empty());
  EXPECT_EQ(brankel_test::ReadBytes(TempPath(1)), brankel_test::ReadBytes(Path(u"sub.msd")));
  expect_only_current_copies();

  // Changed on disk while the wizard is open: the next Next copies the new bytes.
  Write(u"sub.msd", brankel_test::MacroBuilder().Bytes());
  ASSERT_TRUE(page.LeaveForward().proceed);
  EXPECT_EQ(brankel_test::ReadBytes(TempPath(1)), brankel_test::MacroBuilder().Bytes());
  expect_only_current_copies();

  ASSERT_TRUE(plat::DeleteFile(Path(u"sub.msd")));
  const LeaveResult left = page.LeaveForward();
  EXPECT_FALSE(left.proceed);
  EXPECT_EQ(TakeKeys(), std::vector<std::u16string>{u"IDS_ERR_FILENOTFOUND"});
  EXPECT_EQ(TempPath(0), u"");
  EXPECT_EQ(TempPath(1), u"");
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
    SCOPED_TRACE(pass);
    ASSERT_TRUE(macros.LeaveForward().proceed);
    EXPECT_TRUE(extras.OnShow());
  }
  EXPECT_EQ(Lists().ExtraCount(), 1) << "found files are not listed twice";
  EXPECT_TRUE(TakeKeys().empty());
}

}  // namespace
}  // namespace wizard
