// A script built with `brankel build --machine x64` runs for real: the stub verifies and
// unpacks the EXE into a private folder, the player plays every command of the script, of
// the macro it calls and of the macro embedded in its attachments, and every file they
// name is found inside that folder, not where the build found it. Then the folder is gone.
// The player copy loads only beside the modules its commands need.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "packager/payload.h"
#include "pe/pe_image.h"
#include "pe/win32/run_program.h"
#include "platform/platform.h"
#include "support/macro_builder.h"
#include "support/run_cli.h"
#include "support/scratch.h"
#include "support/script_builder.h"

#include <windows.h>
#undef CreateDirectory
#undef DeleteFile

namespace packager {
namespace {

using brankel_test::MacroBuilder;
using brankel_test::Narrow;

constexpr uint16_t kOpenFile = 0x230A;      // names one file, its text at payload offset 0
constexpr uint16_t kOpenDocument = 0x4201;  // a document command, its file at payload offset 0x44
constexpr unsigned kDllNotFound = 0xC0000135;

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

class BuildRunTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
#ifndef BRANKEL_RUNTIME
    GTEST_SKIP() << "no runtime in this build's installation";
#endif
    ScratchTest::SetUp();
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"BRANKEL_TRACE", nullptr);
    SetEnvironmentVariableW(L"BRANKEL_RUNTIME_LOG", nullptr);
    if (!dir_.empty()) ScratchTest::TearDown();
  }

  void Write(std::u16string_view name, const std::string& bytes) {
    ASSERT_TRUE(brankel_test::WriteBytes(Path(name), bytes)) << Narrow(name);
  }

  // Builds `script` (in the scratch folder) with the 64-bit runtime into `exe`.
  void Build(std::u16string_view script, std::u16string_view exe) {
    const brankel_test::CliOutput run =
        brankel_test::RunCli({"build", Narrow(Path(script)), "-o", Narrow(Path(exe)), "--machine", "x64"});
    ASSERT_EQ(run.code, 0) << run.err << run.out;
  }

  // The records of payload B of `exe`, written under their target names into `folder`,
  // as the stub writes them; the player copy's name comes back.
  std::u16string UnpackByHand(std::u16string_view exe, const std::u16string& folder) {
    pe::CPE_ImageEditor image;
    EXPECT_TRUE(image.Load(Path(exe))) << image.RefusalText();
    std::string refusal;
    const std::optional<plat::ByteView> section = PayloadSection(image);
    if (!section) return {};
    const std::optional<PayloadB> payload = ReadPayloadB(*section, &refusal);
    EXPECT_TRUE(payload) << refusal;
    if (!payload) return {};
    EXPECT_TRUE(plat::CreateDirectory(folder));
    std::u16string player;
    for (const PayloadBRecord& record : payload->records) {
      const std::u16string& name = record.target_name;
      for (size_t slash = name.find(u'\\'); slash != std::u16string::npos; slash = name.find(u'\\', slash + 1)) {
        plat::CreateDirectory(folder + u"\\" + name.substr(0, slash));
      }
      const std::string bytes(reinterpret_cast<const char*>(record.data.data()), record.data.size());
      EXPECT_TRUE(brankel_test::WriteBytes(folder + u"\\" + name, bytes)) << Narrow(name);
      if (record.kind == kFileKindPlayer) player = name;
    }
    return player;
  }
};

