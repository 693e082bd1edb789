#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/macro_builder.h"
#include "support/run_cli.h"
#include "support/scratch.h"
#include "support/script_builder.h"

namespace cli {
namespace {

using brankel_test::Call;
using brankel_test::Calls;
using brankel_test::MacroBuilder;
using brankel_test::Narrow;
using brankel_test::RunCli;
using brankel_test::TemporaryFiles;
using brankel_test::TextAt;
using nlohmann::json;

class AnalyzeCommandTest : public brankel_test::ScratchTest {
 protected:
  void Write(const char16_t* name, const std::string& bytes) {
    ASSERT_TRUE(brankel_test::WriteBytes(Path(name), bytes)) << Narrow(name);
  }
  std::string Arg(const char16_t* name) const { return Narrow(Path(name)); }
  static std::u16string Lower(std::u16string_view text) { return plat::ToLower(text); }

  // Three levels of calls, an attached library that calls a fourth file, and commands
  // naming a picture, a list of two pictures and a text file.
  void WriteTree() {
    ASSERT_TRUE(plat::CreateDirectory(Path(u"sub")));
    ASSERT_TRUE(plat::CreateDirectory(Path(u"data")));
    ASSERT_TRUE(plat::CreateDirectory(Path(u"pics")));
    for (const char16_t* file : {u"data\\picture.bmp", u"pics\\a.bmp", u"pics\\b.bmp", u"notes.txt"}) Write(file, "x");

    MacroBuilder main = Calls({{brankel_test::kRunMacro, brankel_test::kByPath, u"  level1.msd "}});
    main.Command(0x230A, 50).Param(50, TextAt(0, u"data\\picture.bmp"));
    const std::string embedded =
        Calls({{brankel_test::kCallMacro, brankel_test::kByPath, u"fromembedded.msd"}}).Bytes();
    Write(u"main.msd", brankel_test::WithAttachments(main, {{u"lib", u".MSL", embedded}}));

    MacroBuilder level1 = Calls({{brankel_test::kCallMacro, brankel_test::kByPath, Path(u"sub\\level2.msd")}});
    level1.Command(0x2309, 60).Param(60, TextAt(0x84, Path(u"pics\\a.bmp;b.bmp")));
    Write(u"level1.msd", level1.Bytes());

    MacroBuilder level2;
    level2.Command(0x4311, 70).Param(70, TextAt(0, u"notes.txt"));
    Write(u"sub\\level2.msd", level2.Bytes());
    Write(u"fromembedded.msd", MacroBuilder().Bytes());
  }
};

TEST_F(AnalyzeCommandTest, ListsEveryMacroFileAndEveryNamedFileOfAThreeLevelTree) {
  WriteTree();
  const auto copies_before = TemporaryFiles(u"~PD*");
  const brankel_test::CliOutput run = RunCli({"analyze", "--json", Arg(u"main.msd")});
  ASSERT_EQ(run.code, 0) << run.err << run.out;
  const json report = json::parse(run.out);
  EXPECT_EQ(report["complete"], true);
  EXPECT_TRUE(report["messages"].empty());

  const json& macros = report["macros"];
  ASSERT_EQ(macros.size(), 4u) << macros.dump(1);
  struct Expected {
    std::u16string path;
    const char* file;
    const char* used_in;
    int line;
  };
  const Expected expected[] = {
      {Path(u"main.msd"), "main.msd", "", 0},
      {Lower(Path(u"level1.msd")), "level1.msd", "main.msd", 1},
      {Lower(Path(u"sub\\level2.msd")), "level2.msd", "level1.msd", 1},
      // Found through the attached library: listed with the script as its caller.
      {Lower(Path(u"fromembedded.msd")), "fromembedded.msd", "main.msd", 1},
  };
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(expected[i].file);
    EXPECT_EQ(macros[i]["path"], Narrow(expected[i].path));
    EXPECT_EQ(macros[i]["file"], expected[i].file);
    EXPECT_EQ(macros[i]["used_in"], expected[i].used_in);
    EXPECT_EQ(macros[i]["line"], expected[i].line);
    EXPECT_EQ(macros[i]["user_added"], false);
    EXPECT_EQ(macros[i]["missing"], false);
  }

