#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "app/system_error.h"
#include "macro/macro_format.h"
#include "platform/platform.h"
#include "support/legacy_builder.h"
#include "support/run_cli.h"
#include "support/scratch.h"

namespace cli {
namespace {

using brankel_test::EnglishText;
using brankel_test::Narrow;
using brankel_test::ReadBytes;
using brankel_test::RunCli;
using json = nlohmann::ordered_json;

// One command of each kind the report counts: a record converted by its rule, a record
// made for a code that needs one, a record without a rule, a reference to nothing, and a
// code the map leaves alone.
brankel_test::LegacyMacro SampleMacro(uint16_t version) {
  brankel_test::LegacyMacro m;
  m.version = version;
  m.name = "Old macro";
  m.named_items = {{7, "count", "a named item"}};
  m.commands = {{.code = 0x010, .param_id = 1},
                {.code = 0x0A1},
                {.code = 0x062, .param_id = 2},
                {.code = 0x012, .param_id = 7},
                {.code = 0x300}};
  m.records = {{1, brankel_test::AnsiPayload(262, {{0, "Hello"}})}, {2, std::vector<uint8_t>(8, 0x41)}};
  return m;
}

std::string AsString(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

class MacroUpgradeTest : public brankel_test::ScratchTest {
 protected:
  std::string File(std::u16string_view name) { return Narrow(Path(name)); }
  std::string Write(std::u16string_view name, const std::vector<uint8_t>& bytes) {
    EXPECT_TRUE(brankel_test::WriteBytes(Path(name), AsString(bytes)));
    return File(name);
  }
  // What the scratch folder and the temporary folder hold.
  std::set<std::u16string> Listing() {
    std::set<std::u16string> names = brankel_test::TemporaryFiles(u"*");
    plat::FindData found;
    if (plat::FindHandle find = plat::FindFirstFile(dir_ + u"\\*", &found)) {
      do names.insert(u"scratch\\" + found.name);
      while (plat::FindNextFile(find, &found));
      plat::FindClose(find);
    }
    return names;
  }
};

TEST_F(MacroUpgradeTest, BothOldVersionsUpgradeAndADryRunForetellsIt) {
  for (const uint16_t version : {macro::kVersion258, macro::kVersion259}) {
    SCOPED_TRACE(version);
    const std::vector<uint8_t> original = brankel_test::BuildLegacyMacro(SampleMacro(version));
    const std::string file = Write(version == 258 ? u"a258.msd" : u"a259.msd", original);

    const std::set<std::u16string> before = Listing();
    const auto dry = RunCli({"macro", "upgrade", file, "--dry-run", "--json"});
    ASSERT_EQ(dry.code, 0) << dry.err;
    EXPECT_EQ(ReadBytes(Path(version == 258 ? u"a258.msd" : u"a259.msd")), AsString(original));
    EXPECT_EQ(Listing(), before) << "a dry run writes nothing";
    const json foretold = json::parse(dry.out);

    const auto run = RunCli({"macro", "upgrade", file, "--json"});
    ASSERT_EQ(run.code, 0) << run.err;
    json done = json::parse(run.out);
    const std::vector<std::string> keys = {"from_version",       "to_version",
                                           "converted",          "dry_run",
                                           "commands",           "codes_mapped",
                                           "named_items",        "records",
                                           "records_added",      "records_without_rule",
                                           "codes_without_rule", "records_without_text_rule",
                                           "texts_widened",      "texts_cut",
                                           "references_dropped", "old_copy"};
    std::vector<std::string> got;
    for (const auto& [key, value] : done.items()) got.push_back(key);
    EXPECT_EQ(got, keys);
    EXPECT_EQ(done["from_version"], version);
    EXPECT_EQ(done["to_version"], 512);
    EXPECT_EQ(done["converted"], true);
    EXPECT_EQ(done["commands"], 5);
    EXPECT_EQ(done["codes_mapped"], 4);
    EXPECT_EQ(done["named_items"], 1);
    EXPECT_EQ(done["records"], 1);
    EXPECT_EQ(done["records_added"], 1);
    EXPECT_EQ(done["records_without_rule"], 1);
    EXPECT_EQ(done["codes_without_rule"], json::array({"0x2201"}));
    EXPECT_EQ(done["records_without_text_rule"], 0);
    EXPECT_GE(done["texts_widened"], 3);  // the name, the record's text, the named item's
    EXPECT_EQ(done["texts_cut"], 0);
    EXPECT_EQ(done["references_dropped"], 1);
    EXPECT_EQ(done["old_copy"], file + ".old");
    EXPECT_EQ(foretold["dry_run"], true);
    EXPECT_EQ(done["dry_run"], false);
    done["dry_run"] = true;
    EXPECT_EQ(foretold, done) << "the dry run counts what the real one does";

    const std::string upgraded = ReadBytes(plat::PathFromHost(file));
    ASSERT_GE(upgraded.size(), macro::kHeaderSize);
    EXPECT_EQ(upgraded.substr(8, 2), std::string("\x00\x02", 2));
    const std::string old = ReadBytes(plat::PathFromHost(file + ".old"));
    if (version == 259) {
      EXPECT_EQ(old, AsString(original));
    } else {  // the first step's version-259 file
      ASSERT_GE(old.size(), macro::kRecords259Offset);
      EXPECT_EQ(old.substr(0, 10), std::string("VL_MA\0\0\0\x03\x01", 10));
    }
    const auto info = RunCli({"macro", "info", "--json", file});
    ASSERT_EQ(info.code, 0) << info.err;
    EXPECT_EQ(json::parse(info.out)["version"], 512);
    EXPECT_EQ(json::parse(info.out)["command_count"], 5);

    const auto again = RunCli({"macro", "upgrade", file});
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(again.out, file + ": version 512, nothing to upgrade\n");
    EXPECT_EQ(ReadBytes(plat::PathFromHost(file)), upgraded);
  }
}

TEST_F(MacroUpgradeTest, TextSaysWhatChangedOrWouldChange) {
  const std::string file = Write(u"t.msd", brankel_test::BuildLegacyMacro(SampleMacro(259)));
  const auto dry = RunCli({"macro", "upgrade", "--dry-run", file});
  ASSERT_EQ(dry.code, 0) << dry.err;
  EXPECT_EQ(dry.out.substr(0, dry.out.find('\n')), file + ": version 259 -> 512 (dry run: nothing written)");
  for (const std::string& line :
       std::vector<std::string>{"would convert 5 commands (4 codes mapped)\n", "would convert 1 record, add 1\n",
                                "would keep 1 record without a rule (codes 0x2201)\n",
                                "would drop 1 reference to missing records\n", "would write " + file + ".old\n"}) {
    EXPECT_NE(dry.out.find(line), std::string::npos) << line << dry.out;
  }
  const auto run = RunCli({"macro", "upgrade", file});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out.substr(0, run.out.find('\n')), file + ": version 259 -> 512");
  for (const std::string& line :
       std::vector<std::string>{"converted 5 commands (4 codes mapped)\n", "converted 1 named item\n",
                                "kept 1 record without a rule (codes 0x2201)\n", "wrote " + file + ".old\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
  }
}

TEST_F(MacroUpgradeTest, RefusedFilesStayAsTheyWere) {
  brankel_test::LegacyMacro v257 = SampleMacro(259);
  v257.version = 257;
  std::vector<uint8_t> short_file(1300);
  std::copy_n("VL_MA", 5, short_file.begin());
  short_file[8] = 3, short_file[9] = 1;
  const struct {
    const char16_t* name;
    std::vector<uint8_t> bytes;  // none: no file
    const char16_t* key;         // null: the system's message for `error`
    uint32_t error = 0;
    bool old_taken = false;  // a folder holds the ".old" name, so the old bytes cannot be kept
  } cases[] = {
      {u"v257.msd", brankel_test::BuildLegacyMacro(v257), u"IDS_ERR_FILEVERSION"},
      {u"short.msd", short_file, u"IDS_ERR_FILEFORMAT"},
      {u"missing.msd", {}, nullptr, plat::err::kFileNotFound},
      // Not the version key the look at its header left behind.
      {u"blocked.msd", brankel_test::BuildLegacyMacro(SampleMacro(259)), nullptr, plat::err::kAccessDenied, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    const std::string file = c.bytes.empty() ? File(c.name) : Write(c.name, c.bytes);
    if (c.old_taken) {
      ASSERT_TRUE(plat::CreateDirectory(Path(c.name) + u".old"));
    }
    const std::set<std::u16string> before = Listing();
    const auto run = RunCli({"macro", "upgrade", file, "--json"});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out, "");
    char16_t message[512] = {};
    app::FormatSystemError(c.error, message, 512, false);
    const std::string text = c.key != nullptr ? EnglishText(c.key, file) : Narrow(message);
    EXPECT_EQ(run.err, "brankel: " + file + ": " + text + "\n");
    EXPECT_EQ(Listing(), before);
    if (!c.bytes.empty()) {
      EXPECT_EQ(ReadBytes(Path(c.name)), AsString(c.bytes));
    }
  }
}

}  // namespace
}  // namespace cli
