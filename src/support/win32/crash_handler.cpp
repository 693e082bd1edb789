#include "support/win32/crash_handler.h"

#include <imagehlp.h>
#include <shellapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_view.h"
#include "support/crash_log.h"

namespace support {
namespace {

// Fixed once the filter is installed; the filter only reads it.
struct CrashState {
  bool installed = false;
  bool amd = false;
  std::u16string report_program;
  std::u16string application_file;
  std::u16string language_pattern;
  std::u16string log_path;
  LPTOP_LEVEL_EXCEPTION_FILTER previous = nullptr;
  volatile LONG entered = 0;
};
CrashState g_state;

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
std::u16string U(const wchar_t* text) { return text == nullptr ? u"" : reinterpret_cast<const char16_t*>(text); }

std::u16string ModuleFileName(HMODULE module) {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (;;) {
    const DWORD got = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (got == 0) return u"";
    if (got < buffer.size()) return U(buffer.data());
    if (buffer.size() >= 32768) return u"";
    buffer.resize(buffer.size() * 2);
  }
}

bool IsFile(const std::u16string& path) {
  const DWORD attributes = ::GetFileAttributesW(W(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Whether `length` bytes from `address` are committed memory the process may read (or
// also write); a damaged stack must not make the filter fail in its turn.
bool Accessible(uintptr_t address, size_t length, bool write) {
  if (address == 0) return false;
  MEMORY_BASIC_INFORMATION info = {};
  if (::VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof(info)) == 0) return false;
  if (info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return false;
  const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                         PAGE_EXECUTE_WRITECOPY;
  const DWORD writable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  if ((info.Protect & (write ? writable : readable)) == 0) return false;
  const uintptr_t region_end = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  return address + length >= address && address + length <= region_end;
}

uint32_t FileSizeOf(const std::u16string& path) {
  WIN32_FIND_DATAW data = {};
  HANDLE find = ::FindFirstFileW(W(path), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  ::FindClose(find);
  return data.nFileSizeLow;
}

// The module an address lies in: the allocation base of its memory, the module's path,
// its file's size and the section of its headers holding the address.
ModuleAt DescribeModule(uintptr_t address) {
  ModuleAt module;
  MEMORY_BASIC_INFORMATION info = {};
  if (address == 0 || ::VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof(info)) == 0) return module;
  const uintptr_t base = reinterpret_cast<uintptr_t>(info.AllocationBase);
  module.base = base;
  if (base == 0) return module;
  module.path = ModuleFileName(reinterpret_cast<HMODULE>(base));
  if (!module.path.empty()) module.file_size = FileSizeOf(module.path);
  MEMORY_BASIC_INFORMATION head = {};
  if (::VirtualQuery(reinterpret_cast<const void*>(base), &head, sizeof(head)) == 0 || !Accessible(base, 1, false)) {
    return module;
  }
  const plat::ByteView headers(reinterpret_cast<const uint8_t*>(base), head.RegionSize);
  if (const std::optional<SectionOffset> section = FindSection(headers, address - base)) {
    module.section = section->number;
    module.section_offset = section->offset;
  } else {
    module.section_offset = address - base;
  }
  return module;
}

class LogWriter {
 public:
  explicit LogWriter(HANDLE file) : file_(file) {}
  void Put(const std::u16string& text) {
    bytes_.clear();
    plat::ByteWriter writer(bytes_);
    for (char16_t unit : text) writer.U16(unit);
    DWORD done = 0;
    if (!bytes_.empty()) ::WriteFile(file_, bytes_.data(), static_cast<DWORD>(bytes_.size()), &done, nullptr);
  }

 private:
  HANDLE file_;
  std::vector<uint8_t> bytes_;
};

std::u16string LocalDateTime() {
  wchar_t date[128] = {};
  wchar_t time[128] = {};
  ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 128);
  ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, 128);
  return U(date) + u" " + U(time);
}

std::u16string OperatingSystemLine() {
  // The version as it is, not as a compatibility shim would report it.
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  using GetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  auto get_version = reinterpret_cast<GetVersionFn>(
      ntdll ? reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")) : nullptr);
  if (get_version != nullptr) get_version(&version);
  SYSTEM_INFO system = {};
  ::GetNativeSystemInfo(&system);
  return OsLine(system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64, version.dwMajorVersion,
                version.dwMinorVersion, version.dwBuildNumber, U(version.szCSDVersion), g_state.amd);
}

std::u16string FileVersion(const std::u16string& path) {
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(W(path), &handle);
  if (size == 0) return VersionErrorText(::GetLastError());
  std::vector<uint8_t> data(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  if (!::GetFileVersionInfoW(W(path), 0, size, data.data()) ||
      !::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size) || fixed == nullptr ||
      fixed_size < sizeof(VS_FIXEDFILEINFO)) {
    return VersionErrorText(::GetLastError());
  }
  return VersionText(HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                     LOWORD(fixed->dwFileVersionLS));
}

std::u16string ExceptionNameOf(uint32_t code) {
  if (const char16_t* name = ExceptionName(code)) return name;
  wchar_t message[1024] = {};
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        ::GetModuleHandleW(L"NTDLL.DLL"), code, 0, message, 1024, nullptr);
  std::u16string text = U(length == 0 ? L"" : message);
  // The message table's texts end with a line break; the log's line has its own.
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) text.pop_back();
  return text;
}

#if defined(_M_X64) || defined(__x86_64__)

void WriteCallStack(LogWriter& log, const CONTEXT& start) {
  log.Put(StackHeader());
  // The system's x64 unwinder, frame by frame from the failing instruction; a frame that
  // does not move the stack on ends the walk, so a damaged stack cannot loop.
  CONTEXT context = start;
  for (int frames = 0; frames < 256 && context.Rip != 0; ++frames) {
    const ModuleAt module = DescribeModule(static_cast<uintptr_t>(context.Rip));
    log.Put(StackFrameLine(context.Rip, module, u"", 0, kAddressDigits));
    const DWORD64 previous_sp = context.Rsp;
    DWORD64 image_base = 0;
    PRUNTIME_FUNCTION entry = ::RtlLookupFunctionEntry(context.Rip, &image_base, nullptr);
    if (entry == nullptr) {
      // A leaf function: the return address is on top of the stack.
      if (!Accessible(static_cast<uintptr_t>(context.Rsp), 8, false)) break;
      context.Rip = *reinterpret_cast<const DWORD64*>(context.Rsp);
      context.Rsp += 8;
    } else {
      if (!Accessible(static_cast<uintptr_t>(context.Rsp), 8, false)) break;
      void* handler_data = nullptr;
      DWORD64 establisher = 0;
      ::RtlVirtualUnwind(UNW_FLAG_NHANDLER, image_base, context.Rip, entry, &context, &handler_data, &establisher,
                         nullptr);
    }
    if (context.Rsp <= previous_sp) break;
  }
}

std::u16string Registers(const CONTEXT& c) {
  X64Registers r = {};
  r.rax = c.Rax, r.rbx = c.Rbx, r.rcx = c.Rcx, r.rdx = c.Rdx, r.rsi = c.Rsi, r.rdi = c.Rdi;
  r.r8 = c.R8, r.r9 = c.R9, r.r10 = c.R10, r.r11 = c.R11, r.r12 = c.R12, r.r13 = c.R13, r.r14 = c.R14, r.r15 = c.R15;
  r.rip = c.Rip, r.rsp = c.Rsp, r.rbp = c.Rbp, r.eflags = c.EFlags;
  r.cs = c.SegCs, r.ss = c.SegSs, r.ds = c.SegDs, r.es = c.SegEs, r.fs = c.SegFs, r.gs = c.SegGs;
  return RegisterLines(r);
}

#else

// The image-help library's entry points, found at run time.
struct ImageHelp {
  using InitializeFn = BOOL(WINAPI*)(HANDLE, PCSTR, BOOL);
  using CleanupFn = BOOL(WINAPI*)(HANDLE);
  using StackWalkFn = BOOL(WINAPI*)(DWORD, HANDLE, HANDLE, LPSTACKFRAME, PVOID, PREAD_PROCESS_MEMORY_ROUTINE,
                                    PFUNCTION_TABLE_ACCESS_ROUTINE, PGET_MODULE_BASE_ROUTINE,
                                    PTRANSLATE_ADDRESS_ROUTINE);
  using SymbolFn = BOOL(WINAPI*)(HANDLE, DWORD, PDWORD, PIMAGEHLP_SYMBOL);
  HMODULE library = nullptr;
  InitializeFn initialize = nullptr;
  CleanupFn cleanup = nullptr;
  StackWalkFn stack_walk = nullptr;
  PFUNCTION_TABLE_ACCESS_ROUTINE function_table = nullptr;
  PGET_MODULE_BASE_ROUTINE module_base = nullptr;
  SymbolFn symbol = nullptr;

  bool Load() {
    library = ::LoadLibraryW(L"IMAGEHLP.DLL");
    if (library == nullptr) return false;
    auto find = [this](const char* name) { return reinterpret_cast<void*>(::GetProcAddress(library, name)); };
    initialize = reinterpret_cast<InitializeFn>(find("SymInitialize"));
    cleanup = reinterpret_cast<CleanupFn>(find("SymCleanup"));
    stack_walk = reinterpret_cast<StackWalkFn>(find("StackWalk"));
    function_table = reinterpret_cast<PFUNCTION_TABLE_ACCESS_ROUTINE>(find("SymFunctionTableAccess"));
    module_base = reinterpret_cast<PGET_MODULE_BASE_ROUTINE>(find("SymGetModuleBase"));
    symbol = reinterpret_cast<SymbolFn>(find("SymGetSymFromAddr"));
    return initialize && cleanup && stack_walk && function_table && module_base && symbol;
  }
};

void WalkFramePointers(LogWriter& log, const CONTEXT& start) {
  ::OutputDebugStringW(L"IMAGEHLP.DLL or its exported procs not found");
  log.Put(FrameWalkHeader());
  uintptr_t address = start.Eip;
  uintptr_t frame = start.Ebp;
  for (;;) {
    log.Put(FrameWalkLine(address, frame, DescribeModule(address), kAddressDigits));
    if (!Accessible(frame, 8, true)) break;
    const uint32_t* saved = reinterpret_cast<const uint32_t*>(frame);
    address = saved[1];
    const uintptr_t previous = frame;
    frame = saved[0];
    if ((frame & 3) != 0 || frame <= previous || !Accessible(frame, 8, true)) break;
  }
}

void WriteCallStack(LogWriter& log, const CONTEXT& start) {
  ImageHelp help;
  HANDLE process = ::GetCurrentProcess();
  if (!help.Load() || !help.initialize(process, nullptr, TRUE)) {
    WalkFramePointers(log, start);
    return;
  }
  log.Put(StackHeader());
  STACKFRAME frame = {};
  frame.AddrPC.Offset = start.Eip;
  frame.AddrPC.Mode = AddrModeFlat;
  frame.AddrStack.Offset = start.Esp;
  frame.AddrStack.Mode = AddrModeFlat;
  frame.AddrFrame.Offset = start.Ebp;
  frame.AddrFrame.Mode = AddrModeFlat;
  CONTEXT context = start;  // the walk changes it
  alignas(IMAGEHLP_SYMBOL) uint8_t symbol_space[sizeof(IMAGEHLP_SYMBOL) + 512] = {};
  auto* symbol = reinterpret_cast<PIMAGEHLP_SYMBOL>(symbol_space);
  while (help.stack_walk(IMAGE_FILE_MACHINE_I386, process, ::GetCurrentThread(), &frame, &context, nullptr,
                         help.function_table, help.module_base, nullptr)) {
    if (frame.AddrFrame.Offset == 0) break;
    const ModuleAt module = DescribeModule(frame.AddrPC.Offset);
    symbol->SizeOfStruct = sizeof(IMAGEHLP_SYMBOL);
    symbol->MaxNameLength = 512;
    DWORD displacement = 0;
    std::u16string name;
    if (help.symbol(process, frame.AddrPC.Offset, &displacement, symbol)) {
      for (const char* c = symbol->Name; *c != 0 && name.size() < 512; ++c) name += static_cast<unsigned char>(*c);
    }
    log.Put(StackFrameLine(frame.AddrPC.Offset, module, name, displacement, kAddressDigits));
  }
  help.cleanup(process);
}

std::u16string Registers(const CONTEXT& c) {
  X86Registers r = {};
  r.eax = c.Eax, r.ebx = c.Ebx, r.ecx = c.Ecx, r.edx = c.Edx, r.esi = c.Esi, r.edi = c.Edi;
  r.eip = c.Eip, r.esp = c.Esp, r.ebp = c.Ebp, r.eflags = c.EFlags;
  r.cs = static_cast<uint16_t>(c.SegCs), r.ss = static_cast<uint16_t>(c.SegSs);
  r.ds = static_cast<uint16_t>(c.SegDs), r.es = static_cast<uint16_t>(c.SegEs);
  r.fs = static_cast<uint16_t>(c.SegFs), r.gs = static_cast<uint16_t>(c.SegGs);
  return RegisterLines(r);
}

#endif

}  // namespace

bool InstallCrashHandler(std::u16string_view program_folder) {
  if (g_state.installed) return true;
  wchar_t identifier[256] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"PROCESSOR_IDENTIFIER", identifier, 256);
  g_state.amd = length > 0 && length < 256 && IsAmdProcessor(U(identifier));
  std::u16string folder(program_folder);
  if (!folder.empty() && folder.back() != u'\\') folder += u'\\';
  const std::u16string report_program = folder + kCrashReportProgram;
  if (folder.empty() || !IsFile(report_program)) return false;
  g_state.report_program = report_program;
  g_state.application_file = kApplicationFileName;
  g_state.language_pattern = kLanguageFilePattern;
  wchar_t temp[MAX_PATH + 2] = {};
  const DWORD temp_length = ::GetTempPathW(MAX_PATH + 1, temp);
  g_state.log_path = CrashLogPath(temp_length == 0 || temp_length > MAX_PATH ? u"" : U(temp), ModuleFileName(nullptr));
  // Room for the system to hand a stack overflow of this thread to the filter at all.
  ULONG guarantee = 64 * 1024;
  ::SetThreadStackGuarantee(&guarantee);
  g_state.previous = ::SetUnhandledExceptionFilter(CrashFilter);
  g_state.installed = true;
  return true;
}

void RestoreCrashHandler() {
  if (!g_state.installed) return;
  ::SetUnhandledExceptionFilter(g_state.previous);
  g_state.installed = false;
}

void WriteCrashLog(HANDLE file, const EXCEPTION_POINTERS* pointers) {
  LogWriter log(file);
  log.Put(SeparatorLine());
  log.Put(LoggedLine(LocalDateTime()));
  log.Put(OperatingSystemLine());
  // The application's version is the file's in the running program's folder; without
  // that folder the rest cannot be told apart from another program's.
  std::u16string folder = ModuleFileName(nullptr);
  const size_t slash = folder.rfind(u'\\');
  if (slash == std::u16string::npos) return;
  folder.resize(slash + 1);
  std::vector<wchar_t> lower(folder.begin(), folder.end());
  lower.push_back(0);
  ::CharLowerW(lower.data());
  log.Put(ApplicationVersionLine(FileVersion(U(lower.data()) + g_state.application_file)));
  log.Put(SeparatorLine());
  if (pointers == nullptr || pointers->ExceptionRecord == nullptr) return;
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  log.Put(ExceptionLine(record.ExceptionCode, ExceptionNameOf(record.ExceptionCode)));
  const uintptr_t address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
  log.Put(FaultLines(address, DescribeModule(address), kAddressDigits));
  if (pointers->ContextRecord == nullptr) return;
  WriteCallStack(log, *pointers->ContextRecord);
  log.Put(Registers(*pointers->ContextRecord));
}

namespace {

// Writes the log and starts the crash report program; 1 when it was started.
DWORD WINAPI Report(void* data) {
  const auto* pointers = static_cast<const EXCEPTION_POINTERS*>(data);
  HANDLE file = ::CreateFileW(W(g_state.log_path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    WriteCrashLog(file, pointers);
    ::CloseHandle(file);
  }
  if (g_state.report_program.empty() || !IsFile(g_state.report_program)) return 0;
  const std::u16string parameters = ReportParameters(g_state.log_path, g_state.language_pattern);
  ::ShellExecuteW(nullptr, L"open", W(g_state.report_program), W(parameters), nullptr, SW_SHOWDEFAULT);
  return 1;
}

}  // namespace

LONG WINAPI CrashFilter(EXCEPTION_POINTERS* pointers) {
  // Once: a second failure, in here or on another thread, goes to the system.
  if (::InterlockedExchange(&g_state.entered, 1) != 0) return EXCEPTION_CONTINUE_SEARCH;
  DWORD started = 0;
  const bool overflow = pointers != nullptr && pointers->ExceptionRecord != nullptr &&
                        pointers->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW;
  if (overflow) {
    // The failing thread has next to no stack left: the report gets a thread of its own.
    HANDLE thread = ::CreateThread(nullptr, 256 * 1024, Report, pointers, 0, nullptr);
    if (thread != nullptr) {
      ::WaitForSingleObject(thread, INFINITE);
      ::GetExitCodeThread(thread, &started);
      ::CloseHandle(thread);
    }
  } else {
    started = Report(pointers);
  }
  return started == 1 ? EXCEPTION_EXECUTE_HANDLER : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace support
