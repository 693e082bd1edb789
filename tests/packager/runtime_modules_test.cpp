#include "packager/runtime_modules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "analysis/macro_collection.h"
#include "macro/macro_format.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/file_lists.h"
#include "support/macro_builder.h"
#include "support/scratch.h"
#include "support/script_builder.h"

namespace packager {
namespace {

using brankel_test::MacroBuilder;
using brankel_test::Narrow;
using brankel_test::WithAttachments;
using brankel_test::WriteBytes;

const std::set<uint32_t> kAlways = {0x8, 0x200, 0x10, 0x4000000, 0x8000000, 0x400000};
const std::set<uint32_t> kWeb = {0x400,   0x1000,  0x2000,  0x4000,   0x8000,  0x10000,
                                 0x20000, 0x40000, 0x80000, 0x100000, 0x200000};

// The OCR command's payload with `engine` at 0x514; `size` bytes in all.
std::vector<uint8_t> OcrPayload(uint16_t engine, size_t size = 0x600) {
  std::vector<uint8_t> payload(size, 0x7F);
  if (size > 0x514) payload[0x514] = static_cast<uint8_t>(engine);
  if (size > 0x515) payload[0x515] = static_cast<uint8_t>(engine >> 8);
  return payload;
}

std::set<uint32_t> Marked(const RuntimeModules& modules) {
  std::set<uint32_t> marked;
  for (int i = 0; i < kRuntimeModuleCount; ++i) {
    if (modules.Row(i).needed && !kAlways.count(modules.Row(i).category)) marked.insert(modules.Row(i).category);
  }
  return marked;
}

class RuntimeModulesTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    folder_ = dir_ + u"\\";
    modules_.ResetModuleMarks();
    temp_before_ = brankel_test::TemporaryFiles(u"~m*");
  }
  void TearDown() override {
    EXPECT_EQ(brankel_test::TemporaryFiles(u"~m*"), temp_before_) << "the scan left files in the temporary folder";
    ScratchTest::TearDown();
  }

  void List(std::u16string_view name, const std::string& bytes, uint8_t type = 3) {
    ASSERT_TRUE(WriteBytes(Path(name), bytes));
    project::MacroListEntry entry{};
    entry.EntryType = type;
    plat::SetFixedText(entry.Path, 260, Path(name));
    ASSERT_GE(lists_.AddMacroEntry(entry), 0);
  }
  void Scan() { ASSERT_TRUE(modules_.ScanModuleNeeds(lists_, u"en")); }
  bool Add(std::u16string_view folder) { return modules_.AddRuntimeFiles(lists_, folder, u"C:\\ui\\skin.dll", u"en"); }

  // (source, target, kind) of each extra entry; checks the fields every runtime entry shares.
  std::vector<std::tuple<std::u16string, std::u16string, int>> Extras() const {
    std::vector<std::tuple<std::u16string, std::u16string, int>> out;
    for (int32_t i = 0; i < lists_.ExtraCount(); ++i) {
      const project::ExtraFileEntry& e = lists_.ExtraEntries()[i];
      EXPECT_EQ(e.ParentIndex, 0xFFFF);
      EXPECT_EQ(e.UserAdded, 1);
      EXPECT_EQ(e.CommandIndex, -1);
      EXPECT_EQ(e.OnSearchPath, 0);
      EXPECT_EQ(e.Excluded, 0);
      out.emplace_back(plat::FixedText(e.SourcePath, 260), plat::FixedText(e.TargetName, 260), e.FileKind);
    }
    return out;
  }
  void ExpectLanguageFiles(int32_t from, std::u16string_view folder) {
    ASSERT_EQ(lists_.MacroCount(), from + 2);
    const std::u16string_view names[] = {u"sysdata\\Player_en.lng", u"sysdata\\errormsg_en.lng"};
    for (int32_t i = 0; i < 2; ++i) {
      const project::MacroListEntry& e = lists_.MacroEntries()[from + i];
      EXPECT_EQ(Narrow(plat::FixedText(e.Path, 260)), Narrow(std::u16string(folder) + std::u16string(names[i])));
      EXPECT_EQ(e.EntryType, 4);
      EXPECT_EQ(e.ParentIndex, 0);
      EXPECT_EQ(e.CommandIndex, 0);
      EXPECT_EQ(e.UserAdded, 0);
      EXPECT_EQ(plat::FixedText(e.TempPath, 260), u"");
    }
  }

  RuntimeModules modules_;
  project::CMakeExe_FileLists lists_;
  std::u16string folder_;
  std::set<std::u16string> temp_before_;
};

