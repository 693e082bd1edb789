#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "app/res_string.h"
#include "app/system_error.h"
#include "app/text_format.h"
#include "cli/cli.h"
#include "cli/installation.h"
#include "cli/macro_command.h"
#include "cli/macro_info.h"
#include "macro/macro_file.h"
#include "macro/macro_format.h"
#include "support/attachment_builder.h"
#include "support/compound_builder.h"
#include "support/macro_builder.h"
#include "support/run_cli.h"
#include "support/scratch.h"

namespace cli {
namespace {

using brankel_test::EnglishText;
using brankel_test::Narrow;
using brankel_test::ReadBytes;
using brankel_test::WriteBytes;
using nlohmann::json;

using CliRun = brankel_test::CliOutput;

CliRun Brankel(const std::vector<std::string>& args) { return brankel_test::RunCli(args); }

constexpr char16_t kPassword[] = u"Qz7-hidden";
constexpr char kPasswordText[] = "Qz7-hidden";

// A parameter record as the editor stores it: the size word, the id word, the payload.
void AppendRecord(std::vector<uint8_t>& block, uint16_t id, uint8_t payload_size, uint8_t fill) {
  block.insert(block.end(), {payload_size, 0, static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)});
  block.insert(block.end(), payload_size, fill);
}

macro::MacroCommand Command(uint16_t code, uint16_t param_id, uint16_t flags) {
  macro::MacroCommand command{};
  command.Code = code;
  command.ParamId = param_id;
  command.Flags = flags;
  return command;
}

struct MacroParts {
  macro::MacroFileHeader header{};
  std::vector<macro::MacroCommand> commands;
  std::vector<uint8_t> params;
  std::vector<macro::MacroNamedItem> items = std::vector<macro::MacroNamedItem>(macro::kMaxNamedItems);

  void SetName(std::u16string_view name) {
    char16_t units[128] = {};
    std::copy(name.begin(), name.end(), units);
    std::memcpy(header.MacroName, units, sizeof units);
  }
  void AddItem(std::u16string_view name) {
    macro::MacroNamedItem& item = items[header.NamedItemCount++];
    item.Kinds5 = 0x10;
    char16_t units[64] = {};
    std::copy(name.begin(), name.end(), units);
    std::memcpy(item.Name, units, sizeof units);
  }
  bool Write(std::u16string_view path) {
    header.CommandCount = static_cast<uint32_t>(commands.size());
    header.ParamBlockSize = static_cast<uint32_t>(params.size());
    return macro::WriteMacroFile(path, commands.data(), params.empty() ? nullptr : params.data(),
                                 header.NamedItemCount ? items.data() : nullptr, header) == 1;
  }
};

// Two named items; three commands: one with a 12-byte record, a disabled one without a
// record, and a disabled one (editor bit set too) with a 5-byte record.
MacroParts SampleMacro() {
  MacroParts parts;
  parts.SetName(u"Invoice run \u00e9t\u00e9");
  parts.header.FileFlags = 0x09;
  parts.header.EmulationLevel = 0xA3;
  parts.header.PlaySpeed = -3;
  parts.header.ProgressMode = 0x21;
  parts.header.DodgeMouseMode = 0x07;
  macro::SetHeaderPassword(parts.header, kPassword);
  parts.header.ProtectFlags = macro::kProtectWithPassword;
  parts.AddItem(u"Customer");
  parts.AddItem(u"Total");
  parts.commands = {Command(0x0101, 0, 0), Command(0x0A02, macro::kNoParamId, 1), Command(0xFF10, 1, 3)};
  AppendRecord(parts.params, 0, 12, 0x41);
  AppendRecord(parts.params, 1, 5, 0x42);
  return parts;
}

// WriteMacroFile stamps the current time; known stamps make the dates checkable. The
// password is keyed by the save stamp, so it is stored again under the new one.
bool SetStamps(std::u16string_view path, int32_t save, int32_t write) {
  std::string bytes = ReadBytes(path);
  if (bytes.size() < macro::kHeaderSize) return false;
  macro::MacroFileHeader header;
  std::memcpy(&header, bytes.data(), sizeof header);
  macro::RestorePasswordField(header);
  header.SaveStamp = save;
  header.WriteStamp = write;
  macro::ScramblePasswordField(header);
  std::memcpy(bytes.data(), &header, sizeof header);
  return WriteBytes(path, bytes);
}

bool PatchUint32(std::u16string_view path, size_t offset, uint32_t value) {
  std::string bytes = ReadBytes(path);
  if (bytes.size() < offset + 4) return false;
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
  return WriteBytes(path, bytes);
}

class MacroCommandTest : public brankel_test::ScratchTest {
 protected:
  std::string File(std::u16string_view name) { return Narrow(Path(name)); }
};

TEST_F(MacroCommandTest, PlainProtectedFileAsText) {
  MacroParts parts = SampleMacro();
  ASSERT_TRUE(parts.Write(Path(u"a.msd")));
  ASSERT_TRUE(SetStamps(Path(u"a.msd"), 951782400, 1700000000));
  const std::string file = File(u"a.msd");
  const CliRun run = Brankel({"macro", "info", file});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  // Named items at 4632 (2 x 1044), commands at 6720 (3 x 24), records at 6792 (16 + 9).
  const std::string expected = "file:               " + file +
                               "\n"
                               "macro name:         Invoice run \xC3\xA9t\xC3\xA9\n"
                               "version:            512\n"
                               "file flags:         0x09\n"
                               "packed:             no\n"
                               "scrambled:          yes\n"
                               "protected:          yes\n"
                               "password set:       yes\n"
                               "named items:        2\n"
                               "commands:           3\n"
                               "parameter block:    25 bytes\n"
                               "total size:         6817 bytes\n"
                               "command block at:   6720\n"
                               "parameter block at: 6792\n"
                               "saved:              2000-02-29 00:00:00 UTC\n"
                               "written:            2023-11-14 22:13:20 UTC\n"
                               "emulation level:    3\n"
                               "play speed:         -3\n"
                               "progress mode:      1 (off)\n"
                               "dodge mouse mode:   7 (on)\n"
                               "\n"
                               "named items:\n"
                               "  0  Customer\n"
                               "  1  Total\n"
                               "\n"
                               "commands:\n"
                               "  0  code=0x0101  param=0  disabled=no  payload=12\n"
                               "  1  code=0x0A02  param=8191  disabled=yes  payload=-\n"
                               "  2  code=0xFF10  param=1  disabled=yes  payload=5\n";
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(run.out.find(kPasswordText), std::string::npos);
}

TEST_F(MacroCommandTest, PackedScrambledFileAsJson) {
  MacroParts parts = SampleMacro();
  parts.header.Packed = 1;
  ASSERT_TRUE(parts.Write(Path(u"p.msd")));
  ASSERT_TRUE(SetStamps(Path(u"p.msd"), -1, 0));
  const std::string file = File(u"p.msd");
  const CliRun run = Brankel({"macro", "info", "--json", file});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out.find(kPasswordText), std::string::npos);
  EXPECT_EQ(run.err.find(kPasswordText), std::string::npos);
  const json info = json::parse(run.out, nullptr, false);
  ASSERT_FALSE(info.is_discarded()) << run.out;

