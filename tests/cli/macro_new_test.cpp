#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "macro/attachments.h"
#include "macro/macro_builder.h"
#include "macro/macro_file.h"
#include "platform/unicode.h"
#include "support/run_cli.h"
#include "support/scratch.h"

namespace cli {
namespace {

using brankel_test::Narrow;
using brankel_test::ReadBytes;
using brankel_test::WriteBytes;

class MacroNewTest : public brankel_test::ScratchTest {
 protected:
  brankel_test::CliOutput New(const std::string& description) {
    EXPECT_TRUE(WriteBytes(Path(u"description.json"), description));
    return brankel_test::RunCli({"macro", "new", Narrow(Path(u"description.json")), Narrow(Path(u"out.msd"))});
  }
};

// The text at `offset` of command `index`'s record, as the reader finds it.
std::u16string TextOf(macro::CFile_Macro& file, uint32_t index, size_t offset) {
  const macro::MacroCommand& command = file.Commands()[index];
  const plat::ByteView payload = macro::ParamRecordPayload(file.FindParamRecord(command.ParamId, file.ParamView()));
  return payload.Utf16z(offset, macro::kNameFieldUnits);
}

TEST_F(MacroNewTest, WhatTheDescriptionSaysComesBackFromTheReader) {
  ASSERT_TRUE(WriteBytes(Path(u"notes.txt"), "attached bytes"));
  const auto run = New(R"({
    "name": "Hello", "editor_text": "by hand", "save_stamp": 1700000000, "play_speed": -30,
    "named_items": ["greeting", {"name": "count", "kinds": 32}],
    "commands": [
      {"code": "call", "call": "sub\\Greet.msd", "kind": 1},
      {"code": "run-macro", "call": "Shared.msd", "kind": 0, "disabled": true},
      {"code": "0x210A", "texts": [{"offset": 132, "text": "pics\\a.bmp;b.bmp"}, {"offset": 0, "text": "x"}]},
      {"code": "open-file", "size": 40, "texts": [{"offset": 0, "text": "docs\\readme.txt"}]},
      {"code": "0x0102"}
    ],
    "attachments": [
      {"name": "notes.txt", "from": "notes.txt"},
      {"name": "Embedded.msd", "macro": {"name": "Inner",
        "commands": [{"code": "open-file", "texts": [{"offset": 0, "text": "inner.txt"}]}]}}
    ]})");
  ASSERT_EQ(run.code, 0) << run.err;

  macro::CFile_Macro file;
  const macro::MacroCommand* commands = nullptr;
  ASSERT_TRUE(file.Open(Path(u"out.msd")) && file.ReadCommands(&commands) && file.GetParamBlock(nullptr) &&
              file.LoadNamedItems());
  const macro::MacroFileHeader& header = file.Header();
  EXPECT_EQ(header.Version, macro::kMacroVersion);
  EXPECT_EQ(plat::FixedText(header.MacroName, 128), u"Hello");
  EXPECT_EQ(plat::FixedText(header.EditorText, 260), u"by hand");
  EXPECT_EQ(header.SaveStamp, 1700000000);
  EXPECT_EQ(header.PlaySpeed, -30);
  ASSERT_EQ(header.NamedItemCount, 2);
  EXPECT_EQ(plat::FixedText(file.NamedItems()[1].Name, 64), u"count");
  EXPECT_EQ(file.NamedItems()[1].Kinds5, 32);

  ASSERT_EQ(header.CommandCount, 5u);
  const uint16_t codes[] = {0x6105, 0x6605, 0x210A, 0x230A, 0x0102};
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(commands[i].Code, codes[i]) << i;
  EXPECT_EQ(commands[1].Flags & macro::kCommandDisabled, macro::kCommandDisabled);
  EXPECT_EQ(commands[0].Flags & macro::kCommandDisabled, 0);
  EXPECT_EQ(commands[4].ParamId, macro::kNoParamId);
  EXPECT_EQ(TextOf(file, 0, 8), u"sub\\Greet.msd");
  EXPECT_EQ(TextOf(file, 1, 258), u"Shared.msd");
  EXPECT_EQ(TextOf(file, 2, 132), u"pics\\a.bmp;b.bmp");
  EXPECT_EQ(TextOf(file, 2, 0), u"x");
  EXPECT_EQ(TextOf(file, 3, 0), u"docs\\readme.txt");
  const auto payload = [&](uint32_t i) {
    return macro::ParamRecordPayload(file.FindParamRecord(commands[i].ParamId, file.ParamView()));
  };
  EXPECT_EQ(payload(0).U8Or(1, 0xFF), macro::kByPath);
  EXPECT_EQ(payload(1).U8Or(0, 0xFF), macro::kByLibraryName);
  EXPECT_EQ(payload(3).size(), 40u) << "the size asked for";
  EXPECT_EQ(payload(2).size(), 132u + 520u) << "room for a whole name field after the last text";

