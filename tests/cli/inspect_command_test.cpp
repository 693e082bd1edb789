// `brankel inspect` on EXEs put together here as a build puts them together: the fixture
// program with a payload B whose player copy (another fixture program) carries a payload A.
#include "cli/inspect_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "packager/payload.h"
#include "pe/pe_image.h"
#include "platform/byte_view.h"
#include "platform/unicode.h"
#include "support/fixtures.h"
#include "support/needs_md5.h"
#include "support/run_cli.h"
#include "support/scratch.h"

namespace cli {
namespace {

using brankel_test::CliOutput;
using brankel_test::Narrow;
using brankel_test::RunCli;
using nlohmann::json;
using packager::PlannedRecord;

struct Packed {
  uint8_t type;
  std::u16string name;
  std::string data;
};

class InspectCommandTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    if (!brankel_test::FixturesAvailable()) GTEST_SKIP() << brankel_test::kNoFixtures;
    BRANKEL_SKIP_WITHOUT_MD5();
  }

  std::string File(std::u16string_view name) const { return Narrow(Path(name)); }

  // The fixture program with a ".mdata" section of `size` bytes that `fill` fills, as
  // `name`; its bytes.
  std::string WriteImage(std::u16string_view name, uint32_t size,
                         const std::function<void(plat::MutableByteView)>& fill) {
    pe::CPE_ImageEditor image;
    EXPECT_TRUE(image.Load(brankel_test::FixturePath("fixture64.exe")));
    uint8_t* block = image.AddDataSection(size);
    EXPECT_NE(block, nullptr);
    if (block == nullptr) return {};
    fill(plat::MutableByteView(block, size));
    EXPECT_TRUE(image.Write(Path(name)));
    return brankel_test::ReadBytes(Path(name));
  }

  std::string WritePlayer() {
    auto options = std::make_unique<project::MakeExeOptions>();
    options->LogLevel = 2;
    options->PlayTimes = 3;
    plat::SetFixedText(options->ExeName, 130, u"Tool.exe");
    plat::SetFixedText(options->RelatedUrl, 130, u"https://example.org/tool");
    plat::SetFixedText(options->AuthorTips, 260, u"Press F9 to stop");
    const std::vector<Packed> files = {{packager::kEntryMacroFile, u"Main.msd", "script bytes"},
                                       {packager::kEntryLanguageFile, u"lang\\en.lng", "language"}};
    std::vector<PlannedRecord> records;
    for (const Packed& f : files) records.push_back({f.type, f.data.size(), f.name});
    const packager::PayloadPlan plan = packager::PlanPayloadA(records);
    return WriteImage(u"player.exe", plan.total_size, [&](plat::MutableByteView section) {
      packager::PutPayloadAHeader(section, *options, 3, u"Main.msd");
      for (size_t i = 0; i < files.size(); ++i) {
        packager::PutPayloadARecordHead(section, plan.records[i]);
        section.CopyFrom(plan.records[i].offset + packager::kFileRecordHeadSize, std::string_view(files[i].data));
      }
    });
  }

  // "built.exe": payload B over `files` with the player copy last.
  std::string WriteBuilt(std::vector<Packed> files) {
    files.push_back({packager::kFileKindPlayer, u"~Ma1A2B.exe", WritePlayer()});
    std::vector<PlannedRecord> records;
    for (const Packed& f : files) records.push_back({f.type, f.data.size(), f.name});
    const packager::PayloadPlan plan = packager::PlanPayloadB(records, 1);
    return WriteImage(u"built.exe", plan.total_size, [&](plat::MutableByteView section) {
      packager::PutPayloadBHeader(section, plan, 2, false, u"Tool.exe", std::string_view("L"));
      for (size_t i = 0; i < files.size(); ++i) {
        const uint32_t at = plan.records[i].offset + packager::kFileRecordHeadSize;
        section.CopyFrom(at, std::string_view(files[i].data));
        const plat::ByteView padded =
            *section.View().Sub(at, *packager::FileRecordSpan(files[i].data.size()) - packager::kFileRecordHeadSize);
        packager::PutPayloadBRecordHead(section, plan.records[i], plat::Md5(padded.data(), padded.size()));
      }
    });
  }

  const std::vector<Packed> kFiles = {{packager::kFileKindFile, u"data\\hello.txt", "hello payload text"},
                                      {packager::kFileKindRuntime, u"mod.dll", "runtime module"}};
};

