#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file_retry.h"
#include "platform/platform.h"
#include "support/fault_sweep.h"
#include "support/run_cli.h"
#include "support/scratch.h"
#include "support/script_builder.h"

namespace packager {
namespace {

using brankel_test::FolderDifference;
using brankel_test::MacroBuilder;
using brankel_test::ReadFolderState;
using brankel_test::TemporaryFiles;
using plat::testing::FileOp;

constexpr uint16_t kOpenFile = 0x230A;  // names one file, its text at payload offset 0
constexpr char kPreviousExe[] = "the EXE an earlier build made";

// A script that calls a macro, carries an attached library and names a data file: the
// build then makes macro copies, writes attachments back into one and packs a file.
class BuildFaultTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    // Two builds of the same input are equal byte for byte only with a fixed time.
    brankel_test::SetVariable("SOURCE_DATE_EPOCH", "1700000000");
    for (const char16_t* folder : {u"data", u"out"}) ASSERT_TRUE(plat::CreateDirectory(Path(folder)));
    Write(u"data\\notes.txt", "notes");
    MacroBuilder main = brankel_test::Calls({{brankel_test::kCallMacro, brankel_test::kByPath, Path(u"a.msd")}});
    const std::string library = MacroBuilder().Bytes();
    Write(u"main.msd", brankel_test::WithAttachments(main, {{u"lib", u".msl", library}}));
    MacroBuilder a;
    a.Command(kOpenFile, 40).Param(40, brankel_test::TextAt(0, u"data\\notes.txt"));
    Write(u"a.msd", a.Bytes());
  }
  void TearDown() override {
    brankel_test::SetVariable("SOURCE_DATE_EPOCH", nullptr);
    ScratchTest::TearDown();
  }
  void Write(std::u16string_view name, const std::string& bytes) {
    ASSERT_TRUE(brankel_test::WriteBytes(Path(name), bytes)) << brankel_test::Narrow(name);
  }
  brankel_test::CliOutput Build() {
    return brankel_test::RunCli(
        {"build", brankel_test::Narrow(Path(u"main.msd")), "-o", brankel_test::Narrow(Path(u"out\\main.exe"))});
  }
  // Builds once without a fault: what a build makes of this input.
  bool Reference(std::string* exe) {
    const brankel_test::CliOutput run = Build();
    if (run.code != 0) {
      ADD_FAILURE() << run.err;
      return false;
    }
    *exe = brankel_test::ReadBytes(Path(u"out\\main.exe"));
    Write(u"out\\main.exe", kPreviousExe);
    return true;
  }
};

TEST_F(BuildFaultTest, EveryFaultKeepsThePreviousExeAndTheInputsAndLeavesNoTemporaryFile) {
  std::string reference;
  ASSERT_TRUE(Reference(&reference));
  const brankel_test::FolderState before = ReadFolderState(dir_);
  const auto temporary_before = TemporaryFiles(u"*");
  for (const brankel_test::SweepFault& fault : brankel_test::kSweepFaults) {
    brankel_test::CliOutput run;
    const uint32_t met = brankel_test::Sweep(
        fault, 400,
        [&] {
          run = Build();
          return run.code == 0;
        },
        [&](uint32_t, bool succeeded) {
          EXPECT_EQ(TemporaryFiles(u"*"), temporary_before);
          if (succeeded) {
            // A fault the build rides out (a language file it can do without) must not
            // show in the EXE.
            EXPECT_TRUE(brankel_test::ReadBytes(Path(u"out\\main.exe")) == reference) << "another EXE";
            Write(u"out\\main.exe", kPreviousExe);
          } else {
            EXPECT_EQ(run.code, 1) << run.err;
            EXPECT_NE(run.err.find("brankel"), std::string::npos) << "no message: " << run.err << run.out;
          }
          EXPECT_EQ(FolderDifference(before, ReadFolderState(dir_)), "") << run.err;
        });
    EXPECT_GT(met, 0u) << fault.name;
    EXPECT_TRUE(brankel_test::ReadBytes(Path(u"out\\main.exe")) == reference) << fault.name;
    Write(u"out\\main.exe", kPreviousExe);
  }
}

