// The crash handler in a real failing program under Windows: the log it writes and the
// command line it starts the crash report program with, and nothing at all without that
// program beside it.
#include <windows.h>
// windows.h first: gtest and the platform layer come after it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

// The plat:: functions of these names, not the W API's macros.
#undef CopyFile
#undef CreateDirectory

#include "pe/win32/run_program.h"
#include "platform/byte_view.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "support/crash_log.h"
#include "support/scratch.h"

namespace support {
namespace {

using brankel_test::Narrow;

class CrashHandlerRun : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    // A temporary folder of the test's own, inherited by the programs it starts.
    for (const char* name : {"TMP", "TEMP"}) {
      const char* old = std::getenv(name);
      saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    }
    temp_ = Path(u"temp");
    ASSERT_TRUE(plat::CreateDirectory(temp_));
    brankel_test::SetVariable("TMP", Narrow(temp_).c_str());
    brankel_test::SetVariable("TEMP", Narrow(temp_).c_str());
    const std::u16string programs = plat::PathFromHost(BRANKEL_CRASH_PROGRAMS) + u"\\";
    victim_ = Path(u"crash_victim.exe");
    ASSERT_TRUE(plat::CopyFile(programs + u"crash_victim.exe", victim_, false));
    standin_ = programs + u"crash_report_standin.exe";
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) brankel_test::SetVariable(name, value ? value->c_str() : nullptr);
    ScratchTest::TearDown();
  }

  std::u16string ExpectedLog() const { return CrashLogPath(temp_ + u"\\", u"crash_victim.exe"); }

  // The stand-in's record of its command line, waited for: the program starts it and ends.
  std::optional<std::string> RecordedCommandLine() const {
    for (int waited = 0; waited < 30000; waited += 100) {
      if (std::optional<std::string> line = plat::ReadWholeFile(Path(u"crashvale_command.txt"))) return line;
      plat::Sleep(100);
    }
    return std::nullopt;
  }

  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
  std::u16string temp_;
  std::u16string victim_;
  std::u16string standin_;
};

TEST_F(CrashHandlerRun, WritesTheLogAndStartsTheReportProgram) {
  ASSERT_TRUE(plat::CopyFile(standin_, Path(u"Crashvale.exe"), false));
  std::string output;
  unsigned exit_code = 0;
  ASSERT_TRUE(brankel_test::RunProgram(victim_, &output, &exit_code)) << output;
  EXPECT_NE(output.find("installed=1"), std::string::npos) << output;
  EXPECT_EQ(output.find("still running"), std::string::npos) << output;

  const std::optional<std::string> command = RecordedCommandLine();
  ASSERT_TRUE(command.has_value()) << "the crash report program was not started";
  EXPECT_NE(command->find("\"" + Narrow(ExpectedLog()) + "\" resfile:Player_%s.lng"), std::string::npos) << *command;

  const std::optional<std::string> bytes = plat::ReadWholeFile(ExpectedLog());
  ASSERT_TRUE(bytes.has_value()) << "no log at " << Narrow(ExpectedLog());
  // UTF-16LE without a byte-order mark.
  ASSERT_GE(bytes->size(), 2u);
  EXPECT_EQ(plat::ByteView(*bytes).U16Or(0, 0), u'=');
  const LogText log = DecodeCrashLog(plat::ByteView(*bytes));
  ASSERT_EQ(log.state, LogState::kText);
  const std::string text = Narrow(log.text);
  for (const char* piece :
       {"=====================================================\r\nLogged:  ", "\r\nOS(x64):  ",
        "\r\nException code: C0000005 ACCESS_VIOLATION\r\nFault address:  ", "crash_victim.exe (",
        "\r\nCall stack:\r\nAddress\tOffset\tModule\tBaseAddress\r\n", "\r\nRegisters:\r\nRAX:", "\r\nCS:RIP:"}) {
    EXPECT_NE(text.find(piece), std::string::npos) << "\"" << piece << "\" is not in the log:\n" << text;
  }
  // The fault lies in the victim's code section, and the walk reaches past the failing
  // function into its callers in the same module.
  const size_t stack = text.find("Call stack:");
  ASSERT_NE(stack, std::string::npos);
  size_t frames_in_victim = 0;
  for (size_t at = text.find("crash_victim.exe (", stack); at != std::string::npos;
       at = text.find("crash_victim.exe (", at + 1)) {
    ++frames_in_victim;
  }
  EXPECT_GE(frames_in_victim, 3u) << text;
  EXPECT_EQ(text.find(" 00:"), std::string::npos) << "the fault is in no section:\n" << text;
}

TEST_F(CrashHandlerRun, WithoutTheReportProgramNothingIsInstalled) {
  // Wine's own handling starts its debugger, whose window would wait for an answer: it
  // only writes its report when told so.
  const DWORD no_dialog = 0;
  ::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\WineDbg", L"ShowCrashDialog", REG_DWORD, &no_dialog,
                    sizeof(no_dialog));
  std::string output;
  unsigned exit_code = 0;
  ASSERT_TRUE(brankel_test::RunProgram(victim_, &output, &exit_code)) << output;
  EXPECT_NE(output.find("installed=0"), std::string::npos) << output;
  EXPECT_EQ(exit_code, 0xC0000005u);
  EXPECT_FALSE(plat::FileExists(ExpectedLog()));
  EXPECT_FALSE(plat::FileExists(Path(u"crashvale_command.txt")));
}

}  // namespace
}  // namespace support