TEST_F(InspectCommandTest, ListsBothPayloads) {
  WriteBuilt(kFiles);
  const CliOutput run = RunCli({"inspect", "--json", File(u"built.exe")});
  ASSERT_EQ(run.code, 0) << run.err;
  const json report = json::parse(run.out);
  const json& b = report["payload_b"];
  EXPECT_EQ(b["count"], 3);
  EXPECT_EQ(b["first_record"], 296);
  EXPECT_EQ(b["language_file_size"], 1);
  EXPECT_EQ(b["run_mode"], 2);
  EXPECT_EQ(b["web_installer"], false);
  EXPECT_EQ(b["exe_name"], "Tool.exe");
  ASSERT_EQ(b["records"].size(), 3u);
  EXPECT_EQ(b["records"][0], json({{"kind", 0}, {"target", "data\\hello.txt"}, {"size", 18}, {"md5_ok", true}}));
  EXPECT_EQ(b["records"][2]["kind"], 2);
  EXPECT_EQ(b["records"][2]["md5_ok"], true);

  const json& a = report["payload_a"];
  EXPECT_EQ(a["count"], 3);
  EXPECT_EQ(a["script_name"], "Main.msd");
  EXPECT_EQ(a["options"], json({{"log_level", 2},
                                {"play_times", 3},
                                {"exe_name", "Tool.exe"},
                                {"related_url", "https://example.org/tool"},
                                {"author_tips", "Press F9 to stop"}}));
  EXPECT_EQ(a["records"], json::parse(R"([{"type": 3, "name": "Main.msd", "size": 12},
                                          {"type": 4, "name": "lang\\en.lng", "size": 8}])"));
  EXPECT_EQ(report["failures"], json::array());
  EXPECT_EQ(report["runtime_version"], "1.2.3.4") << "the fixed file version of the fixture standing for the stub";

  const CliOutput text = RunCli({"inspect", File(u"built.exe")});
  EXPECT_EQ(text.code, 0);
  EXPECT_NE(text.out.find("name=lang\\en.lng  size=8"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("author_tips: Press F9 to stop"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("runtime_version: 1.2.3.4"), std::string::npos) << text.out;
}

TEST_F(InspectCommandTest, ATamperedFileFailsNamingItsRecord) {
  std::string bytes = WriteBuilt(kFiles);
  const size_t at = bytes.find("hello payload text");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'J';
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"built.exe"), bytes));
  const CliOutput run = RunCli({"inspect", "--json", File(u"built.exe")});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("record 0 (\"data\\hello.txt\"): the MD5 digest does not match"), std::string::npos)
      << run.err;
  EXPECT_EQ(json::parse(run.out)["payload_b"]["records"][0]["md5_ok"], false);

  // A program without a payload, and no program at all.
  EXPECT_EQ(RunCli({"inspect", File(u"player.exe")}).code, 1);
  EXPECT_EQ(RunCli({"inspect", File(u"missing.exe")}).code, 1);
  EXPECT_EQ(RunCli({"inspect"}).code, 2);
}

TEST_F(InspectCommandTest, ExtractWritesFilesAndRefusesNamesLeavingTheFolder) {
  const std::string player = WritePlayer();
  std::vector<Packed> files = kFiles;
  for (const char16_t* bad : {u"..\\x", u"a\\. .\\x", u"C:x", u"\\x", u"/x", u"", u"a\\Nul.txt", u"a?"}) {
    files.push_back({packager::kFileKindFile, bad, "escape"});
  }
  WriteBuilt(files);
  const CliOutput run = RunCli({"inspect", "--extract", File(u"out"), File(u"built.exe")});
  EXPECT_EQ(run.code, 1);
  for (const char* reason :
       {"record 2 (\"..\\x\") is not extracted: it has a \"..\" part",
        "record 3 (\"a\\. .\\x\") is not extracted: it has a \"..\" part",
        "record 4 (\"C:x\") is not extracted: it holds a drive or a colon",
        "record 5 (\"\\x\") is not extracted: it is absolute", "record 6 (\"/x\") is not extracted: it is absolute",
        "record 7 (\"\") is not extracted: it is empty",
        "record 8 (\"a\\Nul.txt\") is not extracted: it names a device",
        "record 9 (\"a?\") is not extracted: it holds a character no file name may hold"}) {
    EXPECT_NE(run.err.find(reason), std::string::npos) << reason << "\n" << run.err;
  }
  EXPECT_FALSE(plat::FileExists(Path(u"x")));
  EXPECT_EQ(brankel_test::ReadBytes(Path(u"out\\data\\hello.txt")), "hello payload text");
  EXPECT_EQ(brankel_test::ReadBytes(Path(u"out\\mod.dll")), "runtime module");
  EXPECT_EQ(brankel_test::ReadBytes(Path(u"out\\~Ma1A2B.exe")), player);
}

}  // namespace
}  // namespace cli