TEST_F(BuildFaultTest, ADestinationHeldForAMomentIsReplacedAndOneHeldLongerIsNamedInUse) {
  std::string reference;
  ASSERT_TRUE(Reference(&reference));
  const auto temporary_before = TemporaryFiles(u"*");
  const brankel_test::FolderState before = ReadFolderState(dir_);
  // The move onto the destination is a build's last.
  uint32_t moves = 0;
  {
    plat::testing::FaultScope scope;
    plat::testing::FailNth(FileOp::kMove, UINT32_MAX, 0);
    ASSERT_EQ(Build().code, 0);
    moves = plat::testing::CallsSinceArmed(FileOp::kMove);
    Write(u"out\\main.exe", kPreviousExe);
  }
  ASSERT_GE(moves, 1u);
  const uint32_t previous = plat::testing::SetFileRetryLimit(300);
  struct Case {
    uint32_t first;  // 1: the first move of the build, held for a moment too
    uint32_t failing;
    uint32_t error;
    bool built;
  };
  const Case cases[] = {{1, 2, plat::err::kSharingViolation, true},
                        {moves, 1, plat::err::kSharingViolation, true},
                        {moves, 3, plat::err::kLockViolation, true},
                        {moves, 3, plat::err::kAccessDenied, true},
                        {moves, UINT32_MAX, plat::err::kSharingViolation, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "moves " << c.first << "+" << c.failing << " fail with " << c.error);
    brankel_test::CliOutput run;
    {
      plat::testing::FaultScope scope;
      plat::testing::FailCalls(FileOp::kMove, c.first, c.failing, c.error);
      run = Build();
    }
    EXPECT_EQ(TemporaryFiles(u"*"), temporary_before);
    if (c.built) {
      EXPECT_EQ(run.code, 0) << run.err;
      EXPECT_TRUE(brankel_test::ReadBytes(Path(u"out\\main.exe")) == reference);
      Write(u"out\\main.exe", kPreviousExe);
    } else {
      EXPECT_EQ(run.code, 1);
      const std::string in_use =
          brankel_test::EnglishText(u"IDS_ERR_FILEINUSE", brankel_test::Narrow(Path(u"out\\main.exe")));
      EXPECT_NE(run.err.find(in_use), std::string::npos) << run.err;
      EXPECT_EQ(FolderDifference(before, ReadFolderState(dir_)), "");
    }
  }
  plat::testing::SetFileRetryLimit(previous);
}

TEST_F(BuildFaultTest, AProjectFileHeldPastTheWaitIsNamedInUseAndKept) {
  const std::vector<std::string> args = {"build", brankel_test::Narrow(Path(u"main.msd")), "-o",
                                         brankel_test::Narrow(Path(u"out\\main.exe")), "--save-project"};
  ASSERT_EQ(brankel_test::RunCli(args).code, 0);
  const std::string project = brankel_test::ReadBytes(Path(u"main.packproj"));
  const std::string exe = brankel_test::ReadBytes(Path(u"out\\main.exe"));
  const uint32_t previous = plat::testing::SetFileRetryLimit(200);
  brankel_test::CliOutput run;
  {
    plat::testing::FaultScope scope;
    plat::testing::FailCalls(FileOp::kMove, 1, UINT32_MAX, plat::err::kSharingViolation);
    run = brankel_test::RunCli(args);
  }
  plat::testing::SetFileRetryLimit(previous);
  EXPECT_EQ(run.code, 1);
  // Every move refused: the project's, and then the build's first (a macro copy's).
  const std::string in_use =
      brankel_test::EnglishText(u"IDS_ERR_FILEINUSE", brankel_test::Narrow(Path(u"main.packproj")));
  EXPECT_NE(run.err.find(in_use), std::string::npos) << run.err;
  EXPECT_TRUE(brankel_test::ReadBytes(Path(u"main.packproj")) == project);
  EXPECT_TRUE(brankel_test::ReadBytes(Path(u"out\\main.exe")) == exe);
}

}  // namespace
}  // namespace packager
