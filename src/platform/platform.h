// The operating-system services Brankel uses, with Windows semantics on every host.
//
// Paths are UTF-16 Windows paths (drive letters, backslashes); failures leave a Win32
// error number behind as the last error, exactly as the Windows API does, so the code
// above this layer reports errors one way whatever it runs on. The win32/ implementation
// forwards to the real API; the posix/ stand-in maps the Windows name space onto the host
// the way a Wine prefix does (see ARCHITECTURE.md).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// ---- Win32 numbers that cross this interface ------------------------------------------

namespace err {
inline constexpr uint32_t kSuccess = 0;
inline constexpr uint32_t kInvalidFunction = 1;
inline constexpr uint32_t kFileNotFound = 2;
inline constexpr uint32_t kPathNotFound = 3;
inline constexpr uint32_t kTooManyOpenFiles = 4;
inline constexpr uint32_t kAccessDenied = 5;
inline constexpr uint32_t kInvalidHandle = 6;
inline constexpr uint32_t kNotEnoughMemory = 8;
inline constexpr uint32_t kInvalidData = 13;
inline constexpr uint32_t kInvalidDrive = 15;
inline constexpr uint32_t kNotSameDevice = 17;
inline constexpr uint32_t kNoMoreFiles = 18;
inline constexpr uint32_t kWriteProtect = 19;
inline constexpr uint32_t kSharingViolation = 32;
inline constexpr uint32_t kHandleEof = 38;
inline constexpr uint32_t kNotSupported = 50;
inline constexpr uint32_t kFileExists = 80;
inline constexpr uint32_t kInvalidParameter = 87;
inline constexpr uint32_t kDiskFull = 112;
inline constexpr uint32_t kInsufficientBuffer = 122;
inline constexpr uint32_t kInvalidName = 123;
inline constexpr uint32_t kNegativeSeek = 131;
inline constexpr uint32_t kDirNotEmpty = 145;
inline constexpr uint32_t kBadPathName = 161;
inline constexpr uint32_t kAlreadyExists = 183;
inline constexpr uint32_t kBadExeFormat = 193;
inline constexpr uint32_t kFilenameTooLong = 206;
inline constexpr uint32_t kMoreData = 234;
inline constexpr uint32_t kNoMoreItems = 259;
inline constexpr uint32_t kDirectory = 267;
inline constexpr uint32_t kMessageNotFound = 317;
inline constexpr uint32_t kArithmeticOverflow = 534;
inline constexpr uint32_t kNotFound = 1168;
inline constexpr uint32_t kResourceDataNotFound = 1812;
inline constexpr uint32_t kResourceTypeNotFound = 1813;
inline constexpr uint32_t kResourceNameNotFound = 1814;
}  // namespace err

uint32_t GetLastError();
void SetLastError(uint32_t code);

// ---- Files ---------------------------------------------------------------------------

inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kGenericWrite = 0x40000000u;
// The specific-rights forms some callers use; they read (write) the file's data too.
inline constexpr uint32_t kFileGenericRead = 0x00120089u;
inline constexpr uint32_t kFileGenericWrite = 0x00120116u;
inline constexpr uint32_t kFileReadData = 0x0001u;
inline constexpr uint32_t kFileWriteData = 0x0002u;

inline constexpr uint32_t kShareRead = 1;
inline constexpr uint32_t kShareWrite = 2;
inline constexpr uint32_t kShareDelete = 4;

enum class Disposition : uint32_t {
  kCreateNew = 1,         // fails with kFileExists when the file is there
  kCreateAlways = 2,      // truncates; last error kAlreadyExists when it was there
  kOpenExisting = 3,      // fails with kFileNotFound / kPathNotFound
  kOpenAlways = 4,        // creates; last error kAlreadyExists when it was there
  kTruncateExisting = 5,  // needs kGenericWrite
};

enum class SeekOrigin : uint32_t { kBegin = 0, kCurrent = 1, kEnd = 2 };

inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kAttrNormal = 0x80;
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

inline constexpr size_t kMaxPath = 260;

struct FileObject;               // opaque; one per open file
using FileHandle = FileObject*;  // nullptr is the invalid handle

