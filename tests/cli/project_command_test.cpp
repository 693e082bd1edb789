#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/unicode.h"
#include "project/project_file.h"
#include "support/run_cli.h"
#include "support/scratch.h"

namespace cli {
namespace {

using brankel_test::CliOutput;
using brankel_test::RunCli;

class ProjectCommandTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    auto record = std::make_unique<project::MakeExeOptions>();
    plat::SetFixedText(record->ExeName, 130, u"Invoice run");
    plat::SetFixedText(record->DestinationPath, 260, u"C:\\out\\invoice.exe");
    record->PlayTimes = 2;
    record->PlaySpeed = -60;
    record->PlayOptionFlags = project::kNoTrayIcon;
    record->Settings.StopKey.KeyCode = 83;
    plat::SetFixedText(record->Settings.ProxyPassword, 128, u"never-shown");
    project::CMakeExe_FileLists lists;
    project::MacroListEntry macro{};
    macro.ParentIndex = project::kNoParent;
    macro.EntryType = 3;
    macro.CommandIndex = -1;
    plat::SetFixedText(macro.Path, 260, u"C:\\m\\invoice.msd");
    lists.AddMacroEntry(macro);
    macro.ParentIndex = 0;
    macro.CommandIndex = 6;
    plat::SetFixedText(macro.Path, 260, u"c:\\m\\lib.msl");
    lists.AddMacroEntry(macro);
    project::ExtraFileEntry extra{};
    extra.ParentIndex = 1;
    extra.CommandIndex = 2;
    extra.Excluded = 1;
    plat::SetFixedText(extra.SourcePath, 260, u"C:\\m\\data.csv");
    plat::SetFixedText(extra.TargetName, 260, u"data.csv");
    lists.AddExtraEntry(extra);
    ASSERT_EQ(project::SaveProject(*record, Path(u"invoice.msd"), lists), 1);
    file_ = brankel_test::Narrow(Path(u"invoice.packproj"));
  }
  std::string file_;
};

TEST_F(ProjectCommandTest, ShowsTheRecordAndBothLists) {
  const CliOutput run = RunCli({"project", "show", file_, "--json"});
  ASSERT_EQ(run.code, 0) << run.err;
  const nlohmann::json j = nlohmann::json::parse(run.out);
  EXPECT_EQ(j["exe_name"], "Invoice run");
  EXPECT_EQ(j["total_size"], 14920 + 2 * 1052 + 1060);
  EXPECT_EQ(j["play_times"], 2);
  EXPECT_EQ(j["play_speed"], -60);
  EXPECT_EQ(j["no_tray_icon"], true);
  EXPECT_EQ(j["destination_path"], "C:\\out\\invoice.exe");
  EXPECT_EQ(j["settings"]["stop_hot_key"]["key"], 83);
  EXPECT_EQ(j["settings"]["proxy_password_set"], true);
  ASSERT_EQ(j["macros"].size(), 2u);
  EXPECT_EQ(j["macros"][0]["parent"], -1);
  EXPECT_EQ(j["macros"][1]["path"], "c:\\m\\lib.msl");
  EXPECT_EQ(j["macros"][1]["command"], 6);
  ASSERT_EQ(j["extra_files"].size(), 1u);
  EXPECT_EQ(j["extra_files"][0]["excluded"], 1);
  EXPECT_EQ(j["extra_files"][0]["target_name"], "data.csv");
  EXPECT_EQ(run.out.find("never-shown"), std::string::npos);

  const CliOutput text = RunCli({"project", "show", file_});
  ASSERT_EQ(text.code, 0);
  EXPECT_NE(text.out.find("exe_name: Invoice run\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("path=c:\\m\\lib.msl"), std::string::npos);
  EXPECT_EQ(text.out.find("never-shown"), std::string::npos);
}

TEST_F(ProjectCommandTest, RejectsFilesThatAreNotProjects) {
  std::string bytes = brankel_test::ReadBytes(Path(u"invoice.packproj"));
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"invoice.packproj"), bytes + "!"));
  CliOutput run = RunCli({"project", "show", file_});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("not a valid packaging project"), std::string::npos) << run.err;
  run = RunCli({"project", "show", brankel_test::Narrow(Path(u"none.packproj"))});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("no such project file"), std::string::npos);
  EXPECT_EQ(RunCli({"project", "show"}).code, 2);
}

}  // namespace
}  // namespace cli