  // Each block is stored as a 4-byte length and its packed stream.
  const size_t items =
      4 + macro::PackBlock(plat::ByteView(reinterpret_cast<const uint8_t*>(parts.items.data()), 2 * 1044)).size();
  const size_t commands =
      4 + macro::PackBlock(plat::ByteView(reinterpret_cast<const uint8_t*>(parts.commands.data()), 72)).size();
  const size_t params = 4 + macro::PackBlock(plat::ByteView(parts.params)).size();
  EXPECT_EQ(info["file"], file);
  EXPECT_EQ(info["name"], "Invoice run \xC3\xA9t\xC3\xA9");
  EXPECT_EQ(info["version"], 512);
  EXPECT_EQ(info["file_flags"], 9);
  EXPECT_EQ(info["packed"], true);
  EXPECT_EQ(info["scrambled"], true);
  EXPECT_EQ(info["protected"], true);
  EXPECT_EQ(info["password_set"], true);
  EXPECT_EQ(info["named_item_count"], 2);
  EXPECT_EQ(info["command_count"], 3);
  EXPECT_EQ(info["param_block_size"], 25) << "the expanded size, not the stream's";
  EXPECT_EQ(info["command_block_offset"], 4632 + items);
  EXPECT_EQ(info["param_block_offset"], 4632 + items + commands);
  EXPECT_EQ(info["total_size"], 4632 + items + commands + params);
  EXPECT_EQ(info["total_size"], ReadBytes(Path(u"p.msd")).size());
  EXPECT_EQ(info["save_stamp"], -1);
  EXPECT_EQ(info["saved"], "1969-12-31 23:59:59 UTC");
  EXPECT_EQ(info["write_stamp"], 0);
  EXPECT_EQ(info["written"], "1970-01-01 00:00:00 UTC");
  EXPECT_EQ(info["emulation_level"], 3);
  EXPECT_EQ(info["play_speed"], -3);
  EXPECT_EQ(info["progress_mode"], 1);
  EXPECT_EQ(info["dodge_mouse_mode"], 7);
  EXPECT_EQ(info["named_items"], json::parse(R"([{"index":0,"name":"Customer"},{"index":1,"name":"Total"}])"));
  EXPECT_EQ(info["commands"], json::parse(R"([
      {"index":0,"code":257,"param_id":0,"disabled":false,"payload_size":12},
      {"index":1,"code":2562,"param_id":8191,"disabled":true,"payload_size":null},
      {"index":2,"code":65296,"param_id":1,"disabled":true,"payload_size":5}])"));
}

