// The stub's checks and its unpacking: which target names it writes, which payloads it
// trusts (one changed byte anywhere that matters is refused and the record named), that a
// refused or failed unpack leaves nothing, and the player's command line and texts.
#include "runtime/unpack.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/platform.h"
#include "support/needs_md5.h"
#include "support/payload_b_builder.h"
#include "support/scratch.h"

namespace runtime {
namespace {

using brankel_test::BuildPayloadB;
using brankel_test::Narrow;
using brankel_test::PayloadFile;

constexpr char kLanguage[] = "\xEF\xBB\xBF[String]\r\nIDS_PROXY_TITLE=Makro\r\n";

std::vector<PayloadFile> Files() {
  return {{packager::kFileKindFile, u"a.txt", "12345"},
          {packager::kFileKindRuntime, u"sub\\deep/b.dll", std::string(17, 'b')},
          {packager::kFileKindPlayer, u"Run.exe", "MZ player"},
          {packager::kFileKindFile, u"empty.dat", ""}};
}

// Every file and folder below `folder`, relative, folders ending with "\".
std::set<std::u16string> Listing(const std::u16string& folder, const std::u16string& prefix = u"") {
  std::set<std::u16string> names;
  plat::FindData data;
  plat::FindHandle find = plat::FindFirstFile(folder + u"\\*", &data);
  if (find == nullptr) return names;
  do {
    if (data.name == u"." || data.name == u"..") continue;
    if (data.attributes & plat::kAttrDirectory) {
      names.insert(prefix + data.name + u"\\");
      for (const std::u16string& below : Listing(folder + u"\\" + data.name, prefix + data.name + u"\\")) {
        names.insert(below);
      }
    } else {
      names.insert(prefix + data.name);
    }
  } while (plat::FindNextFile(find, &data));
  plat::FindClose(find);
  return names;
}

TEST(UnpackTest, TargetNamesThatStayBelowTheFolder) {
  const struct {
    const char16_t* name;
    bool safe;
  } cases[] = {
      {u"my docs\\a b.txt", true},
      {u"a.txt", true},
      {u"sub\\b.dll", true},
      {u"sub/deep/c", true},
      {u"x..y", true},
      {u"COM10", true},
      {u"console.txt", true},
      {u"", false},
      {u"\\x", false},
      {u"/x", false},
      {u"C:\\x", false},
      {u"C:x", false},
      {u"a:b", false},
      {u"..\\evil.txt", false},
      {u"a/../../b", false},
      {u"a\\..", false},
      {u"a\\\\b", false},
      {u"a\\", false},
      {u"a\\.\\b", false},
      {u"a\\ .. \\b", false},
      {u"a<b", false},
      {u"a>b", false},
      {u"a\"b", false},
      {u"a|b", false},
      {u"a?b", false},
      {u"a*b", false},
      {u"a\tb", false},
      {u"a\x1F", false},
      {u"CON", false},
      {u"sub\\nul.txt", false},
      {u"Com1", false},
      {u"lpt9 .log", false},
      {u"conin$", false},
  };
  for (const auto& c : cases) {
    std::string reason;
    EXPECT_EQ(CheckTargetName(c.name, &reason), c.safe) << Narrow(c.name) << ": " << reason;
    EXPECT_EQ(reason.empty(), c.safe) << Narrow(c.name);
  }
  EXPECT_FALSE(CheckTargetName(std::u16string(260, u'a')));
  EXPECT_TRUE(CheckTargetName(std::u16string(259, u'a')));
}

class UnpackFilesTest : public brankel_test::ScratchTest {};

TEST_F(UnpackFilesTest, WrittenPayloadVerifiesAndUnpacksItsFiles) {
  BRANKEL_SKIP_WITHOUT_MD5();
  const brankel_test::BuiltPayloadB built = BuildPayloadB(Files(), kLanguage, 7);
  const Verified verified = VerifyPayload(built.section);
  ASSERT_FALSE(verified.fault) << verified.fault.Describe();
  ASSERT_TRUE(verified.payload);
  EXPECT_EQ(PlayerRecord(*verified.payload), 2u);
  EXPECT_EQ(verified.payload->run_mode, 7);

  const Fault fault = UnpackPayload(*verified.payload, dir_);
  ASSERT_FALSE(fault) << fault.Describe();
  EXPECT_EQ(Listing(dir_), (std::set<std::u16string>{u"Proxvale.lng", u"Run.exe", u"a.txt", u"empty.dat", u"sub\\",
                                                     u"sub\\deep\\", u"sub\\deep\\b.dll"}));
  EXPECT_EQ(brankel_test::ReadBytes(Path(u"a.txt")), "12345");
  EXPECT_EQ(brankel_test::ReadBytes(Path(u"sub\\deep\\b.dll")), std::string(17, 'b'));
  EXPECT_EQ(brankel_test::ReadBytes(Path(u"Run.exe")), "MZ player");
  EXPECT_EQ(brankel_test::ReadBytes(Path(u"Proxvale.lng")), kLanguage);
  EXPECT_EQ(brankel_test::ReadBytes(Path(u"empty.dat")), "");
  EXPECT_EQ(LoadStubTexts(verified.language_file).title, u"Makro");
}

TEST(UnpackTest, OneChangedByteIsRefusedWithItsRecord) {
  BRANKEL_SKIP_WITHOUT_MD5();
  const brankel_test::BuiltPayloadB good = BuildPayloadB(Files(), kLanguage);
  const uint32_t a = good.offsets[0];
  const uint32_t b = good.offsets[1];
  const uint32_t head = packager::kFileRecordHeadSize;
  const struct {
    const char* what;
    uint32_t at;
    uint8_t value;
    const char* reason;  // part of the fault's description
  } cases[] = {
      {"data", b + head + 3, 'x', "record 1 \"sub\\deep/b.dll\": its data does not match"},
      {"padding", a + head + 6, 1, "record 0 \"a.txt\": its data does not match"},
      {"digest", b + 532 + 15, 0x5A, "record 1 \"sub\\deep/b.dll\": its data does not match"},
      {"size cut", a + 4, 4, "record 0 \"a.txt\": its padding"},
      {"size grown", good.offsets[3] + 4, 100, "record 3 at"},
      {"kind", a, 2, "2 player records"},
      {"magic", 0, 'X', "magic"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> section = good.section;
    section[c.at] = c.value;
    const Verified verified = VerifyPayload(section);
    EXPECT_EQ(verified.fault.kind, FaultKind::kDamaged) << c.what;
    EXPECT_FALSE(verified.payload) << c.what;
    EXPECT_NE(verified.fault.Describe().find(c.reason), std::string::npos)
        << c.what << ": " << verified.fault.Describe();
  }
  // One player, no more and no fewer.
  std::vector<PayloadFile> none = Files();
  none[2].kind = packager::kFileKindFile;
  EXPECT_NE(VerifyPayload(BuildPayloadB(none, kLanguage).section).fault.reason.find("0 player"), std::string::npos);
}

// A forged name is refused by the check and by the unpacking itself, and nothing is
// written anywhere.
TEST_F(UnpackFilesTest, ForgedNamesWriteNothing) {
  BRANKEL_SKIP_WITHOUT_MD5();
  const std::u16string folder = Path(u"unpack");
  ASSERT_TRUE(plat::CreateDirectory(folder));
  for (const char16_t* forged : {u"..\\evil.txt", u"C:\\x", u"\\x", u"a:b"}) {
    std::vector<PayloadFile> files = Files();
    files[1].name = forged;
    const brankel_test::BuiltPayloadB built = BuildPayloadB(files, kLanguage);
    const Verified verified = VerifyPayload(built.section);
    EXPECT_EQ(verified.fault.kind, FaultKind::kUnsafeName) << Narrow(forged);
    EXPECT_EQ(verified.fault.record, 1u) << Narrow(forged);
    EXPECT_EQ(verified.fault.target_name, forged);

    const std::optional<packager::PayloadB> unchecked = packager::ReadPayloadB(built.section, nullptr);
    ASSERT_TRUE(unchecked);
    const Fault fault = UnpackPayload(*unchecked, folder);
    EXPECT_EQ(fault.kind, FaultKind::kUnsafeName) << Narrow(forged);
    EXPECT_EQ(Listing(dir_), std::set<std::u16string>{u"unpack\\"}) << Narrow(forged);
  }
}

// Names that land on one file on Windows (letter case, trailing dots and blanks, the
// language file's own name), and a failure after files were written: nothing stays.
TEST_F(UnpackFilesTest, NamesTwiceAndFailuresMidWayLeaveNothing) {
  BRANKEL_SKIP_WITHOUT_MD5();
  const struct {
    const char16_t* first;
    const char16_t* second;
    FaultKind kind;
  } cases[] = {
      {u"a.txt", u"A.TXT", FaultKind::kUnsafeName},
      {u"sub\\a.txt", u"SUB/a.txt. ", FaultKind::kUnsafeName},
      {u"x.dll", u"proxvale.LNG", FaultKind::kUnsafeName},
      {u"sub", u"sub\\x.txt", FaultKind::kDisk},  // a file where a folder must go
  };
  for (const auto& c : cases) {
    std::vector<PayloadFile> files = Files();
    files[0].name = c.first;
    files[1].name = c.second;
    const brankel_test::BuiltPayloadB built = BuildPayloadB(files, kLanguage);
    if (c.kind == FaultKind::kUnsafeName) {
      const Verified verified = VerifyPayload(built.section);
      EXPECT_EQ(verified.fault.kind, c.kind) << Narrow(c.second);
      EXPECT_EQ(verified.fault.record, 1u) << Narrow(c.second);
    }
    const std::optional<packager::PayloadB> unchecked = packager::ReadPayloadB(built.section, nullptr);
    ASSERT_TRUE(unchecked);
    const Fault fault = UnpackPayload(*unchecked, dir_);
    EXPECT_EQ(fault.kind, c.kind) << Narrow(c.second);
    EXPECT_EQ(fault.record, 1u) << Narrow(c.second);
    EXPECT_EQ(Listing(dir_), std::set<std::u16string>{}) << Narrow(c.second);
  }
}

TEST_F(UnpackFilesTest, PrivateFoldersAreFreshAndRemovedWhole) {
  const std::u16string one = MakePrivateFolder();
  const std::u16string two = MakePrivateFolder();
  ASSERT_FALSE(one.empty());
  ASSERT_FALSE(two.empty());
  EXPECT_NE(one, two);
  EXPECT_TRUE(plat::IsDirectory(one) && plat::IsDirectory(two));
  EXPECT_EQ(plat::GetFullPathName(one + u"\\..") + u"\\", plat::GetTempPath());

  ASSERT_TRUE(plat::CreateDirectory(one + u"\\a"));
  ASSERT_TRUE(plat::CreateDirectory(one + u"\\a\\b"));
  ASSERT_TRUE(brankel_test::WriteBytes(one + u"\\a\\b\\f.txt", "x"));
  ASSERT_TRUE(brankel_test::WriteBytes(one + u"\\ro.txt", "y"));
  ASSERT_TRUE(plat::SetFileAttributes(one + u"\\ro.txt", plat::kAttrReadOnly));
  EXPECT_TRUE(RemoveFolderTree(one));
  EXPECT_FALSE(plat::FileExists(one));
  EXPECT_TRUE(plat::IsDirectory(two));
  EXPECT_TRUE(RemoveFolderTree(two));
  EXPECT_FALSE(plat::FileExists(two));
}

TEST(UnpackTest, PlayerCommandLinePassesTheArgumentsOn) {
  const struct {
    const char16_t* command_line;
    const char16_t* arguments;
  } cases[] = {
      {u"stub.exe", u""},
      {u"stub.exe   /x  \"a b\" ", u"/x  \"a b\" "},
      {u"\"C:\\My Tools\\stub.exe\" -q", u"-q"},
      {u"\"C:\\My Tools\\stub.exe\"", u""},
      {u"\"unclosed name", u""},
      {u"\t", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(ArgumentsAfterProgram(c.command_line), c.arguments) << Narrow(c.command_line);
  EXPECT_EQ(PlayerCommandLine(u"C:\\T\\~Bk1A", u"sub/Run.exe", 3, u""), u"\"C:\\T\\~Bk1A\\sub\\Run.exe\" /mode:3");
  EXPECT_EQ(PlayerCommandLine(u"C:\\T", u"Run.exe", 0, u"/x \"a b\""), u"\"C:\\T\\Run.exe\" /mode:0 /x \"a b\"");
}

TEST(UnpackTest, TextsComeFromTheLanguageFileElseEnglish) {
  const std::optional<std::string> shipped =
      plat::ReadWholeFile(plat::PathFromHost(BRANKEL_SOURCE_DIR) + u"\\src\\runtime\\sysdata\\Proxvale_en.lng");
  ASSERT_TRUE(shipped);
  const StubTexts from_file = LoadStubTexts(plat::ByteView(*shipped));
  const StubTexts fallback = LoadStubTexts(plat::ByteView());
  EXPECT_EQ(from_file.title, fallback.title);
  EXPECT_EQ(from_file.damaged, fallback.damaged);
  EXPECT_EQ(from_file.unpack, fallback.unpack);
  EXPECT_EQ(from_file.start, fallback.start);
  EXPECT_NE(from_file.damaged.find(u"\n"), std::u16string::npos);
  EXPECT_EQ(LogLine(u"IDS_ERR_PROXY_DAMAGED", u"Bad.\r\nrecord 1 \"\u00E9.txt\""),
            "[IDS_ERR_PROXY_DAMAGED] Bad. record 1 \"\xC3\xA9.txt\"\n");
}

}  // namespace
}  // namespace runtime
