#include "packager/reference_rewrite.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/extra_files.h"
#include "analysis/macro_collection.h"
#include "analysis/make_exe_builder.h"
#include "app/res_string.h"
#include "macro/attachments.h"
#include "macro/macro_file.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "support/macro_builder.h"
#include "support/scratch.h"
#include "support/script_builder.h"

namespace brankel_test {
namespace {

using analysis::CVLMultipleFilename;
using packager::RewriteCommandReferences;
using packager::RewriteContext;
using packager::RewriteTargets;
using packager::ScriptRelativeName;
using project::ExtraFileEntry;

// A payload of zero bytes with texts and bytes placed at given offsets.
struct Payload {
  std::vector<uint8_t> bytes;
  explicit Payload(size_t size) : bytes(size) {}
  Payload& Text(size_t offset, std::u16string_view text) {
    if (bytes.size() < offset + 2 * text.size() + 2) bytes.resize(offset + 2 * text.size() + 2);
    plat::MutableByteView(bytes).PutUtf16z(offset, text);
    return *this;
  }
  Payload& Byte(size_t offset, uint8_t value) {
    bytes.at(offset) = value;
    return *this;
  }
};

std::u16string TextAt(plat::ByteView payload, size_t offset) { return payload.Utf16z(offset); }

ExtraFileEntry Entry(uint16_t parent, int32_t command, std::u16string_view name, std::u16string_view target,
                     uint8_t excluded = 0) {
  ExtraFileEntry entry{};
  entry.ParentIndex = parent;
  entry.CommandIndex = command;
  entry.Excluded = excluded;
  entry.NameHash = app::KeyHash(plat::ToLower(name));
  plat::SetFixedText(entry.TargetName, 260, target);
  return entry;
}

TEST(ScriptRelativeNameTest, CutsTheScriptFolderOnlyAtAFolderBoundary) {
  const struct {
    std::u16string_view path, folder, expected;
  } cases[] = {
      {u"C:\\Work\\sub\\b.msd", u"C:\\Work\\", u"sub\\b.msd"},
      {u"  c:\\work\\SUB\\b.msd", u"C:\\Work", u"SUB\\b.msd"},
      {u"C:\\Workshop\\x.msd", u"C:\\Work", u"C:\\Workshop\\x.msd"},
      {u"D:\\x.msd", u"C:\\Work\\", u"D:\\x.msd"},
      {u"\\\\server\\x.msd", u"", u"\\\\server\\x.msd"},
  };
  for (const auto& c : cases) EXPECT_EQ(ScriptRelativeName(c.path, c.folder), c.expected) << Narrow(c.path);
  EXPECT_EQ(ScriptRelativeName(std::u16string(300, u'a'), u"C:\\").size(), 259u);
}

TEST(MultipleFilenameJoinTest, LaterNamesInTheFirstFolderGoBare) {
  const struct {
    std::vector<std::u16string> names;
    std::u16string_view expected;
  } cases[] = {
      {{u"C:\\Pics\\a.bmp", u"c:\\PICS\\b.bmp"}, u"C:\\Pics\\a.bmp;b.bmp"},
      {{u" pics\\a.bmp ", u"other\\c.bmp"}, u"pics\\a.bmp;other\\c.bmp"},
      {{u"IN:x", u"C:\\P\\a.bmp", u"C:\\P\\b.bmp", u"in:y"}, u"IN:x;C:\\P\\a.bmp;b.bmp;in:y"},
      {{u"a.bmp", u"b.bmp"}, u"a.bmp;b.bmp"},
  };
  for (const auto& c : cases) EXPECT_EQ(CVLMultipleFilename::Join(c.names), c.expected);
  // What is joined splits back into the same paths.
  const CVLMultipleFilename split(CVLMultipleFilename::Join(cases[0].names));
  ASSERT_EQ(split.Count(), 2u);
  EXPECT_TRUE(plat::EqualNoCase(split.Path(1), cases[0].names[1]));
}

constexpr uint16_t kX = 2;  // the macro whose command is rewritten
constexpr int32_t kI = 7;   // that command's index

struct RewriteCase {
  const char* what;
  uint16_t code;
  Payload payload;
  size_t text_at;
  std::vector<ExtraFileEntry> table;
  std::u16string_view expected;  // empty: the payload stays as it was
  RewriteTargets targets = RewriteTargets::kFiles;
  int kind_at = -1;  // a call's kind byte, which must then be 1
};

TEST(RewriteCommandReferencesTest, RewritesEachCommandsText) {
  const std::u16string_view a = u"C:\\Work\\pics\\a.bmp";
  const RewriteCase cases[] = {
      {"one name",
       0x2501,
       Payload(520).Text(0, u" C:\\Work\\sub\\b.txt"),
       0,
       {Entry(kX, kI, u"c:\\work\\sub\\b.txt", u"sub\\b.txt")},
       u"sub\\b.txt"},
      {"unlisted", 0x2311, Payload(524).Text(4, u"C:\\Work\\c.txt"), 4, {Entry(kX, kI, a, u"pics\\a.bmp")}, u""},
      {"named first by another macro",
       0x4201,
       Payload(0x44 + 520).Text(0x44, a),
       0x44,
       {Entry(9, 3, a, u"pics\\a.bmp")},
       u"pics\\a.bmp"},
      {"this command's entry first",
       0x430C,
       Payload(520).Text(0, a),
       0,
       {Entry(9, 3, a, u"first.bmp"), Entry(kX, 1, a, u"same.bmp"), Entry(kX, kI, a, u"own.bmp")},
       u"own.bmp"},
      {"excluded", 0x4311, Payload(520).Text(0, a), 0, {Entry(kX, kI, a, u"pics\\a.bmp", 1)}, u"pics\\a.bmp"},
      {"input", 0x4312, Payload(520).Text(0, u"IN:a"), 0, {Entry(kX, kI, u"in:a", u"x")}, u""},
      {"image mode",
       0x1205,
       Payload(0x56E + 520).Text(0x56E, a).Byte(0x24F, 1).Byte(0x569, 1).Byte(0x56A, 1),
       0x56E,
       {Entry(kX, kI, a, u"pics\\a.bmp")},
       u"pics\\a.bmp"},
      {"image other mode",
       0x1205,
       Payload(0x56E + 520).Text(0x56E, a).Byte(0x24F, 1).Byte(0x569, 1),
       0x56E,
       {Entry(kX, kI, a, u"pics\\a.bmp")},
       u""},
      {"longer than its field",
       0x230A,
       Payload(20).Text(0, u"C:\\a.txt"),
       0,
       {Entry(kX, kI, u"c:\\a.txt", u"a\\long\\name.txt")},
       u""},
      {"list",
       0x210A,
       Payload(0x84 + 520).Text(0x84, u"C:\\Pics\\a.bmp;b.bmp"),
       0x84,
       {Entry(kX, kI, u"c:\\pics\\a.bmp", u"pics\\a.bmp"), Entry(kX, kI, u"c:\\pics\\b.bmp", u"pics\\b.bmp")},
       u"pics\\a.bmp;b.bmp"},
      {"list item named first elsewhere",
       0x650F,
       Payload(0x84 + 520).Text(0x84, u"C:\\Pics\\a.bmp;b.bmp"),
       0x84,
       {Entry(0, 0, u"c:\\pics\\a.bmp", u"pics\\a.bmp"), Entry(kX, kI, u"c:\\pics\\b.bmp", u"pics\\b.bmp")},
       u"pics\\a.bmp;b.bmp"},
      {"list that would not split back",
       0x2309,
       Payload(0x84 + 520).Text(0x84, u"C:\\Pics\\a.bmp;c.bmp"),
       0x84,
       {Entry(kX, kI, u"c:\\pics\\a.bmp", u"pics\\a.bmp")},
       u""},
      {"library call",
       0x6105,
       Payload(8 + 520).Text(8, u"\\lib.msd").Byte(1, 0),
       8,
       {Entry(kX, 0, u"c:\\data\\lib.msd", u"c:\\data\\lib.msd")},
       u"c:\\data\\lib.msd",
       RewriteTargets::kMacroCalls,
       1},
      {"path call",
       0x6605,
       Payload(258 + 520).Text(258, u" C:\\Work\\Sub\\.\\b.msd").Byte(0, 1),
       258,
       {Entry(kX, 0, u"c:\\work\\sub\\b.msd", u"c:\\work\\sub\\b.msd")},
       u"sub\\b.msd",
       RewriteTargets::kMacroCalls,
       0},
      {"call in the files pass",
       0x6105,
       Payload(8 + 520).Text(8, u"lib.msd").Byte(1, 0),
       8,
       {Entry(kX, 0, u"c:\\data\\lib.msd", u"c:\\data\\lib.msd")},
       u""},
      {"file in the calls pass",
       0x2501,
       Payload(520).Text(0, a),
       0,
       {Entry(kX, kI, a, u"pics\\a.bmp")},
       u"",
       RewriteTargets::kMacroCalls},
      {"call of no file",
       0x6105,
       Payload(8 + 520).Text(8, u"lib.msd").Byte(1, 2),
       8,
       {Entry(kX, 0, u"lib.msd", u"x.msd")},
       u"",
       RewriteTargets::kMacroCalls},
  };
  for (const RewriteCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> before = ParamRecordBytes(5, c.payload.bytes);
    std::vector<uint8_t> record = before;
    record.resize(record.size() + 64, 0xEE);  // the working block goes on after the record
    macro::MacroCommand command{};
    command.Code = c.code;
    const RewriteContext context{u"C:\\Work\\", u"C:\\Data\\", c.targets};
    bool size_changed = false;
    const bool changed =
        RewriteCommandReferences(context, kX, kI, command, plat::MutableByteView(record), c.table, &size_changed);
    EXPECT_EQ(changed, !c.expected.empty());
    EXPECT_FALSE(size_changed);
    const plat::ByteView payload = plat::ByteView(record).Sub(4, c.payload.bytes.size()).value();
    if (!changed) {
      EXPECT_EQ(std::vector<uint8_t>(record.begin(), record.begin() + before.size()), before);
      continue;
    }
    EXPECT_EQ(TextAt(payload, c.text_at), c.expected);
    // Nothing of the longer old text is left after the new one.
    const std::u16string old_text = TextAt(plat::ByteView(c.payload.bytes), c.text_at);
    for (size_t unit = c.expected.size(); unit <= old_text.size(); ++unit) {
      EXPECT_EQ(payload.U16Or(c.text_at + 2 * unit, 1), 0) << unit;
    }
    if (c.kind_at >= 0) {
      EXPECT_EQ(payload.U8Or(c.kind_at, 0), 1);
    }
    EXPECT_EQ(record[before.size()], 0xEE) << "written past the record";
  }
}

// Command 0x3106: flag bit 1 at 0x654 makes the text at 0x1088 a name; with the word at
// 0x1086 set, further names follow it up to an empty text.
Payload CommandList(std::vector<std::u16string_view> texts, uint8_t flags = 2) {
  Payload payload(0x1088);
  payload.Byte(0x654, flags).Byte(0x1086, 1);
  size_t at = 0x1088;
  for (std::u16string_view text : texts) {
    payload.Text(at, text);
    at += 2 * text.size() + 2;
  }
  payload.bytes.resize(at + 2);
  return payload;
}

TEST(RewriteCommandReferencesTest, RebuildsTheCommandListWithItsNewSize) {
  const std::vector<ExtraFileEntry> table = {Entry(0, 0, u"c:\\pics\\a.bmp", u"pics\\a.bmp"),
                                             Entry(5, 1, u"b.bmp", u"pics\\b.bmp")};
  const struct {
    const char* what;
    Payload payload;
    size_t room;                                // bytes the view holds after the record
    std::vector<std::u16string_view> expected;  // empty: not changed
  } cases[] = {
      {"longer",
       CommandList({u"C:\\Pics\\a.bmp ", u" b.bmp ", u"IN:x", u"c.bmp"}),
       64,
       {u"pics\\a.bmp", u"pics\\b.bmp", u"IN:x", u"c.bmp"}},
      {"first text no name", CommandList({u"C:\\Pics\\a.bmp", u"b.bmp"}, 0), 64, {u"C:\\Pics\\a.bmp", u"pics\\b.bmp"}},
      {"no match", CommandList({u"C:\\Pics\\x.bmp", u"y.bmp"}), 64, {}},
      {"no room in the view", CommandList({u"b.bmp"}), 4, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> before = ParamRecordBytes(12, c.payload.bytes);
    std::vector<uint8_t> record = before;
    record.resize(record.size() + c.room);
    macro::MacroCommand command{};
    command.Code = 0x3106;
    bool size_changed = false;
    const bool changed = RewriteCommandReferences(RewriteContext{u"C:\\Work\\", u""}, kX, kI, command,
                                                  plat::MutableByteView(record), table, &size_changed);
    ASSERT_EQ(changed, !c.expected.empty());
    if (!changed) {
      EXPECT_EQ(std::vector<uint8_t>(record.begin(), record.begin() + before.size()), before);
      continue;
    }
    size_t size = 0x1088 + 2;
    for (std::u16string_view text : c.expected) size += 2 * text.size() + 2;
    EXPECT_EQ(macro::ParamRecordSize(record), size);
    EXPECT_EQ(macro::ParamRecordId(record), 12);
    EXPECT_EQ(size_changed, size != c.payload.bytes.size());
    const plat::ByteView payload = plat::ByteView(record).Sub(4, size).value();
    uint64_t at = 0x1088;
    for (std::u16string_view text : c.expected) EXPECT_EQ(payload.Utf16z(at, SIZE_MAX, &at), text);
    EXPECT_EQ(payload.U16Or(at, 1), 0);
    EXPECT_EQ(at + 2, size);
  }
}

// ---- Whole copies --------------------------------------------------------------------------

class RewriteMacroCopiesTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    for (const char16_t* folder : {u"work", u"work\\sub", u"work\\pics", u"data", u"tmp"}) {
      ASSERT_TRUE(plat::CreateDirectory(Path(folder)));
    }
    folder_ = Path(u"work") + u"\\";
    data_ = Path(u"data") + u"\\";
    ASSERT_TRUE(WriteBytes(Path(u"work\\pics\\a.txt"), "picture"));
  }
  void Write(std::u16string_view name, const std::string& bytes) {
    ASSERT_TRUE(WriteBytes(Path(name), bytes));
    originals_.emplace_back(Path(name), bytes);
  }
  // What the wizard does before a build: collect, copy each macro (the macro list page),
  // discover the extra files in the copies.
  void Prepare() {
    builder_.SetScriptPath(Path(u"work\\main.msd"), folder_);
    project::CMakeExe_FileLists& lists = builder_.FileLists();
    ASSERT_TRUE(
        analysis::CollectScriptMacros(analysis::MacroCollection{lists, data_}, Path(u"work\\main.msd"), folder_));
    for (int32_t i = 0; i < lists.MacroCount(); ++i) {
      project::MacroListEntry& entry = lists.MacroEntries()[i];
      std::u16string copy = Path(u"tmp\\") + plat::AsciiToUtf16(std::to_string(i)) + u".msd";
      ASSERT_TRUE(plat::CopyFile(plat::FixedText(entry.Path, 260), copy, false));
      plat::SetFixedText(entry.TempPath, 260, copy);
      ASSERT_TRUE(builder_.CollectExtraFiles(i, copy)) << Narrow(builder_.Message());
    }
  }
  int32_t IndexOf(std::u16string_view name) const {
    const project::CMakeExe_FileLists& lists = builder_.FileLists();
    for (int32_t i = 0; i < lists.MacroCount(); ++i) {
      if (plat::EqualNoCase(plat::FixedText(lists.MacroEntries()[i].Path, 260), Path(name))) return i;
    }
    return -1;
  }
  // Command `command`'s payload in the copy of `name`.
  std::vector<uint8_t> CopyPayload(std::u16string_view name, uint32_t command, uint16_t* id = nullptr) {
    const int32_t index = IndexOf(name);
    if (index < 0) return {};
    macro::CFile_Macro file;
    const macro::MacroCommand* commands = nullptr;
    uint8_t* block = nullptr;
    if (!file.Open(plat::FixedText(builder_.FileLists().MacroEntries()[index].TempPath, 260)) ||
        !file.ReadCommands(&commands) || !file.GetParamBlock(&block) || command >= file.Header().CommandCount) {
      return {};
    }
    if (id != nullptr) *id = commands[command].ParamId;
    const plat::ByteView record = macro::CFile_Macro::FindParamRecord(commands[command].ParamId, file.ParamView());
    const plat::ByteView payload = macro::ParamRecordPayload(record);
    return std::vector<uint8_t>(payload.begin(), payload.end());
  }
  std::u16string CopyText(std::u16string_view name, uint32_t command, size_t offset) {
    return TextAt(plat::ByteView(CopyPayload(name, command)), offset);
  }
  void ExpectOriginalsUnchanged() const {
    for (const auto& [path, bytes] : originals_) EXPECT_EQ(ReadBytes(path), bytes) << Narrow(path);
  }