TEST_F(MacroCommandTest, PasswordWithoutProtectionIsNotScrambled) {
  MacroParts parts = SampleMacro();
  parts.header.ProtectFlags = 0x04;  // another bit only
  ASSERT_TRUE(parts.Write(Path(u"u.msd")));
  CliRun run = Brankel({"macro", "info", "--json", File(u"u.msd")});
  ASSERT_EQ(run.code, 0) << run.err;
  json info = json::parse(run.out);
  EXPECT_EQ(info["scrambled"], false);
  EXPECT_EQ(info["protected"], false);
  EXPECT_EQ(info["password_set"], true);
  EXPECT_EQ(run.out.find(kPasswordText), std::string::npos);

  macro::SetHeaderPassword(parts.header, u"");
  parts.header.ProtectFlags = macro::kProtectWithPassword;
  ASSERT_TRUE(parts.Write(Path(u"n.msd")));
  run = Brankel({"macro", "info", File(u"n.msd")});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("\nscrambled:          no\nprotected:          yes\npassword set:       no\n"),
            std::string::npos)
      << run.out;
}

TEST_F(MacroCommandTest, RecordsWithoutCommandsAreStillExpanded) {
  // A count of zero commands leaves the parameter block unread by ReadCommands; its size
  // must still be the expanded one.
  MacroParts parts;
  parts.header.Packed = 1;
  AppendRecord(parts.params, 4, 200, 0x33);
  parts.commands = {Command(1, 4, 0)};
  parts.header.CommandCount = 0;
  parts.header.ParamBlockSize = static_cast<uint32_t>(parts.params.size());
  ASSERT_EQ(macro::WriteMacroFile(Path(u"e.msd"), parts.commands.data(), parts.params.data(), nullptr, parts.header),
            1);
  const CliRun run = Brankel({"macro", "info", "--json", File(u"e.msd")});
  ASSERT_EQ(run.code, 0) << run.err;
  const json info = json::parse(run.out);
  EXPECT_EQ(info["command_count"], 0);
  EXPECT_EQ(info["param_block_size"], 204);
  EXPECT_EQ(info["named_item_count"], 0);
  EXPECT_EQ(info["commands"], json::array());
  EXPECT_EQ(info["named_items"], json::array());
  EXPECT_EQ(info["password_set"], false);
  EXPECT_EQ(info["progress_mode"], 0);

  const CliRun text = Brankel({"macro", "info", File(u"e.msd")});
  EXPECT_NE(text.out.find("progress mode:      0 (installation default)\n"), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("\ncommands:\n"), std::string::npos) << "no command list for no commands";
}

TEST_F(MacroCommandTest, UnreadableNamedItemsAreDroppedWithAWarning) {
  MacroParts parts = SampleMacro();
  parts.header.Packed = 1;
  ASSERT_TRUE(parts.Write(Path(u"d.msd")));
  // The table's stream claims more than a stream of its length can give: it does not unpack.
  ASSERT_TRUE(PatchUint32(Path(u"d.msd"), macro::kHeaderSize + 4 + 2, 0x7FFFFFFF));
  const std::string file = File(u"d.msd");
  const CliRun run = Brankel({"macro", "info", "--json", file});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "brankel: " + file + ": named items dropped: " + EnglishText(u"IDS_ERR_BADFILE", file) + "\n");
  const json info = json::parse(run.out);
  EXPECT_EQ(info["named_item_count"], 2);
  EXPECT_EQ(info["named_items"], json::array());
  EXPECT_EQ(info["commands"].size(), 3u);
}

TEST_F(MacroCommandTest, NamedItemsLongerThanTheFileAreADamagedFile) {
  MacroParts parts = SampleMacro();
  parts.header.Packed = 1;
  ASSERT_TRUE(parts.Write(Path(u"l.msd")));
  ASSERT_TRUE(PatchUint32(Path(u"l.msd"), macro::kHeaderSize, 0x7FFFFFFF));  // the table's stream length
  const std::string file = File(u"l.msd");
  const CliRun run = Brankel({"macro", "info", "--json", file});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "brankel: " + file + ": " + EnglishText(u"IDS_ERR_BADFILE", file) + "\n");
}

