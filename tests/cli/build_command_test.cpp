#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/brankel_app.h"
#include "app/res_string.h"
#include "cli/installation.h"
#include "macro/macro_file.h"
#include "packager/payload.h"
#include "pe/pe_image.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "support/legacy_builder.h"
#include "support/macro_builder.h"
#include "support/run_cli.h"
#include "support/scratch.h"
#include "support/script_builder.h"
#include "wizard/wizard_flow.h"

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

constexpr uint16_t kOpenFile = 0x230A;  // names one file, its text at payload offset 0

// Where two byte strings first differ; npos when they are equal.
size_t FirstDifference(const std::string& a, const std::string& b) {
  const auto [left, right] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return left == a.end() && right == b.end() ? std::string::npos : static_cast<size_t>(left - a.begin());
}

// A project file keeps the names of the temporary copies its run made, which differ
// between any two runs; the rest must be equal.
std::string WithoutCopyNames(std::string bytes) {
  constexpr size_t kRecord = project::kOptionsSize;
  constexpr size_t kTempPath = 532;
  constexpr size_t kTempPathBytes = 520;
  uint32_t count = 0;
  if (bytes.size() < kRecord) return bytes;
  std::memcpy(&count, bytes.data() + 14652, sizeof(count));
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = kRecord + i * project::kMacroEntrySize + kTempPath;
    if (at + kTempPathBytes > bytes.size()) break;
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), kTempPathBytes, '\0');
  }
  return bytes;
}

class BuildCommandTest : public brankel_test::ScratchTest {
 protected:
  void TearDown() override {
    brankel_test::SetVariable("SOURCE_DATE_EPOCH", nullptr);
    ScratchTest::TearDown();
  }
  void Write(std::u16string_view name, const std::string& bytes) {
    ASSERT_TRUE(brankel_test::WriteBytes(Path(name), bytes)) << Narrow(name);
  }
  std::string Arg(std::u16string_view name) const { return Narrow(Path(name)); }

  // Three levels of calls (main -> a -> sub\deep), a callee that a and b both call, a
  // picture that a and b both name (a by its path in the script folder, b absolutely), a
  // file in a subfolder, and an attached library that calls one more macro.
  void WriteTree() {
    for (const char16_t* folder : {u"sub", u"pics", u"data"}) ASSERT_TRUE(plat::CreateDirectory(Path(folder)));
    Write(u"pics\\shared.bmp", "BMP bytes");
    Write(u"data\\notes.txt", "notes");

    MacroBuilder main = Calls({{brankel_test::kRunMacro, brankel_test::kByPath, u"a.msd"},
                               {brankel_test::kCallMacro, brankel_test::kByPath, Path(u"b.msd")}});
    const std::string library =
        Calls({{brankel_test::kCallMacro, brankel_test::kByPath, Path(u"fromlibrary.msd")}}).Bytes();
    Write(u"main.msd", brankel_test::WithAttachments(main, {{u"lib", u".msl", library}}));

    MacroBuilder a = Calls({{brankel_test::kCallMacro, brankel_test::kByPath, Path(u"shared.msd")},
                            {brankel_test::kCallMacro, brankel_test::kByPath, Path(u"sub\\deep.msd")}});
    a.Command(kOpenFile, 40).Param(40, TextAt(0, u"pics\\shared.bmp"));
    Write(u"a.msd", a.Bytes());

    MacroBuilder b = Calls({{brankel_test::kCallMacro, brankel_test::kByPath, Path(u"shared.msd")}});
    b.Command(kOpenFile, 40).Param(40, TextAt(0, Path(u"pics\\shared.bmp")));
    Write(u"b.msd", b.Bytes());

    MacroBuilder deep;
    deep.Command(kOpenFile, 40).Param(40, TextAt(0, Path(u"data\\notes.txt")));
    Write(u"sub\\deep.msd", deep.Bytes());
    Write(u"shared.msd", MacroBuilder().Bytes());
    Write(u"fromlibrary.msd", MacroBuilder().Bytes());
  }

