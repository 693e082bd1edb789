// The player's dry run: which payloads it refuses, the order it walks the script and the
// macros it calls, what each command's names resolve to, and where it stops.
#include "runtime/dry_run.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "macro/macro_format.h"
#include "platform/unicode.h"
#include "project/options.h"
#include "support/compound_builder.h"
#include "support/payload_a.h"
#include "support/scratch.h"
#include "support/script_builder.h"

namespace runtime {
namespace {

using brankel_test::Call;
using brankel_test::kByLibraryName;
using brankel_test::kByPath;
using brankel_test::kCallMacro;
using brankel_test::kRunMacro;
using brankel_test::MacroBuilder;
using brankel_test::Narrow;
using brankel_test::PackedFile;
using brankel_test::PayloadASection;
using brankel_test::TextAt;
using packager::kEntryLanguageFile;
using packager::kEntryMacroFile;
using Bytes = std::vector<uint8_t>;

std::string Plain(uint16_t code) { return MacroBuilder().Command(code).Bytes(); }

class DryRunTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    ASSERT_TRUE(plat::CreateDirectory(Path(u"data")));
    for (const char16_t* name : {u"data\\pic.bmp", u"data\\a.txt", u"data\\c.txt"}) {
      ASSERT_TRUE(brankel_test::WriteBytes(Path(name), "x"));
    }
  }
  DryRunResult Play(const std::vector<PackedFile>& files, uint32_t count = 0) {
    const Bytes section = PayloadASection(files, count == 0 ? uint32_t(files.size()) : count, u"main.msd");
    EXPECT_FALSE(section.empty());
    return PlayDryRun(section, dir_);
  }
  std::string Under(std::u16string_view name) { return Narrow(Path(name)); }
};

TEST_F(DryRunTest, PayloadsAreRefusedOrAcceptedByTheirHeaderAndRecords) {
  const std::vector<PackedFile> files = {{kEntryMacroFile, u"main.msd", Plain(0x0101)},
                                         {kEntryLanguageFile, u"Player_en.lng", "lang"}};
  struct Case {
    const char* what;
    uint32_t count;
    std::function<void(Bytes&)> damage;
    int exit_code;
  };
  const auto put32 = [](Bytes& b, size_t at, uint32_t v) { brankel_test::Put32(b, at, v); };
  const Case cases[] = {
      {"count equal to the records", 2, nullptr, kExitPlayed},
      {"count above the records (user-added entries)", 7, nullptr, kExitPlayed},
      {"count below the records", 1, nullptr, kExitRefused},
      {"bad magic", 2, [&](Bytes& b) { put32(b, 0, 0x0000464D); }, kExitRefused},
      {"first record moved", 2, [](Bytes& b) { brankel_test::Put16(b, 4, 0x3100); }, kExitRefused},
      {"name hash changed", 2, [&](Bytes& b) { put32(b, 0x4000 + 8, brankel_test::Get32(b, 0x4000 + 8) ^ 1); },
       kExitRefused},
      {"record past the section", 2, [&](Bytes& b) { put32(b, 0x4000 + 4, 0x10000); }, kExitRefused},
      {"section cut inside the header", 2, [](Bytes& b) { b.resize(100); }, kExitRefused},
  };
  for (const Case& c : cases) {
    Bytes section = PayloadASection(files, c.count, u"main.msd");
    ASSERT_FALSE(section.empty()) << c.what;
    if (c.damage) c.damage(section);
    const DryRunResult result = PlayDryRun(section, dir_);
    EXPECT_EQ(result.exit_code, c.exit_code) << c.what << ": " << result.refusal;
    EXPECT_EQ(result.refusal.empty(), c.exit_code != kExitRefused) << c.what;
  }
}