TEST_F(BuildRunTest, TheExeUnpacksPlaysEveryMacroAndFindsEveryFileInItsOwnFolder) {
  for (const char16_t* folder : {u"script", u"script\\sub", u"script\\pics", u"out"}) {
    ASSERT_TRUE(plat::CreateDirectory(Path(folder)));
  }
  Write(u"script\\notes.txt", "notes");
  Write(u"script\\pics\\a.bmp", "BM");
  MacroBuilder second;
  second.Command(kOpenFile, 40).ParamText(40, Path(u"script\\pics\\a.bmp"));
  Write(u"script\\sub\\second.msd", second.Bytes());
  // The embedded macro is packed as its host carries it, so it names its file as the
  // unpacked EXE finds it: beside the player.
  MacroBuilder embedded;
  embedded.Command(kOpenFile, 41).ParamText(41, u"notes.txt");
  MacroBuilder main =
      brankel_test::Calls({{brankel_test::kCallMacro, brankel_test::kByPath, Path(u"script\\sub\\second.msd")},
                           {brankel_test::kCallMacro, brankel_test::kByPath, u"IN:emb.msd"}});
  main.Command(kOpenFile, 40).ParamText(40, Path(u"script\\notes.txt")).Attach(u"emb.msd", u".msd", embedded.Bytes());
  Write(u"script\\main.msd", main.Bytes());
  ASSERT_NO_FATAL_FAILURE(Build(u"script\\main.msd", u"out\\main.exe"));

  const std::set<std::u16string> folders_before = brankel_test::TemporaryFiles(u"~Bk*");
  SetEnvironmentVariableW(L"BRANKEL_TRACE", Wide(Path(u"trace.txt")));
  SetEnvironmentVariableW(L"BRANKEL_RUNTIME_LOG", Wide(Path(u"log.txt")));
  std::string output;
  unsigned exit_code = 99;
  ASSERT_TRUE(brankel_test::RunProgram(Path(u"out\\main.exe"), &output, &exit_code));
  EXPECT_EQ(exit_code, 0u) << brankel_test::ReadBytes(Path(u"log.txt"));

  const std::vector<std::string> trace = Lines(brankel_test::ReadBytes(Path(u"trace.txt")));
  std::vector<std::string> played;  // macro, line and code of each traced command
  std::string unpack_folder;
  for (const std::string& line : trace) {
    if (line.starts_with("#")) continue;
    const size_t last_tab = line.rfind('\t');
    ASSERT_NE(last_tab, std::string::npos) << line;
    played.push_back(line.substr(0, last_tab));
    const std::string result = line.substr(last_tab + 1);
    EXPECT_EQ(result.find("unresolved"), std::string::npos) << line;
    if (!result.starts_with("file ")) continue;
    const std::string path = result.substr(5);
    // Found in the unpack folder: a folder of its own in the temporary folder, and never
    // the scratch folder the build read the files from.
    EXPECT_EQ(path.find(Narrow(dir_)), std::string::npos) << line;
    const size_t folder_end = path.find('\\', path.find("~Bk"));
    ASSERT_NE(folder_end, std::string::npos) << line;
    if (unpack_folder.empty()) unpack_folder = path.substr(0, folder_end);
    EXPECT_EQ(path.substr(0, folder_end), unpack_folder) << line;
  }
  EXPECT_EQ(played, (std::vector<std::string>{"main.msd\t1\t6105", "sub\\second.msd\t1\t230A", "main.msd\t2\t6105",
                                              "main.msd IN:emb.msd\t1\t230A", "main.msd\t3\t230A"}))
      << brankel_test::ReadBytes(Path(u"trace.txt"));
  EXPECT_FALSE(unpack_folder.empty());
  EXPECT_EQ(brankel_test::TemporaryFiles(u"~Bk*"), folders_before);
}

// The build removes the imports of modules no command needs, so the copy of a script
// without document commands starts where Docvale.dll is missing; with a document command
// the import stays and the loader wants the library.
TEST_F(BuildRunTest, ThePlayerCopyLoadsOnlyWithTheModulesItsCommandsNeed) {
  ASSERT_TRUE(plat::CreateDirectory(Path(u"out")));
  Write(u"notes.txt", "notes");
  MacroBuilder plain;
  plain.Command(kOpenFile, 40).ParamText(40, Path(u"notes.txt"));
  Write(u"plain.msd", plain.Bytes());
  MacroBuilder document;
  document.Command(kOpenDocument, 40).Param(40, brankel_test::TextAt(0x44, Path(u"notes.txt")));
  Write(u"document.msd", document.Bytes());
  SetEnvironmentVariableW(L"BRANKEL_RUNTIME_LOG", Wide(Path(u"log.txt")));

  struct Case {
    const char16_t* script;
    bool needs_document_module;
  };
  for (const Case c : {Case{u"plain", false}, Case{u"document", true}}) {
    SCOPED_TRACE(Narrow(c.script));
    const std::u16string name(c.script);
    ASSERT_NO_FATAL_FAILURE(Build(name + u".msd", u"out\\" + name + u".exe"));
    const std::u16string folder = Path(u"unpacked-" + name);
    const std::u16string player = UnpackByHand(u"out\\" + name + u".exe", folder);
    ASSERT_FALSE(player.empty());
    EXPECT_EQ(plat::FileExists(folder + u"\\Docvale.dll"), c.needs_document_module);

    std::string output;
    unsigned exit_code = 99;
    if (c.needs_document_module) {
      ASSERT_TRUE(brankel_test::RunProgram(folder + u"\\" + player, &output, &exit_code));
      EXPECT_NE(exit_code, kDllNotFound);
      ASSERT_TRUE(plat::DeleteFile(folder + u"\\Docvale.dll"));
      ASSERT_TRUE(brankel_test::RunProgram(folder + u"\\" + player, &output, &exit_code));
      EXPECT_EQ(exit_code, kDllNotFound);
    } else {
      ASSERT_TRUE(brankel_test::RunProgram(folder + u"\\" + player, &output, &exit_code));
      EXPECT_NE(exit_code, kDllNotFound);
    }
  }
}

}  // namespace
}  // namespace packager
