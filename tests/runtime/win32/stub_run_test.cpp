// The stub of this build, made into a real EXE with a payload section, run for real: it
// starts its player in a private folder with the agreed command line, hands its exit code
// back and removes the folder; a damaged payload or a forged name runs and leaves nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "pe/pe_image.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "support/fixtures.h"
#include "support/payload_b_builder.h"
#include "support/scratch.h"

// After the platform layer, whose functions must keep their names: the system's A/W
// macros of the same names are dropped again.
#include <windows.h>
#undef DeleteFile
#undef GetTempPath

namespace runtime {
namespace {

using brankel_test::Narrow;
using brankel_test::PayloadFile;
using brankel_test::ReadBytes;

constexpr DWORD kTimeLimitMs = 60000;
constexpr char kLanguage[] = "\xEF\xBB\xBF[String]\r\nIDS_ERR_PROXY_DAMAGED=Kaputt.\r\n";

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

// The player's report: "key=value" lines in UTF-16LE.
std::map<std::string, std::u16string> ReadReport(const std::u16string& path) {
  std::map<std::string, std::u16string> items;
  const std::optional<std::string> bytes = plat::ReadWholeFile(path);
  if (!bytes) return items;
  const std::u16string text = plat::FromUtf16Le(*bytes);
  size_t start = 0;
  for (size_t end; (end = text.find(u'\n', start)) != std::u16string::npos; start = end + 1) {
    const std::u16string line = text.substr(start, end - start);
    const size_t equals = line.find(u'=');
    if (equals != std::u16string::npos) items[Narrow(line.substr(0, equals))] = line.substr(equals + 1);
  }
  return items;
}

class StubRunTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
#ifndef BRANKEL_STUB_PATH
    GTEST_SKIP() << "this build makes no stub";
#else
    if (!brankel_test::FixturesAvailable()) GTEST_SKIP() << brankel_test::kNoFixtures;
    ScratchTest::SetUp();
    std::u16string stub = plat::Utf8ToUtf16(BRANKEL_STUB_PATH);
    for (char16_t& c : stub) c = c == u'/' ? u'\\' : c;
    stub_ = stub;
    const std::optional<std::string> player = plat::ReadWholeFile(
        brankel_test::FixturePath(sizeof(void*) == 8 ? "report_player64.exe" : "report_player32.exe"));
    ASSERT_TRUE(player);
    player_ = *player;
    log_ = Path(u"log.txt");
    report_ = Path(u"report.txt");
    SetEnvironmentVariableW(L"BRANKEL_RUNTIME_LOG", Wide(log_).c_str());
    SetEnvironmentVariableW(L"BRANKEL_PLAYER_REPORT", Wide(report_).c_str());
    before_ = brankel_test::TemporaryFiles(u"~Bk*");
#endif
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"BRANKEL_RUNTIME_LOG", nullptr);
    SetEnvironmentVariableW(L"BRANKEL_PLAYER_REPORT", nullptr);
    if (!dir_.empty()) ScratchTest::TearDown();
  }

  std::vector<PayloadFile> Files() const {
    return {{packager::kFileKindFile, u"sub\\data.txt", "hello"},
            {packager::kFileKindRuntime, u"Runtime.dll", "not a library"},
            {packager::kFileKindPlayer, u"Run.exe", player_},
            {packager::kFileKindFile, u"empty.dat", ""}};
  }

  // The stub with `section` as its payload, written as Tool.exe.
  std::u16string MakeExe(const std::vector<uint8_t>& section) {
    pe::CPE_ImageEditor editor;
    EXPECT_TRUE(editor.Load(stub_)) << Narrow(stub_);
    uint8_t* data = editor.AddDataSection(static_cast<uint32_t>(section.size()));
    EXPECT_NE(data, nullptr);
    if (data != nullptr) std::memcpy(data, section.data(), section.size());
    const std::u16string exe = Path(u"Tool.exe");
    EXPECT_TRUE(editor.Write(exe));
    return exe;
  }

  // Runs `exe` with `arguments`; its exit code, or 1000 when it did not start or end.
  unsigned Run(const std::u16string& exe, const std::u16string& arguments) {
    std::wstring command = L"\"" + Wide(exe) + L"\" " + Wide(arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(Wide(exe).c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
      return 1000;
    }
    CloseHandle(process.hThread);
    DWORD code = 1000;
    if (WaitForSingleObject(process.hProcess, kTimeLimitMs) == WAIT_OBJECT_0) {
      GetExitCodeProcess(process.hProcess, &code);
    } else {
      TerminateProcess(process.hProcess, 1000);
    }
    CloseHandle(process.hProcess);
    return code;
  }

  std::u16string stub_, log_, report_;
  std::string player_;
  std::set<std::u16string> before_;
};

