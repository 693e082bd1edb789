#include <gtest/gtest.h>

#include <string>

#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/testing.h"
#include "support/scratch.h"

namespace plat {
namespace {

using testing::FileOp;

class FaultInjectionTest : public brankel_test::ScratchTest {
 protected:
  void TearDown() override {
    testing::ClearFaults();
    ScratchTest::TearDown();
  }
  // One call of `op` on the scratch folder: true when it succeeded.
  bool Call(FileOp op) {
    const std::u16string file = Path(u"f.bin");
    switch (op) {
      case FileOp::kCreate: {
        FileHandle handle = OpenFile(file, kGenericWrite, 0, Disposition::kCreateAlways);
        if (handle != nullptr) CloseFile(handle);
        return handle != nullptr;
      }
      case FileOp::kWrite:
      case FileOp::kRead: {
        FileHandle handle = OpenFile(file, kGenericRead | kGenericWrite, 0, Disposition::kOpenExisting);
        if (handle == nullptr) return false;
        char byte = 'x';
        uint32_t done = 0;
        const bool ok = op == FileOp::kWrite ? WriteFile(handle, &byte, 1, &done) : ReadFile(handle, &byte, 1, &done);
        const uint32_t error = GetLastError();
        CloseFile(handle);
        SetLastError(error);
        return ok;
      }
      case FileOp::kMove:
        return MoveFile(file, Path(u"g.bin"), true) && MoveFile(Path(u"g.bin"), file, true);
      case FileOp::kCopy:
        return CopyFile(file, Path(u"c.bin"), false);
      case FileOp::kDelete:
        return DeleteFile(Path(u"c.bin")) && CopyFile(file, Path(u"c.bin"), false);
    }
    return false;
  }
};

struct NthCase {
  FileOp op;
  uint32_t n;
  uint32_t error;
};

TEST_F(FaultInjectionTest, OnlyTheNthCallOfTheKindFailsWithItsError) {
  // A round of moves makes two calls of the kind (there and back); the others one.
  const NthCase cases[] = {{FileOp::kWrite, 1, err::kDiskFull},        {FileOp::kWrite, 3, err::kAccessDenied},
                           {FileOp::kCreate, 2, err::kPathNotFound},   {FileOp::kRead, 1, err::kSharingViolation},
                           {FileOp::kMove, 1, err::kSharingViolation}, {FileOp::kCopy, 1, err::kDiskFull},
                           {FileOp::kDelete, 1, err::kAccessDenied}};
  for (const NthCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.op) * 100 + static_cast<int>(c.n));
    ASSERT_TRUE(brankel_test::WriteBytes(Path(u"f.bin"), "abc"));
    ASSERT_TRUE(CopyFile(Path(u"f.bin"), Path(u"c.bin"), false));
    testing::FaultScope scope;
    testing::FailNth(c.op, c.n, c.error);
    uint32_t failed_at = 0;
    for (uint32_t call = 1; call <= c.n + 2; ++call) {
      SetLastError(err::kSuccess);
      if (!Call(c.op)) {
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(failed_at, 0u) << "failed twice";
        failed_at = call;
      }
    }
    const uint32_t per_round = c.op == FileOp::kMove ? 2 : 1;
    EXPECT_EQ(failed_at, (c.n + per_round - 1) / per_round);
    // Every call of the kind was counted, the failing one with them.
    EXPECT_EQ(testing::CallsSinceArmed(c.op), (c.n + 2) * per_round - (per_round == 2 && c.n % 2 == 1 ? 1 : 0));
  }
}

TEST_F(FaultInjectionTest, ReadingAnExistingFileIsNoCreateAndOtherKindsAreUntouched) {
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"f.bin"), "abc"));
  testing::FaultScope scope;
  testing::FailNth(FileOp::kCreate, 1, err::kDiskFull);
  EXPECT_EQ(ReadWholeFile(Path(u"f.bin")).value_or(""), "abc");
  EXPECT_EQ(testing::CallsSinceArmed(FileOp::kCreate), 0u);
  EXPECT_FALSE(WriteWholeFile(Path(u"f.bin"), "new"));
  EXPECT_EQ(GetLastError(), err::kDiskFull);
  // The refused open reached no file.
  EXPECT_EQ(ReadWholeFile(Path(u"f.bin")).value_or(""), "abc");
  EXPECT_TRUE(GetTempFileName(dir_, u"tst").size() > 0);
}

TEST_F(FaultInjectionTest, TheFirstCountFailThenCallsSucceed) {
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"f.bin"), "abc"));
  testing::FaultScope scope;
  testing::FailFirst(FileOp::kMove, 2, err::kSharingViolation);
  EXPECT_FALSE(MoveFile(Path(u"f.bin"), Path(u"g.bin"), true));
  EXPECT_FALSE(MoveFile(Path(u"f.bin"), Path(u"g.bin"), true));
  EXPECT_TRUE(MoveFile(Path(u"f.bin"), Path(u"g.bin"), true));
  EXPECT_EQ(brankel_test::ReadBytes(Path(u"g.bin")), "abc");
}

TEST_F(FaultInjectionTest, TheScopeClearsWhatWasArmed) {
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"f.bin"), "abc"));
  {
    testing::FaultScope scope;
    testing::FailNth(FileOp::kRead, 1, err::kAccessDenied);
    testing::FailNth(FileOp::kWrite, 1, err::kAccessDenied);
  }
  EXPECT_EQ(ReadWholeFile(Path(u"f.bin")).value_or(""), "abc");
  EXPECT_TRUE(WriteWholeFile(Path(u"f.bin"), "new"));
  EXPECT_EQ(testing::CallsSinceArmed(FileOp::kRead), 0u);
}

}  // namespace
}  // namespace plat