  macro::CAttachments_Manager attachments;
  ASSERT_TRUE(attachments.ReadFromMacroFile(file.File(), header));
  ASSERT_EQ(attachments.Count(), 2u);
  EXPECT_EQ(attachments.Extension(0), u".txt");
  ASSERT_TRUE(attachments.ExtractStream(u"notes.txt", Path(u"notes.out")));
  EXPECT_EQ(ReadBytes(Path(u"notes.out")), "attached bytes");
  ASSERT_TRUE(attachments.ExtractStream(u"Embedded.msd", Path(u"inner.msd")));
  macro::CFile_Macro inner;
  ASSERT_TRUE(inner.Open(Path(u"inner.msd")) && inner.ReadCommands(&commands) && inner.GetParamBlock(nullptr));
  EXPECT_EQ(TextOf(inner, 0, 0), u"inner.txt");
}

TEST_F(MacroNewTest, RefusalsSayWhyAndLeaveTheOldFile) {
  const std::string long_name(260, 'n');
  std::string huge = R"({"commands": [)";
  for (int i = 0; i < 256; ++i) huge += std::string(i == 0 ? "" : ",") + R"({"code": "0x2301", "size": 262143})";
  huge += "]}";
  const struct {
    const char* description;
    std::string json;
    int code;
    const char* message;
  } cases[] = {
      {"bad JSON", R"({"name": )", 2, "bad JSON: "},
      {"not an object", "[]", 2, "must be a JSON object"},
      {"unknown key", R"({"nmae": "x"})", 2, "unknown key \"nmae\""},
      {"unknown code name", R"({"commands": [{"code": "jump"}]})", 2, "commands[0].code: unknown code \"jump\""},
      {"bad hex code", R"({"commands": [{"code": "0x12345"}]})", 2, "unknown code \"0x12345\""},
      {"offset past the record",
       R"({"commands": [{"code": "0x2301", "size": 10, "texts": [{"offset": 9, "text": ""}]}]})", 2,
       "commands[0]: offset 9 lies past the 10-byte record"},
      {"text too long for the record",
       R"({"commands": [{"code": "0x2301", "size": 10, "texts": [{"offset": 0, "text": "abcde"}]}]})", 2,
       "text is too long for its field (at most 4 characters)"},
      {"text too long for a name field",
       R"({"commands": [{"code": "0x2301", "texts": [{"offset": 0, "text": ")" + long_name + R"("}]}]})", 2,
       "(at most 259 characters)"},
      {"call with another code", R"({"commands": [{"code": "0x2301", "call": "a.msd"}]})", 2,
       "only codes 0x6105 and 0x6605 call a macro"},
      {"kind out of range", R"({"commands": [{"call": "a.msd", "kind": 256}]})", 2,
       "commands[0].kind: must be a whole number from 0 to 255"},
      {"header text too long", R"({"name": ")" + long_name + R"("})", 2, "name: is too long (at most 127 characters)"},
      {"named item kinds", R"({"named_items": [{"name": "a", "kinds": 255}]})", 2, "named_items[0].kinds"},
      {"attachment without source", R"({"attachments": [{"name": "a.txt"}]})", 2, "needs either \"from\" or \"macro\""},
      {"attachment file missing", R"({"attachments": [{"name": "a.txt", "from": "nowhere.txt"}]})", 2,
       "attachments[0].from: cannot read "},
      {"repeated attachment", R"({"attachments": [{"name": "a", "macro": {}}, {"name": "A", "macro": {}}]})", 2,
       "attachments[1]: "},
      {"records past 64 MiB", huge, 2, "commands[255]: the records together pass 64 MiB"},
      {"nested error", R"({"attachments": [{"name": "a.msd", "macro": {"commands": [{"code": "x"}]}}]})", 2,
       "attachments[0].macro.commands[0].code: unknown code"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteBytes(Path(u"out.msd"), "previous"));
    const auto run = New(c.json);
    EXPECT_EQ(run.code, c.code) << c.description;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.description << ": " << run.err;
    EXPECT_EQ(ReadBytes(Path(u"out.msd")), "previous") << c.description;
  }
}

TEST_F(MacroNewTest, OutIsReplacedWholeAndItsFolderMade) {
  ASSERT_TRUE(WriteBytes(Path(u"description.json"), R"({"name": "Fresh"})"));
  const std::u16string out = Path(u"made\\deeper\\new.msd");
  const auto run = brankel_test::RunCli({"macro", "new", Narrow(Path(u"description.json")), Narrow(out)});
  ASSERT_EQ(run.code, 0) << run.err;
  macro::CFile_Macro file;
  ASSERT_TRUE(file.Open(out));
  EXPECT_EQ(plat::FixedText(file.Header().MacroName, 128), u"Fresh");
  plat::FindData found;
  plat::FindHandle staging = plat::FindFirstFile(Path(u"made\\deeper\\~Mn*"), &found);
  EXPECT_EQ(staging, nullptr) << "no staging file left beside OUT";
  if (staging != nullptr) plat::FindClose(staging);
  const auto missing = brankel_test::RunCli({"macro", "new", Narrow(Path(u"none.json")), Narrow(out)});
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("cannot read the description"), std::string::npos) << missing.err;
}

}  // namespace
}  // namespace cli