TEST_F(StubRunTest, PlayerRunsInItsFolderAndItsExitCodeComesBack) {
  const std::u16string exe = MakeExe(brankel_test::BuildPayloadB(Files(), kLanguage, 5).section);
  EXPECT_EQ(Run(exe, u"alpha  \"b c\""), 42u) << ReadBytes(log_);

  const std::map<std::string, std::u16string> report = ReadReport(report_);
  ASSERT_EQ(report.size(), 5u) << ReadBytes(log_);
  const std::u16string folder = report.at("cwd");
  EXPECT_TRUE(plat::EqualNoCase(folder.substr(0, plat::GetTempPath().size() + 3), plat::GetTempPath() + u"~Bk"))
      << Narrow(folder);
  EXPECT_TRUE(plat::EqualNoCase(report.at("exe"), folder + u"\\Run.exe")) << Narrow(report.at("exe"));
  EXPECT_TRUE(plat::EqualNoCase(report.at("cmd"), u"\"" + folder + u"\\Run.exe\" /mode:5 alpha  \"b c\""))
      << Narrow(report.at("cmd"));
  EXPECT_EQ(report.at("lng"), u"yes");
  EXPECT_EQ(report.at("data"), u"yes");
  EXPECT_FALSE(plat::FileExists(folder)) << Narrow(folder);
  EXPECT_EQ(brankel_test::TemporaryFiles(u"~Bk*"), before_);
  EXPECT_FALSE(plat::FileExists(log_)) << ReadBytes(log_);
}

TEST_F(StubRunTest, DamagedPayloadsRunNothing) {
  brankel_test::BuiltPayloadB built = brankel_test::BuildPayloadB(Files(), kLanguage);
  built.section[built.offsets[2] + packager::kFileRecordHeadSize + 100] ^= 0x01;
  EXPECT_EQ(Run(MakeExe(built.section), u""), 2u);
  EXPECT_EQ(ReadBytes(log_),
            "[IDS_ERR_PROXY_DAMAGED] Kaputt.  record 2 \"Run.exe\": its data does not match its MD5 digest\n");

  // The stub as it is built, with no payload at all.
  plat::DeleteFile(log_);
  EXPECT_EQ(Run(stub_, u""), 2u);
  EXPECT_NE(ReadBytes(log_).find("no payload section"), std::string::npos) << ReadBytes(log_);
  EXPECT_FALSE(plat::FileExists(report_));
  EXPECT_EQ(brankel_test::TemporaryFiles(u"~Bk*"), before_);
}

TEST_F(StubRunTest, ForgedNameWritesNothingOutside) {
  std::vector<PayloadFile> files = Files();
  files[0].name = u"..\\evil.txt";
  EXPECT_EQ(Run(MakeExe(brankel_test::BuildPayloadB(files, kLanguage).section), u""), 3u);
  EXPECT_NE(ReadBytes(log_).find("[IDS_ERR_PROXY_UNPACK] "), std::string::npos) << ReadBytes(log_);
  EXPECT_NE(ReadBytes(log_).find("record 0 \"..\\evil.txt\""), std::string::npos) << ReadBytes(log_);
  EXPECT_FALSE(plat::FileExists(plat::GetTempPath() + u"evil.txt"));
  EXPECT_FALSE(plat::FileExists(report_));
  EXPECT_EQ(brankel_test::TemporaryFiles(u"~Bk*"), before_);
}

}  // namespace
}  // namespace runtime