TEST_F(MacroCommandTest, ShortFileIsNotAMacroFile) {
  ASSERT_TRUE(WriteBytes(Path(u"short.msd"), std::string(4631, 'V')));
  const std::string file = File(u"short.msd");
  const CliRun run = Brankel({"macro", "info", file});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "brankel: " + file + ": The file is not a valid macro file:\n" + file + "\n");
  EXPECT_EQ(run.err, "brankel: " + file + ": " + EnglishText(u"IDS_ERR_FILEFORMAT", file) + "\n");
}

TEST_F(MacroCommandTest, MissingFileGivesTheSystemMessage) {
  const std::string file = File(u"missing.msd");
  const CliRun run = Brankel({"macro", "info", "--json", file});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");
  char16_t message[512];
  ASSERT_EQ(app::FormatSystemError(plat::err::kFileNotFound, message, 512, false), 1);
  EXPECT_EQ(run.err, "brankel: " + file + ": " + Narrow(message) + "\n");
}

TEST_F(MacroCommandTest, DamagedFilesGiveTheirKeysText) {
  MacroParts parts = SampleMacro();
  ASSERT_TRUE(parts.Write(Path(u"v.msd")));
  ASSERT_TRUE(PatchUint32(Path(u"v.msd"), 8, 600 | (0x09u << 16)));  // version 600, same flags
  std::string file = File(u"v.msd");
  CliRun run = Brankel({"macro", "info", file});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, "brankel: " + file + ": " + EnglishText(u"IDS_ERR_FILEVERSION", file) + "\n");

  ASSERT_TRUE(parts.Write(Path(u"t.msd")));
  ASSERT_TRUE(PatchUint32(Path(u"t.msd"), 24, 6818));  // one byte more than the file holds
  file = File(u"t.msd");
  run = Brankel({"macro", "info", file});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, "brankel: " + file + ": " + EnglishText(u"IDS_ERR_BADFILE", file) + "\n");

  // A command naming a record the block does not hold.
  parts.commands[0].ParamId = 9;
  ASSERT_TRUE(parts.Write(Path(u"r.msd")));
  file = File(u"r.msd");
  run = Brankel({"macro", "info", "--json", file});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "brankel: " + file + ": " + EnglishText(u"IDS_ERR_BADFILE", file) + "\n");
}

TEST_F(MacroCommandTest, UsageErrors) {
  EXPECT_EQ(Brankel({"macro"}).code, 2);
  CliRun run = Brankel({"macro", "info"});
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(run.err.find("FILE"), std::string::npos) << run.err;
  EXPECT_EQ(Brankel({"macro", "info", "--yaml", File(u"x.msd")}).code, 2);
  EXPECT_EQ(Brankel({"macro", "info", File(u"x.msd"), File(u"y.msd")}).code, 2);
  EXPECT_EQ(Brankel({"macro", "frobnicate"}).code, 2);
  EXPECT_EQ(Brankel({"macro", "info", "--help"}).code, 0);
}

TEST(MacroCommandLanguage, InstalledFilesFirstThenTheBuildsOwn) {
  const std::vector<std::u16string> folders = LanguageFolders();
  ASSERT_EQ(folders.size(), 2u);
  const std::u16string module = plat::GetModuleFileName();
  EXPECT_EQ(folders[0], module.substr(0, module.rfind(u'\\') + 1) + u"sysdata\\");
  EXPECT_EQ(folders[1], plat::PathFromHost(BRANKEL_INSTALL_DIR) + u"\\sysdata\\");
  EXPECT_TRUE(plat::FileExists(folders[1] + u"errormsg_en.lng"));
}

TEST(MacroInfoStamp, FormatsUtcDates) {
  EXPECT_EQ(FormatUtcStamp(0), "1970-01-01 00:00:00 UTC");
  EXPECT_EQ(FormatUtcStamp(86399), "1970-01-01 23:59:59 UTC");
  EXPECT_EQ(FormatUtcStamp(951782400), "2000-02-29 00:00:00 UTC");
  EXPECT_EQ(FormatUtcStamp(68256000), "1972-03-01 00:00:00 UTC");
  EXPECT_EQ(FormatUtcStamp(1700000000), "2023-11-14 22:13:20 UTC");
  EXPECT_EQ(FormatUtcStamp(INT32_MAX), "2038-01-19 03:14:07 UTC");
  // 2100 is no leap year: 28 February is followed by 1 March.
  EXPECT_EQ(FormatUtcStamp(4107455999), "2100-02-27 23:59:59 UTC");
  EXPECT_EQ(FormatUtcStamp(4107542400), "2100-03-01 00:00:00 UTC");
}