TEST_F(RuntimeModulesTest, MouseAndKeyboardShipOnlyWhatEveryBuildNeeds) {
  List(u"main.msd", MacroBuilder().Command(0x0101).Command(0x0205).Command(0x1001).Bytes());
  Scan();
  EXPECT_EQ(Marked(modules_), std::set<uint32_t>{});
  EXPECT_FALSE(modules_.WebInstallerNeeded());
  const std::vector<std::string> removable = {"Docvale.dll",    "Datavale.dll", "Dialvale.dll",    "Mailvale.dll",
                                              "unzip32.dll",    "zip32.dll",    "Xfervale.dll",    "Visvale.dll",
                                              "libocrtess.dll", "Ocrvale.dll",  "libpaddleocr.dll"};
  EXPECT_EQ(modules_.RemovableImports(), removable);

  ASSERT_TRUE(Add(u"C:\\prog\\"));
  using Extra = std::tuple<std::u16string, std::u16string, int>;
  const std::vector<Extra> expected = {
      {u"C:\\prog\\Helpvale.dll", u"Helpvale.dll", 1},   {u"C:\\prog\\vcomp140.dll", u"vcomp140.dll", 1},
      {u"C:\\prog\\Keyvale.dll", u"Keyvale.dll", 1},     {u"C:\\prog\\Keyvale64.dll", u"Keyvale64.dll", 1},
      {u"C:\\prog\\PandrelIo.sys", u"PandrelIo.sys", 1}, {u"C:\\prog\\Connvale64.exe", u"Connvale64.exe", 1},
      {u"C:\\ui\\skin.dll", u"vllib_ui_defresu.dll", 1},
  };
  EXPECT_EQ(Extras(), expected);
  ExpectLanguageFiles(1, u"C:\\prog\\");
}

