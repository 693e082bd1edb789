#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "analysis/failing_allocation.h"
#include "analysis/macro_collection.h"
#include "app/res_string.h"
#include "app/vl_win_app.h"
#include "macro/error_state.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/file_lists.h"
#include "support/macro_builder.h"
#include "support/scratch.h"
#include "support/script_builder.h"

namespace analysis {
namespace {

using brankel_test::MacroBuilder;
using brankel_test::Narrow;
using brankel_test::WriteBytes;

using brankel_test::Attached;
using brankel_test::Call;
using brankel_test::CallPayload;
using brankel_test::Calls;
using brankel_test::kByPath;
using brankel_test::kFiller;
using brankel_test::kNotAFile;
using brankel_test::WithAttachments;
constexpr uint8_t kByName = brankel_test::kByLibraryName;

// "<stem><i>.msd", built by appending (a literal in front of a temporary string trips a
// false overlap warning of the cross compiler).
std::u16string Numbered(std::u16string_view stem, int i) {
  std::u16string name(stem);
  name += plat::AsciiToUtf16(std::to_string(i));
  name += u".msd";
  return name;
}

class MacroCollectionTest : public brankel_test::ScratchTest {
 protected:
  MacroCollectionTest() : lists_(&application_) {
    EXPECT_TRUE(
        table_.LoadText("[String]\r\n"
                        "IDS_ERR_OPENSCRIPT=Cannot open %s.\r\n"
                        "IDS_ERR_BADFILE=Damaged: %s\r\n"
                        "IDS_ERR_TOOMANYMACRO=Too many macro files.\r\n"));
    application_.SetLanguageTable(&table_);
  }
  void SetUp() override {
    ScratchTest::SetUp();
    ASSERT_TRUE(plat::CreateDirectory(Path(u"lib")));
    ASSERT_TRUE(plat::CreateDirectory(Path(u"sub")));
    data_ = Path(u"lib") + u"\\";
    folder_ = dir_ + u"\\";
    temp_before_ = brankel_test::TemporaryFiles(u"~m*");
  }
  void TearDown() override {
    EXPECT_EQ(brankel_test::TemporaryFiles(u"~m*"), temp_before_)
        << "the collection left files in the temporary folder";
    ScratchTest::TearDown();
  }

  void Write(std::u16string_view name, const MacroBuilder& macro) { ASSERT_TRUE(macro.WriteTo(Path(name))); }
  void Write(std::u16string_view name, const std::string& bytes) { ASSERT_TRUE(WriteBytes(Path(name), bytes)); }

  bool Collect(std::u16string_view script = u"main.msd") {
    return CollectScriptMacros(MacroCollection{lists_, data_}, Path(script), folder_);
  }

  const project::MacroListEntry& Entry(int32_t i) const { return lists_.MacroEntries()[i]; }
  std::u16string EntryPath(int32_t i) const { return plat::FixedText(Entry(i).Path, 260); }
  // What the collection lists for a file of the scratch folder.
  std::u16string Listed(std::u16string_view name) const { return plat::ToLower(Path(name)); }
  std::vector<std::u16string> Paths() const {
    std::vector<std::u16string> paths;
    for (int32_t i = 0; i < lists_.MacroCount(); ++i) paths.push_back(EntryPath(i));
    return paths;
  }

  // Checks the fields a collected entry carries.
  void ExpectEntry(int32_t i, std::u16string_view path, uint16_t parent, int32_t command, uint8_t folder_relative) {
    SCOPED_TRACE("entry " + std::to_string(i));
    ASSERT_LT(i, lists_.MacroCount());
    const project::MacroListEntry& entry = Entry(i);
    EXPECT_EQ(Narrow(EntryPath(i)), Narrow(path));
    EXPECT_EQ(entry.ParentIndex, parent);
    EXPECT_EQ(entry.CommandIndex, command);
    EXPECT_EQ(entry.FolderRelative, folder_relative);
    EXPECT_EQ(entry.EntryType, 3);
    EXPECT_EQ(entry.UserAdded, 0);
    EXPECT_EQ(entry.Reserved3[0] | entry.Reserved3[1] | entry.Reserved7, 0);
    EXPECT_EQ(plat::FixedText(entry.TempPath, 260), u"");
  }

