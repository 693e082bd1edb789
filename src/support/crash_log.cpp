#include "support/crash_log.h"

#include <algorithm>
#include <array>

#include "platform/ascii_text.h"

namespace support {
namespace {

// Each piece of the log is formatted into a buffer of 1024 characters; longer pieces
// (a symbol name near its limit with a long module path) are cut there.
constexpr size_t kPieceChars = 1023;

std::u16string Piece(std::u16string text) {
  if (text.size() > kPieceChars) text.resize(kPieceChars);
  return text;
}

std::u16string Decimal(uint64_t value) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

std::u16string_view Unquote(std::u16string_view text) {
  if (text.size() >= 2 && text.front() == u'"' && text.back() == u'"') return text.substr(1, text.size() - 2);
  return text;
}

struct NamedCode {
  uint32_t code;
  const char16_t* name;
};
constexpr std::array<NamedCode, 22> kExceptionNames = {{
    {0x80000001u, u"GUARD_PAGE"},
    {0x80000002u, u"DATATYPE_MISALIGNMENT"},
    {0x80000003u, u"BREAKPOINT"},
    {0x80000004u, u"SINGLE_STEP"},
    {0xC0000005u, u"ACCESS_VIOLATION"},
    {0xC0000006u, u"IN_PAGE_ERROR"},
    {0xC0000008u, u"INVALID_HANDLE"},
    {0xC000001Du, u"ILLEGAL_INSTRUCTION"},
    {0xC0000025u, u"NONCONTINUABLE_EXCEPTION"},
    {0xC0000026u, u"INVALID_DISPOSITION"},
    {0xC000008Cu, u"ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008Du, u"FLT_DENORMAL_OPERAND"},
    {0xC000008Eu, u"FLT_DIVIDE_BY_ZERO"},
    {0xC000008Fu, u"FLT_INEXACT_RESULT"},
    {0xC0000090u, u"FLT_INVALID_OPERATION"},
    {0xC0000091u, u"FLT_OVERFLOW"},
    {0xC0000092u, u"FLT_STACK_CHECK"},
    {0xC0000093u, u"FLT_UNDERFLOW"},
    {0xC0000094u, u"INT_DIVIDE_BY_ZERO"},
    {0xC0000095u, u"INT_OVERFLOW"},
    {0xC0000096u, u"PRIV_INSTRUCTION"},
    {0xC00000FDu, u"STACK_OVERFLOW"},
}};

// The module's path and file size as every module line ends.
std::u16string ModuleText(const ModuleAt& module) {
  return module.path + u" (" + Decimal(module.file_size) + u" bytes)";
}

}  // namespace

std::u16string CrashLogPath(std::u16string_view temp_folder, std::u16string_view program) {
  std::u16string path(temp_folder);
  if (path.empty() || path.back() != u'\\') path += u'\\';
  const size_t slash = program.find_last_of(u"\\/");
  std::u16string name(slash == std::u16string_view::npos ? program : program.substr(slash + 1));
  const size_t dot = name.rfind(u'.');
  if (dot != std::u16string::npos && name.size() - dot - 1 >= 3) name = name.substr(0, dot + 1) + u"Crash.Log";
  return path + name;
}

bool IsAmdProcessor(std::u16string_view processor_identifier) {
  for (size_t i = 0; i + 3 <= processor_identifier.size(); ++i) {
    if (plat::StartsWithAsciiNoCase(processor_identifier.substr(i), u"amd")) return true;
  }
  return false;
}

const char16_t* ExceptionName(uint32_t code) {
  for (const NamedCode& entry : kExceptionNames) {
    if (entry.code == code) return entry.name;
  }
  return nullptr;
}

std::optional<SectionOffset> FindSection(plat::ByteView headers, uint64_t offset) {
  if (headers.U16Or(0, 0) != 0x5A4D) return std::nullopt;  // "MZ"
  const uint32_t pe = headers.U32Or(0x3C, 0);
  if (headers.U32(pe) != std::optional<uint32_t>(0x00004550u)) return std::nullopt;  // "PE\0\0"
  const std::optional<uint16_t> count = headers.U16(uint64_t{pe} + 6);
  const std::optional<uint16_t> optional_size = headers.U16(uint64_t{pe} + 20);
  if (!count || !optional_size) return std::nullopt;
  const uint64_t table = uint64_t{pe} + 24 + *optional_size;
  for (uint32_t i = 0; i < *count; ++i) {
    const uint64_t entry = table + uint64_t{i} * 40;
    if (!headers.Fits(entry, 40)) return std::nullopt;
    const uint32_t virtual_size = headers.U32Or(entry + 8, 0);
    const uint32_t start = headers.U32Or(entry + 12, 0);
    const uint32_t raw_size = headers.U32Or(entry + 16, 0);
    const uint64_t end = uint64_t{start} + std::max(virtual_size, raw_size);
    if (start <= offset && offset <= end) return SectionOffset{i + 1, offset - start};
  }
  return std::nullopt;
}

std::u16string ReportParameters(std::u16string_view log_path, std::u16string_view language_pattern) {
  return u" \"" + std::u16string(log_path) + u"\" resfile:" + std::u16string(language_pattern);
}

ReportArguments ParseReportParameters(std::u16string_view tail) {
  ReportArguments arguments;
  std::u16string_view rest = plat::TrimSpacesAndTabs(tail);
  if (!rest.empty() && rest.front() == u'"') {
    const size_t close = rest.find(u'"', 1);
    arguments.log_path = rest.substr(1, close == std::u16string_view::npos ? std::u16string_view::npos : close - 1);
    rest = close == std::u16string_view::npos ? std::u16string_view() : rest.substr(close + 1);
  } else {
    // Unquoted, the path may hold blanks: it runs up to the last " resfile:".
    size_t marker = std::u16string_view::npos;
    for (size_t i = rest.size(); i-- > 0;) {
      if (plat::IsSpaceOrTab(rest[i]) &&
          plat::StartsWithAsciiNoCase(plat::TrimSpacesAndTabs(rest.substr(i)), u"resfile:")) {
        marker = i;
        break;
      }
    }
    arguments.log_path = plat::TrimSpacesAndTabs(rest.substr(0, marker));
    rest = marker == std::u16string_view::npos ? std::u16string_view() : rest.substr(marker);
  }
  rest = plat::TrimSpacesAndTabs(rest);
  if (plat::StartsWithAsciiNoCase(rest, u"resfile:")) {
    arguments.language_pattern = Unquote(plat::TrimSpacesAndTabs(rest.substr(8)));
  }
  return arguments;
}

std::u16string LanguageFileName(std::u16string_view pattern, std::u16string_view language_code) {
  std::u16string name;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == u'%' && i + 1 < pattern.size() && pattern[i + 1] == u's') {
      name += language_code;
      ++i;
    } else {
      name += pattern[i];
    }
  }
  if (name.empty() || name == u"." || name.find(u"..") != std::u16string::npos) return u"";
  for (char16_t c : name) {
    if (c < 0x20 || c == u'\\' || c == u'/' || c == u':' || c == u'%' || c == u'"' || c == u'*' || c == u'?' ||
        c == u'<' || c == u'>' || c == u'|') {
      return u"";
    }
  }
  return name;
}

