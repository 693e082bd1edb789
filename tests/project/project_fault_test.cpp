#include <gtest/gtest.h>

#include <memory>

#include "platform/platform.h"
#include "project/project_file.h"
#include "support/fault_sweep.h"
#include "support/scratch.h"

namespace project {
namespace {

using brankel_test::ReadFolderState;
using brankel_test::TemporaryFiles;

class ProjectFaultTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    script_ = Path(u"job.msd");
    ASSERT_TRUE(brankel_test::WriteBytes(script_, "the script"));
    record_ = std::make_unique<MakeExeOptions>();
  }
  std::u16string script_;
  std::unique_ptr<MakeExeOptions> record_;
};

TEST_F(ProjectFaultTest, EveryFaultKeepsTheSavedProjectAndLeavesNoTemporaryFile) {
  CMakeExe_FileLists lists;
  ASSERT_EQ(SaveProject(*record_, script_, lists), 1);
  MacroListEntry entry{};
  entry.ParentIndex = kNoParent;
  entry.UserAdded = 1;
  plat::SetFixedText(entry.Path, 260, u"C:\\m\\new.msd");
  ASSERT_GE(lists.AddMacroEntry(entry), 0);
  const brankel_test::FolderState before = ReadFolderState(dir_);
  const auto temporary_before = TemporaryFiles(u"*");
  for (const brankel_test::SweepFault& fault : brankel_test::kSweepFaults) {
    const uint32_t met = brankel_test::Sweep(
        fault, 20, [&] { return SaveProject(*record_, script_, lists) == 1; },
        [&](uint32_t, bool succeeded) {
          EXPECT_FALSE(succeeded);
          // The caller words the failure from the last error.
          EXPECT_EQ(plat::GetLastError(), fault.error);
          EXPECT_EQ(brankel_test::FolderDifference(before, ReadFolderState(dir_)), "");
          EXPECT_EQ(TemporaryFiles(u"*"), temporary_before);
        });
    // The save creates, writes and moves; it reads and copies nothing.
    const bool used = fault.op != plat::testing::FileOp::kRead && fault.op != plat::testing::FileOp::kCopy;
    EXPECT_EQ(met > 0, used) << fault.name;
    // The run that met no fault saved the new list; the next kind starts from the old one.
    ASSERT_NE(brankel_test::FolderDifference(before, ReadFolderState(dir_)), "");
    ASSERT_TRUE(brankel_test::WriteBytes(Path(u"job.packproj"), before.at(u"job.packproj")));
  }
}

TEST_F(ProjectFaultTest, AProjectFileHeldForAMomentIsReplacedAndOneHeldLongerIsKept) {
  CMakeExe_FileLists lists;
  ASSERT_EQ(SaveProject(*record_, script_, lists), 1);
  std::string saved = brankel_test::ReadBytes(Path(u"job.packproj"));
  const uint32_t previous = plat::testing::SetFileRetryLimit(300);
  struct Case {
    uint32_t failing_moves;
    bool saved;
  };
  for (const Case c : {Case{1, true}, Case{3, true}, Case{1000, false}}) {
    SCOPED_TRACE(c.failing_moves);
    record_->RunMode = record_->RunMode == 1 ? 2 : 1;  // a change the file shows
    plat::testing::FaultScope scope;
    plat::testing::FailFirst(plat::testing::FileOp::kMove, c.failing_moves, plat::err::kSharingViolation);
    EXPECT_EQ(SaveProject(*record_, script_, lists), c.saved ? 1 : 0);
    plat::testing::ClearFaults();
    if (c.saved) {
      EXPECT_NE(brankel_test::ReadBytes(Path(u"job.packproj")), saved);
      saved = brankel_test::ReadBytes(Path(u"job.packproj"));
    } else {
      EXPECT_EQ(plat::GetLastError(), plat::err::kSharingViolation);
      EXPECT_EQ(brankel_test::ReadBytes(Path(u"job.packproj")), saved);
      EXPECT_EQ(brankel_test::ReadFolderState(dir_).size(), 2u) << "the script and the project only";
    }
  }
  plat::testing::SetFileRetryLimit(previous);
}

}  // namespace
}  // namespace project
