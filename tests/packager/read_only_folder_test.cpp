// A folder the user cannot write to, for real: the test command mounts a folder read-only
// and names it in BRANKEL_READONLY_FOLDER (as a Windows path), with the writable folder
// it shows in BRANKEL_READONLY_SOURCE. Every write the tool would make there is refused by
// the system, not by a switch of the tests; each refusal must name the user's file and
// leave that folder and the temporary folder as they were.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/project_file.h"
#include "support/fault_sweep.h"
#include "support/legacy_builder.h"
#include "support/macro_builder.h"
#include "support/run_cli.h"
#include "support/scratch.h"

namespace packager {
namespace {

using brankel_test::Narrow;

std::u16string FolderFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? plat::Utf8ToUtf16(value) : std::u16string();
}

class ReadOnlyFolderTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    read_only_ = FolderFromEnvironment("BRANKEL_READONLY_FOLDER");
    source_ = FolderFromEnvironment("BRANKEL_READONLY_SOURCE");
    if (read_only_.empty() || source_.empty()) GTEST_SKIP() << "no read-only folder was mounted for the tests";
    ASSERT_TRUE(plat::IsDirectory(read_only_)) << Narrow(read_only_);
  }
  // Puts `bytes` into the read-only folder through its writable source.
  void Place(std::u16string_view name, const std::string& bytes) {
    ASSERT_TRUE(brankel_test::WriteBytes(source_ + u"\\" + std::u16string(name), bytes));
  }
  std::u16string ReadOnly(std::u16string_view name) const { return read_only_ + u"\\" + std::u16string(name); }

  std::u16string read_only_, source_;
};

TEST_F(ReadOnlyFolderTest, EveryRefusedWriteNamesTheFileAndLeavesTheFolder) {
  const std::string script = brankel_test::MacroBuilder().Bytes();
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"main.msd"), script));
  Place(u"main.msd", script);
  Place(u"main.exe", "the EXE an earlier build made");
  brankel_test::LegacyMacro legacy;
  legacy.name = "old";
  const std::vector<uint8_t> legacy_bytes = brankel_test::BuildLegacyMacro(legacy);
  Place(u"old.msd", std::string(legacy_bytes.begin(), legacy_bytes.end()));

  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::u16string named;  // the user's file the message must name
  };
  const Case cases[] = {
      {"an EXE into the folder",
       {"build", Narrow(Path(u"main.msd")), "-o", Narrow(ReadOnly(u"main.exe"))},
       ReadOnly(u"main.exe")},
      {"the project file beside a script in the folder",
       {"build", Narrow(ReadOnly(u"main.msd")), "-o", Narrow(Path(u"out.exe")), "--save-project"},
       project::ProjectFilePath(ReadOnly(u"main.msd")).value_or(u"?")},
      {"the upgrade of an old macro file in the folder",
       {"macro", "upgrade", Narrow(ReadOnly(u"old.msd"))},
       ReadOnly(u"old.msd")},
  };
  for (const Case& c : cases) {
    const brankel_test::FolderState before = brankel_test::ReadFolderState(read_only_);
    const auto temporary_before = brankel_test::TemporaryFiles(u"*");
    const brankel_test::CliOutput run = brankel_test::RunCli(c.args);
    EXPECT_NE(run.code, 0) << c.what << ": " << run.out;
    EXPECT_NE(run.err.find(Narrow(c.named)), std::string::npos) << c.what << ": " << run.err;
    EXPECT_EQ(brankel_test::FolderDifference(before, brankel_test::ReadFolderState(read_only_)), "") << c.what;
    EXPECT_EQ(brankel_test::TemporaryFiles(u"*"), temporary_before) << c.what;
  }
}

}  // namespace
}  // namespace packager