FileHandle OpenFile(std::u16string_view path, uint32_t access, uint32_t share, Disposition disposition);
// Reads up to `size` bytes; `*done` is the count read (0 at end of file, which succeeds).
bool ReadFile(FileHandle file, void* buffer, uint32_t size, uint32_t* done);
bool WriteFile(FileHandle file, const void* buffer, uint32_t size, uint32_t* done);
// Moves the file pointer; a position before the start fails with kNegativeSeek.
bool SeekFile(FileHandle file, int64_t distance, SeekOrigin origin, uint64_t* new_position);
bool GetFileSize(FileHandle file, uint64_t* size);
bool SetEndOfFile(FileHandle file);  // at the current position
bool CloseFile(FileHandle file);

uint32_t GetFileAttributes(std::u16string_view path);  // kInvalidAttributes on failure
bool SetFileAttributes(std::u16string_view path, uint32_t attributes);
bool FileExists(std::u16string_view path);  // files and folders alike
bool IsDirectory(std::u16string_view path);
bool CopyFile(std::u16string_view from, std::u16string_view to, bool fail_if_exists);
bool DeleteFile(std::u16string_view path);
// MoveFileExW: renames a file, replacing an existing target when asked (on one volume the
// replacement is a single step, so the target is never seen half written).
bool MoveFile(std::u16string_view from, std::u16string_view to, bool replace_existing);
bool CreateDirectory(std::u16string_view path);  // one level; kAlreadyExists when there
bool RemoveDirectory(std::u16string_view path);  // empty folders only

struct FindData {
  std::u16string name;  // the entry's own name, no folder
  uint32_t attributes = 0;
  uint64_t size = 0;
};
struct FindObject;
using FindHandle = FindObject*;  // nullptr is the invalid handle
// `pattern` is a folder followed by a name that may hold '*' and '?'. Folders list "."
// and ".." as Windows does (except at a drive's root). No match gives nullptr with
// kFileNotFound; the end of the listing is FindNextFile false with kNoMoreFiles.
FindHandle FindFirstFile(std::u16string_view pattern, FindData* data);
bool FindNextFile(FindHandle find, FindData* data);
bool FindClose(FindHandle find);

// Look-ups in bulk (a walk that asks after thousands of names): while one lives, what the
// look-ups have read of folders is taken as it was until this program itself changes a
// file, so that changes others make meanwhile may go unseen. Batches nest; Windows answers
// its look-ups itself, and there a batch does nothing.
class LookupBatch {
 public:
  LookupBatch();
  LookupBatch(const LookupBatch&) = delete;
  LookupBatch& operator=(const LookupBatch&) = delete;
  ~LookupBatch();
};

std::u16string GetCurrentDirectory();  // no trailing backslash except at a drive root
bool SetCurrentDirectory(std::u16string_view path);
// The absolute form of `path` against the current folder, "." and ".." resolved, the
// file need not exist. Empty on failure (last error set).
std::u16string GetFullPathName(std::u16string_view path);
std::u16string GetModuleFileName();  // the running program
// Whether `stream` is a console a person watches, rather than a file or a pipe.
bool IsTerminal(std::FILE* stream);

// A path as the host's shell gives it (UTF-8; relative to the process's working folder)
// as an absolute Windows path. On Windows that is the path itself, made absolute.
std::u16string PathFromHost(std::string_view host_path);
// The program's arguments in UTF-8, without the program name. On Windows they are taken
// from the wide command line, so that any file name survives; elsewhere from argv.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// ---- Other programs ------------------------------------------------------------------------

// What a program run by RunProgram did: its exit code and everything it wrote to its
// standard output and error, in one stream as a console would show them.
struct ProgramRun {
  uint32_t exit_code = 0;
  std::string output;
};
// Runs `program` (a file name found on the host's search path, or a path) with `arguments`,
// each passed as one argument whatever it holds, feeds it `input` on its standard input
// and waits for it to end. False with the last error set (kFileNotFound when there is no
// such program) when it could not be started; a program that ran and failed is true with
// its exit code.
bool RunProgram(std::u16string_view program, const std::vector<std::u16string>& arguments, std::string_view input,
                ProgramRun* run);
// A file's path as a program that RunProgram starts must be given it: on Windows the path
// itself, in the stand-in the host path the Windows path maps onto. Empty (last error set)
// when it cannot be mapped.
std::u16string PathForProgram(std::u16string_view path);

// ---- Temporary files and known folders -------------------------------------------------

