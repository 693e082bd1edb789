// The built player runs for real: a copy with a payload A section, started in a folder as
// the stub starts it, writes the trace of its dry run and logs its messages; a copy whose
// document module import was removed starts without that library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pe/pe_image.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/options.h"
#include "support/payload_a.h"
#include "support/scratch.h"
#include "support/script_builder.h"

// After the platform layer, whose names the system's wide-character macros would rename.
#include <windows.h>
#undef CopyFile
#undef CreateDirectory
#undef DeleteFile

namespace runtime {
namespace {

using brankel_test::MacroBuilder;
using brankel_test::Narrow;
using brankel_test::TextAt;

constexpr const char16_t* kModules[] = {u"Docvale.dll",    u"Datavale.dll", u"Dialvale.dll",     u"Helpvale.dll",
                                        u"vcomp140.dll",   u"Keyvale.dll",  u"Keyvale64.dll",    u"Mailvale.dll",
                                        u"unzip32.dll",    u"zip32.dll",    u"Xfervale.dll",     u"Visvale.dll",
                                        u"libocrtess.dll", u"Ocrvale.dll",  u"libpaddleocr.dll", u"PandrelIo.sys"};

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// Starts `exe` in `folder` with `arguments`, BRANKEL_RUNTIME_LOG set to `log`; its exit
// code, or -1 when it did not start or end within 30 seconds.
long RunIn(const std::u16string& exe, const std::u16string& folder, const std::u16string& arguments,
           const std::u16string& log) {
  std::u16string command = u"\"" + exe + u"\" " + arguments;
  std::vector<wchar_t> line(command.begin(), command.end());
  line.push_back(0);
  // An empty `log` runs the program as a user would: windows shown, no log.
  if (!log.empty()) SetEnvironmentVariableW(L"BRANKEL_RUNTIME_LOG", Wide(log));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const BOOL started =
      CreateProcessW(Wide(exe), line.data(), nullptr, nullptr, FALSE, 0, nullptr, Wide(folder), &startup, &process);
  SetEnvironmentVariableW(L"BRANKEL_RUNTIME_LOG", nullptr);
  if (!started) return -1;
  long code = -1;
  if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) {
    DWORD exit_code = 0;
    if (GetExitCodeProcess(process.hProcess, &exit_code)) code = static_cast<long>(exit_code);
  } else {
    TerminateProcess(process.hProcess, 99);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

class PlayerRunTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    const std::u16string built = plat::PathFromHost(BRANKEL_PLAYER_DIR);
    player_ = built + u"\\Runvale.exe";
    ASSERT_TRUE(plat::FileExists(player_)) << Narrow(player_);
    for (const char16_t* module : kModules) {
      ASSERT_TRUE(plat::CopyFile(built + u"\\" + module, Path(module), false)) << Narrow(module);
    }
    ASSERT_TRUE(plat::CreateDirectory(Path(u"data")));
    ASSERT_TRUE(brankel_test::WriteBytes(Path(u"data\\pic.bmp"), "x"));
  }

  // The player copy with a payload of `main` (the script) and `sub`, written as `name`.
  void MakeCopy(const std::u16string& name, const std::string& main, bool without_documents,
                const project::MakeExeOptions& options = {}) {
    const std::vector<uint8_t> payload =
        brankel_test::PayloadASection({{packager::kEntryMacroFile, u"main.msd", main},
                                       {packager::kEntryMacroFile, u"sub.msd", MacroBuilder().Command(0x0101).Bytes()}},
                                      4, u"main.msd", options);
    ASSERT_FALSE(payload.empty());
    pe::CPE_ImageEditor image;
    ASSERT_TRUE(image.Load(player_));
    if (without_documents) {
      ASSERT_TRUE(image.RemoveImport("Docvale.dll"));
    }
    uint8_t* section = image.AddDataSection(static_cast<uint32_t>(payload.size()));
    ASSERT_NE(section, nullptr);
    std::copy(payload.begin(), payload.end(), section);
    ASSERT_TRUE(image.Write(Path(name)));
  }

