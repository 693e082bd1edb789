// RunProgram with the real process calls: each argument arrives as it was given, whatever
// it holds; the input reaches the program; output and error come back in one stream with
// the exit code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/unicode.h"

namespace {

std::u16string EchoProgram() {
  std::u16string program = plat::Utf8ToUtf16(BRANKEL_ECHO_PROGRAM);
  for (char16_t& c : program) c = c == u'/' ? u'\\' : c;
  return program;
}

TEST(RunProgramWin32, ArgumentsInputOutputAndExitCode) {
  const std::vector<std::u16string> arguments = {
      u"7",      u"plain",          u"two words",       u"",          u"say \"hi\"",
      u"ends\\", u"C:\\a folder\\", u"back\\\\\"slash", u"tab\there", u"\u00e9t\u00e9 \u65e5\u672c"};
  plat::ProgramRun run;
  ASSERT_TRUE(plat::RunProgram(EchoProgram(), arguments, "line one\nline two\n", &run)) << plat::GetLastError();
  EXPECT_EQ(run.exit_code, 7u);
  std::string expected;
  for (size_t i = 1; i < arguments.size(); ++i)
    expected.append("[").append(plat::Utf16ToUtf8(arguments[i])).append("]\n");
  expected += "err\nline one\nline two\n";
  EXPECT_EQ(run.output, expected);
}

TEST(RunProgramWin32, RefusesWhatItCannotRun) {
  plat::ProgramRun run;
  EXPECT_FALSE(plat::RunProgram(u"C:\\no-such-folder\\no-such-program.exe", {}, {}, &run));
  EXPECT_TRUE(plat::GetLastError() == plat::err::kFileNotFound || plat::GetLastError() == plat::err::kPathNotFound)
      << plat::GetLastError();
  // More input than the pipe is made to hold whole.
  EXPECT_FALSE(plat::RunProgram(EchoProgram(), {u"0"}, std::string((1u << 20) + 1, 'x'), &run));
  EXPECT_EQ(plat::GetLastError(), plat::err::kInvalidParameter);
  // A large input that fits arrives whole.
  const std::string big((1u << 20), 'y');
  ASSERT_TRUE(plat::RunProgram(EchoProgram(), {u"0"}, big, &run));
  EXPECT_EQ(run.output, "err\n" + big);
}

}  // namespace