TEST(MacroInfoStamp, NegativeStampsLieBefore1970) {
  EXPECT_EQ(FormatUtcStamp(-1), "1969-12-31 23:59:59 UTC");
  EXPECT_EQ(FormatUtcStamp(-86400), "1969-12-31 00:00:00 UTC");
  EXPECT_EQ(FormatUtcStamp(-31536000), "1969-01-01 00:00:00 UTC");
  EXPECT_EQ(FormatUtcStamp(INT32_MIN), "1901-12-13 20:45:52 UTC");
  EXPECT_EQ(FormatUtcStamp(-2208988800), "1900-01-01 00:00:00 UTC");
}

}  // namespace
}  // namespace cli

namespace cli {
namespace {

class MacroAttachmentsCommandTest : public brankel_test::ScratchTest {};

TEST_F(MacroAttachmentsCommandTest, ListsAndExtracts) {
  const std::vector<uint8_t> notes = brankel_test::PatternBytes(5000, 4);
  const std::vector<uint8_t> compound =
      brankel_test::CompoundBuilder().AddStream(u"notes.txt", notes).AddStream(u"tiny.ini", "[a]").Build();
  const std::string host = brankel_test::WithAttachmentsFlag(brankel_test::MacroBuilder().Command(0x0101).Bytes()) +
                           brankel_test::AttachmentArea({brankel_test::AttachmentItemBytes(u"notes.txt", u".txt"),
                                                         brankel_test::AttachmentItemBytes(u"tiny.ini", u".ini")},
                                                        compound);
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"host.msd"), host));
  const std::string file = brankel_test::Narrow(Path(u"host.msd"));

  brankel_test::CliOutput run = brankel_test::RunCli({"macro", "attachments", file, "--json"});
  ASSERT_EQ(run.code, 0) << run.err;
  const nlohmann::json j = nlohmann::json::parse(run.out);
  ASSERT_EQ(j["attachments"].size(), 2u);
  EXPECT_EQ(j["attachments"][0]["stream"], "notes.txt");
  EXPECT_EQ(j["attachments"][0]["extension"], ".txt");
  EXPECT_EQ(j["attachments"][0]["size"], 5000);
  EXPECT_EQ(j["attachments"][1]["size"], 3);

  const std::string target = brankel_test::Narrow(Path(u"out.txt"));
  run = brankel_test::RunCli({"macro", "attachments", file, "--extract", "NOTES.TXT", "--to", target});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(brankel_test::ReadBytes(Path(u"out.txt")), std::string(notes.begin(), notes.end()));
  run = brankel_test::RunCli({"macro", "attachments", file, "--extract", "none.txt", "--to", target});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(brankel_test::RunCli({"macro", "attachments", file, "--to", target}).code, 2) << "--to needs --extract";
}

TEST_F(MacroAttachmentsCommandTest, DamagedAreaIsExplained) {
  const std::string host = brankel_test::WithAttachmentsFlag(brankel_test::MacroBuilder().Command(0x0101).Bytes()) +
                           brankel_test::AttachmentArea({}, {}, 0x11111111);
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"bad.msd"), host));
  const brankel_test::CliOutput run =
      brankel_test::RunCli({"macro", "attachments", brankel_test::Narrow(Path(u"bad.msd"))});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("10028"), std::string::npos) << run.err;
}

TEST_F(MacroAttachmentsCommandTest, ReadFailuresEndInTheSystemsWords) {
  std::vector<uint8_t> compound = brankel_test::CompoundBuilder().AddStream(u"notes.txt", "notes").Build();
  compound[0] = 0;  // no compound file any more
  const std::string host =
      brankel_test::WithAttachmentsFlag(brankel_test::MacroBuilder().Command(0x0101).Bytes()) +
      brankel_test::AttachmentArea({brankel_test::AttachmentItemBytes(u"notes.txt", u".txt")}, compound);
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"damaged.msd"), host));
  const brankel_test::CliOutput run =
      brankel_test::RunCli({"macro", "attachments", brankel_test::Narrow(Path(u"damaged.msd"))});
  EXPECT_EQ(run.code, 1);
  char16_t why[512];
  app::FormatSystemError(static_cast<uint32_t>(macro::kErrAttachmentsOpenTemp), why, 512, false);
  std::string expected = EnglishText(u"IDS_ERR_ATTACHMENTS_OPEN_TEMP", Narrow(why));
  EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("%s"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace cli