  std::u16string player_;
};

TEST_F(PlayerRunTest, TheCopyTracesItsWalkAndLogsWhatDidNotResolve) {
  const std::string resolved = MacroBuilder()
                                   .Command(0x2301, 1)
                                   .Param(1, TextAt(0, u"data\\pic.bmp"))
                                   .Command(brankel_test::kCallMacro, 2)
                                   .Param(2, brankel_test::CallPayload(brankel_test::kCallMacro, 1, u"sub.msd"))
                                   .Command(0x4307)
                                   .Bytes();
  const std::string unresolved = MacroBuilder().Command(0x2301, 1).Param(1, TextAt(0, u"C:\\Build\\x.bmp")).Bytes();
  const std::string documents = MacroBuilder().Command(0x4201, 1).Param(1, TextAt(0x44, u"data\\pic.bmp")).Bytes();
  const std::string pic = Narrow(Path(u"data\\pic.bmp"));
  const std::string kNoLog = "<missing>";  // no message, so no log file
  struct Case {
    const char* what;
    std::string script;
    bool without_documents;
    long exit_code;
    std::string trace;
    std::string log;
  };
  const Case cases[] = {
      {"all resolved", resolved, false, 0,
       "main.msd\t1\t2301\tfile " + pic +
           "\nmain.msd\t2\t6105\tcall sub.msd\nsub.msd\t1\t0101\t\n"
           "main.msd\t3\t4307\t\n# module zip32.dll ready zip32\n",
       kNoLog},
      {"absolute build path", unresolved, false, 1, "main.msd\t1\t2301\tunresolved C:\\Build\\x.bmp\n",
       "The macros name something this computer does not have: main.msd line 1: C:\\Build\\x.bmp\n"},
      {"document module removed, no document command", resolved, true, 0,
       "main.msd\t1\t2301\tfile " + pic +
           "\nmain.msd\t2\t6105\tcall sub.msd\nsub.msd\t1\t0101\t\n"
           "main.msd\t3\t4307\t\n# module zip32.dll ready zip32\n",
       kNoLog},
      {"document module removed, document command played", documents, true, 0,
       "main.msd\t1\t4201\tfile " + pic + "; module Docvale.dll not loaded\n", kNoLog},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::u16string suffix = plat::AsciiToUtf16(std::to_string(++n));
    const std::u16string copy = u"Played" + suffix + u".exe";
    MakeCopy(copy, c.script, c.without_documents);
    // Without its import, the document module is not needed next to the copy.
    if (c.without_documents) plat::DeleteFile(Path(u"Docvale.dll"));
    const std::u16string trace = Path(u"trace" + suffix + u".txt");
    const std::u16string log = Path(u"log" + suffix + u".txt");
    EXPECT_EQ(RunIn(Path(copy), dir_, u"/mode:0 --trace \"" + trace + u"\"", log), c.exit_code) << c.what;
    EXPECT_EQ(brankel_test::ReadBytes(trace), c.trace) << c.what;
    EXPECT_EQ(brankel_test::ReadBytes(log), c.log) << c.what;
  }
}

TEST_F(PlayerRunTest, APlayerWithoutPayloadRefusesToPlay) {
  ASSERT_TRUE(plat::CopyFile(player_, Path(u"Runvale.exe"), false));
  const std::u16string log = Path(u"log.txt");
  EXPECT_EQ(RunIn(Path(u"Runvale.exe"), dir_, u"", log), 2);
  EXPECT_EQ(brankel_test::ReadBytes(log), "The program holds no macro to play.\n");
}

TEST_F(PlayerRunTest, TheStartUpWindowShowsForAboutTwoSecondsUnlessMessagesAreLogged) {
  project::MakeExeOptions options{};
  options.ShowStartup = 1;
  plat::SetFixedText(options.AuthorTips, 260, u"Tips");
  MakeCopy(u"Played.exe", MacroBuilder().Command(0x0101).Bytes(), false, options);
  auto run = [&](bool logged) {
    const DWORD start = GetTickCount();
    EXPECT_EQ(RunIn(Path(u"Played.exe"), dir_, u"", logged ? Path(u"log.txt") : u""), 0) << logged;
    return GetTickCount() - start;
  };
  // A player that cannot open a window (Wine's desktop may still be starting when the
  // first program of a session asks) plays without it, so one more run may show it.
  DWORD shown = run(false);
  if (shown < 1900u) shown = run(false);
  EXPECT_GE(shown, 1900u);
  EXPECT_LT(run(true), 1500u);
}

}  // namespace
}  // namespace runtime
