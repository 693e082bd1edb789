#include <gtest/gtest.h>

#include "app/res_string.h"
#include "platform/platform.h"
#include "support/needs_md5.h"
#include "support/scratch.h"

namespace app {
namespace {

std::string Utf16Bytes(std::u16string_view text, bool mark) { return (mark ? "\xFF\xFE" : "") + plat::ToUtf16Le(text); }

std::u16string Get(const CVLResString& table, std::u16string_view key) {
  std::u16string out;
  table.GetString(out, key);
  return out;
}

// The hash written out the long way, as a check on the library's loop.
uint32_t ReferenceHash(std::u16string_view text) {
  uint64_t h = 0;
  for (char16_t c : text) h = (h * 131 + c) % 0x100000000ull;
  return static_cast<uint32_t>(h) & 0x7FFFFFFFu;
}

TEST(KeyHash, MultipliesBy131AndClearsTheTopBit) {
  EXPECT_EQ(KeyHash(u""), 0u);
  EXPECT_EQ(KeyHash(u"A"), 65u);
  EXPECT_EQ(KeyHash(u"AB"), 65u * 131u + 66u);
  EXPECT_EQ(KeyHash(u"abc"), (97u * 131u + 98u) * 131u + 99u);
  for (std::u16string_view text : {u"IDS_ERR_INVALID_RESFILE", u"c:\\pics\\a.bmp", u"\u00e9t\u00e9\\\uffff\uffff.txt",
                                   u"a rather long name that wraps the hash many times over.dat"}) {
    EXPECT_EQ(KeyHash(text), ReferenceHash(text));
    EXPECT_LT(KeyHash(text), 0x80000000u);
  }
  // Four units of 0xFFFF overflow 32 bits; the top bit is dropped, not the value clamped.
  const uint32_t wrapped = ReferenceHash(u"\uffff\uffff\uffff\uffff");
  EXPECT_EQ(KeyHash(u"\uffff\uffff\uffff\uffff"), wrapped);
  EXPECT_NE(wrapped, 0x7FFFFFFFu);
}

TEST(LanguageTable, EntriesFollowTheLineRules) {
  CVLResString table;
  ASSERT_TRUE(
      table.LoadText("[Header]\r\nLocale=English\r\nCRC=0\r\n\r\n[String]\r\n"
                     "IDS_A=one\r\n"
                     "IDS_A=two\r\n"
                     "IDS_B=Line1\\nLine2\\N3 \\t stays\r\n"
                     "IDS_C =x\r\n"
                     "'IDS_D=comment\r\n"
                     "   \tIDS_E=y\r\n"
                     "IDS_F=\r\n"
                     "IDS_G=  leading kept\r\n"
                     "no equals sign here\r\n"
                     "[Other]\r\n"
                     "=empty key defines nothing\r\n"
                     "IDS_H=a=b\n"
                     "IDS_LAST=end"));
  EXPECT_TRUE(table.FileMode());
  EXPECT_EQ(Get(table, u"IDS_A"), u"one");
  EXPECT_EQ(Get(table, u"IDS_B"), u"Line1\r\nLine2\r\n3 \\t stays");
  EXPECT_EQ(Get(table, u"IDS_C "), u"x");
  std::u16string out;
  EXPECT_FALSE(table.GetString(out, u"IDS_C"));
  EXPECT_EQ(out, u"IDS_C") << "a miss gives the key itself";
  char16_t buffer[16];
  EXPECT_FALSE(table.GetString(buffer, 16, u"IDS_C"));
  EXPECT_EQ(std::u16string(buffer), u"");
  EXPECT_FALSE(table.GetString(out, u"'IDS_D"));
  EXPECT_FALSE(table.GetString(out, u"IDS_D"));
  EXPECT_EQ(Get(table, u"IDS_E"), u"y");
  EXPECT_TRUE(table.GetString(out, u"IDS_F"));
  EXPECT_EQ(out, u"");
  EXPECT_EQ(Get(table, u"IDS_G"), u"  leading kept");
  EXPECT_EQ(Get(table, u"IDS_H"), u"a=b");
  EXPECT_EQ(Get(table, u"IDS_LAST"), u"end");
  EXPECT_FALSE(table.GetString(out, u""));
  EXPECT_FALSE(table.GetString(out, u"Locale")) << "header lines are not entries";
}

TEST(LanguageTable, LookupForms) {
  CVLResString table;
  ASSERT_TRUE(table.LoadText("[String]\nIDS_X=hello world\n42=by number\n"));
  std::u16string out;
  EXPECT_FALSE(table.GetString(out, u"IDS_MISSING", u"fallback"));
  EXPECT_EQ(out, u"fallback");
  // The fixed-buffer form skips leading blanks of the key and cuts the text.
  char16_t buffer[6];
  EXPECT_TRUE(table.GetString(buffer, 6, u" \tIDS_X"));
  EXPECT_EQ(std::u16string(buffer), u"hello");
  EXPECT_FALSE(table.GetString(buffer, 6, u"IDS_MISSING", u"dflt"));
  EXPECT_EQ(std::u16string(buffer), u"dflt");
  EXPECT_FALSE(table.GetString(buffer, 6, u"IDS_MISSING"));
  EXPECT_EQ(std::u16string(buffer), u"");
  EXPECT_FALSE(table.GetString(out, u" IDS_X")) << "the string form hashes the whole key";
  EXPECT_TRUE(table.GetStringById(out, 42));
  EXPECT_EQ(out, u"by number");
  EXPECT_FALSE(table.GetStringById(out, 43, u"d"));
  EXPECT_EQ(out, u"d");
}

TEST(LanguageTable, FirstDefinitionWinsAcrossFiles) {
  CVLResString table;
  ASSERT_TRUE(table.LoadText("[String]\nIDS_A=first file\n"));
  ASSERT_TRUE(table.LoadText("[String]\nIDS_A=second file\nIDS_B=only here\n"));
  EXPECT_EQ(Get(table, u"IDS_A"), u"first file");
  EXPECT_EQ(Get(table, u"IDS_B"), u"only here");
  EXPECT_EQ(table.EntryCount(), 2u);
}

TEST(LanguageTable, SectionLineMayBeAnyLeadingPartOfString) {
  for (const char* opener : {"[string]", "[STRING]", "[S", "[Str"}) {
    CVLResString table;
    ASSERT_TRUE(table.LoadText(std::string("IDS_BEFORE=no\r\n") + opener + "\r\nIDS_AFTER=yes\r\n"));
    std::u16string out;
    EXPECT_TRUE(table.GetString(out, u"IDS_AFTER")) << opener;
    EXPECT_FALSE(table.GetString(out, u"IDS_BEFORE")) << opener;
  }
  CVLResString longer;
  ASSERT_TRUE(longer.LoadText("[Strings]\nIDS_X=1\n"));
  EXPECT_FALSE(longer.FileMode()) << "a longer header does not open the section";
}

TEST(LanguageTable, FileWithoutStringSectionLoadsEmpty) {
  CVLResString table;
  EXPECT_TRUE(table.LoadText("[Header]\nCRC=1234\nIDS_X=1\n"));
  EXPECT_FALSE(table.FileMode());
  EXPECT_EQ(table.EntryCount(), 0u);
  // The empty section still anchors the check value.
  EXPECT_TRUE(table.CheckCrc(table.ComputeCrc()));
}

TEST(LanguageTable, BadInputNeverReadsPastTheText) {
  CVLResString table;
  EXPECT_FALSE(table.LoadText(""));
  EXPECT_TRUE(table.LoadText("\xEF\xBB\xBF"));  // a lone mark: nothing to define
  EXPECT_TRUE(table.LoadText("\xFF\xFE"));
  EXPECT_TRUE(table.LoadText("[String]\nIDS_T=ends without newline\\"));
  EXPECT_TRUE(table.LoadText("[String]\nIDS_U=\\"));
  EXPECT_TRUE(table.LoadText("[String]\nIDS_BAD=\xC3(\xFF\n"));  // not UTF-8: ANSI
  EXPECT_EQ(Get(table, u"IDS_T"), u"ends without newline\\");
  EXPECT_EQ(Get(table, u"IDS_U"), u"\\");
  EXPECT_EQ(Get(table, u"IDS_BAD").size(), 3u);
  // Odd UTF-16 length: the last byte is dropped.
  CVLResString odd;
  EXPECT_TRUE(odd.LoadText(Utf16Bytes(u"[String]\r\nIDS_O=odd\r\n", true) + "X"));
  EXPECT_EQ(Get(odd, u"IDS_O"), u"odd");
}

TEST(LanguageTable, OverlongLinesDefineNothing) {
  CVLResString table;
  const std::string fits = "IDS_FIT=" + std::string(65535 - 8, 'a');
  const std::string too_long = "IDS_LONG=" + std::string(65535, 'b');
  ASSERT_TRUE(table.LoadText("[String]\n" + fits + "\n" + too_long + "\nIDS_NEXT=after\n"));
  EXPECT_EQ(Get(table, u"IDS_FIT").size(), 65535u - 8);
  std::u16string out;
  EXPECT_FALSE(table.GetString(out, u"IDS_LONG"));
  EXPECT_EQ(Get(table, u"IDS_NEXT"), u"after");
}

TEST(LanguageTable, EncodingsGiveTheSameTableAndCheckValue) {
  const std::u16string text = u"[Header]\r\nCRC=\r\n[String]\r\nIDS_A=Gr\u00fc\u00dfe\\nzwei\r\nIDS_B=\u4e2d\u6587\r\n";
  CVLResString utf8, utf8_bom, utf16, utf16_unmarked;
  ASSERT_TRUE(utf8.LoadText(plat::Utf16ToUtf8(text)));
  ASSERT_TRUE(utf8_bom.LoadText("\xEF\xBB\xBF" + plat::Utf16ToUtf8(text)));
  ASSERT_TRUE(utf16.LoadText(Utf16Bytes(text, true)));
  ASSERT_TRUE(utf16_unmarked.LoadText(Utf16Bytes(text, false)));
  for (const CVLResString* table : {&utf8_bom, &utf16, &utf16_unmarked}) {
    EXPECT_EQ(Get(*table, u"IDS_A"), u"Gr\u00fc\u00dfe\r\nzwei");
    EXPECT_EQ(Get(*table, u"IDS_B"), u"\u4e2d\u6587");
    EXPECT_EQ(table->ComputeCrc(), utf8.ComputeCrc());
  }
}

TEST(LanguageTable, DecodingPicksTheEncoding) {
  TextEncoding encoding;
  DecodeLanguageText("\xEF\xBB\xBFx", &encoding);
  EXPECT_EQ(encoding, TextEncoding::kUtf8Bom);
  DecodeLanguageText("\xFF\xFEx\0", &encoding);
  EXPECT_EQ(encoding, TextEncoding::kUtf16Le);
  DecodeLanguageText("plain ascii", &encoding);
  EXPECT_EQ(encoding, TextEncoding::kUtf8);
  if (plat::GetAnsiCodePage() == 1252) {
    EXPECT_EQ(DecodeLanguageText("caf\xE9", &encoding), u"caf\u00e9");
    EXPECT_EQ(encoding, TextEncoding::kAnsi);
  }
}

TEST(CheckValue, ComplementOfTheDigestInUpperCaseHex) {
  BRANKEL_SKIP_WITHOUT_MD5();
  CVLResString table;
  EXPECT_FALSE(table.CheckCrc(u"00000000000000000000000000000000")) << "nothing loaded";
  ASSERT_TRUE(table.LoadText("[String]\r\nIDS_A=x\\ny\r\nIDS_A=dup\r\n"));
  // The digest covers the section as edited: the value's CR became a NUL, "\n" became CR LF.
  using namespace std::string_view_literals;
  const std::u16string_view edited = u"IDS_A=x\r\ny\0\nIDS_A=dup\0\n"sv;
  const std::string bytes = plat::ToUtf16Le(edited);
  const plat::Md5Digest digest = plat::Md5(bytes.data(), bytes.size());
  std::u16string expected;
  for (uint8_t b : digest) {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    expected += kHex[static_cast<uint8_t>(~b) >> 4];
    expected += kHex[static_cast<uint8_t>(~b) & 0xF];
  }
  EXPECT_EQ(table.ComputeCrc(), expected);
  EXPECT_TRUE(table.CheckCrc(expected));
  EXPECT_TRUE(table.CheckCrc(expected + u"trailing ignored"));
  EXPECT_FALSE(table.CheckCrc(expected.substr(0, 31)));

  std::u16string lower = expected;
  bool has_letter = false;
  for (char16_t& c : lower) {
    if (c >= u'A' && c <= u'F') c = static_cast<char16_t>(c + 32), has_letter = true;
  }
  if (has_letter) {
    EXPECT_FALSE(table.CheckCrc(lower)) << "lower-case digits fail";
  }
  std::u16string changed = expected;
  changed[5] = changed[5] == u'0' ? u'1' : u'0';
  EXPECT_FALSE(table.CheckCrc(changed));
}

TEST(CheckValue, OnlyTheFirstSectionCounts) {
  CVLResString one, two;
  ASSERT_TRUE(one.LoadText("[String]\nIDS_A=1\n"));
  ASSERT_TRUE(two.LoadText("[String]\nIDS_A=1\n"));
  ASSERT_TRUE(two.LoadText("[String]\nIDS_B=2\n"));
  EXPECT_EQ(one.ComputeCrc(), two.ComputeCrc());
}

TEST(StringResources, FallbackBeforeAnyFileIsLoaded) {
  CVLResString table;
  std::u16string out;
  EXPECT_TRUE(table.GetString(out, u"102"));
  EXPECT_EQ(out, u"Failed to open the language file, please re-install application.");
  EXPECT_TRUE(table.GetStringById(out, 107));
  EXPECT_EQ(out, u"Failed to load the global configruation data.");
  char16_t buffer[7];
  EXPECT_TRUE(table.GetString(buffer, 7, u"  104"));
  EXPECT_EQ(std::u16string(buffer), u"Failed");
  EXPECT_FALSE(table.GetString(out, u"IDS_X"));
  EXPECT_EQ(out, u"IDS_X");
  EXPECT_FALSE(table.GetString(out, u"0"));
  EXPECT_FALSE(table.GetStringById(out, 9999, u"none"));
  EXPECT_EQ(out, u"none");
  EXPECT_EQ(LoadStringResource(105, 10), u"Failed to ");
}

class LanguageFileTest : public brankel_test::ScratchTest {};

TEST_F(LanguageFileTest, LoadFileReadsFromDisk) {
  CVLResString table;
  EXPECT_TRUE(table.LoadFile(u"")) << "no path: nothing to do";
  EXPECT_FALSE(table.LoadFile(Path(u"missing.lng")));
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"empty.lng"), ""));
  EXPECT_FALSE(table.LoadFile(Path(u"empty.lng")));
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"Packager_en.lng"), "[String]\r\nIDS_OK=fine\r\n"));
  EXPECT_TRUE(table.LoadFile(Path(u"packager_EN.lng")));
  EXPECT_EQ(Get(table, u"IDS_OK"), u"fine");
}

}  // namespace
}  // namespace app
