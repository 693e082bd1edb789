#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "macro/error_state.h"
#include "macro/legacy_upgrade.h"
#include "macro/macro_file.h"
#include "platform/file_retry.h"
#include "platform/platform.h"
#include "support/fault_sweep.h"
#include "support/legacy_builder.h"
#include "support/scratch.h"

namespace macro {
namespace {

using brankel_test::FolderDifference;
using brankel_test::ReadFolderState;
using brankel_test::TemporaryFiles;
using plat::testing::FileOp;

class LegacyUpgradeFaultTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    brankel_test::LegacyMacro m;
    m.version = 258;  // both steps, the first through a file of its own
    m.name = "Old macro";
    m.commands = {{.code = 0x054, .param_id = 4}, {.code = 0x0A1}};
    m.records = {{4, std::vector<uint8_t>(700, 0)}};
    const std::vector<uint8_t> bytes = brankel_test::BuildLegacyMacro(m);
    original_.assign(bytes.begin(), bytes.end());
    path_ = Path(u"old.msd");
    ASSERT_TRUE(brankel_test::WriteBytes(path_, original_));
  }
  int Upgrade(char16_t* err_key) {
    ClearMacroFileError();
    return UpgradeMacroFile(path_, 0, err_key, UpgradeOptions{}, nullptr);
  }
  void Restore() {
    plat::DeleteFile(path_ + u".old");
    ASSERT_TRUE(brankel_test::WriteBytes(path_, original_));
  }

  std::string original_;
  std::u16string path_;
};

TEST_F(LegacyUpgradeFaultTest, EveryFaultLeavesTheOldFileAloneAndNoCopyOrTemporaryFile) {
  const brankel_test::FolderState before = ReadFolderState(dir_);
  const auto temporary_before = TemporaryFiles(u"*");
  for (const brankel_test::SweepFault& fault : brankel_test::kSweepFaults) {
    char16_t err_key[260] = {};
    const uint32_t met = brankel_test::Sweep(
        fault, 40, [&] { return Upgrade(err_key) == 1; },
        [&](uint32_t, bool succeeded) {
          EXPECT_FALSE(succeeded);
          // The caller words the failure from the key, or else from the last error.
          const char16_t* key = GetMacroFileError(nullptr);
          EXPECT_EQ(plat::GetLastError(), fault.error)
              << brankel_test::Narrow(err_key) << " " << (key ? brankel_test::Narrow(key) : "");
          EXPECT_EQ(FolderDifference(before, ReadFolderState(dir_)), "");
          EXPECT_EQ(TemporaryFiles(u"*"), temporary_before);
          if (succeeded) Restore();
        });
    EXPECT_GT(met, 0u) << fault.name;
    // The run without a fault upgraded the file and kept its old bytes (as version 259).
    EXPECT_TRUE(plat::FileExists(path_ + u".old"));
    EXPECT_NE(brankel_test::ReadBytes(path_), original_);
    Restore();
  }
}

TEST_F(LegacyUpgradeFaultTest, AFileHeldPastTheWaitIsNamedInUse) {
  const uint32_t previous = plat::testing::SetFileRetryLimit(200);
  struct Case {
    uint32_t failing_moves;
    int result;
  };
  for (const Case c : {Case{2, 1}, Case{1000, 0}}) {
    SCOPED_TRACE(c.failing_moves);
    char16_t err_key[260] = {};
    {
      plat::testing::FaultScope scope;
      plat::testing::FailFirst(FileOp::kMove, c.failing_moves, plat::err::kSharingViolation);
      EXPECT_EQ(Upgrade(err_key), c.result);
    }
    if (c.result == 0) {
      EXPECT_EQ(std::u16string(err_key), u"IDS_ERR_FILEINUSE");
      EXPECT_EQ(ReadFolderState(dir_).size(), 1u) << "the old file only";
      EXPECT_EQ(brankel_test::ReadBytes(path_), original_);
    } else {
      EXPECT_TRUE(plat::FileExists(path_ + u".old"));
      EXPECT_NE(brankel_test::ReadBytes(path_), original_);
    }
    Restore();
  }
  plat::testing::SetFileRetryLimit(previous);
}

}  // namespace
}  // namespace macro
