// Files another process holds, for real: a helper opens the destination EXE without
// sharing, as a virus scanner does with a fresh EXE, and the build waits for it or says
// that the file is in use.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/testing.h"
#include "platform/unicode.h"
#include "support/fault_sweep.h"
#include "support/run_cli.h"
#include "support/scratch.h"
#include "support/script_builder.h"

#include <windows.h>
#undef CreateDirectory
#undef DeleteFile
#undef SetFileAttributes

namespace packager {
namespace {

using brankel_test::FolderDifference;
using brankel_test::ReadFolderState;
using brankel_test::TemporaryFiles;

constexpr char kPreviousExe[] = "the EXE an earlier build made";

std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

class LockedFileTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    for (const char16_t* folder : {u"out", u"signal"}) ASSERT_TRUE(plat::CreateDirectory(Path(folder)));
    ASSERT_TRUE(brankel_test::WriteBytes(Path(u"main.msd"), brankel_test::MacroBuilder().Bytes()));
    ASSERT_TRUE(brankel_test::WriteBytes(Path(u"out\\main.exe"), kPreviousExe));
    // The wait the product has, not the short one the other tests use.
    previous_limit_ = plat::testing::SetFileRetryLimit(3000);
  }
  void TearDown() override {
    if (holder_.hProcess != nullptr) {
      ::TerminateProcess(holder_.hProcess, 1);
      ::WaitForSingleObject(holder_.hProcess, 5000);
      ::CloseHandle(holder_.hProcess);
      ::CloseHandle(holder_.hThread);
    }
    plat::testing::SetFileRetryLimit(previous_limit_);
    plat::SetFileAttributes(Path(u"out\\main.exe"), plat::kAttrNormal);
    ScratchTest::TearDown();
  }
  // Starts the helper on `file` and waits until it holds it.
  void Hold(const std::u16string& file, unsigned milliseconds) {
    std::u16string program = plat::Utf8ToUtf16(BRANKEL_FILE_HOLDER);
    for (char16_t& c : program) c = c == u'/' ? u'\\' : c;
    const std::u16string signal = Path(u"signal\\held");
    std::wstring command = L"\"" + Wide(program) + L"\" \"" + Wide(file) + L"\" \"" + Wide(signal) + L"\" " +
                           std::to_wstring(milliseconds);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ASSERT_TRUE(
        ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &holder_))
        << "error " << ::GetLastError();
    for (int i = 0; i < 500 && !plat::FileExists(signal); ++i) ::Sleep(10);
    ASSERT_TRUE(plat::FileExists(signal)) << "the helper did not take the file";
  }
  brankel_test::CliOutput Build() {
    return brankel_test::RunCli(
        {"build", brankel_test::Narrow(Path(u"main.msd")), "-o", brankel_test::Narrow(Path(u"out\\main.exe"))});
  }

  PROCESS_INFORMATION holder_{};
  uint32_t previous_limit_ = 0;
};

TEST_F(LockedFileTest, ADestinationHeldForAMomentIsReplaced) {
  Hold(Path(u"out\\main.exe"), 500);
  const brankel_test::CliOutput run = Build();
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(brankel_test::ReadBytes(Path(u"out\\main.exe")), kPreviousExe);
}

TEST_F(LockedFileTest, ADestinationNeverLetGoOfIsNamedInUseAndKept) {
  // Read before the helper takes it: held, the file cannot be read.
  const brankel_test::FolderState before = ReadFolderState(Path(u"out"));
  Hold(Path(u"out\\main.exe"), 0);
  const auto temporary_before = TemporaryFiles(u"*");
  const brankel_test::CliOutput run = Build();
  EXPECT_EQ(run.code, 1);
  const std::string in_use =
      brankel_test::EnglishText(u"IDS_ERR_FILEINUSE", brankel_test::Narrow(Path(u"out\\main.exe")));
  EXPECT_NE(run.err.find(in_use), std::string::npos) << run.err;
  ::TerminateProcess(holder_.hProcess, 1);
  ::WaitForSingleObject(holder_.hProcess, 5000);
  EXPECT_EQ(FolderDifference(before, ReadFolderState(Path(u"out"))), "");
  EXPECT_EQ(TemporaryFiles(u"*"), temporary_before);
}

TEST_F(LockedFileTest, AReadOnlyDestinationIsRefusedAndKept) {
  // A read-only attribute on a folder does not stop files being made in it on Windows,
  // and a root user's Wine ignores the host's folder permissions: the refusal that can be
  // made for real is the read-only EXE itself.
  if (plat::testing::UnderWine()) {
    GTEST_SKIP() << "Wine replaces a read-only file on a move, as its root user's host lets it";
  }
  ASSERT_TRUE(plat::SetFileAttributes(Path(u"out\\main.exe"), plat::kAttrReadOnly));
  plat::testing::SetFileRetryLimit(200);
  const auto temporary_before = TemporaryFiles(u"*");
  const brankel_test::CliOutput run = Build();
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find(brankel_test::Narrow(Path(u"out\\main.exe"))), std::string::npos) << run.err;
  plat::SetFileAttributes(Path(u"out\\main.exe"), plat::kAttrNormal);
  EXPECT_EQ(brankel_test::ReadBytes(Path(u"out\\main.exe")), kPreviousExe);
  EXPECT_EQ(ReadFolderState(Path(u"out")).size(), 1u) << "no staging file left";
  EXPECT_EQ(TemporaryFiles(u"*"), temporary_before);
}

}  // namespace
}  // namespace packager