  const json& extras = report["extra_files"];
  ASSERT_EQ(extras.size(), 4u) << extras.dump(1);
  // Files inside the script folder travel under their path relative to it.
  const std::pair<const char*, const char*> files[] = {{"data\\picture.bmp", "main.msd"},
                                                       {"pics\\a.bmp", "level1.msd"},
                                                       {"pics\\b.bmp", "level1.msd"},
                                                       {"notes.txt", "level2.msd"}};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(files[i].first);
    EXPECT_EQ(extras[i]["target_name"], files[i].first);
    EXPECT_EQ(extras[i]["macro"], files[i].second);
    EXPECT_EQ(extras[i]["on_search_path"], false);
    EXPECT_EQ(extras[i]["excluded"], false);
    EXPECT_EQ(Lower(plat::Utf8ToUtf16(extras[i]["source_path"].get<std::string>())),
              Lower(Path(plat::Utf8ToUtf16(files[i].first))));
  }
  EXPECT_EQ(extras[1]["line"], 2);  // the list is level1's second command

  // The temporary copies and scratch files are gone again.
  EXPECT_EQ(TemporaryFiles(u"~PD*"), copies_before);
  EXPECT_TRUE(TemporaryFiles(u"~mt*").empty());
}

TEST_F(AnalyzeCommandTest, TextReportNamesTheSameFiles) {
  WriteTree();
  const brankel_test::CliOutput run = RunCli({"analyze", Arg(u"main.msd")});
  ASSERT_EQ(run.code, 0) << run.err;
  for (const char* text : {"level2.msd", "fromembedded.msd", "pics\\b.bmp", "notes.txt", "complete: true"}) {
    EXPECT_NE(run.out.find(text), std::string::npos) << text << " in\n" << run.out;
  }
}

TEST_F(AnalyzeCommandTest, RefusedProjectIsToldNotSilentlyReplaced) {
  WriteTree();
  Write(u"main.packproj", std::string(20000, 'P'));
  const brankel_test::CliOutput run = RunCli({"analyze", "--json", Arg(u"main.msd")});
  EXPECT_EQ(run.code, 0) << "the lists are whole without the project";
  const json report = json::parse(run.out);
  EXPECT_EQ(report["project_file_loaded"], false);
  ASSERT_EQ(report["messages"].size(), 1u);
  const std::string message = report["messages"][0];
  EXPECT_NE(message.find("main.packproj"), std::string::npos) << message;
  EXPECT_NE(message.find("new answers"), std::string::npos) << message;
  EXPECT_NE(run.err.find("main.packproj"), std::string::npos) << run.err;
}

TEST_F(AnalyzeCommandTest, FullExtraListFitsBackIntoTheWizardsLists) {
  // One list command naming more files than the list holds: the build's copy has more
  // room, but the discovery stops at the wizard's and the result comes back whole.
  std::u16string names = Path(u"f0.txt");
  Write(u"f0.txt", "x");
  for (int i = 1; i < 600; ++i) {
    // Appended piece by piece: GCC 12 misreads a literal + string as overlapping copies.
    std::u16string name = u"f";
    name += plat::AsciiToUtf16(std::to_string(i));
    name += u".txt";
    Write(name.c_str(), "x");
    names += u';';
    names += name;
  }
  MacroBuilder main;
  main.Command(0x2309, 60).Param(60, TextAt(0x84, names));
  Write(u"main.msd", main.Bytes());
  const brankel_test::CliOutput run = RunCli({"analyze", "--json", Arg(u"main.msd")});
  EXPECT_EQ(run.code, 1);
  const json report = json::parse(run.out);
  EXPECT_EQ(report["complete"], false);
  EXPECT_EQ(report["extra_files"].size(), 528u);
  ASSERT_EQ(report["messages"].size(), 1u);
  EXPECT_NE(std::string(report["messages"][0]).find("too many files"), std::string::npos) << report["messages"][0];
}