std::u16string Hex(uint64_t value, int digits) {
  std::u16string text;
  do {
    text.insert(text.begin(), u"0123456789ABCDEF"[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(text.size()) < digits) text.insert(0, static_cast<size_t>(digits) - text.size(), u'0');
  return text;
}

std::u16string SeparatorLine() { return u"=====================================================\r\n"; }

std::u16string LoggedLine(std::u16string_view date_time) {
  return Piece(u"Logged:  " + std::u16string(date_time) + u"\r\n");
}

std::u16string OsLine(bool x64_system, uint32_t major, uint32_t minor, uint32_t build, std::u16string_view service_pack,
                      bool amd) {
  return Piece(std::u16string(x64_system ? u"OS(x64):  " : u"OS:  ") + Decimal(major) + u"." + Decimal(minor) + u" (" +
               Decimal(build) + u") " + std::u16string(service_pack) + u" " +
               (amd ? u" - (AMD CPU)" : u" - (Intel CPU)") + u"\r\n");
}

std::u16string VersionText(uint32_t major, uint32_t minor, uint32_t build, uint32_t revision) {
  return Decimal(major) + u"." + Decimal(minor) + u"." + Decimal(build) + u"." + Decimal(revision);
}

std::u16string VersionErrorText(uint32_t error) {
  // "%d" of the system's error number.
  const int32_t signed_error = static_cast<int32_t>(error);
  return signed_error < 0 ? u"ERR: -" + Decimal(0 - static_cast<uint64_t>(int64_t{signed_error}))
                          : u"ERR: " + Decimal(error);
}

std::u16string ApplicationVersionLine(std::u16string_view version) {
  if (version.empty()) return u"";
  return Piece(u"Application version:  " + std::u16string(version) + u"\r\n");
}

std::u16string ExceptionLine(uint32_t code, std::u16string_view name) {
  return Piece(u"Exception code: " + Hex(code, 8) + u" " + std::u16string(name) + u"\r\n");
}

std::u16string FaultLines(uint64_t address, const ModuleAt& module, int digits) {
  return Piece(u"Fault address:  " + Hex(address, digits) + u" " + Hex(module.section, 2) + u":" +
               Hex(module.section_offset, 8) + u" \r\n   " + module.path + u" (" + Decimal(module.file_size) +
               u" Bytes)\r\n");
}

std::u16string StackHeader() { return u"\r\nCall stack:\r\nAddress\tOffset\tModule\tBaseAddress"; }

std::u16string StackFrameLine(uint64_t address, const ModuleAt& module, std::u16string_view symbol,
                              uint64_t displacement, int digits) {
  std::u16string line = u"\r\n" + Hex(address, digits) + u"\t" + Hex(address - module.base, digits) + u"\t";
  if (!symbol.empty()) line += std::u16string(symbol) + u"+" + Hex(displacement, 1) + u" ";
  return Piece(line + ModuleText(module) + u"\t" + Hex(module.base, digits));
}

std::u16string FrameWalkHeader() {
  return u"\r\nCall stack (_M_IX86):\r\nBaseAddress  Address     Frame     Logical addr  Module\r\n";
}

std::u16string FrameWalkLine(uint64_t address, uint64_t frame, const ModuleAt& module, int digits) {
  return Piece(Hex(module.base, digits) + u"     " + Hex(address, digits) + u"    " + Hex(frame, digits) + u"  " +
               Hex(module.section, 4) + u":" + Hex(module.section_offset, 8) + u" " + ModuleText(module) + u"\r\n");
}

std::u16string RegisterLines(const X86Registers& r) {
  return u"\r\nRegisters:\r\n" +
         Piece(u"EAX:" + Hex(r.eax, 8) + u"\tEBX:" + Hex(r.ebx, 8) + u"\tECX:" + Hex(r.ecx, 8) + u"\r\nEDX:" +
               Hex(r.edx, 8) + u"\tESI:" + Hex(r.esi, 8) + u"\tEDI:" + Hex(r.edi, 8) + u"\r\n") +
         u"CS:EIP:" + Hex(r.cs, 4) + u":" + Hex(r.eip, 8) + u"\t" + u"SS:ESP:" + Hex(r.ss, 4) + u":" + Hex(r.esp, 8) +
         u"  EBP:" + Hex(r.ebp, 8) + u"\r\n" + u"DS:" + Hex(r.ds, 4) + u"  ES:" + Hex(r.es, 4) + u"  FS:" +
         Hex(r.fs, 4) + u"  GS:" + Hex(r.gs, 4) + u"\r\n" + u"Flags:" + Hex(r.eflags, 8) + u"\r\n" + u"\r\n";
}

std::u16string RegisterLines(const X64Registers& r) {
  auto reg = [](const char16_t* name, uint64_t value) { return std::u16string(name) + u":" + Hex(value, 16); };
  return u"\r\nRegisters:\r\n" + reg(u"RAX", r.rax) + u"\t" + reg(u"RBX", r.rbx) + u"\t" + reg(u"RCX", r.rcx) +
         u"\r\n" + reg(u"RDX", r.rdx) + u"\t" + reg(u"RSI", r.rsi) + u"\t" + reg(u"RDI", r.rdi) + u"\r\n" +
         reg(u"R8", r.r8) + u"\t" + reg(u"R9", r.r9) + u"\t" + reg(u"R10", r.r10) + u"\r\n" + reg(u"R11", r.r11) +
         u"\t" + reg(u"R12", r.r12) + u"\t" + reg(u"R13", r.r13) + u"\r\n" + reg(u"R14", r.r14) + u"\t" +
         reg(u"R15", r.r15) + u"\r\n" + u"CS:RIP:" + Hex(r.cs, 4) + u":" + Hex(r.rip, 16) + u"\t" + u"SS:RSP:" +
         Hex(r.ss, 4) + u":" + Hex(r.rsp, 16) + u"  RBP:" + Hex(r.rbp, 16) + u"\r\n" + u"DS:" + Hex(r.ds, 4) +
         u"  ES:" + Hex(r.es, 4) + u"  FS:" + Hex(r.fs, 4) + u"  GS:" + Hex(r.gs, 4) + u"\r\n" + u"Flags:" +
         Hex(r.eflags, 8) + u"\r\n" + u"\r\n";
}

LogText DecodeCrashLog(plat::ByteView bytes) {
  LogText log;
  if (bytes.empty()) return log;
  log.state = LogState::kNotText;
  if (bytes.size() % 2 != 0) return log;
  uint64_t at = bytes.U16Or(0, 0) == 0xFEFF ? 2 : 0;
  if (at == bytes.size()) {
    log.state = LogState::kEmpty;
    return log;
  }
  // Every line of a log has ASCII in it; UTF-8 or ANSI bytes read as UTF-16 have none.
  bool ascii = false;
  std::u16string text;
  text.reserve(bytes.size() / 2 + 64);
  for (; at < bytes.size(); at += 2) {
    const char16_t unit = static_cast<char16_t>(bytes.U16Or(at, 0));
    if (unit == 0) return log;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      const char16_t low = static_cast<char16_t>(bytes.U16Or(at + 2, 0));
      if (low < 0xDC00 || low > 0xDFFF) return log;
      text += unit;
      text += low;
      at += 2;
      continue;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) return log;
    if (unit < 0x80) ascii = true;
    text += unit;
  }
  if (!ascii) return log;
  // A lone CR or LF ends its line too; the edit shows only CR LF as a line end.
  log.state = LogState::kText;
  log.text.reserve(text.size() + 64);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' || text[i] == u'\n') {
      log.text += u"\r\n";
      if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      log.text += text[i];
    }
  }
  return log;
}

}  // namespace support
