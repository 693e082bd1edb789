#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "macro/attachments.h"
#include "macro/macro_file.h"
#include "platform/file_retry.h"
#include "platform/platform.h"
#include "support/attachment_builder.h"
#include "support/compound_builder.h"
#include "support/fault_sweep.h"
#include "support/macro_builder.h"
#include "support/scratch.h"

namespace macro {
namespace {

using brankel_test::FolderDifference;
using brankel_test::ReadFolderState;
using brankel_test::TemporaryFiles;
using plat::testing::FileOp;

class AttachmentsFaultTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    const std::string host =
        brankel_test::WithAttachmentsFlag(brankel_test::MacroBuilder().Name(u"Host").Command(0x0101).Bytes());
    const std::vector<uint8_t> compound =
        brankel_test::CompoundBuilder().AddStream(u"notes.txt", brankel_test::PatternBytes(9000, 5)).Build();
    ASSERT_TRUE(brankel_test::WriteBytes(
        Path(u"host.msd"),
        host + brankel_test::AttachmentArea({brankel_test::AttachmentItemBytes(u"notes.txt", u".txt")}, compound)));
    // The copy the areas are written back to, with an old tail the write-back replaces.
    ASSERT_TRUE(brankel_test::WriteBytes(Path(u"copy.msd"), host + std::string(5000, 'T')));
    CFile_Macro file;
    ASSERT_EQ(file.Open(Path(u"host.msd")), 1);
    ASSERT_EQ(manager_.ReadFromMacroFile(file.File(), file.Header()), 1);
  }
  int WriteBack(const char16_t** key, uint32_t* code) {
    return manager_.WriteToMacroFile(Path(u"copy.msd"), key, code);
  }

  CAttachments_Manager manager_;
};

TEST_F(AttachmentsFaultTest, EveryFaultLeavesTheMacroFileAsItWasAndNoTemporaryFile) {
  const brankel_test::FolderState before = ReadFolderState(dir_);
  const auto temporary_before = TemporaryFiles(u"*");
  const char16_t* key = nullptr;
  uint32_t code = 0;
  ASSERT_EQ(WriteBack(&key, &code), 1);
  const brankel_test::FolderState written = ReadFolderState(dir_);
  ASSERT_NE(FolderDifference(before, written), "");
  const auto restore = [&] { ASSERT_TRUE(brankel_test::WriteBytes(Path(u"copy.msd"), before.at(u"copy.msd"))); };
  restore();
  for (const brankel_test::SweepFault& fault : brankel_test::kSweepFaults) {
    const uint32_t met = brankel_test::Sweep(
        fault, 30, [&] { return WriteBack(&key, &code) == 1; },
        [&](uint32_t, bool succeeded) {
          EXPECT_EQ(TemporaryFiles(u"*"), temporary_before);
          if (succeeded) {
            // A fault the write-back rides out (a read after the file is in place) must
            // not show in what it wrote.
            EXPECT_EQ(FolderDifference(written, ReadFolderState(dir_)), "");
            restore();
            return;
          }
          ASSERT_NE(key, nullptr);
          const std::u16string k = key;
          EXPECT_TRUE(k == u"IDS_ERR_ATTACHMENTS_WRITE" || k == u"IDS_ERR_ATTACHMENTS_READ") << brankel_test::Narrow(k);
          EXPECT_EQ(code, fault.error);
          EXPECT_EQ(FolderDifference(before, ReadFolderState(dir_)), "");
        });
    EXPECT_EQ(met > 0, fault.op != FileOp::kCopy) << fault.name;
    EXPECT_EQ(FolderDifference(written, ReadFolderState(dir_)), "") << "the run without a fault wrote it";
    restore();
  }
}

TEST_F(AttachmentsFaultTest, AMacroFileHeldPastTheWaitIsNamedInUse) {
  const std::string before = brankel_test::ReadBytes(Path(u"copy.msd"));
  const uint32_t previous = plat::testing::SetFileRetryLimit(200);
  const char16_t* key = nullptr;
  uint32_t code = 0;
  {
    plat::testing::FaultScope scope;
    plat::testing::FailFirst(FileOp::kMove, 2, plat::err::kSharingViolation);
    EXPECT_EQ(WriteBack(&key, &code), 1) << "two refusals fit in the wait";
  }
  const std::string written = brankel_test::ReadBytes(Path(u"copy.msd"));
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"copy.msd"), before));
  {
    plat::testing::FaultScope scope;
    plat::testing::FailFirst(FileOp::kMove, 1000, plat::err::kLockViolation);
    EXPECT_EQ(WriteBack(&key, &code), 0);
  }
  plat::testing::SetFileRetryLimit(previous);
  EXPECT_EQ(std::u16string(key), u"IDS_ERR_FILEINUSE");
  EXPECT_EQ(code, plat::err::kLockViolation);
  EXPECT_EQ(brankel_test::ReadBytes(Path(u"copy.msd")), before);
  EXPECT_NE(written, before);
  EXPECT_EQ(ReadFolderState(dir_).size(), 2u);
}

}  // namespace
}  // namespace macro