  app::CVLResString table_;
  app::CVLWinApp application_;
  project::CMakeExe_FileLists lists_;
  std::u16string data_, folder_;
  std::set<std::u16string> temp_before_;
};

TEST_F(MacroCollectionTest, ScriptEntryIsTheRootAndKeepsItsPath) {
  Write(u"Main.MSD", Calls({{0x6605, kByPath, u"a.msd"}}));
  int32_t root = -5;
  EXPECT_TRUE(CollectScriptMacros(MacroCollection{lists_, data_}, Path(u"Main.MSD"), folder_, &root));
  EXPECT_EQ(root, 0);
  ASSERT_EQ(lists_.MacroCount(), 2);
  ExpectEntry(0, Path(u"Main.MSD"), 0xFFFF, -1, 0);
  ExpectEntry(1, Listed(u"a.msd"), 0, 0, 0);
  EXPECT_EQ(lists_.Message(), u"");

  // A script already listed (from a project, in another case) is the root again.
  project::CMakeExe_FileLists again;
  project::MacroListEntry earlier{};
  plat::SetFixedText(earlier.Path, 260, u"C:\\elsewhere.msd");
  again.AddMacroEntry(earlier);
  plat::SetFixedText(earlier.Path, 260, plat::ToUpper(Path(u"Main.MSD")));
  again.AddMacroEntry(earlier);
  EXPECT_TRUE(CollectScriptMacros(MacroCollection{again, data_}, Path(u"Main.MSD"), folder_, &root));
  EXPECT_EQ(root, 1);
  ASSERT_EQ(again.MacroCount(), 3);
  EXPECT_EQ(again.MacroEntries()[2].ParentIndex, 1);
}

TEST_F(MacroCollectionTest, CallsByLibraryNameResolveInTheDataFolder) {
  Write(u"main.msd", Calls({{0x6105, kByName, u"One.msl"},
                            {0x6605, kByName, u"\\Two.msl"},
                            {0x6105, kByName, u"\\sub\\Three.msl"},
                            {0x6605, kByName, u" four.msl"}}));
  EXPECT_TRUE(Collect());
  ASSERT_EQ(lists_.MacroCount(), 5) << Narrow(lists_.Message());
  ExpectEntry(1, plat::ToLower(data_ + u"One.msl"), 0, 0, 1);
  ExpectEntry(2, plat::ToLower(data_ + u"Two.msl"), 0, 1, 1);
  ExpectEntry(3, plat::ToLower(data_ + u"sub\\Three.msl"), 0, 2, 1);
  // A library name is taken as stored: only its test sees it trimmed.
  ExpectEntry(4, plat::ToLower(data_ + u" four.msl"), 0, 3, 1);
}

TEST_F(MacroCollectionTest, CallsByPathResolveAgainstTheScriptFolder) {
  Write(u"main.msd", Calls({{0x6605, kByPath, u"  sub\\B.msd\t "},
                            {0x6105, kByPath, u" rel.msd "},
                            {0x6105, kByPath, plat::ToUpper(Path(u"abs.msd"))},
                            {0x6605, kByPath, u"  " + Path(u"Spaced.msd") + u"  "}}));
  EXPECT_TRUE(Collect());
  ASSERT_EQ(lists_.MacroCount(), 5) << Narrow(lists_.Message());
  ExpectEntry(1, Listed(u"sub\\b.msd"), 0, 0, 0);
  ExpectEntry(2, Listed(u"rel.msd"), 0, 1, 0);
  ExpectEntry(3, Listed(u"abs.msd"), 0, 2, 0);
  ExpectEntry(4, Listed(u"spaced.msd"), 0, 3, 0);
}

TEST_F(MacroCollectionTest, PathsTooLongForTheListAreNotCutIntoAnotherFile) {
  // 259 characters fit the field with its terminator; 260 would be cut to a different name.
  std::u16string fits = Path(u"");
  fits.resize(259 - 4, u'f');
  fits += u".msd";
  // Built by appending (an insert trips a false overlap warning of the cross compiler).
  std::u16string too_long = fits.substr(0, fits.size() - 4);
  too_long += u"g.msd";
  ASSERT_EQ(too_long.size(), 260u);
  Write(u"main.msd", Calls({{0x6105, kByPath, too_long}, {0x6105, kByPath, fits}}));
  EXPECT_TRUE(Collect());
  ASSERT_EQ(lists_.MacroCount(), 2);
  EXPECT_EQ(EntryPath(1), plat::ToLower(fits));
  EXPECT_EQ(Entry(1).CommandIndex, 1);
}

TEST_F(MacroCollectionTest, CommandsThatNameNoFileAddNothing) {
  MacroBuilder script = Calls({{0x6105, kByPath, u"%dir%\\x.msd"},
                               {0x6605, kByName, u"lib%n%.msl"},
                               {0x6105, kByPath, u"IN:name"},
                               {0x6605, kByPath, u"in:name"},
                               {0x6605, kByPath, u"  In:name"},
                               {0x6105, kNotAFile, u"kind2.msd"},
                               {0x6605, kNotAFile, u"kind2.msd"},
                               {0x6105, 7, u"unknown-kind.msd"},
                               {0x6105, kByPath, u"disabled.msd", macro::kCommandDisabled},
                               {0x2301, kByPath, u"other-command.msd"}});
  script.Command(0x6105);  // no record at all
  Write(u"kind2.msd", Calls({{0x6105, kByPath, u"behind-kind2.msd"}}));
  Write(u"main.msd", script);
  EXPECT_TRUE(Collect());
  EXPECT_EQ(Paths(), std::vector<std::u16string>{Path(u"main.msd")});
  EXPECT_EQ(lists_.Message(), u"");
}

TEST_F(MacroCollectionTest, BlankNamesNameNoFolder) {
  // Each would list the script folder or the data folder as a macro file, whose copy for
  // the build can never be made.
  std::vector<Call> calls;
  for (uint16_t code : {uint16_t{0x6105}, uint16_t{0x6605}}) {
    for (std::u16string name : {u"", u"   ", u"\t"}) {
      calls.push_back({code, kByPath, name});
      calls.push_back({code, kByName, name});
    }
    calls.push_back({code, kByName, u"\\"});
    calls.push_back({code, kByName, u"\\  "});
    calls.push_back({code, kByPath, u"sub\\"});
  }
  calls.push_back({0x6605, kByPath, u" a.msd "});
  Write(u"main.msd", Calls(calls));
  EXPECT_TRUE(Collect());
  ASSERT_EQ(lists_.MacroCount(), 2) << Narrow(EntryPath(1));
  ExpectEntry(1, Listed(u"a.msd"), 0, static_cast<int32_t>(calls.size()) - 1, 0);
}

TEST_F(MacroCollectionTest, EverySpellingOfAFileIsOneEntry) {
  Write(u"sub\\b.msd", Calls({{0x6105, kByPath, u"sub\\c.msd"}}));
  Write(u"main.msd", Calls({{0x6605, kByPath, u"sub\\..\\a.msd"},
                            {0x6605, kByPath, u".\\A.msd"},
                            {0x6105, kByPath, u"sub\\\\..\\a.msd"},
                            {0x6105, kByPath, Path(u"sub\\.\\..\\a.msd")},
                            {0x6105, kByName, u"..\\sub\\b.msd"},
                            {0x6605, kByPath, u"sub/b.msd"},
                            {0x6105, kByPath, u"SUB\\.\\C.msd"}}));
  EXPECT_TRUE(Collect());
  ASSERT_EQ(lists_.MacroCount(), 4) << Narrow(lists_.Message());
  ExpectEntry(1, Listed(u"a.msd"), 0, 0, 0);
  // By library name from the data folder's parent: the file in the script's sub-folder,
  // found and walked.
  ExpectEntry(2, Listed(u"sub\\b.msd"), 0, 4, 1);
  ExpectEntry(3, Listed(u"sub\\c.msd"), 2, 0, 0);
}

TEST_F(MacroCollectionTest, OnlyTheTrimmingCallTestsItsNameTrimmed) {
  // 0x6105 tests its name as stored, so " in:x" is no input value there and resolves
  // (trimmed) as a file in the script folder; 0x6605 trims before testing and skips it.
  Write(u"main.msd", Calls({{0x6605, kByPath, u" in:x"}, {0x6105, kByPath, u" in:x"}}));
  EXPECT_TRUE(Collect());
  ASSERT_EQ(lists_.MacroCount(), 2);
  ExpectEntry(1, Listed(u"in:x"), 0, 1, 0);
}

TEST_F(MacroCollectionTest, CyclesEndAtTheListedEntry) {
  Write(u"main.msd", Calls({{0x6605, kByPath, u"MAIN.msd"}, {0x6605, kByPath, u"a.msd"}}));
  Write(u"a.msd", Calls({{0x6105, kByPath, u"b.msd"}, {0x6105, kByPath, u"a.msd"}}));
  Write(u"b.msd", Calls({{0x6105, kByPath, u"a.msd"}, {0x6105, kByPath, u"main.msd"}}));
  EXPECT_TRUE(Collect());
  ASSERT_EQ(lists_.MacroCount(), 3);
  ExpectEntry(1, Listed(u"a.msd"), 0, 1, 0);
  ExpectEntry(2, Listed(u"b.msd"), 1, 0, 0);
  EXPECT_EQ(lists_.Message(), u"");
}

TEST_F(MacroCollectionTest, FirstUseSiteIsKeptDepthFirst) {
  Write(u"main.msd", Calls({{0x6605, kByPath, u"b.msd"}, {0x6605, kByPath, u"c.msd"}, {0x6605, kByPath, u"d.msd"}}));
  Write(u"b.msd", Calls({{0x6105, kByPath, u"x.msd"}, {0x6105, kByPath, u"y.msd"}, {0x6105, kByPath, u"d.msd"}}));
  Write(u"c.msd", Calls({{0x6105, kByPath, u"d.msd"}}));
  Write(u"d.msd", Calls({{0x6105, kByPath, u"e.msd"}}));
  EXPECT_TRUE(Collect());
  const std::vector<std::u16string> order{Path(u"main.msd"), Listed(u"b.msd"), Listed(u"x.msd"), Listed(u"y.msd"),
                                          Listed(u"d.msd"),  Listed(u"e.msd"), Listed(u"c.msd")};
  EXPECT_EQ(Paths(), order);
  ExpectEntry(4, Listed(u"d.msd"), 1, 2, 0);
  ExpectEntry(5, Listed(u"e.msd"), 4, 0, 0);
  ExpectEntry(6, Listed(u"c.msd"), 0, 1, 0);
}

TEST_F(MacroCollectionTest, SamePathInAnyCaseIsOneEntry) {
  Write(u"a.msd", Calls({{0x6105, kByPath, u"inner.msd"}}));
  Write(u"main.msd", Calls({{0x6105, kByPath, plat::ToUpper(Path(u"a.msd"))},
                            {0x6605, kByPath, plat::ToLower(Path(u"a.msd"))},
                            {0x6605, kByPath, u"A.MSD"}}));
  EXPECT_TRUE(Collect());
  ASSERT_EQ(lists_.MacroCount(), 3);
  ExpectEntry(1, Listed(u"a.msd"), 0, 0, 0);
  ExpectEntry(2, Listed(u"inner.msd"), 1, 0, 0);
}

TEST_F(MacroCollectionTest, MissingTargetsAreListedButNotScanned) {
  Write(u"main.msd", Calls({{0x6605, kByPath, u"missing.msd"},
                            {0x6605, kByPath, u"sub"},
                            {0x6105, kByPath, u"."},
                            {0x6605, kByPath, u"sub\\.."},
                            {0x6605, kByName, u"gone.msl"}}));
  EXPECT_TRUE(Collect());
  ASSERT_EQ(lists_.MacroCount(), 3);
  ExpectEntry(1, Listed(u"missing.msd"), 0, 0, 0);
  // A folder is no macro file: its copy for the build could never be made, so it is not
  // listed at all.
  ExpectEntry(2, plat::ToLower(data_ + u"gone.msl"), 0, 4, 1);
  EXPECT_EQ(lists_.Message(), u"") << "nothing was opened, so nothing failed";
}

TEST_F(MacroCollectionTest, EmbeddedMacroFilesAreWalkedForTheirCaller) {
  Write(u"second.msd", Calls({{0x6105, kByPath, u"third.msd"}}));
  const std::string embedded =
      Calls({{0x6605, kByPath, u"%skip%"}, {0x6605, kByPath, u"second.msd"}, {0x6105, kByName, u"lib.msl"}}).Bytes();
  const std::string ignored = Calls({{0x6605, kByPath, u"from-text.msd"}}).Bytes();
  const std::string other = Calls({{0x6605, kByPath, u"from-msd.msd"}}).Bytes();
  Write(u"main.msd",
        WithAttachments(
            Calls({{0x6605, kByPath, u"first.msd"}}),
            {{u"Notes.txt", u".txt", ignored}, {u"Helper.MSL", u".MSL", embedded}, {u"other.msd", u".Msd", other}},
            {{u"vanished.msd", u".msd", ""}}));
  EXPECT_TRUE(Collect());
  const std::vector<std::u16string> order{Path(u"main.msd"),
                                          Listed(u"first.msd"),
                                          Listed(u"second.msd"),
                                          Listed(u"third.msd"),
                                          plat::ToLower(data_ + u"lib.msl"),
                                          Listed(u"from-msd.msd")};
  EXPECT_EQ(Paths(), order) << "the stream that is missing is passed over, the .txt item is no macro";
  ExpectEntry(2, Listed(u"second.msd"), 0, 1, 0);
  ExpectEntry(3, Listed(u"third.msd"), 2, 0, 0);
  ExpectEntry(4, plat::ToLower(data_ + u"lib.msl"), 0, 2, 1);
  ExpectEntry(5, Listed(u"from-msd.msd"), 0, 0, 0);
  EXPECT_EQ(lists_.Message(), u"");
}

TEST_F(MacroCollectionTest, EmbeddedFilesInsideEmbeddedFilesNestOnlySoDeep) {
  // Each level calls a file named after it and carries the level below as an attachment:
  // the chain an attachment that embeds itself would make, cut off by the file's size.
  constexpr int kLevels = kMaxEmbeddedNesting + 3;
  std::string level = Calls({{0x6605, kByPath, u"level0.msd"}}).Bytes();
  for (int k = 1; k <= kLevels; ++k) {
    MacroBuilder host = Calls({{0x6605, kByPath, Numbered(u"level", k)}});
    level = WithAttachments(host, {{u"inner.msd", u".msd", level}});
  }
  Write(u"main.msd", level);
  EXPECT_TRUE(Collect());
  // The script's level and one level for each embedded walk allowed.
  ASSERT_EQ(lists_.MacroCount(), 1 + 1 + kMaxEmbeddedNesting);
  for (int d = 0; d <= kMaxEmbeddedNesting; ++d) {
    ExpectEntry(1 + d, Listed(Numbered(u"level", kLevels - d)), 0, 0, 0);
  }

  // The nesting counts along the whole chain of walks, through listed files too: the same
  // chain reached from an embedded file of another script has one level less to go.
  Write(u"outer.msd",
        WithAttachments(MacroBuilder(), {{u"e.msd", u".msd", Calls({{0x6605, kByPath, u"main.msd"}}).Bytes()}}));
  project::CMakeExe_FileLists outer;
  EXPECT_TRUE(CollectScriptMacros(MacroCollection{outer, data_}, Path(u"outer.msd"), folder_));
  ASSERT_EQ(outer.MacroCount(), 1 + 1 + 1 + (kMaxEmbeddedNesting - 1));
  EXPECT_EQ(plat::FixedText(outer.MacroEntries()[1].Path, 260), Listed(u"main.msd"));
  EXPECT_EQ(outer.MacroEntries()[outer.MacroCount() - 1].ParentIndex, 1);
}

TEST_F(MacroCollectionTest, LimitOf512EntriesStopsAddingButNotScanning) {
  std::vector<Call> calls;
  for (int i = 1; i <= 511; ++i) calls.push_back({0x6105, kByPath, Numbered(u"m", i)});

  // 511 calls and the script make 512 entries: the limit is met, not passed, and a
  // disabled call after them is no call.
  std::vector<Call> full = calls;
  full.push_back({0x6105, kByPath, u"late.msd", macro::kCommandDisabled});
  Write(u"full.msd", Calls(full));
  EXPECT_TRUE(Collect(u"full.msd"));
  EXPECT_EQ(lists_.MacroCount(), 512);
  EXPECT_EQ(lists_.Message(), u"");

  // Every call found beyond it fails the script, even one that would name no file.
  std::vector<Call> more = calls;
  more.push_back({0x6105, kByPath, u"%v%"});
  project::CMakeExe_FileLists over(&application_);
  Write(u"over.msd", Calls(more));
  EXPECT_FALSE(CollectScriptMacros(MacroCollection{over, data_}, Path(u"over.msd"), folder_));
  EXPECT_EQ(over.MacroCount(), 512);
  EXPECT_EQ(over.Message(), u"Too many macro files.");
  EXPECT_EQ(over.MacroEntries()[511].CommandIndex, 510);

  // Scanning goes on: the attachment after the calls is still extracted and walked (its
  // failure to open leaves the macro layer's reason), but the limit keeps the message.
  project::CMakeExe_FileLists walked(&application_);
  more = calls;
  more.push_back({0x6605, kByPath, u"m600.msd"});
  Write(u"walked.msd", WithAttachments(Calls(more), {{u"junk.msd", u".msd", std::string(300, 'j')}}));
  macro::ClearMacroFileError();
  EXPECT_FALSE(CollectScriptMacros(MacroCollection{walked, data_}, Path(u"walked.msd"), folder_));
  EXPECT_EQ(walked.MacroCount(), 512);
  EXPECT_EQ(walked.Message(), u"Too many macro files.");
  EXPECT_NE(macro::GetMacroFileError(nullptr), nullptr) << "the junk attachment was opened";
}

TEST_F(MacroCollectionTest, LimitMetDeepInsideFailsTheCollection) {
  // A chain of files each calling the next: the walk nests 512 deep, and the call that
  // would add the 513th entry leaves the list short, which fails the whole collection.
  constexpr int kChain = 520;
  for (int i = 1; i <= kChain; ++i) Write(Numbered(u"c", i), Calls({{0x6605, kByPath, Numbered(u"c", i + 1)}}));
  Write(u"main.msd", Calls({{0x6605, kByPath, u"c1.msd"}}));
  EXPECT_FALSE(Collect());
  ASSERT_EQ(lists_.MacroCount(), 512);
  EXPECT_EQ(lists_.Message(), u"Too many macro files.");
  for (int32_t i = 1; i < 512; ++i) {
    ASSERT_EQ(Entry(i).ParentIndex, i - 1) << i;
    ASSERT_EQ(EntryPath(i), Listed(Numbered(u"c", i))) << i;
  }

  // The same inside the walk of an embedded file, with a failure after it: the list is
  // still short, and the limit is what the message tells.
  std::vector<Call> many;
  for (int i = 1; i <= 520; ++i) many.push_back({0x6105, kByPath, Numbered(u"e", i)});
  Write(u"embeds.msd",
        WithAttachments(Calls({{0x6605, kByPath, u"first.msd"}}),
                        {{u"big.msl", u".msl", Calls(many).Bytes()}, {u"junk.msd", u".msd", std::string(300, 'j')}}));
  project::CMakeExe_FileLists embedded(&application_);
  EXPECT_FALSE(CollectScriptMacros(MacroCollection{embedded, data_}, Path(u"embeds.msd"), folder_));
  EXPECT_EQ(embedded.MacroCount(), 512);
  EXPECT_EQ(embedded.Message(), u"Too many macro files.");
}

TEST_F(MacroCollectionTest, UnreadableFilesReportTheirPath) {
  // A script that is missing or no macro file: its entry stays, the walk fails.
  EXPECT_FALSE(Collect(u"absent.msd"));
  EXPECT_EQ(lists_.Message(), u"Cannot open " + Path(u"absent.msd") + u".");
  EXPECT_EQ(lists_.MacroCount(), 1);
  project::CMakeExe_FileLists text(&application_);
  Write(u"text.msd", std::string(6000, 't'));
  EXPECT_FALSE(CollectScriptMacros(MacroCollection{text, data_}, Path(u"text.msd"), folder_));
  EXPECT_EQ(text.Message(), u"Cannot open " + Path(u"text.msd") + u".");

  // A called file that cannot be opened only leaves its message; the calls after it go on.
  project::CMakeExe_FileLists nested(&application_);
  Write(u"main.msd", Calls({{0x6605, kByPath, u"Text.msd"}, {0x6605, kByPath, u"after.msd"}}));
  EXPECT_TRUE(CollectScriptMacros(MacroCollection{nested, data_}, Path(u"main.msd"), folder_));
  EXPECT_EQ(nested.Message(), u"Cannot open " + Listed(u"text.msd") + u".");
  EXPECT_EQ(nested.MacroCount(), 3);
}

TEST_F(MacroCollectionTest, DamagedCommandTablesReportTheMacroLayersReason) {
  // A command whose record is not in the file: the macro layer calls the file damaged.
  MacroBuilder damaged = Calls({{0x6605, kByPath, u"a.msd"}});
  damaged.Command(0x6105, 40);
  Write(u"damaged.msd", damaged);
  EXPECT_FALSE(Collect(u"damaged.msd"));
  EXPECT_EQ(lists_.Message(), u"Damaged: " + Path(u"damaged.msd"));
  EXPECT_EQ(lists_.MacroCount(), 1) << "nothing is taken from a table that could not be read";

  // A packed command block that begins where the file ends: the read fails without a key
  // of the macro layer, so the system's text for the failure is the message.
  std::string packed = Calls({{0x6605, kByPath, u"a.msd"}}).Packed().Bytes();
  const uint32_t end = static_cast<uint32_t>(packed.size());
  packed.replace(32, 4, reinterpret_cast<const char*>(&end), 4);
  Write(u"cut.msd", packed);
  project::CMakeExe_FileLists cut(&application_);
  EXPECT_FALSE(CollectScriptMacros(MacroCollection{cut, data_}, Path(u"cut.msd"), folder_));
  EXPECT_FALSE(cut.Message().empty());
  EXPECT_EQ(cut.Message().find(u"IDS_"), std::u16string_view::npos) << Narrow(cut.Message());
  EXPECT_EQ(cut.Message().find(u"Damaged"), std::u16string_view::npos) << Narrow(cut.Message());
}

TEST_F(MacroCollectionTest, ShortCallRecordsReadOnlyWhatTheyHold) {
  MacroBuilder script;
  script.Command(0x6605, 1).Param(1, {kByPath});  // a kind, no name
  script.Command(0x6105, 2).Param(2, {kFiller});  // no kind
  std::vector<uint8_t> cut = CallPayload(0x6105, kByPath, u"cutname.msd");
  cut.resize(8 + 2 * 3 + 1);  // "cut" and half a unit
  script.Command(0x6105, 3).Param(3, cut);
  Write(u"main.msd", script);
  EXPECT_TRUE(Collect());
  // The empty name names no file (it would list the script folder itself).
  EXPECT_EQ(Paths(), (std::vector<std::u16string>{Path(u"main.msd"), Listed(u"cut")}));
  EXPECT_EQ(lists_.Message(), u"");
}

TEST_F(MacroCollectionTest, RunningOutOfMemoryAnywhereIsAMessage) {
  Write(u"a.msd", Calls({{0x6105, kByPath, u"b.msd"}}));
  Write(u"b.msd", Calls({{0x6105, kByName, u"lib.msl"}}));
  // The script also carries a library in its attachments, whose walk and clean-up
  // allocate too.
  const std::string embedded = Calls({{0x6605, kByPath, u"embedded-call.msd"}}).Bytes();
  Write(u"main.msd", WithAttachments(Calls({{0x6605, kByPath, u"a.msd"}, {0x6605, kByPath, u"missing.msd"}}),
                                     {{u"lib", u".msl", embedded}}));
  // Each allocation of the collection in turn fails: never an exception, and either the
  // memory message or, where a layer below turned the failure into its own, a message.
  const std::u16string script = Path(u"main.msd");
  int memory_messages = 0;
  std::unique_ptr<project::CMakeExe_FileLists> lists;
  const long runs = brankel_test::RunWithEachAllocationFailing(
      [&] { lists = std::make_unique<project::CMakeExe_FileLists>(&application_); },
      [&] {
        return CollectScriptMacros(MacroCollection{*lists, data_}, script, folder_);
      },
      [&](bool failed, bool result) {
        // A clean-up that itself ran out of memory leaves its scratch file behind.
        for (const std::u16string& name : brankel_test::TemporaryFiles(u"~m*")) {
          if (!temp_before_.contains(name)) plat::DeleteFile(plat::GetTempPath() + name);
        }
        if (!failed) {
          EXPECT_TRUE(result);
          EXPECT_EQ(lists->MacroCount(), 6);
        } else if (!result) {
          EXPECT_FALSE(lists->Message().empty());
          if (lists->Message() == u"IDS_ERR_NOTENOUGHMEM") ++memory_messages;
        }
      });
  EXPECT_GT(runs, 20) << "the collection allocates";
  EXPECT_GT(memory_messages, runs / 2) << "of " << runs;
}

TEST(MacroCollectionScratch, ScratchPathsAreReservedUniqueNamesWithoutTheirExtension) {
  std::u16string first_path;
  {
    const ScratchPath first;
    const ScratchPath second;
    first_path = first.Path();
    ASSERT_FALSE(first_path.empty());
    EXPECT_NE(first_path, second.Path());
    const std::u16string temp = plat::GetTempPath();
    ASSERT_GT(first_path.size(), temp.size() + 3);
    EXPECT_TRUE(plat::EqualNoCase(first_path.substr(0, temp.size()), temp)) << Narrow(first_path);
    EXPECT_EQ(first_path.substr(temp.size(), 3), u"~mt");
    EXPECT_EQ(first_path.find(u'.', temp.size()), std::u16string::npos) << "no extension";
    EXPECT_FALSE(plat::FileExists(first_path));
    EXPECT_TRUE(plat::FileExists(first_path + u".tmp")) << "the name stays reserved while in use";
  }
  EXPECT_FALSE(plat::FileExists(first_path + u".tmp"));
}

}  // namespace
}  // namespace analysis
