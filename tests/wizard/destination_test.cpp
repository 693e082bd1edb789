#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "project/project_file.h"
#include "wizard/destination.h"
#include "wizard/wizard_test_app.h"

namespace wizard {
namespace {

using brankel_test::Narrow;

TEST(WizardDestination, AddsExeUnlessTheNameEndsWithItInAnyCase) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"C:\\out\\Demo.EXE", u"C:\\out\\Demo.EXE"}, {u"C:\\out\\Demo.exe.bak", u"C:\\out\\Demo.exe.bak.exe"},
      {u"C:\\out\\Demo", u"C:\\out\\Demo.exe"},     {u"exe", u"exe.exe"},
      {u"  C:\\out\\a.exe \t", u"C:\\out\\a.exe"},  {u".exe", u".exe"},
  };
  for (const auto& [typed, result] : cases) EXPECT_EQ(WithExeExtension(typed), result) << Narrow(typed);
  EXPECT_EQ(FolderToOpen(u"C:\\out\\Demo.exe"), u"C:\\out\\");
  EXPECT_EQ(FolderToOpen(u"Demo.exe"), u"");
}

class DestinationPageTest : public brankel_test::WizardTest {
 protected:
  std::u16string ProjectFile() { return project::ProjectFilePath(Path(u"main.msd")).value_or(u""); }
  project::MakeExeOptions& Record() { return flow_->Session().Record(); }
};

TEST_F(DestinationPageTest, ARefusedDestinationStoresAndWritesNothing) {
  Prepare();
  ASSERT_TRUE(plat::CreateDirectory(Path(u"folder.exe")));
  struct Case {
    std::u16string typed;
    const char16_t* key;
    std::u16string shown;
  };
  const Case cases[] = {
      {u"  \t", u"IDS_ERR_DESTFILENAMEEMPTY", u"  \t"},
      {u" out\\demo ", u"IDS_ERR_MUSTABSPATH", u"out\\demo.exe"},
      {u"\\\\\\server\\share\\a.exe", u"IDS_ERR_MUSTABSPATH", u"\\\\\\server\\share\\a.exe"},
      {u"C:\\dir\\", u"IDS_ERR_DESTFILENAMEEMPTY", u"C:\\dir\\.exe"},
      {Path(u"folder.exe"), u"IDS_ERR_MUSTABSPATH", Path(u"folder.exe")},
      {u"C:\\" + std::u16string(260, u'd') + u".exe", u"IDS_ERR_MUSTABSPATH",
       u"C:\\" + std::u16string(260, u'd') + u".exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.typed));
    const project::MakeExeOptions before = Record();
    const DestinationPage::BuildResult result = flow_->Destination().Build({c.typed, 1, true});
    EXPECT_FALSE(result.attempted);
    EXPECT_FALSE(result.built);
    EXPECT_EQ(result.focus, kIdDestination);
    EXPECT_EQ(result.destination, c.shown);
    EXPECT_EQ(TakeKeys(), std::vector<std::u16string>{c.key});
    EXPECT_EQ(std::memcmp(&before, &Record(), sizeof(before)), 0);
    EXPECT_FALSE(plat::FileExists(ProjectFile()));
  }
}

TEST_F(DestinationPageTest, AUncDestinationIsBuiltAndTheProjectWrittenWithTheSaveFlagOff) {
  Prepare();
  // A player that is not there: the build fails before it writes anything.
  packager::RuntimeChoice runtime;
  runtime.player = Path(u"no\\Runvale.exe");
  const DestinationPage::BuildResult result =
      flow_->Destination().Build({u" \\\\server\\share\\demo ", 1, false}, runtime);
  EXPECT_TRUE(result.attempted);
  EXPECT_FALSE(result.built);
  EXPECT_EQ(result.destination, u"\\\\server\\share\\demo.exe");
  EXPECT_EQ(project::FieldText(Record().DestinationPath), u"\\\\server\\share\\demo.exe");
  EXPECT_EQ(Record().RunMode, 1);
  EXPECT_EQ(Record().SaveProject, 0);
  EXPECT_TRUE(plat::FileExists(ProjectFile()));
  for (const brankel_test::ShownMessage& shown : app_.shown) EXPECT_NE(shown.key, u"IDS_MES_EXEMACROBUILDOK");
  EXPECT_FALSE(app_.shown.empty()) << "the build tells why it failed";
}

TEST_F(DestinationPageTest, ABuildThatSucceedsSaysSoAndCloseStoresTheValues) {
  if (!plat::FileExists(app_.ProgramFolder() + u"Runvale.exe")) GTEST_SKIP() << "no runtime in this build";
  Prepare();
  ASSERT_TRUE(plat::CreateDirectory(Path(u"out")));
  const DestinationPage::BuildResult result = flow_->Destination().Build({Path(u"out\\demo"), 0, false});
  ASSERT_TRUE(result.built) << (app_.shown.empty() ? "" : Narrow(app_.shown[0].key + u" " + app_.shown[0].text));
  EXPECT_TRUE(plat::FileExists(Path(u"out\\demo.exe")));
  ASSERT_EQ(app_.shown.size(), 1u);
  EXPECT_EQ(app_.shown[0].key, u"IDS_MES_EXEMACROBUILDOK");
  EXPECT_EQ(app_.shown[0].text, Path(u"out\\demo.exe"));
  EXPECT_EQ(app_.shown[0].type, app::kMbIconInformation);

  flow_->Destination().Close({u"C:\\typed.exe", 1, true});
  const DestinationValues values = flow_->Destination().Initial();
  EXPECT_EQ(values.destination, u"C:\\typed.exe");
  EXPECT_EQ(values.run_mode, 1);
  EXPECT_TRUE(values.save_project);
}

}  // namespace
}  // namespace wizard