TEST_F(DryRunTest, ScriptCallsAndEmbeddedMacrosAreWalkedInOrder) {
  const std::string inner = MacroBuilder().Command(0x2301, 1).Param(1, TextAt(0, u"data\\a.txt")).Bytes();
  MacroBuilder script;
  script.Command(0x2301, 1)
      .Param(1, TextAt(0, u"  data\\pic.bmp "))
      .Command(kCallMacro, 2)
      .Param(2, brankel_test::CallPayload(kCallMacro, kByPath, u"Sub\\B.msd"))
      .Command(kRunMacro, 3)
      .Param(3, brankel_test::CallPayload(kRunMacro, kByPath, u"IN:inner.msd"))
      .Command(0x2311, 4)
      .Param(4, TextAt(4, u"IN:notes.txt"))
      .Command(0x2301, 1, macro::kCommandDisabled)
      .Command(0x0101);
  const std::string main =
      brankel_test::WithAttachments(script, {{u"inner.msd", u".msd", inner}, {u"notes.txt", u".txt", "notes"}});
  const std::string sub = MacroBuilder().Command(0x210A, 1).Param(1, TextAt(0x84, u"data\\a.txt;c.txt")).Bytes();

  const DryRunResult result = Play({{kEntryMacroFile, u"main.msd", main}, {kEntryMacroFile, u"sub\\b.msd", sub}}, 9);
  EXPECT_EQ(result.exit_code, kExitPlayed) << result.first_unresolved;
  const std::vector<std::string> expected = {
      "main.msd\t1\t2301\tfile " + Under(u"data\\pic.bmp"),
      "main.msd\t2\t6105\tcall sub\\b.msd",
      "sub\\b.msd\t1\t210A\tfile " + Under(u"data\\a.txt") + "; file " + Under(u"data\\c.txt"),
      "main.msd\t3\t6605\tcall main.msd IN:inner.msd",
      "main.msd IN:inner.msd\t1\t2301\tfile " + Under(u"data\\a.txt"),
      "main.msd\t4\t2311\tfile IN:notes.txt",
      "main.msd\t5\t2301\tdisabled",
      "main.msd\t6\t0101\t",
  };
  EXPECT_EQ(result.trace, expected);
}

TEST_F(DryRunTest, TheFirstUnresolvedNameDecidesTheResult) {
  struct Case {
    const char* what;
    uint16_t code;
    Bytes payload;
    std::string line;  // the command's resolution, "" for the same as `first`
    std::string first;
  };
  const std::string outside = "C:\\Build\\pic.bmp";
  const Case cases[] = {
      {"call of a macro not packed", kCallMacro, brankel_test::CallPayload(kCallMacro, kByPath, u"missing.msd"),
       "unresolved missing.msd", "main.msd line 1: missing.msd"},
      {"library name the build did not rewrite", kRunMacro,
       brankel_test::CallPayload(kRunMacro, kByLibraryName, u"sub\\b.msd"), "unresolved sub\\b.msd",
       "main.msd line 1: sub\\b.msd"},
      {"absolute path outside the run folder", 0x2301, TextAt(0, plat::Utf8ToUtf16(outside)), "unresolved " + outside,
       "main.msd line 1: " + outside},
      {"absolute path inside the run folder", 0x4201, TextAt(0x44, Path(u"data\\pic.bmp")),
       "file " + Under(u"data\\pic.bmp"), ""},
      {"relative name leaving the run folder", 0x2301, TextAt(0, u"..\\data\\pic.bmp"), "unresolved ..\\data\\pic.bmp",
       "main.msd line 1: ..\\data\\pic.bmp"},
      {"missing attachment", 0x2301, TextAt(0, u"IN:none.txt"), "unresolved IN:none.txt",
       "main.msd line 1: IN:none.txt"},
      {"list with one missing name", 0x650F, TextAt(0x84, u"data\\a.txt;gone.txt"),
       "file " + Under(u"data\\a.txt") + "; unresolved data\\gone.txt", "main.msd line 1: data\\gone.txt"},
      {"variable", 0x2301, TextAt(0, u"%dir%\\x.bmp"), "variable %dir%\\x.bmp", ""},
  };
  for (const Case& c : cases) {
    // A second unresolved command after it: the first one is named.
    const std::string main = MacroBuilder()
                                 .Command(c.code, 1)
                                 .Param(1, c.payload)
                                 .Command(0x2301, 2)
                                 .Param(2, TextAt(0, u"later.bmp"))
                                 .Bytes();
    const DryRunResult result =
        Play({{kEntryMacroFile, u"main.msd", main}, {kEntryMacroFile, u"sub\\b.msd", Plain(1)}});
    ASSERT_EQ(result.trace.size(), 2u) << c.what;
    EXPECT_EQ(result.trace[0].substr(result.trace[0].rfind('\t') + 1), c.line) << c.what;
    EXPECT_EQ(result.exit_code, kExitUnresolved) << c.what;
    EXPECT_EQ(result.first_unresolved, c.first.empty() ? "main.msd line 2: later.bmp" : c.first) << c.what;
  }
}

