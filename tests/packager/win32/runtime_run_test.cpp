// The stand-in player and stub run for real: as installed, and the player as a build of
// a script without document, mail, archive, transfer, image or OCR commands leaves it,
// with those imports removed and a payload section added. A Windows build's stand-ins
// have its word size, so this program can start them.
#include <gtest/gtest.h>

#include <string>

#include "packager/runtime_files.h"
#include "pe/pe_image.h"
#include "pe/win32/run_program.h"
#include "platform/platform.h"
#include "support/scratch.h"

namespace packager {
namespace {

using brankel_test::Narrow;

std::u16string Installed(std::u16string_view name) {
  return plat::PathFromHost(BRANKEL_INSTALL_DIR) + u"\\" + std::u16string(name);
}

// The one line a program printed, without its line end.
std::string OnlyLine(std::string output) {
  if (output.empty() || output.back() != '\n') return "<unterminated: " + output + ">";
  output.pop_back();
  if (!output.empty() && output.back() == '\r') output.pop_back();
  if (output.find('\n') != std::string::npos) return "<several lines: " + output + ">";
  return output;
}

class RuntimeRunTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
#ifndef BRANKEL_RUNTIME
    GTEST_SKIP() << "no stand-in runtime in this build";
#endif
    ScratchTest::SetUp();
  }
  void TearDown() override {
    if (!dir_.empty()) ScratchTest::TearDown();
  }
};

TEST_F(RuntimeRunTest, InstalledPlayerAndStubPrintTheirLines) {
  struct Case {
    const char16_t* program;
    const char* line;
  };
  for (const Case c : {Case{u"Runvale.exe", "stand-in player"}, Case{u"sysdata\\Stubvale.dat", "stand-in stub"}}) {
    SCOPED_TRACE(Narrow(c.program));
    std::string output;
    unsigned exit_code = 99;
    ASSERT_TRUE(brankel_test::RunProgram(Installed(c.program), &output, &exit_code));
    EXPECT_EQ(OnlyLine(output), c.line);
    EXPECT_EQ(exit_code, 0u);
  }
}

TEST_F(RuntimeRunTest, TrimmedPlayerWithPayloadRunsBesideTheModulesItStillImports) {
  pe::CPE_ImageEditor player;
  ASSERT_TRUE(player.Load(Installed(u"Runvale.exe")));
  const size_t before = player.Imports().names.size();
  size_t removed = 0;
  for (const InstalledRuntimeFile& file : kInstalledRuntimeFiles) {
    if (!file.imported || file.always_needed) continue;
    ASSERT_TRUE(player.RemoveImport(Narrow(file.name))) << Narrow(file.name);
    ++removed;
  }
  ASSERT_EQ(removed, 11u);
  ASSERT_EQ(player.Imports().names.size(), before - removed);
  uint8_t* payload = player.AddDataSection(16);
  ASSERT_NE(payload, nullptr);
  payload[0] = 'M';
  payload[1] = 'A';
  ASSERT_TRUE(player.Write(Path(u"Runvale.exe")));
  // The stub unpacks the shipped modules beside the player; the removed ones stay behind.
  for (const InstalledRuntimeFile& file : kInstalledRuntimeFiles) {
    if (file.imported && file.always_needed) {
      ASSERT_TRUE(plat::CopyFile(Installed(file.name), Path(file.name), false)) << Narrow(file.name);
    }
  }

  std::string output;
  unsigned exit_code = 99;
  ASSERT_TRUE(brankel_test::RunProgram(Path(u"Runvale.exe"), &output, &exit_code));
  EXPECT_EQ(OnlyLine(output), "stand-in player .mdata 4D410000");
  EXPECT_EQ(exit_code, 0u);
}

}  // namespace
}  // namespace packager