  brankel_test::CliOutput Build(std::vector<std::string> extra = {}, std::u16string_view output = u"out\\main.exe") {
    std::vector<std::string> args = {"build", "--json", Arg(u"main.msd"), "-o", Arg(output)};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCli(args);
  }
};

TEST_F(BuildCommandTest, PacksEveryMacroAndFileAndTheCopiesNameOnlyPackedFiles) {
  WriteTree();
  ASSERT_TRUE(plat::CreateDirectory(Path(u"out")));
  const auto temporary_before = TemporaryFiles(u"~*");
  const brankel_test::CliOutput run = Build();
  if (run.code != 0 && run.err.find("Runvale.exe") != std::string::npos) GTEST_SKIP() << run.err;
  ASSERT_EQ(run.code, 0) << run.err << run.out;
  const json report = json::parse(run.out);
  EXPECT_EQ(report["built"], true);
  EXPECT_EQ(report["output"], Arg(u"out\\main.exe"));

  pe::CPE_ImageEditor exe;
  ASSERT_TRUE(exe.Load(Path(u"out\\main.exe"))) << exe.RefusalText();
  const std::optional<plat::ByteView> section_b = packager::PayloadSection(exe);
  ASSERT_TRUE(section_b);
  std::string refusal;
  const std::optional<packager::PayloadB> payload_b = packager::ReadPayloadB(*section_b, &refusal);
  ASSERT_TRUE(payload_b) << refusal;
  EXPECT_EQ(report["records"].size(), payload_b->records.size());

  std::multiset<std::string> files;
  std::optional<plat::ByteView> player;
  for (const packager::PayloadBRecord& record : payload_b->records) {
    if (record.kind == packager::kFileKindPlayer) player = record.data;
    if (record.kind == packager::kFileKindFile) files.insert(Narrow(record.target_name));
  }
  // The picture both macros name is packed once.
  EXPECT_EQ(files, (std::multiset<std::string>{"pics\\shared.bmp", "data\\notes.txt"}));
  // Macros of calls and file commands only need what every build ships.
  std::set<std::string> runtime;
  for (const packager::PayloadBRecord& record : payload_b->records) {
    if (record.kind == packager::kFileKindRuntime) runtime.insert(Narrow(record.target_name));
  }
  EXPECT_EQ(runtime, (std::set<std::string>{"Helpvale.dll", "vcomp140.dll", "Keyvale.dll", "Keyvale64.dll",
                                            "PandrelIo.sys", "Connvale64.exe", "vllib_ui_defresu.dll"}));
  ASSERT_TRUE(player);

  pe::CPE_ImageEditor player_copy;
  ASSERT_TRUE(player_copy.Parse(player->data(), player->size())) << player_copy.RefusalText();
  const std::optional<plat::ByteView> section_a = packager::PayloadSection(player_copy);
  ASSERT_TRUE(section_a);
  const std::optional<packager::PayloadA> payload_a = packager::ReadPayloadA(*section_a, &refusal);
  ASSERT_TRUE(payload_a) << refusal;
  EXPECT_EQ(Narrow(payload_a->script_name), "main.msd");
  // The player copy imports only the modules this build ships.
  std::set<std::string> imports;
  for (const std::string& name : player_copy.Imports().names)
    imports.insert(Narrow(plat::ToLower(plat::Utf8ToUtf16(name))));
  for (const char* name : {"helpvale.dll", "vcomp140.dll", "keyvale.dll", "keyvale64.dll", "pandrelio.sys"}) {
    EXPECT_TRUE(imports.count(name)) << name;
  }
  for (const char* name : {"docvale.dll", "datavale.dll", "dialvale.dll", "mailvale.dll", "unzip32.dll", "zip32.dll",
                           "xfervale.dll", "visvale.dll", "libocrtess.dll", "ocrvale.dll", "libpaddleocr.dll"}) {
    EXPECT_FALSE(imports.count(name)) << name;
  }
  // The count is the whole macro list: six macro files and the player's two language files.
  EXPECT_EQ(payload_a->macro_count, 8u);
  EXPECT_EQ(payload_a->records.size(), 8u);

  std::set<std::string> macros;
  for (const packager::PayloadARecord& record : payload_a->records) {
    if (record.type == packager::kEntryMacroFile) macros.insert(Narrow(record.name));
  }
  const std::set<std::string> expected_macros = {"main.msd",   "a.msd",         "b.msd",
                                                 "shared.msd", "sub\\deep.msd", "fromlibrary.msd"};
  EXPECT_EQ(macros, expected_macros);

  // Every reference in every packed copy names a packed macro or a packed file.
  std::set<std::string> names_found;
  for (const packager::PayloadARecord& record : payload_a->records) {
    if (record.type != packager::kEntryMacroFile) continue;
    SCOPED_TRACE(Narrow(record.name));
    macro::CFile_Macro copy;
    ASSERT_EQ(copy.OpenMemory(record.data), 1);
    const macro::MacroCommand* commands = nullptr;
    ASSERT_EQ(copy.ReadCommands(&commands), 1);
    uint8_t* block = nullptr;
    ASSERT_EQ(copy.GetParamBlock(&block), 1);
    for (uint32_t i = 0; i < copy.Header().CommandCount; ++i) {
      const plat::ByteView found = macro::FindParamRecord(commands[i].ParamId, copy.ParamView());
      const plat::ByteView payload = found.From(macro::kParamHeadSize);
      std::u16string name;
      if (commands[i].Code == brankel_test::kCallMacro) name = payload.Utf16z(8, 260);
      if (commands[i].Code == brankel_test::kRunMacro) name = payload.Utf16z(258, 260);
      if (commands[i].Code == kOpenFile) {
        name = payload.Utf16z(0, 260);
        EXPECT_TRUE(files.count(Narrow(name))) << Narrow(name);
      } else {
        EXPECT_TRUE(expected_macros.count(Narrow(name))) << Narrow(name);
      }
      names_found.insert(Narrow(name));
    }
  }
  EXPECT_TRUE(names_found.count("shared.msd"));
  EXPECT_TRUE(names_found.count("sub\\deep.msd"));

  // No temporary copy, player copy or staging file stays behind.
  EXPECT_EQ(TemporaryFiles(u"~*"), temporary_before);
  EXPECT_EQ(brankel_test::ReadBytes(Path(u"a.msd")), [&] {
    MacroBuilder a = Calls({{brankel_test::kCallMacro, brankel_test::kByPath, Path(u"shared.msd")},
                            {brankel_test::kCallMacro, brankel_test::kByPath, Path(u"sub\\deep.msd")}});
    a.Command(kOpenFile, 40).Param(40, TextAt(0, u"pics\\shared.bmp"));
    return a.Bytes();
  }()) << "the user's macro file changed";
}

