// The crash log's rules: where it goes, the names of exception codes, which section holds
// an address, the crash report program's command line, the lines byte for byte, and how
// the crash report program reads a log back.
#include "support/crash_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/unicode.h"
#include "support/pe_builder.h"

namespace support {
namespace {

std::string N(std::u16string_view text) { return plat::Utf16ToUtf8(text); }

TEST(CrashLog, PathInTheTemporaryFolder) {
  struct Case {
    const char16_t* temp;
    const char16_t* program;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"C:\\Temp\\", u"C:\\Program Files\\Brankel\\Brankel.exe", u"C:\\Temp\\Brankel.Crash.Log"},
      {u"C:\\Temp", u"Brankel.exe", u"C:\\Temp\\Brankel.Crash.Log"},  // the backslash is added
      {u"C:\\T\\", u"C:\\app\\tool", u"C:\\T\\tool"},                 // no extension
      {u"C:\\T\\", u"C:\\app\\tool.ab", u"C:\\T\\tool.ab"},           // two characters are not enough
      {u"C:\\T\\", u"C:\\app\\tool.abc", u"C:\\T\\tool.Crash.Log"},   // three are
      {u"C:\\T\\", u"C:\\app\\tool.", u"C:\\T\\tool."},
      {u"C:\\T\\", u"C:\\app\\my.tool.exe", u"C:\\T\\my.tool.Crash.Log"},  // the last dot counts
      {u"C:\\T\\", u"C:\\app.folder\\tool", u"C:\\T\\tool"},               // a dot of the folder does not
  };
  for (const Case& c : cases) {
    EXPECT_EQ(N(CrashLogPath(c.temp, c.program)), N(c.expected)) << N(c.program);
  }
}

TEST(CrashLog, AmdFlagFromTheProcessorIdentifier) {
  const std::pair<const char16_t*, bool> cases[] = {
      {u"AMD64 Family 25 Model 33 Stepping 0, AuthenticAMD", true},
      {u"x86 family 6, authenticamd", true},
      {u"Intel64 Family 6 Model 158 Stepping 10, GenuineIntel", false},
      {u"AM", false},
      {u"", false},
  };
  for (const auto& [identifier, amd] : cases) EXPECT_EQ(IsAmdProcessor(identifier), amd) << N(identifier);
}

TEST(CrashLog, ExceptionNames) {
  const std::pair<uint32_t, const char16_t*> cases[] = {
      {0x80000001u, u"GUARD_PAGE"},
      {0x80000004u, u"SINGLE_STEP"},
      {0xC0000005u, u"ACCESS_VIOLATION"},
      {0xC000001Du, u"ILLEGAL_INSTRUCTION"},
      {0xC0000096u, u"PRIV_INSTRUCTION"},
      {0xC00000FDu, u"STACK_OVERFLOW"},
      // Neighbours of the table's codes are left to the system's message texts.
      {0x80000000u, nullptr},
      {0x80000005u, nullptr},
      {0xC0000007u, nullptr},
      {0xC0000097u, nullptr},
      {0xC00000FEu, nullptr},
      {0, nullptr},
  };
  for (const auto& [code, name] : cases) {
    const char16_t* got = ExceptionName(code);
    if (name == nullptr) {
      EXPECT_EQ(got, nullptr) << std::hex << code;
    } else {
      ASSERT_NE(got, nullptr) << std::hex << code;
      EXPECT_EQ(N(got), N(name));
    }
  }
}

TEST(CrashLog, SectionOfAnOffset) {
  // Sections at 0x1000, 0x2000, 0x3000 (raw 0x200 each); virtual sizes as given.
  struct Case {
    bool pe32plus;
    uint32_t virtual_size;
    uint64_t offset;
    uint32_t number;  // 0: none
    uint64_t in_section;
  };
  const Case cases[] = {
      {false, 0x180, 0x1000, 1, 0},    {false, 0x180, 0x1200, 1, 0x200},  // the raw size is larger: it counts
      {false, 0x180, 0x1201, 0, 0},    {false, 0x300, 0x1300, 1, 0x300},  // the virtual size is
      {false, 0x180, 0x0FFF, 0, 0},    {false, 0x180, 0x2010, 2, 0x10},
      {true, 0x180, 0x3200, 3, 0x200}, {true, 0x180, 0x3201, 0, 0},
  };
  for (const Case& c : cases) {
    brankel_test::PeBuilder builder;
    builder.pe32plus = c.pe32plus;
    builder.virtual_size = c.virtual_size;
    const std::vector<uint8_t> image = builder.Build();
    const std::optional<SectionOffset> got = FindSection(plat::ByteView(image), c.offset);
    if (c.number == 0) {
      EXPECT_FALSE(got.has_value()) << std::hex << c.offset;
    } else {
      ASSERT_TRUE(got.has_value()) << std::hex << c.offset;
      EXPECT_EQ(got->number, c.number) << std::hex << c.offset;
      EXPECT_EQ(got->offset, c.in_section) << std::hex << c.offset;
    }
  }
}

TEST(CrashLog, SectionOfDamagedHeaders) {
  brankel_test::PeBuilder builder;
  std::vector<uint8_t> image = builder.Build();
  const uint32_t table = brankel_test::LayoutOf(image).section_table;
  // The table ends inside the second entry: the first is still found, the second is not read.
  std::vector<uint8_t> cut(image.begin(), image.begin() + table + 40 + 20);
  EXPECT_TRUE(FindSection(plat::ByteView(cut), 0x1010).has_value());
  EXPECT_FALSE(FindSection(plat::ByteView(cut), 0x2010).has_value());
  std::vector<uint8_t> no_signature = image;
  no_signature[brankel_test::LayoutOf(image).nt] = 'X';
  EXPECT_FALSE(FindSection(plat::ByteView(no_signature), 0x1010).has_value());
  std::vector<uint8_t> far_header = image;
  plat::MutableByteView(far_header).Put32(0x3C, 0xFFFFFFF0u);
  EXPECT_FALSE(FindSection(plat::ByteView(far_header), 0x1010).has_value());
  EXPECT_FALSE(FindSection(plat::ByteView(), 0).has_value());
}

TEST(CrashLog, ReportParametersRoundTrip) {
  const std::u16string text = ReportParameters(u"C:\\Users\\A B\\Temp\\Brankel.Crash.Log", kLanguageFilePattern);
  EXPECT_EQ(N(text), " \"C:\\Users\\A B\\Temp\\Brankel.Crash.Log\" resfile:Player_%s.lng");
  const ReportArguments back = ParseReportParameters(text);
  EXPECT_EQ(N(back.log_path), "C:\\Users\\A B\\Temp\\Brankel.Crash.Log");
  EXPECT_EQ(N(back.language_pattern), "Player_%s.lng");
}

TEST(CrashLog, ReportParametersAsShellsPassThem) {
  struct Case {
    const char16_t* tail;
    const char* log;
    const char* pattern;
  };
  const Case cases[] = {
      {u"Z:\\tmp\\a b\\x.Crash.Log resfile:Player_%s.lng", "Z:\\tmp\\a b\\x.Crash.Log", "Player_%s.lng"},
      {u"\"C:\\x.Crash.Log\"   RESFILE:\"Player_%s.lng\"  ", "C:\\x.Crash.Log", "Player_%s.lng"},
      {u"\"C:\\x.Crash.Log\"", "C:\\x.Crash.Log", ""},
      {u"  C:\\x.Crash.Log  ", "C:\\x.Crash.Log", ""},
      {u"\"C:\\unterminated resfile:P.lng", "C:\\unterminated resfile:P.lng", ""},
      {u"", "", ""},
  };
  for (const Case& c : cases) {
    const ReportArguments got = ParseReportParameters(c.tail);
    EXPECT_EQ(N(got.log_path), c.log) << N(c.tail);
    EXPECT_EQ(N(got.language_pattern), c.pattern) << N(c.tail);
  }
}

TEST(CrashLog, LanguageFileNameStaysInItsFolder) {
  const std::tuple<const char16_t*, const char16_t*, const char*> cases[] = {
      {u"Player_%s.lng", u"en", "Player_en.lng"},
      {u"Player_%s_%s.lng", u"gb", "Player_gb_gb.lng"},
      {u"Player.lng", u"en", "Player.lng"},
      {u"..\\..\\secret_%s.txt", u"en", ""},
      {u"Player_%s.lng", u"..\\x", ""},  // the configuration's code is checked too
      {u"C:Player_%s.lng", u"en", ""},
      {u"Player_%d.lng", u"en", ""},  // no other conversions
      {u"", u"en", ""},
  };
  for (const auto& [pattern, code, expected] : cases) {
    EXPECT_EQ(N(LanguageFileName(pattern, code)), expected) << N(pattern) << " " << N(code);
  }
}

TEST(CrashLog, HeaderLines) {
  EXPECT_EQ(N(SeparatorLine()), "=====================================================\r\n");
  EXPECT_EQ(N(LoggedLine(u"11.12.2026 09:30:00")), "Logged:  11.12.2026 09:30:00\r\n");
  EXPECT_EQ(N(OsLine(true, 10, 0, 19045, u"", true)), "OS(x64):  10.0 (19045)   - (AMD CPU)\r\n");
  EXPECT_EQ(N(OsLine(false, 6, 1, 7601, u"Service Pack 1", false)),
            "OS:  6.1 (7601) Service Pack 1  - (Intel CPU)\r\n");
  EXPECT_EQ(N(ApplicationVersionLine(VersionText(4, 3, 0, 65535))), "Application version:  4.3.0.65535\r\n");
  EXPECT_EQ(N(ApplicationVersionLine(VersionErrorText(1813))), "Application version:  ERR: 1813\r\n");
  EXPECT_EQ(N(VersionErrorText(0x80070002u)), "ERR: -2147024894");  // "%d" of the number
  EXPECT_EQ(N(ApplicationVersionLine(u"")), "");
  EXPECT_EQ(N(ExceptionLine(0xC0000005u, u"ACCESS_VIOLATION")), "Exception code: C0000005 ACCESS_VIOLATION\r\n");
  EXPECT_EQ(N(ExceptionLine(0x1Fu, u"")), "Exception code: 0000001F \r\n");
}

TEST(CrashLog, ModuleAndStackLines) {
  ModuleAt module;
  module.base = 0x400000;
  module.path = u"C:\\app\\Brankel.exe";
  module.file_size = 123456;
  module.section = 1;
  module.section_offset = 0x234;
  EXPECT_EQ(N(FaultLines(0x401234, module, 8)),
            "Fault address:  00401234 01:00000234 \r\n   C:\\app\\Brankel.exe (123456 Bytes)\r\n");
  EXPECT_EQ(N(FaultLines(0x401234, module, 16)),
            "Fault address:  0000000000401234 01:00000234 \r\n   C:\\app\\Brankel.exe (123456 Bytes)\r\n");
  EXPECT_EQ(N(StackHeader()), "\r\nCall stack:\r\nAddress\tOffset\tModule\tBaseAddress");
  EXPECT_EQ(N(StackFrameLine(0x401234, module, u"Run", 0x1A, 8)),
            "\r\n00401234\t00001234\tRun+1A C:\\app\\Brankel.exe (123456 bytes)\t00400000");
  EXPECT_EQ(N(StackFrameLine(0x401234, module, u"", 0, 8)),
            "\r\n00401234\t00001234\tC:\\app\\Brankel.exe (123456 bytes)\t00400000");
  EXPECT_EQ(N(FrameWalkLine(0x401234, 0x12FF80, module, 8)),
            "00400000     00401234    0012FF80  0001:00000234 C:\\app\\Brankel.exe (123456 bytes)\r\n");
  // A piece is cut at 1023 characters, as its buffer would cut it.
  module.path = std::u16string(2000, u'p');
  EXPECT_EQ(StackFrameLine(0x401234, module, u"", 0, 8).size(), 1023u);
}

TEST(CrashLog, RegisterLines) {
  X86Registers x86 = {1, 2, 3, 4, 5, 6, 0x401234, 0x12FF00, 0x12FF80, 0x246, 0x1B, 0x23, 0x23, 0x23, 0x3B, 0};
  EXPECT_EQ(N(RegisterLines(x86)),
            "\r\nRegisters:\r\n"
            "EAX:00000001\tEBX:00000002\tECX:00000003\r\nEDX:00000004\tESI:00000005\tEDI:00000006\r\n"
            "CS:EIP:001B:00401234\tSS:ESP:0023:0012FF00  EBP:0012FF80\r\n"
            "DS:0023  ES:0023  FS:003B  GS:0000\r\n"
            "Flags:00000246\r\n\r\n");
  X64Registers x64 = {};
  x64.rax = 0x1122334455667788u;
  x64.r15 = 15;
  x64.rip = 0x140001000u;
  x64.rsp = 0x22FE00;
  x64.rbp = 0x22FE80;
  x64.eflags = 0x10246;
  x64.cs = 0x33;
  x64.ss = 0x2B;
  EXPECT_EQ(N(RegisterLines(x64)),
            "\r\nRegisters:\r\n"
            "RAX:1122334455667788\tRBX:0000000000000000\tRCX:0000000000000000\r\n"
            "RDX:0000000000000000\tRSI:0000000000000000\tRDI:0000000000000000\r\n"
            "R8:0000000000000000\tR9:0000000000000000\tR10:0000000000000000\r\n"
            "R11:0000000000000000\tR12:0000000000000000\tR13:0000000000000000\r\n"
            "R14:0000000000000000\tR15:000000000000000F\r\n"
            "CS:RIP:0033:0000000140001000\tSS:RSP:002B:000000000022FE00  RBP:000000000022FE80\r\n"
            "DS:0000  ES:0000  FS:0000  GS:0000\r\n"
            "Flags:00010246\r\n\r\n");
}

std::string Utf16Bytes(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

TEST(CrashLog, ReadingALogBack) {
  struct Case {
    const char* name;
    std::string bytes;
    LogState state;
    std::u16string text;
  };
  const Case cases[] = {
      {"empty", "", LogState::kEmpty, u""},
      {"mark only", "\xFF\xFE", LogState::kEmpty, u""},
      {"a log", Utf16Bytes(u"Exception code: C0000005\r\nRegisters:\r\n"), LogState::kText,
       u"Exception code: C0000005\r\nRegisters:\r\n"},
      {"mark dropped", "\xFF\xFE" + Utf16Bytes(u"Logged"), LogState::kText, u"Logged"},
      {"lone line ends", Utf16Bytes(u"a\nb\rc\r\n"), LogState::kText, u"a\r\nb\r\nc\r\n"},
      {"a surrogate pair", Utf16Bytes(u"x\U0001F600"), LogState::kText, u"x\U0001F600"},
      {"odd size", Utf16Bytes(u"Logged") + "x", LogState::kNotText, u""},
      {"UTF-8 of even size", "Exception code: C0000005\r\n", LogState::kNotText, u""},
      {"a NUL character", Utf16Bytes(std::u16string(u"ab\0cd", 5)), LogState::kNotText, u""},
      {"a lone low surrogate", Utf16Bytes(u"ab") + std::string("\x00\xDC", 2), LogState::kNotText, u""},
      {"a high surrogate at the end", Utf16Bytes(u"ab") + std::string("\x00\xD8", 2), LogState::kNotText, u""},
  };
  for (const Case& c : cases) {
    const LogText got = DecodeCrashLog(plat::ByteView(c.bytes));
    EXPECT_EQ(got.state, c.state) << c.name;
    EXPECT_EQ(N(got.text), N(c.text)) << c.name;
  }
}

}  // namespace
}  // namespace support
