#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "analysis/extra_files.h"
#include "analysis/failing_allocation.h"
#include "analysis/make_exe_builder.h"
#include "app/res_string.h"
#include "app/vl_win_app.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/options.h"
#include "project/target_name.h"
#include "support/macro_builder.h"
#include "support/scratch.h"

namespace brankel_test {
namespace {

using analysis::CMakeExe_Builder;
using analysis::CVLMultipleFilename;
using analysis::ResolveExtraFile;
using project::ExtraFileEntry;
using project::MakeTargetName;

std::u16string U(const std::string& ascii) { return plat::AsciiToUtf16(ascii); }

// The hash written out the long way, as a check on the library's loop.
uint32_t ReferenceHash(std::u16string_view text) {
  uint64_t h = 0;
  for (char16_t c : text) h = (h * 131 + c) % 0x100000000ull;
  return static_cast<uint32_t>(h) & 0x7FFFFFFFu;
}

// A payload of `size` zero bytes with texts and bytes placed at given offsets.
class Payload {
 public:
  explicit Payload(size_t size = 0) : bytes_(size) {}
  Payload& Text(size_t offset, std::u16string_view text, bool terminate = true) {
    const size_t end = offset + 2 * (text.size() + (terminate ? 1 : 0));
    if (bytes_.size() < end) bytes_.resize(end);
    for (size_t i = 0; i < text.size(); ++i) {
      bytes_[offset + 2 * i] = static_cast<uint8_t>(text[i]);
      bytes_[offset + 2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
    if (terminate) bytes_[end - 2] = bytes_[end - 1] = 0;
    return *this;
  }
  Payload& Byte(size_t offset, uint8_t value) {
    if (bytes_.size() <= offset) bytes_.resize(offset + 1);
    bytes_[offset] = value;
    return *this;
  }
  Payload& Word(size_t offset, uint16_t value) {
    Byte(offset, static_cast<uint8_t>(value));
    return Byte(offset + 1, static_cast<uint8_t>(value >> 8));
  }
  Payload& Size(size_t size) {
    bytes_.resize(size);
    return *this;
  }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Where each command keeps its one name, written out here on its own.
struct NamedCommand {
  uint16_t code;
  size_t offset;
};
constexpr NamedCommand kOneNameCommands[] = {{0x2301, 0},    {0x230A, 0}, {0x2311, 4}, {0x2315, 0}, {0x2501, 0},
                                             {0x4201, 0x44}, {0x430C, 0}, {0x4311, 0}, {0x4312, 0}};
constexpr uint16_t kListCommands[] = {0x210A, 0x2309, 0x650F};

// A find-image command in the mode that names a picture file.
Payload FindImage(std::u16string_view name) {
  return std::move(Payload().Byte(0x24F, 1).Byte(0x569, 1).Byte(0x56A, 1).Text(0x56E, name));
}
// The 0x3106 layout: flags at 0x654, further-name count at 0x1086, names from 0x1088.
Payload FileSet(std::u16string_view first, bool first_flag, const std::vector<std::u16string>& further) {
  Payload payload;
  payload.Byte(0x654, first_flag ? 0x02 : 0x00).Word(0x1086, static_cast<uint16_t>(further.size()));
  size_t at = 0x1088;
  payload.Text(at, first);
  at += 2 * (first.size() + 1);
  for (const std::u16string& name : further) {
    payload.Text(at, name);
    at += 2 * (name.size() + 1);
  }
  return payload.Text(at, u"");
}

macro::MacroCommand Cmd(uint16_t code) {
  macro::MacroCommand command{};
  command.Code = code;
  return command;
}

class ExtraFilesTest : public ScratchTest {
 protected:
  ExtraFilesTest() {
    table_.LoadText(
        "[String]\r\n"
        "IDS_ERR_TOOMANYEXTRAFILE=Too many extra files in %s.\r\n"
        "IDS_ERR_OPENSCRIPT=Cannot open %s.\r\n"
        "IDS_ERR_BADFILE=%s is damaged.\r\n");
    texts_.SetLanguageTable(&table_);
  }
  void SetUp() override {
    ScratchTest::SetUp();
    ASSERT_TRUE(plat::CreateDirectory(dir_ + u"\\Script"));
    folder_ = dir_ + u"\\Script\\";
    builder_.SetScriptPath(folder_ + u"main.msd", folder_);
  }

  std::u16string WriteMacro(const MacroBuilder& macro, std::u16string_view name = u"calls.msl") {
    const std::u16string path = folder_ + std::u16string(name);
    EXPECT_TRUE(macro.WriteTo(path));
    return path;
  }
  // One command per payload, in order, records numbered from 1.
  bool Collect(const std::vector<std::pair<uint16_t, Payload>>& commands, int32_t macro_index = 0) {
    MacroBuilder macro;
    uint16_t id = 1;
    for (const auto& [code, payload] : commands) {
      macro.Command(code, id).Param(id, payload.Bytes());
      ++id;
    }
    return builder_.CollectExtraFiles(macro_index, WriteMacro(macro));
  }
  void MakeFile(std::u16string_view relative) { ASSERT_TRUE(WriteBytes(folder_ + std::u16string(relative), "x")); }

  int32_t Count() const { return builder_.FileLists().ExtraCount(); }
  const ExtraFileEntry& Entry(int32_t i) const { return builder_.FileLists().ExtraEntries()[i]; }
  std::u16string Source(int32_t i) const { return plat::FixedText(Entry(i).SourcePath, 260); }
  std::u16string Target(int32_t i) const { return plat::FixedText(Entry(i).TargetName, 260); }
  bool Scan(uint16_t code, const Payload& payload, bool* full = nullptr) {
    return builder_.CollectCommandExtraFiles(2, Cmd(code), payload.Bytes(), 7, full);
  }

  app::CVLResString table_;
  app::CVLWinApp texts_;
  CMakeExe_Builder builder_{&texts_};
  std::u16string folder_;
};

// ---- Name hash and name lists ------------------------------------------------------------------

TEST(ExtraMultipleFilename, SplitsFolderAndNames) {
  const CVLMultipleFilename three(u"C:\\Pics\\a.bmp;b.bmp;c.bmp");
  ASSERT_EQ(three.Count(), 3u);
  EXPECT_EQ(three.Folder(), u"C:\\Pics\\");
  EXPECT_EQ(three.Path(0), u"C:\\Pics\\a.bmp");
  EXPECT_EQ(three.Path(1), u"C:\\Pics\\b.bmp");
  EXPECT_EQ(three.Name(2), u"c.bmp");

  const CVLMultipleFilename one(u"C:\\Pics\\only.bmp");
  ASSERT_EQ(one.Count(), 1u);
  EXPECT_EQ(one.Folder(), u"");
  EXPECT_EQ(one.Path(0), u"C:\\Pics\\only.bmp");

  const CVLMultipleFilename bare(u"a.bmp; b.bmp ;");
  ASSERT_EQ(bare.Count(), 2u) << "a final empty piece adds nothing";
  EXPECT_EQ(bare.Folder(), u"");
  EXPECT_EQ(bare.Name(1), u" b.bmp ") << "further pieces stay as they are";

  const CVLMultipleFilename drive(u"D:;x.bmp");
  ASSERT_EQ(drive.Count(), 2u);
  EXPECT_EQ(drive.Name(0), u"") << "a piece ending with a colon has no file name";
  EXPECT_EQ(drive.Path(1), u"x.bmp");

  const CVLMultipleFilename gap(u"C:\\P\\a;;b");
  ASSERT_EQ(gap.Count(), 3u) << "an empty piece inside the list is a name";
  EXPECT_EQ(gap.Path(1), u"C:\\P\\");
  EXPECT_EQ(gap.Path(2), u"C:\\P\\b");
}

// ---- Resolution and display names ----------------------------------------------------------------

// ---- Reading a command's names from its payload alone ---------------------------------------

TEST(ExtraCommandNames, EachCommandsTextsInOfferOrder) {
  struct Expected {
    std::u16string name;
    std::u16string hashed;  // the text the hash is of
    size_t offset;
  };
  struct Case {
    const char* what;
    uint16_t code;
    Payload payload;
    std::vector<Expected> names;
    bool offer_again;
  };
  Payload cut_set = FileSet(u" C:\\One.txt ", true, {u"in:x", u"C:\\%v%", u"Two.txt"});
  const size_t cut_at = cut_set.Bytes().size() - 2;
  cut_set.Text(cut_at, u"Cut", false).Byte(cut_at + 6, 'Z');
  const Case cases[] = {
      {"one name, lower-cased",
       0x4201,
       Payload().Text(0x44, u" C:\\A.TXT "),
       {{u"c:\\a.txt", u"c:\\a.txt", 0x44}},
       true},
      {"a leading .\\ goes after hashing",
       0x2501,
       Payload().Text(0, u".\\Sub\\N.txt"),
       {{u"sub\\n.txt", u".\\sub\\n.txt", 0}},
       true},
      {"a list shares its text's offset",
       0x2309,
       Payload().Text(0x84, u"D:\\P\\x.bmp;Y.bmp;"),
       {{u"d:\\p\\x.bmp", u"d:\\p\\x.bmp", 0x84}, {u"d:\\p\\y.bmp", u"d:\\p\\y.bmp", 0x84}},
       true},
      {"a text cut short by the payload ends with it",
       0x4201,
       Payload(0x44).Text(0x44, u"C:\\Cut", false).Byte(0x44 + 12, 'Z'),
       {{u"c:\\cut", u"c:\\cut", 0x44}},
       true},
      {"file set: first untrimmed, further trimmed, the last one cut short",
       0x3106,
       cut_set,
       {{u" C:\\One.txt ", u"c:\\one.txt", 0x1088},
        {u"Two.txt", u"two.txt", 0x1088 + 2 * 13 + 2 * 5 + 2 * 7},
        {u"Cut", u"cut", cut_at}},
       false},
      {"find image outside its file mode", 0x1205, Payload().Text(0x56E, u"C:\\x.bmp"), {}, false},
      {"a word before a colon is no drive", 0x2301, Payload().Text(0, u"win:x"), {}, false},
      {"a variable", 0x430C, Payload().Text(0, u"C:\\%dir%\\a"), {}, false},
      {"payload ends before the text", 0x650F, Payload(0x84), {}, false},
      {"a code that names no files", 0x1206, Payload().Text(0, u"C:\\a.txt"), {}, false},
  };
  for (const Case& c : cases) {
    const analysis::CommandNames found = analysis::ReadCommandNames(c.code, plat::ByteView(c.payload.Bytes()));
    EXPECT_EQ(found.offer_again, c.offer_again) << c.what;
    ASSERT_EQ(found.names.size(), c.names.size()) << c.what;
    for (size_t i = 0; i < c.names.size(); ++i) {
      EXPECT_EQ(found.names[i].name, c.names[i].name) << c.what << " #" << i;
      EXPECT_EQ(found.names[i].hash, ReferenceHash(c.names[i].hashed)) << c.what << " #" << i;
      EXPECT_EQ(found.names[i].text_offset, c.names[i].offset) << c.what << " #" << i;
    }
  }
}

TEST_F(ExtraFilesTest, ResolvesAbsoluteThenScriptFolderThenSearchPath) {
  std::u16string path = u"before";
  int32_t on_search = 7;
  EXPECT_TRUE(ResolveExtraFile(u"C:\\Nowhere\\x.bin", folder_, &path, &on_search));
  EXPECT_EQ(path, u"C:\\Nowhere\\x.bin") << "absolute names are taken without looking";
  EXPECT_EQ(on_search, 0);
  EXPECT_TRUE(ResolveExtraFile(u"\\\\server\\share\\y.bin", folder_, &path, &on_search));
  EXPECT_EQ(path, u"\\\\server\\share\\y.bin");

  MakeFile(u"here.txt");
  EXPECT_TRUE(ResolveExtraFile(u"HERE.TXT", folder_, &path, &on_search));
  EXPECT_EQ(path, folder_ + u"HERE.TXT") << "plain concatenation";
  EXPECT_EQ(on_search, 0);

  path = u"kept";
  on_search = 7;
  EXPECT_FALSE(ResolveExtraFile(u"missing.txt", folder_, &path, &on_search));
  EXPECT_EQ(path, u"kept");
  EXPECT_EQ(on_search, 0);

  // Names that can only be folders do not resolve: the script folder itself, a
  // sub-folder, a path ending with a backslash.
  ASSERT_TRUE(plat::CreateDirectory(folder_ + u"sub"));
  for (std::u16string_view name : {u"", u"  ", u"sub", u"sub\\", u"C:\\Pics\\"}) {
    EXPECT_FALSE(ResolveExtraFile(name, folder_, &path, &on_search)) << Narrow(name);
  }
  EXPECT_EQ(path, u"kept");
}

TEST_F(ExtraFilesTest, ResolvesThroughTheSearchPathToTheBareName) {
  const std::u16string elsewhere = dir_ + u"\\elsewhere";
  ASSERT_TRUE(plat::CreateDirectory(elsewhere));
  ASSERT_TRUE(WriteBytes(elsewhere + u"\\onlyhere.dat", "x"));
  MakeFile(u"both.dat");
  ASSERT_TRUE(WriteBytes(elsewhere + u"\\both.dat", "x"));
  const std::u16string saved = plat::GetCurrentDirectory();
  ASSERT_TRUE(plat::SetCurrentDirectory(elsewhere));
  std::u16string path;
  int32_t on_search = 0;
  const bool found = ResolveExtraFile(u"onlyhere.dat", folder_, &path, &on_search);
  const bool script_first = ResolveExtraFile(u"both.dat", folder_, &path, &on_search);
  const std::u16string both_path = path;
  const int32_t both_flag = on_search;
  const bool collected = Collect({{0x230A, Payload().Text(0, u"OnlyHere.DAT")}});
  ASSERT_TRUE(plat::SetCurrentDirectory(saved));

  EXPECT_TRUE(found);
  EXPECT_TRUE(script_first);
  EXPECT_EQ(both_path, folder_ + u"both.dat") << "the script folder comes before the search";
  EXPECT_EQ(both_flag, 0);
  EXPECT_TRUE(collected);
  ASSERT_EQ(Count(), 1);
  EXPECT_EQ(Source(0), u"onlyhere.dat") << "the bare name, lower-cased like every command name";
  EXPECT_EQ(Entry(0).OnSearchPath, 1);
  EXPECT_EQ(Target(0), u"onlyhere.dat");
}

TEST_F(ExtraFilesTest, RefusesPathsThatDoNotFitAnEntry) {
  std::u16string path = u"kept";
  int32_t on_search = 0;
  const std::u16string fits = u"C:\\" + std::u16string(256, u'a');  // 259 characters
  EXPECT_TRUE(ResolveExtraFile(fits, folder_, &path, &on_search));
  EXPECT_EQ(path, fits);
  path = u"kept";
  EXPECT_FALSE(ResolveExtraFile(fits + u"b", folder_, &path, &on_search)) << "260 characters";
  EXPECT_EQ(path, u"kept");
  // A relative name that fits alone but not after the script folder.
  const std::u16string relative(260 - folder_.size(), u'r');
  EXPECT_FALSE(ResolveExtraFile(relative, folder_, &path, &on_search));

  // In a list, the one name too long is skipped and its neighbours stay whole.
  const std::u16string list = u"C:\\L\\" + std::u16string(254, u'n') + u";" + std::u16string(255, u'n') + u";short.bin";
  EXPECT_TRUE(Collect({{0x210A, Payload().Text(0x84, list)}, {0x230A, Payload().Text(0, fits + u"b")}}));
  ASSERT_EQ(Count(), 2);
  EXPECT_EQ(Source(0).size(), 259u);
  EXPECT_EQ(Source(1), u"c:\\l\\short.bin");
}

TEST(ExtraDisplayNames, RelativeInsideTheScriptFolderElseBare) {
  const std::u16string folder = u"C:\\Work\\";
  EXPECT_EQ(MakeTargetName(u"C:\\Work\\data\\a.txt", folder), u"data\\a.txt");
  EXPECT_EQ(MakeTargetName(u"c:\\WORK\\Data\\A.txt", folder), u"Data\\A.txt") << "folder compared without case";
  EXPECT_EQ(MakeTargetName(u"D:\\x\\b.txt", folder), u"b.txt");
  EXPECT_EQ(MakeTargetName(u"notepad.exe", folder), u"notepad.exe");
  EXPECT_EQ(MakeTargetName(u"D:\\x\\b.txt", u""), u"b.txt") << "no script folder: a drive cannot travel";
  EXPECT_EQ(MakeTargetName(u"C:\\Work", folder), u"Work");
  EXPECT_EQ(MakeTargetName(u"C:\\Other\\C:\\Work\\q.txt", folder), u"q.txt")
      << "only a path that starts with the folder is inside it";
  EXPECT_EQ(MakeTargetName(u"d:\\x\\data:", folder), u"") << "no file-name part: no name at all";
  EXPECT_EQ(MakeTargetName(u"c:\\work\\data:", folder), u"");
}

// ---- The commands ------------------------------------------------------------------------------

TEST_F(ExtraFilesTest, EveryCommandOfTheTableNamesItsFile) {
  std::vector<std::pair<uint16_t, Payload>> commands;
  std::vector<std::u16string> names;
  for (const NamedCommand& one : kOneNameCommands) {
    names.push_back(u"C:\\Ext\\One" + U(std::to_string(one.code)) + u".BIN");
    commands.emplace_back(one.code, Payload().Text(one.offset, names.back()));
  }
  for (uint16_t code : kListCommands) {
    names.push_back(u"C:\\Ext\\List" + U(std::to_string(code)) + u".BIN");
    commands.emplace_back(code, Payload().Text(0x84, names.back()));
  }
  names.push_back(u"C:\\Ext\\Image.BMP");
  commands.emplace_back(0x1205, FindImage(names.back()));
  names.push_back(u"C:\\Ext\\First.TXT");
  commands.emplace_back(0x3106, FileSet(names.back(), true, {}));
  // Codes outside the table name nothing, whatever their records hold.
  commands.emplace_back(0x2302, Payload().Text(0, u"C:\\Ext\\not.bin").Text(0x84, u"C:\\Ext\\not2.bin"));
  commands.emplace_back(0x6105, Payload().Text(0, u"C:\\Ext\\not3.bin"));

  ASSERT_TRUE(Collect(commands, 3));
  ASSERT_EQ(Count(), static_cast<int32_t>(names.size()));
  for (int32_t i = 0; i < Count(); ++i) {
    SCOPED_TRACE(Narrow(names[i]));
    const bool keeps_case = commands[i].first == 0x3106;
    const std::u16string lower = plat::ToLower(names[i]);
    EXPECT_EQ(Source(i), keeps_case ? names[i] : lower);
    EXPECT_EQ(Entry(i).ParentIndex, 3);
    EXPECT_EQ(Entry(i).CommandIndex, i);
    EXPECT_EQ(Entry(i).NameHash, ReferenceHash(lower));
    EXPECT_EQ(Entry(i).OnSearchPath, 0);
    EXPECT_EQ(Entry(i).UserAdded, 0);
    EXPECT_EQ(Entry(i).Excluded, 0);
    EXPECT_EQ(Entry(i).FileKind, 0);
    EXPECT_EQ(Entry(i).Reserved10[0] | Entry(i).Reserved10[1], 0);
    EXPECT_EQ(Target(i), Source(i).substr(7));
  }
  EXPECT_EQ(builder_.Message(), u"");
}

TEST_F(ExtraFilesTest, ListsNameEachFileInTheCommonFolder) {
  MakeFile(u"r1.wav");
  MakeFile(u"r2.wav");
  ASSERT_TRUE(Collect({{0x210A, Payload().Text(0x84, u"C:\\Pics\\a.bmp;b.bmp;c.bmp")},
                       {0x2309, Payload().Text(0x84, u"C:\\Pics\\Single.bmp")},
                       {0x650F, Payload().Text(0x84, u"r1.wav;missing.wav; R2.WAV ;in:x")}}));
  ASSERT_EQ(Count(), 6);
  EXPECT_EQ(Source(0), u"c:\\pics\\a.bmp");
  EXPECT_EQ(Source(1), u"c:\\pics\\b.bmp");
  EXPECT_EQ(Source(2), u"c:\\pics\\c.bmp");
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(Entry(i).CommandIndex, 0);
  EXPECT_EQ(Entry(1).NameHash, ReferenceHash(u"c:\\pics\\b.bmp")) << "each name hashed with its folder";
  EXPECT_EQ(Source(3), u"c:\\pics\\single.bmp") << "no semicolon: the whole text";
  EXPECT_EQ(Source(4), folder_ + u"r1.wav");
  EXPECT_EQ(Source(5), folder_ + u"r2.wav") << "pieces are trimmed, then lower-cased";
  EXPECT_EQ(Entry(5).CommandIndex, 2);
  EXPECT_EQ(Target(5), u"r2.wav");
}

TEST_F(ExtraFilesTest, ColonRuleTellsWordsFromDriveLetters) {
  for (uint16_t code : {uint16_t{0x2301}, uint16_t{0x2315}}) {
    SCOPED_TRACE(code);
    builder_.FileLists().SetExtraCount(0);
    ASSERT_TRUE(Collect({{code, Payload().Text(0, u"abc:x")},
                         {code, Payload().Text(0, u"  ab :C:\\y.txt")},
                         {code, Payload().Text(0, u"C:\\x.txt")},
                         {code, Payload().Text(0, u"  C:\\z.txt")},
                         {code, Payload().Text(0, u"\\\\srv\\abc:x")}}));
    ASSERT_EQ(Count(), 2);
    EXPECT_EQ(Source(0), u"c:\\x.txt");
    EXPECT_EQ(Entry(0).CommandIndex, 2);
    EXPECT_EQ(Entry(1).CommandIndex, 3) << "one letter before the colon, blanks aside";
  }
  // Commands without the rule take the text as a path.
  builder_.FileLists().SetExtraCount(0);
  ASSERT_TRUE(Collect({{0x230A, Payload().Text(0, u"\\\\srv\\abc:x\\y.txt")}}));
  EXPECT_EQ(Count(), 1);
}

TEST_F(ExtraFilesTest, VariablesAndInputsAreNotFiles) {
  ASSERT_TRUE(Collect({{0x230A, Payload().Text(0, u"C:\\%folder%\\a.txt")},
                       {0x2501, Payload().Text(0, u"IN:name")},
                       {0x2501, Payload().Text(0, u"in:C:\\x")},
                       {0x2501, Payload().Text(0, u"  In:C:\\y")},
                       {0x210A, Payload().Text(0x84, u"C:\\P\\a.bmp;%v%.bmp")},
                       {0x4311, Payload().Text(0, u"C:\\real.txt")}}));
  ASSERT_EQ(Count(), 1) << "a variable anywhere in a list's text drops the whole list";
  EXPECT_EQ(Source(0), u"c:\\real.txt");
}

TEST_F(ExtraFilesTest, DotBackslashNamesResolveInTheScriptFolder) {
  ASSERT_TRUE(plat::CreateDirectory(folder_ + u"Data"));
  MakeFile(u"Data\\X.txt");
  ASSERT_TRUE(Collect({{0x4312, Payload().Text(0, u" .\\Data\\X.txt ")}}));
  ASSERT_EQ(Count(), 1);
  EXPECT_EQ(Source(0), folder_ + u"data\\x.txt");
  EXPECT_EQ(Entry(0).NameHash, ReferenceHash(u".\\data\\x.txt")) << "hashed before the prefix goes";
  EXPECT_EQ(Target(0), u"data\\x.txt") << "sub-folders kept inside the script folder";
}

TEST_F(ExtraFilesTest, OneEntryPerFileWithItsFirstUse) {
  MakeFile(u"shared.txt");
  ASSERT_TRUE(Collect({{0x430C, Payload().Text(0, u"C:\\Other\\Pic.bmp")},
                       {0x2501, Payload().Text(0, u"shared.txt")},
                       {0x4201, Payload().Text(0x44, u"SHARED.TXT")},
                       {0x230A, Payload().Text(0, u"c:\\OTHER\\pic.BMP")}},
                      1));
  ASSERT_EQ(Count(), 2);
  EXPECT_EQ(Entry(0).CommandIndex, 0);
  EXPECT_EQ(Target(0), u"pic.bmp") << "outside the script folder: the bare name";
  EXPECT_EQ(Entry(1).CommandIndex, 1);
  EXPECT_EQ(Entry(1).ParentIndex, 1);
  EXPECT_EQ(Target(1), u"shared.txt");

  // A second macro file adds only what is new, under its own index; earlier entries keep
  // theirs and their names.
  ASSERT_TRUE(
      Collect({{0x230A, Payload().Text(0, u"C:\\Other\\pic.bmp")}, {0x230A, Payload().Text(0, u"D:\\n.txt")}}, 4));
  ASSERT_EQ(Count(), 3);
  EXPECT_EQ(Entry(0).ParentIndex, 1);
  EXPECT_EQ(Entry(2).ParentIndex, 4);
  EXPECT_EQ(Entry(2).CommandIndex, 1);
  EXPECT_EQ(Target(0), u"pic.bmp");
  EXPECT_EQ(Target(2), u"n.txt");
}

TEST_F(ExtraFilesTest, NamesThatDoNotResolveAddNothing) {
  MakeFile(u"there.txt");
  ASSERT_TRUE(Collect({{0x2501, Payload().Text(0, u"gone.txt")},
                       {0x210A, Payload().Text(0x84, u"gone.txt;there.txt;gone2.txt")},
                       {0x650F, Payload().Text(0x84, u"gone.txt;gone2.txt")},
                       {0x3106, FileSet(u"gone3.txt", true, {u"gone4.txt"})}}));
  ASSERT_EQ(Count(), 1) << "no entry without a path, and no second entry for the path before";
  EXPECT_EQ(Source(0), folder_ + u"there.txt");
  EXPECT_EQ(Entry(0).NameHash, ReferenceHash(u"there.txt"));
  EXPECT_EQ(Entry(0).CommandIndex, 1);
}

TEST_F(ExtraFilesTest, PathWithoutFileNamePartIsNotListed) {
  // Its only name would hold a drive and a colon: the EXE could not carry it safely, and
  // an entry without a name would be a file the EXE silently lacks.
  ASSERT_TRUE(Collect({{0x2301, Payload().Text(0, u"C:\\Data\\Stream:")}, {0x2301, Payload().Text(0, u"C:\\ok.txt")}}));
  ASSERT_EQ(Count(), 1);
  EXPECT_EQ(Source(0), u"c:\\ok.txt");
  EXPECT_EQ(Entry(0).CommandIndex, 1);
}

TEST_F(ExtraFilesTest, TravellingNamesStayBelowTheUnpackFolder) {
  // The script folder's neighbour, reached by "..": a file outside, under its bare name.
  ASSERT_TRUE(plat::CreateDirectory(dir_ + u"\\shared"));
  ASSERT_TRUE(WriteBytes(dir_ + u"\\shared\\logo.bmp", "x"));
  ASSERT_TRUE(plat::CreateDirectory(folder_ + u"sub"));
  MakeFile(u"x.txt");
  MakeFile(u"sub\\y.txt");
  ASSERT_TRUE(Collect({{0x230A, Payload().Text(0, u"..\\shared\\logo.bmp")},
                       {0x2501, Payload().Text(0, u"sub\\..\\x.txt")},
                       {0x4311, Payload().Text(0, u"x.txt")},
                       {0x4312, Payload().Text(0, u"sub\\\\.\\y.txt")},
                       {0x210A, Payload().Text(0x84, folder_ + u"sub\\..\\sub\\y.txt;..\\X.TXT")},
                       {0x430C, Payload().Text(0, u"C:\\a\\..\\..\\..\\b.txt")},
                       {0x3106, FileSet(u"", false, {u"sub/y.txt"})}}));
  ASSERT_EQ(Count(), 4);
  EXPECT_EQ(Source(0), dir_ + u"\\shared\\logo.bmp");
  EXPECT_EQ(Target(0), u"logo.bmp");
  EXPECT_EQ(Source(1), folder_ + u"x.txt");
  EXPECT_EQ(Target(1), u"x.txt");
  EXPECT_EQ(Entry(1).CommandIndex, 1) << "one entry for both spellings";
  EXPECT_EQ(Source(2), folder_ + u"sub\\y.txt");
  EXPECT_EQ(Target(2), u"sub\\y.txt");
  EXPECT_EQ(Source(3), u"c:\\b.txt") << "never above the drive's root";
  EXPECT_EQ(Target(3), u"b.txt");
  for (int32_t i = 0; i < Count(); ++i) EXPECT_TRUE(project::IsSafeTargetName(Target(i))) << Narrow(Target(i));
}

TEST_F(ExtraFilesTest, RunningOutOfMemoryAnywhereIsAMessage) {
  MakeFile(u"here.txt");
  MacroBuilder macro;
  macro.Command(0x230A, 1).Param(1, Payload().Text(0, u"here.txt").Bytes());
  macro.Command(0x210A, 2).Param(2, Payload().Text(0x84, u"C:\\P\\a.bmp;b.bmp").Bytes());
  macro.Command(0x3106, 3).Param(3, FileSet(u"C:\\f.txt", true, {u"C:\\g.txt"}).Bytes());
  const std::u16string path = WriteMacro(macro);
  // Each allocation of the discovery in turn fails: never an exception, and the memory
  // message unless a layer below turned the failure into a message of its own.
  int memory_messages = 0;
  const long runs = RunWithEachAllocationFailing([&] { builder_.FileLists().SetExtraCount(0); },
                                                 [&] { return builder_.CollectExtraFiles(0, path); },
                                                 [&](bool failed, bool result) {
                                                   if (!failed) {
                                                     EXPECT_TRUE(result);
                                                     EXPECT_EQ(Count(), 5);
                                                   } else if (!result) {
                                                     EXPECT_FALSE(builder_.Message().empty());
                                                     if (builder_.Message() == u"IDS_ERR_NOTENOUGHMEM")
                                                       ++memory_messages;
                                                   }
                                                 });
  EXPECT_GT(runs, 20) << "the discovery allocates";
  EXPECT_GT(memory_messages, runs / 2) << "of " << runs;

  // One command on its own: always the memory message.
  const Payload list = std::move(Payload().Text(0x84, u"C:\\P\\a.bmp;b.bmp"));
  RunWithEachAllocationFailing(
      [&] {
        builder_.FileLists().SetExtraCount(0);
        // Another message first ("Cannot open"), so that each run must leave its own.
        builder_.CollectExtraFiles(0, u"");
      },
      [&] { return Scan(0x210A, list); },
      [&](bool failed, bool) {
        if (failed) {
          EXPECT_EQ(builder_.Message(), u"IDS_ERR_NOTENOUGHMEM");
        }
      });
}

TEST_F(ExtraFilesTest, FindImageNamesAFileOnlyInItsFileMode) {
  Payload off_24f = FindImage(u"C:\\a.bmp");
  off_24f.Byte(0x24F, 0);
  Payload off_569 = FindImage(u"C:\\b.bmp");
  off_569.Byte(0x569, 0);
  Payload mode_2 = FindImage(u"C:\\c.bmp");
  mode_2.Byte(0x56A, 2);
  Payload others = FindImage(u"C:\\d.bmp");
  others.Byte(0x24F, 0x80).Byte(0x569, 0xFF);
  ASSERT_TRUE(Collect({{0x1205, off_24f}, {0x1205, off_569}, {0x1205, mode_2}, {0x1205, others}}));
  ASSERT_EQ(Count(), 1);
  EXPECT_EQ(Source(0), u"c:\\d.bmp") << "any non-zero value opens the first two conditions";
}

TEST_F(ExtraFilesTest, FileSetFirstNameAndFurtherNames) {
  MakeFile(u"Rel.TXT");
  // Flag clear: the first name is not a file, the further names still are.
  EXPECT_TRUE(Scan(0x3106, FileSet(u"C:\\not.txt", false, {u" C:\\Keep\\Case.TXT ", u"Rel.TXT"})));
  ASSERT_EQ(Count(), 2);
  EXPECT_EQ(Source(0), u"C:\\Keep\\Case.TXT") << "trimmed, not lower-cased";
  EXPECT_EQ(Entry(0).NameHash, ReferenceHash(u"c:\\keep\\case.txt"));
  EXPECT_EQ(Entry(0).ParentIndex, 2);
  EXPECT_EQ(Entry(0).CommandIndex, 7);
  EXPECT_EQ(Source(1), folder_ + u"Rel.TXT");

  // Flag set, no further names: only the first; the texts after it are not read.
  builder_.FileLists().SetExtraCount(0);
  EXPECT_TRUE(Scan(0x3106, FileSet(u"C:\\First.txt", true, {u"C:\\x1.txt"}).Word(0x1086, 0)));
  ASSERT_EQ(Count(), 1);
  EXPECT_EQ(Source(0), u"C:\\First.txt");

  // Further names stop at the empty text; inputs, variables and blank names are skipped.
  builder_.FileLists().SetExtraCount(0);
  Payload payload = FileSet(u"IN:first", true, {u"in:C:\\a", u"C:\\%v%\\b", u"   ", u"C:\\c.txt"});
  payload.Text(payload.Bytes().size(), u"C:\\after-the-end.txt");
  EXPECT_TRUE(Scan(0x3106, payload));
  ASSERT_EQ(Count(), 1);
  EXPECT_EQ(Source(0), u"C:\\c.txt");

  // An empty first name is no file, even with its flag; the further names follow its
  // terminator all the same.
  builder_.FileLists().SetExtraCount(0);
  EXPECT_FALSE(Scan(0x3106, FileSet(u"", true, {})));
  EXPECT_TRUE(Scan(0x3106, FileSet(u"", true, {u"C:\\f.txt"})));
  ASSERT_EQ(Count(), 1);
  EXPECT_EQ(Source(0), u"C:\\f.txt");

  // The first name containing a variable is skipped; the further names still count.
  builder_.FileLists().SetExtraCount(0);
  EXPECT_TRUE(Scan(0x3106, FileSet(u"C:\\%x%.txt", true, {u"C:\\y.txt"})));
  ASSERT_EQ(Count(), 1);
  EXPECT_EQ(Source(0), u"C:\\y.txt");
}

// ---- Short and damaged records -----------------------------------------------------------------

TEST_F(ExtraFilesTest, TextsPastTheRecordAreEmptyAndUnterminatedTextsEndWithIt) {
  EXPECT_FALSE(Scan(0x4201, Payload(0x44)));
  EXPECT_FALSE(Scan(0x4201, Payload(0x30)));
  EXPECT_FALSE(Scan(0x210A, Payload(0x85)));
  EXPECT_FALSE(Scan(0x1205, FindImage(u"C:\\x.bmp").Size(0x56A)));
  EXPECT_FALSE(Scan(0x1205, FindImage(u"C:\\x.bmp").Size(0x56E)));
  EXPECT_FALSE(Scan(0x3106, FileSet(u"C:\\x.txt", true, {}).Size(0x654)));
  EXPECT_FALSE(Scan(0x3106, FileSet(u"C:\\x.txt", true, {}).Size(0x1088)));
  EXPECT_FALSE(Scan(0x3106, Payload().Word(0x1086, 1).Size(0x1087)));
  for (uint16_t code : analysis::kExtraFileCommandCodes) EXPECT_FALSE(Scan(code, Payload())) << code;
  EXPECT_EQ(Count(), 0);

  EXPECT_TRUE(Scan(0x4201, Payload(0x44).Text(0x44, u"C:\\cut.txt", false)));
  EXPECT_TRUE(Scan(0x2501, Payload().Text(0, u"C:\\odd.txt", false).Byte(20, 'Z')));
  // The first name runs to the record's end: no further names can follow it.
  EXPECT_TRUE(Scan(0x3106, Payload().Byte(0x654, 2).Word(0x1086, 3).Text(0x1088, u"C:\\last.txt", false)));
  EXPECT_TRUE(Scan(0x3106, FileSet(u"", false, {u"C:\\f1.txt"}).Size(0x1088 + 2 + 2 * 9)));
  ASSERT_EQ(Count(), 4);
  EXPECT_EQ(Source(0), u"c:\\cut.txt");
  EXPECT_EQ(Source(1), u"c:\\odd.txt");
  EXPECT_EQ(Source(2), u"C:\\last.txt");
  EXPECT_EQ(Source(3), u"C:\\f1.txt");
}

TEST_F(ExtraFilesTest, TinyRecordsInAFileGiveNothing) {
  std::vector<std::pair<uint16_t, Payload>> commands;
  for (uint16_t code : analysis::kExtraFileCommandCodes) commands.emplace_back(code, Payload(1));
  for (uint16_t code : analysis::kExtraFileCommandCodes) commands.emplace_back(code, Payload(3).Byte(0, 'Q'));
  EXPECT_TRUE(Collect(commands));
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(builder_.Message(), u"");
}

TEST_F(ExtraFilesTest, RecordPayloadStopsAtTheBlockEnd) {
  std::vector<uint8_t> block = ParamRecordBytes(5, std::vector<uint8_t>(10, 1));
  EXPECT_EQ(analysis::RecordPayload(block.data(), block.data(), block.size()).size(), 10u);
  EXPECT_EQ(analysis::RecordPayload(block.data(), block.data(), 8).size(), 4u) << "cut at the block's end";
  EXPECT_TRUE(analysis::RecordPayload(block.data(), block.data(), 3).empty());
  EXPECT_TRUE(analysis::RecordPayload(nullptr, block.data(), block.size()).empty());
}

// ---- Skipped commands, failures and the limits --------------------------------------------------

TEST_F(ExtraFilesTest, DisabledCommandsAndCommandsWithoutRecordsAreSkipped) {
  MacroBuilder macro;
  macro.Command(0x230A, 1, macro::kCommandDisabled).Param(1, Payload().Text(0, u"C:\\off.txt").Bytes());
  macro.Command(0x230A, macro::kNoParamId);
  macro.Command(0x230A, 2, 0x0100).Param(2, Payload().Text(0, u"C:\\on.txt").Bytes());
  ASSERT_TRUE(builder_.CollectExtraFiles(0, WriteMacro(macro)));
  ASSERT_EQ(Count(), 1);
  EXPECT_EQ(Source(0), u"c:\\on.txt");
  EXPECT_EQ(Entry(0).CommandIndex, 2) << "indices count every command";
}

TEST_F(ExtraFilesTest, FailuresLeaveTheirMessageWithTheMacroPath) {
  const std::u16string missing = folder_ + u"none.msl";
  EXPECT_FALSE(builder_.CollectExtraFiles(0, missing));
  EXPECT_EQ(builder_.Message(), u"Cannot open " + missing + u".");

  // A command whose record is not in the file: the macro layer's key.
  MacroBuilder broken;
  broken.Command(0x230A, 1).Param(1, Payload().Text(0, u"C:\\a.txt").Bytes()).Command(0x230A, 9);
  const std::u16string path = WriteMacro(broken, u"broken.msl");
  EXPECT_FALSE(builder_.CollectExtraFiles(0, path));
  EXPECT_EQ(builder_.Message(), path + u" is damaged.");
  EXPECT_EQ(Count(), 0);

  // A good run empties the message.
  EXPECT_TRUE(Collect({{0x230A, Payload().Text(0, u"C:\\a.txt")}}));
  EXPECT_EQ(builder_.Message(), u"");

  CMakeExe_Builder bare;
  EXPECT_FALSE(bare.CollectExtraFiles(0, missing));
  EXPECT_EQ(bare.Message(), u"IDS_ERR_OPENSCRIPT") << "without texts the key shows as itself";
}

TEST_F(ExtraFilesTest, StopsBeforeTheCommandAfterMoreThan512Entries) {
  std::vector<std::pair<uint16_t, Payload>> commands;
  for (int i = 0; i < 600; ++i) commands.emplace_back(0x230A, Payload().Text(0, u"C:\\Many\\f" + U(std::to_string(i))));
  const std::u16string path = folder_ + u"calls.msl";
  EXPECT_FALSE(Collect(commands));
  ASSERT_EQ(Count(), 513) << "the test runs before each command: 513 > 512";
  EXPECT_EQ(Source(512), u"c:\\many\\f512");
  EXPECT_EQ(builder_.Message(), u"Too many extra files in " + path + u".");
  EXPECT_EQ(Target(0), u"f0") << "entries found before the stop keep their names";
  EXPECT_EQ(Target(512), u"f512");

  // With 513 listed a new file stops at once; with 512 one more command runs.
  EXPECT_FALSE(Collect({{0x230A, Payload().Text(0, u"C:\\x.txt")}}));
  EXPECT_EQ(Count(), 513);
  builder_.FileLists().SetExtraCount(512);
  EXPECT_TRUE(Collect({{0x230A, Payload().Text(0, u"C:\\x.txt")}}));
  EXPECT_EQ(Count(), 513);
  EXPECT_EQ(builder_.Message(), u"");
}

TEST_F(ExtraFilesTest, OneLongListStopsAtTheListCapacity) {
  const auto prefill = [this] {
    builder_.FileLists().SetExtraCount(0);
    for (int i = 0; i < 500; ++i) {
      ExtraFileEntry entry{};
      plat::SetFixedText(entry.SourcePath, 260, u"C:\\Pre\\p" + U(std::to_string(i)));
      ASSERT_TRUE(builder_.FileLists().AddExtraEntry(entry));
    }
  };
  const auto list = [](int names) {
    std::u16string text = u"C:\\L\\n0";
    for (int i = 1; i < names; ++i) text += u";n" + U(std::to_string(i));
    return text;
  };
  const std::u16string path = folder_ + u"calls.msl";

  // 28 new names fill the list exactly; nothing was refused, so no stop.
  prefill();
  EXPECT_TRUE(Collect({{0x210A, Payload().Text(0x84, list(28))}}));
  EXPECT_EQ(Count(), project::kExtraCapacity);
  EXPECT_EQ(builder_.Message(), u"");

  // One more name finds no room: the list ends at its capacity and the walk stops.
  prefill();
  EXPECT_FALSE(Collect({{0x210A, Payload().Text(0x84, list(40))}}));
  ASSERT_EQ(Count(), project::kExtraCapacity);
  EXPECT_EQ(Source(project::kExtraCapacity - 1), u"c:\\l\\n27");
  EXPECT_EQ(Target(project::kExtraCapacity - 1), u"n27");
  EXPECT_EQ(builder_.Message(), u"Too many extra files in " + path + u".");

  // Names already listed are no overflow, even in a full list.
  bool full = true;
  EXPECT_FALSE(Scan(0x2309, Payload().Text(0x84, u"C:\\L\\n0;n5;n27"), &full));
  EXPECT_FALSE(full);
  EXPECT_FALSE(Scan(0x2309, Payload().Text(0x84, u"C:\\L\\n0;n28"), &full));
  EXPECT_TRUE(full);
  EXPECT_EQ(Count(), project::kExtraCapacity);
}

}  // namespace
}  // namespace brankel_test