  std::u16string folder_, data_;
  analysis::CMakeExe_Builder builder_;
  std::vector<std::pair<std::u16string, std::string>> originals_;
};

std::vector<uint8_t> CallAt(uint16_t code, uint8_t kind, std::u16string_view name) {
  const size_t at = code == kCallMacro ? 8 : 258;
  return Payload(at + 520).Text(at, name).Byte(code == kCallMacro ? 1 : 0, kind).bytes;
}

TEST_F(RewriteMacroCopiesTest, RewritesSharedCalleesAndFilesInEveryCaller) {
  const std::u16string b = Path(u"work\\sub\\b.msd");
  const std::u16string picture = Path(u"work\\pics\\a.txt");
  // A record larger than the working block keeps its text.
  std::vector<uint8_t> huge = Payload(packager::kRewriteBlockSize - 2).Text(0, picture).bytes;
  MacroBuilder main;
  main.Command(kCallMacro, 1).Param(1, CallAt(kCallMacro, kByPath, b));
  main.Command(kRunMacro, 2).Param(2, CallAt(kRunMacro, kByLibraryName, u"lib.msd"));
  main.Command(0x2501, 3).Param(3, Payload(520).Text(0, picture).bytes);
  main.Command(0x2501, 4).Param(4, huge);
  main.Command(0x3106, 5).Param(5, CommandList({picture}).bytes);
  MacroBuilder embedded;
  Write(u"work\\main.msd", WithAttachments(main, {{u"emb.msd", u".msd", embedded.Bytes()}}));
  MacroBuilder callee;  // called by main first, then by the library macro too
  callee.Command(kCallMacro, 1).Param(1, CallAt(kCallMacro, kByLibraryName, u"lib.msd"));
  callee.Command(0x2501, 2).Param(2, Payload(520).Text(0, plat::ToUpper(picture)).bytes);
  Write(u"work\\sub\\b.msd", callee.Bytes());
  MacroBuilder library;
  library.Command(kRunMacro, 1).Param(1, CallAt(kRunMacro, kByPath, b));
  Write(u"data\\lib.msd", library.Bytes());
  Prepare();
  ASSERT_EQ(builder_.FileLists().MacroCount(), 3);

  ASSERT_TRUE(packager::RewriteMacroCopies(builder_, data_)) << Narrow(builder_.Message());
  const std::u16string lib_path = plat::ToLower(Path(u"data\\lib.msd"));
  EXPECT_EQ(CopyText(u"work\\main.msd", 0, 8), u"sub\\b.msd");
  EXPECT_EQ(CopyText(u"work\\main.msd", 1, 258), lib_path);
  EXPECT_EQ(CopyPayload(u"work\\main.msd", 1).at(0), kByPath);
  EXPECT_EQ(CopyText(u"work\\main.msd", 2, 0), u"pics\\a.txt");
  EXPECT_EQ(CopyText(u"work\\main.msd", 3, 0), picture);
  uint16_t list_id = 0;
  const std::vector<uint8_t> list = CopyPayload(u"work\\main.msd", 4, &list_id);
  EXPECT_NE(list_id, 5);
  EXPECT_EQ(list.size(), 0x1088u + 2 * (10 + 1) + 2);
  EXPECT_EQ(TextAt(plat::ByteView(list), 0x1088), u"pics\\a.txt");
  // The callee and the file that main found first, in their second caller.
  EXPECT_EQ(CopyText(u"work\\sub\\b.msd", 0, 8), lib_path);
  EXPECT_EQ(CopyText(u"work\\sub\\b.msd", 1, 0), u"pics\\a.txt");
  EXPECT_EQ(CopyText(u"data\\lib.msd", 0, 258), u"sub\\b.msd");

  // The copy still carries the attachments; the user's files are as they were.
  macro::CFile_Macro file;
  ASSERT_TRUE(file.Open(plat::FixedText(builder_.FileLists().MacroEntries()[0].TempPath, 260)));
  macro::CAttachments_Manager attachments;
  ASSERT_TRUE(attachments.ReadFromMacroFile(file.File(), file.Header()));
  ASSERT_EQ(attachments.Count(), 1u);
  EXPECT_EQ(attachments.StreamName(0), u"emb.msd");
  attachments.DeleteTempStorage();
  ExpectOriginalsUnchanged();
}

TEST_F(RewriteMacroCopiesTest, UnreadableMacroKeepsItsCopyAndTheBuildGoesOn) {
  MacroBuilder main;
  main.Command(0x2501, 1).Param(1, Payload(520).Text(0, Path(u"work\\pics\\a.txt")).bytes);
  Write(u"work\\main.msd", main.Bytes());
  Prepare();
  // A listed macro whose own file has gone since its copy was made.
  project::MacroListEntry gone{};
  gone.EntryType = analysis::kMacroEntryType;
  gone.ParentIndex = 0;
  plat::SetFixedText(gone.Path, 260, Path(u"work\\gone.msd"));
  plat::SetFixedText(gone.TempPath, 260, Path(u"tmp\\gone.msd"));
  ASSERT_TRUE(WriteBytes(Path(u"tmp\\gone.msd"), main.Bytes()));
  builder_.FileLists().AddMacroEntry(gone);

  EXPECT_TRUE(packager::RewriteMacroCopies(builder_, data_));
  EXPECT_EQ(builder_.Message(), u"IDS_ERR_OPENSCRIPT");
  EXPECT_EQ(ReadBytes(Path(u"tmp\\gone.msd")), main.Bytes());
  EXPECT_EQ(CopyText(u"work\\main.msd", 0, 0), u"pics\\a.txt");
  ExpectOriginalsUnchanged();
}

TEST_F(RewriteMacroCopiesTest, CopyThatCannotBeWrittenStopsTheBuild) {
  MacroBuilder main;
  main.Command(0x2501, 1).Param(1, Payload(520).Text(0, Path(u"work\\pics\\a.txt")).bytes);
  Write(u"work\\main.msd", main.Bytes());
  Prepare();
  const std::u16string copy = plat::FixedText(builder_.FileLists().MacroEntries()[0].TempPath, 260);
  const std::string before = ReadBytes(copy);
  // Held open without write sharing, as another program would: a read-only attribute is
  // no barrier to a root user under Wine, a sharing conflict is one everywhere.
  plat::FileHandle holder =
      plat::OpenFile(copy, plat::kGenericRead, plat::kShareRead, plat::Disposition::kOpenExisting);
  ASSERT_NE(holder, nullptr);

  // Packed unrewritten, the EXE would name the build machine's files.
  EXPECT_FALSE(packager::RewriteMacroCopies(builder_, data_));
  plat::CloseFile(holder);
  EXPECT_EQ(builder_.Message(), u"IDS_ERR_CREATETEMPFILE");
  EXPECT_EQ(ReadBytes(copy), before);
  ExpectOriginalsUnchanged();
}

}  // namespace
}  // namespace brankel_test
