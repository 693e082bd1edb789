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
      {u"C:\\o\\Demo.EXE", u"C:\\o\\Demo.EXE"}, {u"C:\\o\\Demo.exe.bak", u"C:\\o\\Demo.exe.bak.exe"},
      {u"C:\\o\\Demo", u"C:\\o\\Demo.exe"},     {u"exe", u"exe.exe"},
      {u"  C:\\o\\a.exe \t", u"C:\\o\\a.exe"},
  };
  for (const auto& [typed, result] : cases) EXPECT_EQ(WithExeExtension(typed), result) << Narrow(typed);
  EXPECT_EQ(FolderToOpen(u"C:\\o\\Demo.exe") + u"|" + FolderToOpen(u"Demo.exe"), u"C:\\o\\|");
}

class DestinationPageTest : public brankel_test::WizardTest {
 protected:
  bool ProjectWritten() { return plat::FileExists(project::ProjectFilePath(Path(u"main.msd")).value_or(u"")); }
};

TEST_F(DestinationPageTest, ARefusedDestinationStoresAndWritesNothing) {
  Prepare();
  ASSERT_TRUE(plat::CreateDirectory(Path(u"folder.exe")));
  const std::u16string too_long = u"C:\\" + std::u16string(260, u'd') + u".exe";
  const std::tuple<std::u16string, std::u16string, std::u16string> cases[] = {
      {u"  \t", u"IDS_ERR_DESTFILENAMEEMPTY", u"  \t"},
      {u" out\\demo ", u"IDS_ERR_MUSTABSPATH", u"out\\demo.exe"},
      {u"\\\\\\server\\share\\a.exe", u"IDS_ERR_MUSTABSPATH", u"\\\\\\server\\share\\a.exe"},
      {u"C:\\dir\\", u"IDS_ERR_DESTFILENAMEEMPTY", u"C:\\dir\\.exe"},
      {Path(u"folder.exe"), u"IDS_ERR_MUSTABSPATH", Path(u"folder.exe")},
      {too_long, u"IDS_ERR_MUSTABSPATH", too_long},
  };
  for (const auto& [typed, key, shown] : cases) {
    SCOPED_TRACE(Narrow(typed));
    const project::MakeExeOptions before = Record();
    const DestinationPage::BuildResult result = flow_->Destination().Build({typed, 1, true});
    EXPECT_TRUE(!result.attempted && !result.built && result.focus == kIdDestination);
    EXPECT_EQ(result.destination, shown);
    EXPECT_EQ(TakeKeys(), std::vector<std::u16string>{key});
    EXPECT_EQ(std::memcmp(&before, &Record(), sizeof(before)), 0);
    EXPECT_FALSE(ProjectWritten());
  }
}

TEST_F(DestinationPageTest, AUncDestinationIsBuiltAndTheProjectWrittenWithTheSaveFlagOff) {
  Prepare();
  packager::RuntimeChoice runtime;  // a player that is not there: the build fails at once
  runtime.player = Path(u"no\\Runvale.exe");
  const DestinationPage::BuildResult result =
      flow_->Destination().Build({u" \\\\srv\\share\\demo ", 1, false}, runtime);
  EXPECT_TRUE(result.attempted && !result.built);
  EXPECT_EQ(project::FieldText(Record().DestinationPath), u"\\\\srv\\share\\demo.exe");
  EXPECT_TRUE(Record().RunMode == 1 && Record().SaveProject == 0);
  EXPECT_TRUE(ProjectWritten());
  ASSERT_FALSE(app_.shown.empty()) << "the build tells why it failed";
  for (const brankel_test::ShownMessage& shown : app_.shown) EXPECT_NE(shown.key, u"IDS_MES_EXEMACROBUILDOK");
}

TEST_F(DestinationPageTest, ABuildThatSucceedsSaysSoAndCloseStoresTheValues) {
  if (!plat::FileExists(app_.ProgramFolder() + u"Runvale.exe")) GTEST_SKIP() << "no runtime in this build";
  Prepare();
  ASSERT_TRUE(plat::CreateDirectory(Path(u"out")));
  const DestinationPage::BuildResult result = flow_->Destination().Build({Path(u"out\\demo"), 0, false});
  ASSERT_TRUE(result.built) << (app_.shown.empty() ? "" : Narrow(app_.shown[0].key + u" " + app_.shown[0].text));
  EXPECT_TRUE(plat::FileExists(Path(u"out\\demo.exe")));
  ASSERT_EQ(app_.shown.size(), 1u);
  EXPECT_EQ(app_.shown[0].key + u"|" + app_.shown[0].text, u"IDS_MES_EXEMACROBUILDOK|" + Path(u"out\\demo.exe"));
  EXPECT_EQ(app_.shown[0].type, app::kMbIconInformation);

  flow_->Destination().Close({u"C:\\typed.exe", 1, true});
  const DestinationValues values = flow_->Destination().Initial();
  EXPECT_TRUE(values.destination == u"C:\\typed.exe" && values.run_mode == 1 && values.save_project);
}

}  // namespace
}  // namespace wizard