TEST_F(DryRunTest, CallCyclesAndMissingScriptsStop) {
  const std::string main = brankel_test::Calls({Call{kCallMacro, kByPath, u"b.msd"}}).Bytes();
  const std::string b =
      brankel_test::Calls({Call{kRunMacro, kByPath, u"MAIN.msd"}, Call{kCallMacro, kByPath, u"b.msd"}}).Bytes();
  const DryRunResult result = Play({{kEntryMacroFile, u"main.msd", main}, {kEntryMacroFile, u"b.msd", b}});
  const std::vector<std::string> expected = {"main.msd\t1\t6105\tcall b.msd", "b.msd\t1\t6605\tcycle main.msd",
                                             "b.msd\t2\t6105\tcycle b.msd"};
  EXPECT_EQ(result.trace, expected);
  EXPECT_EQ(result.exit_code, kExitPlayed);

  // An embedded macro calls into its own attachments, never its host's.
  const std::string self = brankel_test::WithAttachments(
      brankel_test::Calls({Call{kCallMacro, kByPath, u"IN:self.msd"}}),
      {{u"self.msd", u".msd",
        brankel_test::WithAttachments(brankel_test::Calls({Call{kCallMacro, kByPath, u"IN:self.msd"}}), {})}});
  const DryRunResult nested = Play({{kEntryMacroFile, u"main.msd", self}});
  ASSERT_EQ(nested.trace.size(), 2u);
  EXPECT_EQ(nested.trace[1].substr(nested.trace[1].rfind('\t') + 1), "unresolved IN:self.msd");

  const DryRunResult missing = Play({{kEntryMacroFile, u"other.msd", Plain(1)}});
  EXPECT_EQ(missing.exit_code, kExitUnresolved);
  EXPECT_TRUE(missing.trace.empty());
  EXPECT_EQ(missing.first_unresolved, "the script main.msd is not packed");
}

TEST_F(DryRunTest, PlayedCommandsNameTheirModulesAndTheUnloadedOnes) {
  const std::string main = MacroBuilder()
                               .Command(0x4201, 1)
                               .Param(1, TextAt(0x44, u"data\\a.txt"))
                               .Command(0x4307)
                               .Command(0x3101, macro::kNoParamId, macro::kCommandDisabled)
                               .Bytes();
  const Bytes section = PayloadASection({{kEntryMacroFile, u"main.msd", main}}, 1, u"main.msd");
  const DryRunResult result = PlayDryRun(section, dir_, [](uint32_t category) { return category != 0x1; });
  EXPECT_EQ(result.module_needs, 0x1u | 0x80u);
  ASSERT_EQ(result.trace.size(), 3u);
  EXPECT_EQ(result.trace[0], "main.msd\t1\t4201\tfile " + Under(u"data\\a.txt") + "; module Docvale.dll not loaded");
  EXPECT_EQ(result.trace[1], "main.msd\t2\t4307\t");
}

TEST(PlayerPayloadTest, OptionsAndLanguageRecordAreReadWhereTheBuildWroteThem) {
  project::MakeExeOptions options{};
  options.ShowStartup = 1;
  plat::SetFixedText(options.AuthorTips, 260, u"Press F9 to stop");
  plat::SetFixedText(options.RelatedUrl, 130, u"https://example.org/");
  const Bytes section = PayloadASection({{kEntryLanguageFile, u"C:\\Prog\\sysdata\\errormsg_en.lng", "errors"},
                                         {kEntryLanguageFile, u"C:\\Prog\\sysdata\\PLAYER_en.lng", "player"},
                                         {kEntryMacroFile, u"main.msd", Plain(1)}},
                                        3, u"main.msd", options);
  std::string refusal;
  const std::optional<packager::PayloadA> payload = ReadPlayerPayload(section, &refusal);
  ASSERT_TRUE(payload) << refusal;
  const PlayerOptions read = ReadPlayerOptions(payload->options);
  EXPECT_TRUE(read.show_startup);
  EXPECT_EQ(read.author_tips, u"Press F9 to stop");
  EXPECT_EQ(read.address, u"https://example.org/");
  const std::optional<plat::ByteView> language = FindLanguageRecord(*payload, u"Player_");
  ASSERT_TRUE(language);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(language->data()), language->size()), "player");
  EXPECT_FALSE(FindLanguageRecord(*payload, u"Proxvale_"));
}

}  // namespace
}  // namespace runtime