TEST_F(BuildCommandTest, ReportsEveryMissingFileAtOnceAndWritesNothing) {
  WriteTree();
  ASSERT_TRUE(plat::CreateDirectory(Path(u"out")));
  ASSERT_TRUE(plat::DeleteFile(Path(u"shared.msd")));
  ASSERT_TRUE(plat::DeleteFile(Path(u"data\\notes.txt")));
  const auto temporary_before = TemporaryFiles(u"~*");
  const brankel_test::CliOutput run = Build();
  EXPECT_EQ(run.code, 1) << run.err;
  EXPECT_NE(run.err.find("missing macro file: " + Narrow(plat::ToLower(Path(u"shared.msd")))), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("missing file: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("notes.txt (named by "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("deep.msd, line 1)"), std::string::npos) << run.err;
  EXPECT_FALSE(plat::FileExists(Path(u"out\\main.exe")));
  EXPECT_EQ(TemporaryFiles(u"~*"), temporary_before);
}

TEST_F(BuildCommandTest, AFailedBuildLeavesThePreviousExeAndNoStrayFile) {
  WriteTree();
  ASSERT_TRUE(plat::CreateDirectory(Path(u"out")));
  Write(u"out\\main.exe", "the previous EXE");
  const auto temporary_before = TemporaryFiles(u"~*");
  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* cause;
  };
  const Case cases[] = {
      {"unreadable player", {"--player", Arg(u"no-player.exe")}, "no-player.exe"},
      {"stub that is no program", {"--stub", Arg(u"data\\notes.txt")}, "notes.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const brankel_test::CliOutput run = Build(c.args);
    EXPECT_EQ(run.code, 1) << run.err;
    EXPECT_NE(run.err.find(c.cause), std::string::npos) << run.err;
    EXPECT_EQ(brankel_test::ReadBytes(Path(u"out\\main.exe")), "the previous EXE");
    EXPECT_EQ(TemporaryFiles(u"~*"), temporary_before);
  }
  // A destination folder that is not there.
  const brankel_test::CliOutput run = RunCli({"build", Arg(u"main.msd"), "-o", Arg(u"nowhere\\main.exe")});
  EXPECT_EQ(run.code, 1) << run.err;
  EXPECT_NE(run.err.find("nowhere"), std::string::npos) << run.err;
  EXPECT_FALSE(plat::FileExists(Path(u"nowhere")));
}

TEST_F(BuildCommandTest, BadAnswersAreUsageErrors) {
  WriteTree();
  const std::vector<std::vector<std::string>> cases = {
      {"--run-mode", "2"},
      {"--play-times", "0"},
      {"--exclude", "not-listed.txt"},
      {"--add", Arg(u"no-such-file.txt")},
      {"--icon", Arg(u"no-such.ico")},
      {"--startup", "--tips", ""},
      {"--machine", "arm64"},
      {"--stop-key", "Ctrl+Bogus"},
      {"--pause-key", "Ctrl+"},
      {"--speed", "fast"},
      {"--play-times", "twice"},
  };
  for (const std::vector<std::string>& extra : cases) {
    SCOPED_TRACE(extra.front());
    const brankel_test::CliOutput run = Build(extra);
    EXPECT_EQ(run.code, 2);
    if (extra.front().ends_with("-key")) {
      EXPECT_NE(run.err.find(extra.front()), std::string::npos) << run.err;
    }
  }
}

// The playback answers reach the player's options in the EXE, clamped as the pages clamp
// what is typed: read back from the player copy that inspect writes out.
TEST_F(BuildCommandTest, PlaybackAnswersReachThePlayersOptions) {
  WriteTree();
  ASSERT_TRUE(plat::CreateDirectory(Path(u"out")));
  const brankel_test::CliOutput run =
      Build({"--play-times", "70000", "--speed", "500", "--variables", "a=1", "--stop-key", "Ctrl+Shift+F5",
             "--pause-key", "f9,numpad 5", "--progress-window", "0", "--emulation", "9", "--log-level", "2"});
  if (run.code != 0 && run.err.find("Runvale.exe") != std::string::npos) GTEST_SKIP() << run.err;
  ASSERT_EQ(run.code, 0) << run.err;
  const brankel_test::CliOutput inspect =
      RunCli({"inspect", "--json", "--extract", Arg(u"unpacked"), Arg(u"out\\main.exe")});
  ASSERT_EQ(inspect.code, 0) << inspect.err;
  const json report = json::parse(inspect.out);
  EXPECT_EQ(report["payload_a"]["options"]["play_times"], 65535);
  std::string player;
  for (const json& record : report["payload_b"]["records"]) {
    if (record["kind"] == packager::kFileKindPlayer) player = record["target"].get<std::string>();
  }
  ASSERT_FALSE(player.empty()) << inspect.out;
  pe::CPE_ImageEditor copy;
  ASSERT_TRUE(copy.Load(Path(u"unpacked\\" + plat::Utf8ToUtf16(player)))) << copy.RefusalText();
  std::string refusal;
  const std::optional<packager::PayloadA> a = packager::ReadPayloadA(*packager::PayloadSection(copy), &refusal);
  ASSERT_TRUE(a) << refusal;
  // Record offsets, counted in the player options from record byte 16.
  auto at = [](size_t record_offset) { return record_offset - project::kPlayerOptionsOffset; };
  const plat::ByteView o = a->options;
  EXPECT_EQ(o.U8Or(at(36), 0), 2);
  EXPECT_EQ(o.U16Or(at(42), 0), 65535);
  EXPECT_EQ(o.U32Or(at(2148), 0) & project::kPlayVariableValues, project::kPlayVariableValues);
  EXPECT_EQ(o.U8Or(at(2152), 0xFF) & 0x03, 0);
  EXPECT_EQ(static_cast<int8_t>(o.U8Or(at(2154), 0)), 100);
  EXPECT_EQ(o.U8Or(at(2155), 0) & project::kProgressOff, project::kProgressOff);
  EXPECT_EQ(o.U8Or(at(2157), 0xFF) & 0x0F, 0);
  EXPECT_EQ(o.Utf16z(at(2414), 520), u"a=1");
  EXPECT_EQ(o.U8Or(at(7932), 0), 0x74);
  EXPECT_EQ(o.U8Or(at(7933), 0xFF), 0);
  EXPECT_EQ(o.U32Or(at(7936), 0), 0x6u);
  EXPECT_EQ(o.U8Or(at(7860), 0), 0x78);
  EXPECT_EQ(o.U8Or(at(7861), 0), 0x65);
  EXPECT_EQ(o.U32Or(at(7864), 0xFF), 0u);
}

// The default runtime is the 32-bit one; --machine x64 packs the 64-bit one: the stub the
// EXE is made from, the player copy and every runtime program and library it carries.
// Scripts of the older versions are upgraded where they lie (each keeping its ".old") and
// then packed like any other: their calls and named files are found in the new records.
TEST_F(BuildCommandTest, LegacyMacrosAreUpgradedAndPacked) {
  ASSERT_TRUE(plat::CreateDirectory(Path(u"pics")));
  ASSERT_TRUE(plat::CreateDirectory(Path(u"out")));
  Write(u"pics\\shared.bmp", "BMP bytes");
  brankel_test::LegacyMacro main;
  main.name = "Main";
  main.commands = {{.code = 0x054, .param_id = 1}};  // a call of another macro file
  std::vector<uint8_t> call = brankel_test::AnsiPayload(700, {{8, "Greet.msd"}});
  call[1] = 1;  // by path
  main.records = {{1, call}};
  brankel_test::LegacyMacro greet;
  greet.version = 258;
  // Names a file; and an image search, whose name lies past its upgraded record, so the
  // discovery and the rewriting must read it as absent rather than from the next record.
  greet.commands = {{.code = 0x034, .param_id = 2}, {.code = 0x060, .param_id = 3}};
  greet.records = {{2, brankel_test::AnsiPayload(900, {{0, "pics\\shared.bmp"}})},
                   {3, brankel_test::AnsiPayload(900, {{0, "pics\\shared.bmp"}})}};
  for (const auto& [name, macro] : {std::pair{u"main.msd", main}, std::pair{u"Greet.msd", greet}}) {
    const std::vector<uint8_t> bytes = brankel_test::BuildLegacyMacro(macro);
    Write(name, std::string(bytes.begin(), bytes.end()));
  }
  const brankel_test::CliOutput run = Build();
  if (run.code != 0 && run.err.find("Runvale.exe") != std::string::npos) GTEST_SKIP() << run.err;
  ASSERT_EQ(run.code, 0) << run.err << run.out;
  EXPECT_TRUE(plat::FileExists(Path(u"main.msd.old")));
  EXPECT_TRUE(plat::FileExists(Path(u"Greet.msd.old")));
  pe::CPE_ImageEditor exe;
  ASSERT_TRUE(exe.Load(Path(u"out\\main.exe"))) << exe.RefusalText();
  std::string refusal;
  const std::optional<packager::PayloadB> payload = packager::ReadPayloadB(*packager::PayloadSection(exe), &refusal);
  ASSERT_TRUE(payload) << refusal;
  std::multiset<std::string> names;
  for (const packager::PayloadBRecord& record : payload->records) {
    if (record.kind != packager::kFileKindRuntime) names.insert(Narrow(record.target_name));
  }
  // Only the called macro names the picture: finding it shows that the call was followed.
  EXPECT_EQ(names.count("pics\\shared.bmp"), 1u) << run.out;
}

TEST_F(BuildCommandTest, MachineChoosesTheRuntimeOfItsWordSize) {
  WriteTree();
  ASSERT_TRUE(plat::CreateDirectory(Path(u"out")));
  for (const bool x64 : {false, true}) {
    SCOPED_TRACE(x64 ? "x64" : "x86");
    const std::u16string exe_name = x64 ? u"out\\main64.exe" : u"out\\main32.exe";
    const brankel_test::CliOutput run =
        Build(x64 ? std::vector<std::string>{"--machine", "x64"} : std::vector<std::string>{}, exe_name);
    if (run.code != 0 && run.err.find("Runvale.exe") != std::string::npos) GTEST_SKIP() << run.err;
    ASSERT_EQ(run.code, 0) << run.err << run.out;
    pe::CPE_ImageEditor exe;
    ASSERT_TRUE(exe.Load(Path(exe_name))) << exe.RefusalText();
    EXPECT_EQ(exe.IsPe32Plus(), x64);
    std::string refusal;
    const std::optional<packager::PayloadB> payload = packager::ReadPayloadB(*packager::PayloadSection(exe), &refusal);
    ASSERT_TRUE(payload) << refusal;
    int images = 0;
    for (const packager::PayloadBRecord& record : payload->records) {
      const std::string name = Narrow(record.target_name);
      if (record.kind == packager::kFileKindFile || name.ends_with(".lng")) continue;
      pe::CPE_ImageEditor image;
      ASSERT_TRUE(image.Parse(record.data.data(), record.data.size())) << name << ": " << image.RefusalText();
      EXPECT_EQ(image.IsPe32Plus(), x64) << name;
      ++images;
    }
    EXPECT_EQ(images, 8);  // the player copy, six always-needed modules, the UI library
  }
}

TEST_F(BuildCommandTest, SourceDateEpochMakesTwoBuildsIdentical) {
  WriteTree();
  ASSERT_TRUE(plat::CreateDirectory(Path(u"out")));
  brankel_test::SetVariable("SOURCE_DATE_EPOCH", "1700000000");
  const brankel_test::CliOutput first = Build({}, u"out\\first.exe");
  if (first.code != 0 && first.err.find("Runvale.exe") != std::string::npos) GTEST_SKIP() << first.err;
  ASSERT_EQ(first.code, 0) << first.err;
  ASSERT_EQ(Build({}, u"out\\second.exe").code, 0);
  const std::string a = brankel_test::ReadBytes(Path(u"out\\first.exe"));
  EXPECT_FALSE(a.empty());
  EXPECT_TRUE(a == brankel_test::ReadBytes(Path(u"out\\second.exe")));
}

TEST_F(BuildCommandTest, ExcludedAndAddedFilesAndTheProjectFile) {
  WriteTree();
  ASSERT_TRUE(plat::CreateDirectory(Path(u"out")));
  Write(u"extra.dat", "added by the user");
  const brankel_test::CliOutput run =
      Build({"--exclude", "data\\notes.txt", "--add", Arg(u"extra.dat") + "=docs\\extra.dat", "--name", "Packed",
             "--save-project"});
  if (run.code != 0 && run.err.find("Runvale.exe") != std::string::npos) GTEST_SKIP() << run.err;
  ASSERT_EQ(run.code, 0) << run.err;
  std::set<std::string> targets;
  const json report = json::parse(run.out);
  for (const json& record : report["records"]) {
    if (record["kind"] == 0) targets.insert(record["target_name"].get<std::string>());
  }
  EXPECT_EQ(targets, (std::set<std::string>{"pics\\shared.bmp", "docs\\extra.dat"}));
  EXPECT_TRUE(plat::FileExists(Path(u"main.packproj")));
}

// The wizard's pages answered as a user would and the tool given the same answers make the
// same EXE, byte for byte, and the same project file.
TEST_F(BuildCommandTest, TheWizardsPagesAndTheToolMakeTheSameExeAndProject) {
  WriteTree();
  ASSERT_TRUE(plat::CreateDirectory(Path(u"out")));
  Write(u"extra.dat", "added by the user");
  brankel_test::SetVariable("SOURCE_DATE_EPOCH", "1700000000");
  const std::u16string exe = Path(u"out\\main.exe");
  const std::u16string project = Path(u"main.packproj");

  {
    app::CBrankelApp application;
    app::CVLResString texts;
    const Streams quiet{stdout, stderr};
    ASSERT_TRUE(LoadApplication(application, texts, quiet));
    struct : app::MessageDisplay {
      int Show(const app::MessageRequest& request) override {
        texts.push_back(request.text);
        return app::kIdOk;
      }
      std::vector<std::u16string> texts;
    } display;
    application.SetMessageDisplay(&display);
    wizard::WizardFlow flow(application);
    ASSERT_TRUE(flow.Prepare(Path(u"main.msd")));
    wizard::ExeProperties properties = flow.Properties().Initial();
    properties.name = u"Packed";
    ASSERT_TRUE(flow.Properties().LeaveForward(properties).proceed);
    ASSERT_TRUE(flow.Macros().LeaveForward().proceed);
    ASSERT_TRUE(flow.Extras().OnShow());
    const project::CMakeExe_FileLists& lists = flow.Session().Lists();
    for (int32_t i = 0; i < lists.ExtraCount(); ++i) {
      if (project::FieldText(lists.ExtraEntries()[i].TargetName) == u"data\\notes.txt") flow.Extras().RemoveOrToggle(i);
    }
    flow.Extras().Add({Path(u"extra.dat")});
    ASSERT_TRUE(flow.Extras().LeaveForward().proceed);
    ASSERT_TRUE(flow.Playback().LeaveForward(flow.Playback().Initial()).proceed);
    ASSERT_TRUE(flow.PlayParams().LeaveForward(flow.PlayParams().Initial()).proceed);
    wizard::DestinationValues destination = flow.Destination().Initial();
    destination.destination = exe;
    destination.save_project = true;
    const wizard::DestinationPage::BuildResult built = flow.Destination().Build(destination);
    if (!built.built && !display.texts.empty() &&
        Narrow(display.texts.back()).find("Runvale.exe") != std::string::npos) {
      GTEST_SKIP() << Narrow(display.texts.back());
    }
    ASSERT_TRUE(built.built) << (display.texts.empty() ? "" : Narrow(display.texts.back()));
    flow.Finish();
  }
  const std::string wizard_exe = brankel_test::ReadBytes(exe);
  const std::string wizard_project = WithoutCopyNames(brankel_test::ReadBytes(project));
  ASSERT_FALSE(wizard_exe.empty());
  ASSERT_TRUE(plat::DeleteFile(exe));
  ASSERT_TRUE(plat::DeleteFile(project));

  const brankel_test::CliOutput run =
      Build({"--name", "Packed", "--exclude", "data\\notes.txt", "--add", Arg(u"extra.dat"), "--save-project"});
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string tool_exe = brankel_test::ReadBytes(exe);
  EXPECT_EQ(tool_exe.size(), wizard_exe.size());
  EXPECT_EQ(FirstDifference(tool_exe, wizard_exe), std::string::npos);
  EXPECT_EQ(FirstDifference(WithoutCopyNames(brankel_test::ReadBytes(project)), wizard_project), std::string::npos);
}

}  // namespace
}  // namespace cli