TEST_F(AnalyzeCommandTest, MissingCalledFilesAreAllToldAndTheRestIsStillSearched) {
  // Two calls lead nowhere; the script itself still names a file, which the discovery finds.
  MacroBuilder main = Calls({{brankel_test::kRunMacro, brankel_test::kByPath, u"gone.msd"},
                             {brankel_test::kRunMacro, brankel_test::kByPath, u"lost.msd"}});
  main.Command(0x4311, 70).Param(70, TextAt(0, u"notes.txt"));
  Write(u"main.msd", main.Bytes());
  Write(u"notes.txt", "x");
  const brankel_test::CliOutput run = RunCli({"analyze", "--json", Arg(u"main.msd")});
  EXPECT_EQ(run.code, 1);
  const json report = json::parse(run.out);
  EXPECT_EQ(report["complete"], false);
  ASSERT_EQ(report["macros"].size(), 3u);
  EXPECT_EQ(report["macros"][1]["missing"], true);
  EXPECT_EQ(report["macros"][2]["missing"], true);
  ASSERT_EQ(report["extra_files"].size(), 1u);
  EXPECT_EQ(report["extra_files"][0]["target_name"], "notes.txt");
  ASSERT_EQ(report["messages"].size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const std::string message = report["messages"][i];
    EXPECT_NE(message.find("could not be found"), std::string::npos) << message;
    EXPECT_NE(message.find(i == 0 ? "gone.msd" : "lost.msd"), std::string::npos) << message;
  }
  EXPECT_NE(run.err.find("lost.msd"), std::string::npos) << run.err;
}

TEST_F(AnalyzeCommandTest, LimitMetDeepInAChainMakesTheListsIncomplete) {
  // 530 files each calling the next: the list ends at 512 entries, deep inside the walk.
  constexpr int kChain = 530;
  const auto name = [](int i) {
    std::u16string text = u"c";
    text += plat::AsciiToUtf16(std::to_string(i));
    text += u".msd";
    return text;
  };
  for (int i = 1; i <= kChain; ++i) {
    Write(name(i).c_str(), Calls({{brankel_test::kRunMacro, brankel_test::kByPath, name(i + 1)}}).Bytes());
  }
  Write(u"main.msd", Calls({{brankel_test::kRunMacro, brankel_test::kByPath, u"c1.msd"}}).Bytes());
  const brankel_test::CliOutput run = RunCli({"analyze", "--json", Arg(u"main.msd")});
  EXPECT_EQ(run.code, 1);
  const json report = json::parse(run.out);
  EXPECT_EQ(report["complete"], false);
  EXPECT_EQ(report["macros"].size(), 512u);
  ASSERT_EQ(report["messages"].size(), 1u) << report["messages"].dump();
  const std::string message = report["messages"][0];
  EXPECT_NE(message.find("too many macro files"), std::string::npos) << message;
  EXPECT_NE(run.err.find("too many macro files"), std::string::npos) << run.err;
}

TEST_F(AnalyzeCommandTest, NamesAreSearchedFromTheScriptFolderWhereverTheCallerStands) {
  // "stray.dat" lies only where the caller stands: the search the wizard makes, from the
  // script folder, does not find it.
  ASSERT_TRUE(plat::CreateDirectory(Path(u"elsewhere")));
  ASSERT_TRUE(plat::CreateDirectory(Path(u"script")));
  Write(u"elsewhere\\stray.dat", "x");
  MacroBuilder main;
  main.Command(0x230A, 1).Param(1, TextAt(0, u"stray.dat"));
  Write(u"script\\main.msd", main.Bytes());

  const std::u16string saved = plat::GetCurrentDirectory();
  ASSERT_TRUE(plat::SetCurrentDirectory(Path(u"elsewhere")));
  const brankel_test::CliOutput run = RunCli({"analyze", "--json", Arg(u"script\\main.msd")});
  const std::u16string after = plat::GetCurrentDirectory();
  ASSERT_TRUE(plat::SetCurrentDirectory(saved));

  EXPECT_EQ(Narrow(after), Narrow(Path(u"elsewhere"))) << "the caller's folder comes back";
  ASSERT_EQ(run.code, 0) << run.err;
  const json report = json::parse(run.out);
  EXPECT_TRUE(report["extra_files"].empty()) << report["extra_files"].dump(1);
}

TEST_F(AnalyzeCommandTest, ScriptThatIsNoMacroFileIsRefusedWithItsReason) {
  Write(u"text.msd", std::string(100, 't'));
  brankel_test::CliOutput run = RunCli({"analyze", Arg(u"text.msd")});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("text.msd"), std::string::npos) << run.err;
  EXPECT_TRUE(run.out.empty()) << run.out;

  run = RunCli({"analyze", Arg(u"none.msd")});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("none.msd"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace cli