std::u16string GetTempPath();  // ends with a backslash
// GetTempFileNameW: `folder` + "\" + the first three characters of `prefix` + the unique
// number in hexadecimal + ".tmp". With unique 0 a free number is found and the empty file
// created; otherwise the name is only formed. Empty on failure (last error set).
std::u16string GetTempFileName(std::u16string_view folder, std::u16string_view prefix, uint32_t unique = 0);

enum class KnownFolder { kCommonAppData, kRoamingAppData };
// No trailing backslash; nullopt when the system cannot tell.
std::optional<std::u16string> GetKnownFolder(KnownFolder folder);

// ---- Private-profile (INI) reads ----------------------------------------------------------

// GetPrivateProfileStringW: copies the value (surrounding blanks and one pair of matching
// quotes removed) or `fallback` (trailing blanks removed) into `buffer` of `size` units,
// cut to size-1 units and always terminated; returns the number of units copied before
// the terminator. A missing file or key gives the fallback.
uint32_t GetPrivateProfileString(std::u16string_view section, std::u16string_view key, std::u16string_view fallback,
                                 char16_t* buffer, uint32_t size, std::u16string_view file);
// GetPrivateProfileIntW: the leading integer of the value (decimal, or after "0x", "0o" or
// "0b"), taken modulo 2^32 as the system does; a missing file or key, or an empty value,
// gives `fallback`.
uint32_t GetPrivateProfileInt(std::u16string_view section, std::u16string_view key, int32_t fallback,
                              std::u16string_view file);

// ---- Registry ----------------------------------------------------------------------------

// One DWORD value under HKEY_LOCAL_MACHINE. Returns the system status (0 = success, 2 =
// key or value missing); `*type_ok` tells whether the value is a REG_DWORD.
struct RegistryKey;
using RegistryHandle = RegistryKey*;
uint32_t RegOpenLocalMachineKey(std::u16string_view subkey, RegistryHandle* key);
uint32_t RegQueryDword(RegistryHandle key, std::u16string_view value, uint32_t* data, bool* type_ok);
void RegCloseKey(RegistryHandle key);

// ---- Messages ----------------------------------------------------------------------------

// FormatMessageW from the system for `code` (Win32 numbers and FACILITY_WIN32 HRESULTs),
// without inserts: the text with its closing "\r\n". nullopt when there is none (last
// error kMessageNotFound).
std::optional<std::u16string> FormatSystemMessage(uint32_t code);

// ---- ANSI code page ------------------------------------------------------------------------

uint32_t GetAnsiCodePage();
std::u16string AnsiToWide(std::string_view text);  // MultiByteToWideChar(CP_ACP)
std::string WideToAnsi(std::u16string_view text);  // WideCharToMultiByte(CP_ACP), '?' default

// IsTextUnicode with the system's default tests: whether bytes without a byte-order mark
// look like UTF-16LE text. The stand-in judges by where the zero bytes fall.
bool IsTextUnicode(const void* data, size_t size);

// CharLowerBuffW / CharUpperBuffW: the system's case mapping, as name comparisons use it.
std::u16string ToLower(std::u16string_view text);
std::u16string ToUpper(std::u16string_view text);
// lstrcmpiW-style equality without regard to case.
bool EqualNoCase(std::u16string_view a, std::u16string_view b);

// The face name of the system's icon-title font (SPI_GETICONTITLELOGFONT); the stand-in
// answers with the face Windows has long used there.
std::u16string GetIconTitleFontFace();

// ---- Search path, time, digest, keyboard -------------------------------------------------

// SearchPathW(NULL, name, NULL): the program's folder, the current folder, the system
// folders, then PATH. Empty when not found (kFileNotFound).
std::u16string SearchPath(std::u16string_view name);

uint32_t GetTickCount();
void Sleep(uint32_t milliseconds);

// The MD5 digest of `size` bytes; all zeros, which matches nothing real, when the system
// cannot compute it. A posix build without libmd (kHasMd5 false) has no digest at all:
// there every call gives zeros with last error kNotSupported.
using Md5Digest = std::array<uint8_t, 16>;
Md5Digest Md5(const void* data, size_t size);
#ifdef BRANKEL_NO_MD5
inline constexpr bool kHasMd5 = false;
#else
inline constexpr bool kHasMd5 = true;
#endif

// The character a virtual-key code types in the current keyboard layout with no modifier
// held (a dead key gives its own character); 0 when it types none.
char16_t VirtualKeyToChar(uint32_t virtual_key);

}  // namespace plat
