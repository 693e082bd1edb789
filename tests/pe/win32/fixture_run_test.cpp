// The fixture program run for real: what it prints and returns, as built and after the
// editor has written a copy with a payload section, the way the builder ships programs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pe/pe_image.h"
#include "pe/win32/run_program.h"
#include "support/fixtures.h"
#include "support/pe_builder.h"
#include "support/scratch.h"

namespace brankel_test {
namespace {

// The fixture this test program can start itself: the one of its own word size.
const char* OwnFixture() { return sizeof(void*) == 8 ? "fixture64.exe" : "fixture32.exe"; }
const char* OwnLine() { return sizeof(void*) == 8 ? "brankel fixture 64-bit" : "brankel fixture 32-bit"; }

// The single line the program printed, without its line end (CR LF from a text-mode
// stream); "<n lines>" when there is not exactly one.
std::string OnlyLine(std::string output) {
  if (output.empty() || output.back() != '\n') return "<unterminated: " + output + ">";
  output.pop_back();
  if (!output.empty() && output.back() == '\r') output.pop_back();
  if (output.find('\n') != std::string::npos) return "<several lines: " + output + ">";
  return output;
}

class FixtureRunTest : public ScratchTest {
 protected:
  void SetUp() override {
    if (!FixturesAvailable()) GTEST_SKIP() << kNoFixtures;
    ScratchTest::SetUp();
  }
  void TearDown() override {
    if (!dir_.empty()) ScratchTest::TearDown();
  }
};

TEST_F(FixtureRunTest, ProgramPrintsItsLineAndSucceeds) {
  std::string output;
  unsigned exit_code = 99;
  ASSERT_TRUE(RunProgram(FixturePath(OwnFixture()), &output, &exit_code)) << OwnFixture();
  EXPECT_EQ(OnlyLine(output), OwnLine());
  EXPECT_EQ(exit_code, 0u);
}

TEST_F(FixtureRunTest, EditedCopyStillRuns) {
  pe::CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Load(FixturePath(OwnFixture())));
  const int sections = editor.SectionCount();
  uint8_t* block = editor.AddDataSection(0x2345);
  ASSERT_NE(block, nullptr);
  for (uint32_t i = 0; i < 0x2345; ++i) block[i] = static_cast<uint8_t>(i * 7 + 1);
  const std::u16string copy = Path(u"edited.exe");
  ASSERT_TRUE(editor.Write(copy));

  pe::CPE_ImageEditor reread;
  ASSERT_TRUE(reread.Load(copy));
  ASSERT_EQ(reread.SectionCount(), sections + 1);
  std::string output;
  unsigned exit_code = 99;
  ASSERT_TRUE(RunProgram(copy, &output, &exit_code));
  EXPECT_EQ(OnlyLine(output), OwnLine());
  EXPECT_EQ(exit_code, 0u);
}

// A debug build (symbol tables after the sections, long section names) and a copy whose
// sections lie in the file in reverse order: edited, both still start.
TEST_F(FixtureRunTest, EditedUnstrippedAndReorderedCopiesStillRun) {
  const char* unstripped = sizeof(void*) == 8 ? "unstripped64.exe" : "unstripped32.exe";
  if (!UnstrippedFixturesAvailable()) GTEST_SKIP() << "no unstripped fixture programs in this build";
  struct Case {
    const char* program;
    bool reversed;
  };
  for (const Case c : {Case{unstripped, false}, Case{OwnFixture(), true}, Case{unstripped, true}}) {
    SCOPED_TRACE(std::string(c.program) + (c.reversed ? ", data in reverse order" : ""));
    std::vector<uint8_t> image = ReadFileBytes(FixturePath(c.program));
    ASSERT_FALSE(image.empty());
    if (c.reversed) image = ReverseFileOrder(image);
    pe::CPE_ImageEditor editor;
    ASSERT_TRUE(editor.Parse(std::move(image)));
    uint8_t* block = editor.AddDataSection(0x3000);
    ASSERT_NE(block, nullptr) << "sections: " << editor.SectionCount();
    for (uint32_t i = 0; i < 0x3000; ++i) block[i] = static_cast<uint8_t>(i * 5 + 3);
    const std::u16string copy = Path(u"edited.exe");
    ASSERT_TRUE(editor.Write(copy));
    std::string output;
    unsigned exit_code = 99;
    ASSERT_TRUE(RunProgram(copy, &output, &exit_code));
    EXPECT_EQ(OnlyLine(output), OwnLine());
    EXPECT_EQ(exit_code, 0u);
  }
}

TEST_F(FixtureRunTest, MissingProgramIsReported) {
  std::string output = "left over";
  unsigned exit_code = 99;
  EXPECT_FALSE(RunProgram(Path(u"absent.exe"), &output, &exit_code));
  EXPECT_TRUE(output.empty());
  EXPECT_EQ(exit_code, 99u) << "untouched when nothing ran";
}

}  // namespace
}  // namespace brankel_test
