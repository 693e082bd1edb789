#include <gtest/gtest.h>

#include <cstdio>

#include "app/lang_file.h"
#include "app/res_string.h"
#include "brankel_version.h"
#include "cli/cli.h"
#include "support/needs_md5.h"
#include "support/run_cli.h"
#include "support/scratch.h"

namespace cli {
namespace {

using brankel_test::ReadBytes;
using brankel_test::WriteBytes;

using CliRun = brankel_test::CliOutput;

CliRun Brankel(const std::vector<std::string>& args) { return brankel_test::RunCli(args); }

class LngCommandTest : public brankel_test::ScratchTest {
 protected:
  std::string File(std::u16string_view name) { return brankel_test::Narrow(Path(name)); }
};

constexpr std::string_view kUnsigned =
    "\xEF\xBB\xBF; test texts\r\n[Header]\r\nLocale=English\r\nCRC=\r\n\r\n[String]\r\n"
    "IDS_ONE=First text\r\nIDS_TWO=Second\\ntext\r\n";

TEST_F(LngCommandTest, SignThenCheckAndRejectOneChangedCharacter) {
  ASSERT_TRUE(WriteBytes(Path(u"a.lng"), kUnsigned));
  CliRun run = Brankel({"lng", "check", File(u"a.lng")});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("does not match"), std::string::npos) << run.err;
  BRANKEL_SKIP_WITHOUT_MD5();

  run = Brankel({"lng", "sign", File(u"a.lng")});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("2 keys"), std::string::npos) << run.out;
  run = Brankel({"lng", "check", File(u"a.lng")});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("check value OK, 2 keys"), std::string::npos) << run.out;

  // Everything outside the header stays byte for byte.
  const std::string signed_bytes = ReadBytes(Path(u"a.lng"));
  const size_t section = signed_bytes.find("[String]");
  EXPECT_EQ(signed_bytes.substr(section), kUnsigned.substr(kUnsigned.find("[String]")));
  EXPECT_EQ(signed_bytes.substr(0, 3), "\xEF\xBB\xBF");

  std::string changed = signed_bytes;
  changed[changed.find("First")] = 'f';
  ASSERT_TRUE(WriteBytes(Path(u"a.lng"), changed));
  run = Brankel({"lng", "check", File(u"a.lng")});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("expected:"), std::string::npos) << run.err;
}

TEST_F(LngCommandTest, SigningKeepsUtf16AndAddsAMissingHeader) {
  const std::u16string text = u"[String]\r\nIDS_X=\u00e9t\u00e9 \u4e2d\r\n";
  ASSERT_TRUE(WriteBytes(Path(u"w.lng"), "\xFF\xFE" + plat::ToUtf16Le(text)));
  BRANKEL_SKIP_WITHOUT_MD5();
  ASSERT_EQ(Brankel({"lng", "sign", File(u"w.lng")}).code, 0);
  const std::string result = ReadBytes(Path(u"w.lng"));
  ASSERT_EQ(result.substr(0, 2), "\xFF\xFE");
  app::TextEncoding encoding;
  const std::u16string decoded = app::DecodeLanguageText(result, &encoding);
  EXPECT_EQ(encoding, app::TextEncoding::kUtf16Le);
  EXPECT_EQ(decoded.substr(0, 10), u"\r\n[Header]");
  EXPECT_EQ(decoded.substr(decoded.size() - text.size()), text);
  const app::LanguageFileCheck check = app::CheckLanguageFile(Path(u"w.lng"));
  EXPECT_TRUE(check.crc_ok);
  EXPECT_EQ(check.keys, 1u);
}

TEST(SetHeaderCrc, ReplacesAddsOrCreates) {
  EXPECT_EQ(app::SetHeaderCrc(u"[Header]\r\nCRC=old\r\n[String]\r\nA=1\r\n", u"NEW"),
            u"[Header]\r\nCRC=NEW\r\n[String]\r\nA=1\r\n");
  EXPECT_EQ(app::SetHeaderCrc(u"[header]\nLocale=x\n[String]\nCRC=not this\n", u"N"),
            u"[header]\nCRC=N\nLocale=x\n[String]\nCRC=not this\n");
  EXPECT_EQ(app::SetHeaderCrc(u"[Other]\nCRC=keep\n[S\nA=1\n", u"N"),
            u"\n[Header]\nCRC=N\n[Other]\nCRC=keep\n[S\nA=1\n")
      << "a CRC outside [Header] is not the one";
  EXPECT_EQ(app::SetHeaderCrc(u"[Header]", u"N"), u"[Header]\nCRC=N\n");
}

TEST_F(LngCommandTest, BadInputGivesAClearMessage) {
  CliRun run = Brankel({"lng", "check", File(u"missing.lng")});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("cannot be loaded"), std::string::npos) << run.err;
  ASSERT_TRUE(WriteBytes(Path(u"empty.lng"), ""));
  run = Brankel({"lng", "sign", File(u"empty.lng")});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("empty"), std::string::npos) << run.err;
  EXPECT_EQ(ReadBytes(Path(u"empty.lng")), "");
  run = Brankel({"lng", "check", File(u"empty.lng")});
  EXPECT_EQ(run.code, 1);

  EXPECT_EQ(Brankel({}).code, 2);
  EXPECT_EQ(Brankel({"lng"}).code, 2);
  run = Brankel({"lng", "frobnicate"});
  EXPECT_EQ(run.code, 2);
  EXPECT_FALSE(run.err.empty());
  EXPECT_EQ(Brankel({"--help"}).code, 0);
}

// The version goes to standard output whatever else is on the line, and it is the
// release's three numbers.
TEST(BrankelVersionTest, PrintsTheReleaseVersion) {
  const std::string expected = "brankel " + std::to_string(BRANKEL_VERSION_MAJOR) + "." +
                               std::to_string(BRANKEL_VERSION_MINOR) + "." + std::to_string(BRANKEL_VERSION_PATCH) +
                               "\n";
  EXPECT_EQ(expected, "brankel " BRANKEL_VERSION_TEXT "\n");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--version"}, {"--version", "lng", "check"}}) {
    const CliRun run = Brankel(args);
    EXPECT_EQ(run.code, 0) << args.size();
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(LngCommandTest, CrcWrittenInLowerCaseFails) {
  BRANKEL_SKIP_WITHOUT_MD5();
  ASSERT_TRUE(WriteBytes(Path(u"l.lng"), kUnsigned));
  ASSERT_EQ(Brankel({"lng", "sign", File(u"l.lng")}).code, 0);
  std::string bytes = ReadBytes(Path(u"l.lng"));
  const size_t crc = bytes.find("CRC=") + 4;
  bool lowered = false;
  for (size_t i = crc; i < crc + 32; ++i) {
    if (bytes[i] >= 'A' && bytes[i] <= 'F') bytes[i] = static_cast<char>(bytes[i] + 32), lowered = true;
  }
  ASSERT_TRUE(lowered);
  ASSERT_TRUE(WriteBytes(Path(u"l.lng"), bytes));
  EXPECT_EQ(Brankel({"lng", "check", File(u"l.lng")}).code, 1);
}

}  // namespace
}  // namespace cli
