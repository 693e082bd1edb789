// The crash log's rules without the system around them: where the log goes, what an
// exception code is called, which section of a module an address falls in, the command
// line handed to the crash report program, and each line of the log as text. The Win32
// filter (win32/crash_handler.h) fills them from the failing process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/byte_view.h"

namespace support {

inline constexpr char16_t kCrashReportProgram[] = u"Crashvale.exe";
inline constexpr char16_t kApplicationFileName[] = u"Runvale.exe";
inline constexpr char16_t kLanguageFilePattern[] = u"Player_%s.lng";

// The temporary folder (a backslash added when missing) and the file name of `program`
// (a path or a bare name); when at least three characters follow the name's last dot,
// they become "Crash.Log" (Brankel.exe gives Brankel.Crash.Log), else the name stays.
std::u16string CrashLogPath(std::u16string_view temp_folder, std::u16string_view program);

// PROCESSOR_IDENTIFIER names an AMD processor ("AMD" anywhere, any case).
bool IsAmdProcessor(std::u16string_view processor_identifier);

// The name the log gives a system exception code; nullptr for a code outside the table
// (the caller then asks the system for the code's message text).
const char16_t* ExceptionName(uint32_t code);

// Which section of a module holds `offset` (from the module's base), read from the
// module's headers: the first section with start <= offset <= start + the larger of its
// virtual and raw size. Sections are numbered from 1. Nothing when the headers are not a
// PE image's or no section holds the offset.
struct SectionOffset {
  uint32_t number = 0;
  uint64_t offset = 0;  // from the section's start
};
std::optional<SectionOffset> FindSection(plat::ByteView headers, uint64_t offset);

// The crash report program's parameters: ' "<log>" resfile:<pattern>'.
std::u16string ReportParameters(std::u16string_view log_path, std::u16string_view language_pattern);
// What the crash report program reads back from its command line tail: the log path in
// quotation marks (or, as some shells pass it, without them) and the language pattern.
struct ReportArguments {
  std::u16string log_path;
  std::u16string language_pattern;  // empty when the tail names none
};
ReportArguments ParseReportParameters(std::u16string_view tail);
// The language file name the pattern gives for `language_code` (each "%s" replaced);
// empty for a pattern that is not a plain file name, so that a command line cannot send
// the program to read files elsewhere.
std::u16string LanguageFileName(std::u16string_view pattern, std::u16string_view language_code);

// ---- Lines of the log, each as the log holds it (CR LF line ends) -------------------------

// Addresses print with as many hexadecimal digits as the build's pointers have.
inline constexpr int kAddressDigits = sizeof(void*) * 2;

std::u16string Hex(uint64_t value, int digits);

std::u16string SeparatorLine();
std::u16string LoggedLine(std::u16string_view date_time);
std::u16string OsLine(bool x64_system, uint32_t major, uint32_t minor, uint32_t build, std::u16string_view service_pack,
                      bool amd);
std::u16string VersionText(uint32_t major, uint32_t minor, uint32_t build, uint32_t revision);
std::u16string VersionErrorText(uint32_t error);
// Empty for an empty version: the line is left out.
std::u16string ApplicationVersionLine(std::u16string_view version);
std::u16string ExceptionLine(uint32_t code, std::u16string_view name);

struct ModuleAt {
  uint64_t base = 0;
  std::u16string path;
  uint32_t file_size = 0;  // low 32 bits
  uint32_t section = 0;    // 0 when no section holds the address
  uint64_t section_offset = 0;
};
std::u16string FaultLines(uint64_t address, const ModuleAt& module, int digits);

// The call stack through the image-help library.
std::u16string StackHeader();
std::u16string StackFrameLine(uint64_t address, const ModuleAt& module, std::u16string_view symbol,
                              uint64_t displacement, int digits);  // symbol empty: none
// The call stack along the saved frame pointers, when the image-help library is missing.
std::u16string FrameWalkHeader();
std::u16string FrameWalkLine(uint64_t address, uint64_t frame, const ModuleAt& module, int digits);

struct X86Registers {
  uint32_t eax, ebx, ecx, edx, esi, edi, eip, esp, ebp, eflags;
  uint16_t cs, ss, ds, es, fs, gs;
};
struct X64Registers {
  uint64_t rax, rbx, rcx, rdx, rsi, rdi, r8, r9, r10, r11, r12, r13, r14, r15, rip, rsp, rbp;
  uint32_t eflags;
  uint16_t cs, ss, ds, es, fs, gs;
};
std::u16string RegisterLines(const X86Registers& r);
std::u16string RegisterLines(const X64Registers& r);

// ---- The crash report program's view of a log ------------------------------------------

enum class LogState { kText, kEmpty, kNotText };
struct LogText {
  LogState state = LogState::kEmpty;
  std::u16string text;  // line ends made CR LF, for a multi-line edit
};
// A log's bytes: UTF-16LE (a byte-order mark is allowed and dropped). Bytes of odd count,
// NUL characters or unpaired surrogates mean the file is not such a text.
LogText DecodeCrashLog(plat::ByteView bytes);

}  // namespace support