TEST_F(RuntimeModulesTest, EachCommandMarksItsModules) {
  struct Case {
    const char* name;
    uint16_t code;
    std::vector<uint8_t> payload;  // empty: no record
    uint16_t flags;
    std::set<uint32_t> marked;
  };
  const Case cases[] = {
      {"data", 0x4101, {}, 0, {0x2}},
      {"data group", 0x41FF, {}, 0, {0x2}},
      {"document", 0x4200, {}, 0, {0x1}},
      {"zip", 0x4307, {}, 0, {0x80}},
      {"unzip", 0x4308, {}, 0, {0x40}},
      {"other 0x43", 0x4309, {}, 0, {}},
      {"transfer", 0x34A0, {}, 0, {0x100}},
      {"vision 2309", 0x2309, {}, 0, {0x800000}},
      {"vision 230F", 0x230F, {}, 0, {0x800000}},
      {"other 0x23", 0x2310, {}, 0, {}},
      {"dialog 3303", 0x3303, {}, 0, {0x4}},
      {"dialog 3304", 0x3304, {}, 0, {0x4}},
      {"other 0x33", 0x3305, {}, 0, {}},
      {"mail", 0x3106, {}, 0, {0x20}},
      {"other 0x31", 0x3107, {}, 0, {}},
      {"web", 0x3201, {}, 0, kWeb},
      {"ocr engine 0", 0x6308, OcrPayload(0), 0, {0x2000000}},
      {"ocr engine 1", 0x6308, OcrPayload(1), 0, {0x1000000}},
      {"ocr engine 2", 0x6308, OcrPayload(2), 0, {0x10000000}},
      {"ocr unknown engine", 0x6308, OcrPayload(0x0100), 0, {}},
      {"ocr engine cut off", 0x6308, OcrPayload(1, 0x515), 0, {}},
      {"ocr engine at the end", 0x6308, OcrPayload(1, 0x516), 0, {0x1000000}},
      {"ocr without record", 0x6308, {}, 0, {}},
      {"other 0x63", 0x6307, OcrPayload(1), 0, {}},
      {"disabled document", 0x4201, {}, macro::kCommandDisabled, {}},
      {"disabled web", 0x3201, {}, macro::kCommandDisabled, {}},
      {"disabled ocr", 0x6308, OcrPayload(2), macro::kCommandDisabled, {}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MacroBuilder macro;
    if (c.payload.empty()) {
      macro.Command(c.code, macro::kNoParamId, c.flags);
    } else {
      macro.Command(c.code, 7, c.flags).Param(7, c.payload);
    }
    lists_.SetMacroCount(0);
    // Appended piece by piece: "literal + temporary" trips a false -Wrestrict in GCC 12 at -O3.
    std::u16string name = u"m";
    name += plat::AsciiToUtf16(std::to_string(n++));
    name += u".msd";
    List(name, macro.Bytes());
    modules_.ResetModuleMarks();
    Scan();
    EXPECT_EQ(Marked(modules_), c.marked);
  }
}

TEST_F(RuntimeModulesTest, WebCommandInANestedAttachmentShipsTheWebGroup) {
  const std::string inner = MacroBuilder().Command(0x3207).Command(0x3301).Bytes();
  const std::string middle = WithAttachments(MacroBuilder().Command(0x0101), {{u"inner", u".MSL", inner}});
  // Entries that are no macro files are not scanned, attachments of other kinds are not.
  List(u"main.msd",
       WithAttachments(MacroBuilder().Command(0x0101),
                       {{u"middle", u".msd", middle}, {u"page.txt", u".txt", MacroBuilder().Command(0x4201).Bytes()}}));
  List(u"lang.lng", MacroBuilder().Command(0x4201).Bytes(), 4);
  Scan();
  EXPECT_EQ(Marked(modules_), kWeb);
  EXPECT_TRUE(modules_.WebInstallerNeeded());
  EXPECT_EQ(modules_.Row(26).file_name, u"sysdata\\Webvale_en.lng");

  ASSERT_TRUE(Add(folder_));
  const auto extras = Extras();
  // Names in subfolders keep their folder inside the EXE; the language file does not.
  for (const auto& [source, target] : {std::pair{u"sysdata\\Webvale_en.lng", u"Webvale_en.lng"},
                                       {u"Webxvale.exe", u"Webxvale.exe"},
                                       {u"chrome\\Cbrokvale.exe", u"chrome\\Cbrokvale.exe"},
                                       {u"firefox\\manifest-ff.json", u"firefox\\manifest-ff.json"}}) {
    EXPECT_NE(std::find(extras.begin(), extras.end(), std::make_tuple(folder_ + source, std::u16string(target), 1)),
              extras.end())
        << Narrow(source);
  }
  EXPECT_EQ(extras.size(), kAlways.size() + kWeb.size() + 1);
}

TEST_F(RuntimeModulesTest, EmbeddedFilesAreScannedToABoundedDepth) {
  for (const int depth : {analysis::kMaxEmbeddedNesting, analysis::kMaxEmbeddedNesting + 1}) {
    SCOPED_TRACE(depth);
    std::string bytes = MacroBuilder().Command(0x4201).Bytes();
    for (int i = 0; i < depth; ++i)
      bytes = WithAttachments(MacroBuilder().Command(0x0101), {{u"level", u".msd", bytes}});
    lists_.SetMacroCount(0);
    List(depth == analysis::kMaxEmbeddedNesting ? u"deep.msd" : u"deeper.msd", bytes);
    modules_.ResetModuleMarks();
    Scan();
    EXPECT_EQ(Marked(modules_),
              depth == analysis::kMaxEmbeddedNesting ? std::set<uint32_t>{0x1} : std::set<uint32_t>{});
  }
}

TEST_F(RuntimeModulesTest, AModuleIsMarkedOnce) {
  EXPECT_EQ(modules_.MarkNeeded(0x8), 0);         // always needed
  EXPECT_EQ(modules_.MarkNeeded(0x40000000), 1);  // no such module
  EXPECT_EQ(modules_.MarkNeeded(0x40000000), 1);
  List(u"a.msd", MacroBuilder().Command(0x4201).Bytes());
  List(u"b.msd", MacroBuilder().Command(0x42AA).Bytes());
  Scan();
  EXPECT_EQ(Marked(modules_), std::set<uint32_t>{0x1});
  EXPECT_EQ(modules_.MarkNeeded(0x1), 0);
  modules_.ResetModuleMarks();
  EXPECT_EQ(modules_.MarkNeeded(0x1), 1);
}

TEST_F(RuntimeModulesTest, OcrEnginesShipTheirDataFiles) {
  for (const char16_t* sub : {u"modules", u"modules\\paddleocr", u"modules\\paddleocr\\sub",
                              u"modules\\paddleocr\\.git", u"dir.traineddata"}) {
    ASSERT_TRUE(plat::CreateDirectory(Path(sub)));
  }
  for (const char16_t* file : {u"eng.traineddata", u"chi.traineddata", u"notes.txt", u"modules\\paddleocr\\det.bin",
                               u"modules\\paddleocr\\sub\\x.dat", u"modules\\paddleocr\\.git\\y"}) {
    ASSERT_TRUE(WriteBytes(Path(file), "data"));
  }
  modules_.MarkNeeded(kModuleTesseract);
  modules_.MarkNeeded(kModulePaddle);
  ASSERT_TRUE(Add(dir_));  // the missing backslash is supplied

  auto extras = Extras();
  using Extra = std::tuple<std::u16string, std::u16string, int>;
  std::vector<Extra> expected;
  for (const char16_t* row : {u"Helpvale.dll", u"vcomp140.dll", u"Keyvale.dll", u"Keyvale64.dll", u"libocrtess.dll",
                              u"libpaddleocr.dll", u"PandrelIo.sys", u"Connvale64.exe"}) {
    expected.emplace_back(folder_ + row, row, 1);
  }
  expected.emplace_back(u"C:\\ui\\skin.dll", u"vllib_ui_defresu.dll", 1);
  expected.emplace_back(folder_ + u"chi.traineddata", u"chi.traineddata", 0);
  expected.emplace_back(folder_ + u"eng.traineddata", u"eng.traineddata", 0);
  expected.emplace_back(folder_ + u"modules\\paddleocr\\det.bin", u"modules\\paddleocr\\det.bin", 0);
  expected.emplace_back(folder_ + u"modules\\paddleocr\\sub\\x.dat", u"modules\\paddleocr\\sub\\x.dat", 0);
  ASSERT_EQ(extras.size(), expected.size());
  // The folders list in their own order; the data files follow in two groups.
  std::sort(extras.begin() + 9, extras.begin() + 11);
  std::sort(extras.begin() + 11, extras.end());
  EXPECT_EQ(extras, expected);
  ExpectLanguageFiles(0, folder_);
}

TEST_F(RuntimeModulesTest, AFolderTooDeepToNameItsFilesIsRefused) {
  // Deep enough that no file name fits below it: it could as well be a loop of links.
  std::u16string deep = u"modules\\paddleocr";
  ASSERT_TRUE(plat::CreateDirectory(Path(u"modules")));
  ASSERT_TRUE(plat::CreateDirectory(Path(deep)));
  while (Path(deep).size() < 259) {
    deep += u"\\" + std::u16string(40, u'd');
    ASSERT_TRUE(plat::CreateDirectory(Path(deep)));
  }
  modules_.MarkNeeded(kModulePaddle);
  EXPECT_FALSE(Add(folder_));
  EXPECT_EQ(lists_.Message(), u"IDS_ERR_GETFILEATTRIB");
}

TEST_F(RuntimeModulesTest, FullListsAndLongNamesAreRefused) {
  // The longest name formed without web or OCR modules is the error language file's.
  const size_t longest = std::u16string_view(u"sysdata\\errormsg_en.lng").size();
  std::u16string fits = u"C:\\";
  fits.resize(259 - longest - 1, u'p');
  fits += u'\\';
  std::u16string too_long = fits.substr(0, fits.size() - 1);
  too_long += u"q\\";
  struct Case {
    const char* name;
    int32_t extra_room, macro_room;
    std::u16string folder;
    bool prelisted;
    const char16_t* message;
  };
  const Case cases[] = {
      {"exact room", 7, 2, u"C:\\prog\\", false, u""},
      {"extra list full", 6, 2, u"C:\\prog\\", false, u"IDS_ERR_TOOMANYEXTRAFILE"},
      {"listed already, list full", 6, 2, u"C:\\prog\\", true, u""},
      {"macro list full", 7, 1, u"C:\\prog\\", false, u"IDS_ERR_TOOMANYMACRO"},
      {"longest path fits", 7, 2, fits, false, u""},
      {"path too long", 7, 2, too_long, false, u"IDS_ERR_GETFILEATTRIB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    project::CMakeExe_FileLists lists(nullptr, c.macro_room, c.extra_room + (c.prelisted ? 1 : 0));
    if (c.prelisted) {
      project::ExtraFileEntry user{};
      plat::SetFixedText(user.SourcePath, 260, u"c:\\UI\\Skin.dll");
      ASSERT_TRUE(lists.AddExtraEntry(user));
    }
    const bool ok = modules_.AddRuntimeFiles(lists, c.folder, u"C:\\ui\\skin.dll", u"en");
    EXPECT_EQ(ok, *c.message == 0);
    EXPECT_EQ(Narrow(lists.Message()), Narrow(c.message));
    if (ok) {
      EXPECT_EQ(lists.ExtraCount(), 7);
    }
  }
}

TEST_F(RuntimeModulesTest, ALongLanguageCodeCannotOverflowTheWebName) {
  List(u"web.msd", MacroBuilder().Command(0x3201).Bytes());
  const std::u16string code(300, u'x');
  ASSERT_TRUE(modules_.ScanModuleNeeds(lists_, code));
  EXPECT_EQ(modules_.Row(26).file_name.size(), 258u);
  EXPECT_FALSE(modules_.AddRuntimeFiles(lists_, folder_, u"C:\\ui\\skin.dll", code));
  EXPECT_EQ(lists_.Message(), u"IDS_ERR_GETFILEATTRIB");
}

}  // namespace
}  // namespace packager
