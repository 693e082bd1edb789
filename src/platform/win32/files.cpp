// Files, folders, listings, paths, temporary names and known folders on Windows: thin
// forwards to the W API, which already has the semantics the interface promises.

#include "platform/win32/win32_common.h"

#include <shellapi.h>

#include <cstring>
#include <cwchar>
#include <new>
#include <utility>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "platform/win32/lookup_cache.h"

namespace plat {

// The interface's numbers are the system's; a drift would go unnoticed on Windows only.
static_assert(kGenericRead == GENERIC_READ && kGenericWrite == GENERIC_WRITE);
static_assert(kFileGenericRead == FILE_GENERIC_READ && kFileGenericWrite == FILE_GENERIC_WRITE &&
              kFileReadData == FILE_READ_DATA && kFileWriteData == FILE_WRITE_DATA);
static_assert(kShareRead == FILE_SHARE_READ && kShareWrite == FILE_SHARE_WRITE && kShareDelete == FILE_SHARE_DELETE);
static_assert(static_cast<DWORD>(Disposition::kCreateNew) == CREATE_NEW &&
              static_cast<DWORD>(Disposition::kCreateAlways) == CREATE_ALWAYS &&
              static_cast<DWORD>(Disposition::kOpenExisting) == OPEN_EXISTING &&
              static_cast<DWORD>(Disposition::kOpenAlways) == OPEN_ALWAYS &&
              static_cast<DWORD>(Disposition::kTruncateExisting) == TRUNCATE_EXISTING);
static_assert(static_cast<DWORD>(SeekOrigin::kBegin) == FILE_BEGIN &&
              static_cast<DWORD>(SeekOrigin::kCurrent) == FILE_CURRENT &&
              static_cast<DWORD>(SeekOrigin::kEnd) == FILE_END);
static_assert(kAttrReadOnly == FILE_ATTRIBUTE_READONLY && kAttrHidden == FILE_ATTRIBUTE_HIDDEN &&
              kAttrSystem == FILE_ATTRIBUTE_SYSTEM && kAttrDirectory == FILE_ATTRIBUTE_DIRECTORY &&
              kAttrArchive == FILE_ATTRIBUTE_ARCHIVE && kAttrNormal == FILE_ATTRIBUTE_NORMAL &&
              kInvalidAttributes == INVALID_FILE_ATTRIBUTES);
static_assert(kMaxPath == MAX_PATH);

// Listings need the system handle; the find data itself is copied out on every step.
struct FindObject {
  HANDLE handle;
};

namespace {

using win32::FromWide;
using win32::Wide;

HANDLE SystemHandle(FileHandle file) { return static_cast<HANDLE>(file); }

// A null handle is refused here rather than handed to the system, which would raise an
// invalid-handle exception under a debugger.
bool RefuseNull(const void* handle) {
  if (handle != nullptr) return false;
  ::SetLastError(ERROR_INVALID_HANDLE);
  return true;
}

void CopyFindData(const WIN32_FIND_DATAW& found, FindData* data) {
  if (data == nullptr) return;
  const size_t length = ::wcsnlen(found.cFileName, MAX_PATH);
  data->name = FromWide(found.cFileName, length);
  data->attributes = found.dwFileAttributes;
  data->size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

}  // namespace

// ---- Files -------------------------------------------------------------------------------

FileHandle OpenFile(std::u16string_view path, uint32_t access, uint32_t share, Disposition disposition) {
  // Opening an existing file counts as no fault kind, unless the open may make one.
  if (disposition != Disposition::kOpenExisting && fault::Fail(testing::FileOp::kCreate)) return nullptr;
  if (disposition != Disposition::kOpenExisting || (access & kGenericWrite) != 0) win32::LookupsChanged();
  const std::wstring name = Wide(path);
  HANDLE handle = ::CreateFileW(name.c_str(), access, share, nullptr, static_cast<DWORD>(disposition),
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return static_cast<FileHandle>(handle);
}

bool ReadFile(FileHandle file, void* buffer, uint32_t size, uint32_t* done) {
  if (done != nullptr) *done = 0;
  if (fault::Fail(testing::FileOp::kRead)) return false;
  if (RefuseNull(file)) return false;
  // The count is mandatory for synchronous handles, whatever the caller wants.
  DWORD count = 0;
  const BOOL ok = ::ReadFile(SystemHandle(file), buffer, size, &count, nullptr);
  if (done != nullptr) *done = count;
  return ok != FALSE;
}

bool WriteFile(FileHandle file, const void* buffer, uint32_t size, uint32_t* done) {
  if (done != nullptr) *done = 0;
  if (fault::Fail(testing::FileOp::kWrite)) return false;
  if (RefuseNull(file)) return false;
  DWORD count = 0;
  const BOOL ok = ::WriteFile(SystemHandle(file), buffer, size, &count, nullptr);
  if (done != nullptr) *done = count;
  return ok != FALSE;
}

bool SeekFile(FileHandle file, int64_t distance, SeekOrigin origin, uint64_t* new_position) {
  if (RefuseNull(file)) return false;
  LARGE_INTEGER move;
  move.QuadPart = distance;
  LARGE_INTEGER position;
  position.QuadPart = 0;
  // The system itself refuses a position before the start with ERROR_NEGATIVE_SEEK.
  if (!::SetFilePointerEx(SystemHandle(file), move, &position, static_cast<DWORD>(origin))) {
    return false;
  }
  if (new_position != nullptr) *new_position = static_cast<uint64_t>(position.QuadPart);
  return true;
}

bool GetFileSize(FileHandle file, uint64_t* size) {
  if (RefuseNull(file)) return false;
  LARGE_INTEGER length;
  length.QuadPart = 0;
  if (!::GetFileSizeEx(SystemHandle(file), &length)) return false;
  if (size != nullptr) *size = static_cast<uint64_t>(length.QuadPart);
  return true;
}

bool SetEndOfFile(FileHandle file) {
  if (RefuseNull(file)) return false;
  return ::SetEndOfFile(SystemHandle(file)) != FALSE;
}

bool CloseFile(FileHandle file) {
  if (RefuseNull(file)) return false;
  return ::CloseHandle(SystemHandle(file)) != FALSE;
}

uint32_t GetFileAttributes(std::u16string_view path) {
  if (const std::optional<uint32_t> known = win32::KnownAttributes(path)) return *known;
  const uint32_t attributes = ::GetFileAttributesW(Wide(path).c_str());
  win32::RememberAttributes(path, attributes, attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : 0);
  return attributes;
}

bool SetFileAttributes(std::u16string_view path, uint32_t attributes) {
  win32::LookupsChanged();
  return ::SetFileAttributesW(Wide(path).c_str(), attributes) != FALSE;
}

bool FileExists(std::u16string_view path) { return GetFileAttributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(std::u16string_view path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CopyFile(std::u16string_view from, std::u16string_view to, bool fail_if_exists) {
  if (fault::Fail(testing::FileOp::kCopy)) return false;
  win32::LookupsChanged();
  return ::CopyFileW(Wide(from).c_str(), Wide(to).c_str(), fail_if_exists ? TRUE : FALSE) != FALSE;
}

bool DeleteFile(std::u16string_view path) {
  if (fault::Fail(testing::FileOp::kDelete)) return false;
  win32::LookupsChanged();
  return ::DeleteFileW(Wide(path).c_str()) != FALSE;
}

bool CreateDirectory(std::u16string_view path) {
  win32::LookupsChanged();
  return ::CreateDirectoryW(Wide(path).c_str(), nullptr) != FALSE;
}

bool MoveFile(std::u16string_view from, std::u16string_view to, bool replace_existing) {
  if (fault::Fail(testing::FileOp::kMove)) return false;
  win32::LookupsChanged();
  const DWORD flags = MOVEFILE_COPY_ALLOWED | (replace_existing ? MOVEFILE_REPLACE_EXISTING : 0);
  return ::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), flags) != FALSE;
}

bool RemoveDirectory(std::u16string_view path) {
  win32::LookupsChanged();
  return ::RemoveDirectoryW(Wide(path).c_str()) != FALSE;
}

// ---- Listings ----------------------------------------------------------------------------

FindHandle FindFirstFile(std::u16string_view pattern, FindData* data) {
  WIN32_FIND_DATAW found;
  std::memset(&found, 0, sizeof found);
  HANDLE handle = ::FindFirstFileW(Wide(pattern).c_str(), &found);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  auto* find = new (std::nothrow) FindObject{handle};
  if (find == nullptr) {
    ::FindClose(handle);
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  CopyFindData(found, data);
  return find;
}

bool FindNextFile(FindHandle find, FindData* data) {
  if (RefuseNull(find)) return false;
  WIN32_FIND_DATAW found;
  std::memset(&found, 0, sizeof found);
  if (!::FindNextFileW(find->handle, &found)) return false;
  CopyFindData(found, data);
  return true;
}

bool FindClose(FindHandle find) {
  if (RefuseNull(find)) return false;
  const BOOL ok = ::FindClose(find->handle);
  delete find;
  return ok != FALSE;
}

// Windows keeps its own caches of what it has looked up.
LookupBatch::LookupBatch() { win32::BeginLookupBatch(); }
LookupBatch::~LookupBatch() { win32::EndLookupBatch(); }

// ---- Paths -------------------------------------------------------------------------------

std::u16string GetCurrentDirectory() {
  return win32::GrowingCall([](wchar_t* buffer, DWORD capacity) { return ::GetCurrentDirectoryW(capacity, buffer); });
}

bool SetCurrentDirectory(std::u16string_view path) {
  win32::LookupsChanged();
  return ::SetCurrentDirectoryW(Wide(path).c_str()) != FALSE;
}

std::u16string GetFullPathName(std::u16string_view path) {
  const std::wstring name = Wide(path);
  return win32::GrowingCall(
      [&name](wchar_t* buffer, DWORD capacity) { return ::GetFullPathNameW(name.c_str(), capacity, buffer, nullptr); });
}

std::u16string GetModuleFileName() {
  // This one never reports the size it needs: a full buffer means the name was cut.
  std::wstring buffer(MAX_PATH + 1, L'\0');
  for (;;) {
    const DWORD capacity = static_cast<DWORD>(buffer.size());
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), capacity);
    if (length == 0) return {};
    if (length < capacity) return FromWide(buffer.data(), length);
    if (capacity >= 0x10000) {  // beyond any path the system can hold
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return {};
    }
    buffer.assign(static_cast<size_t>(capacity) * 2, L'\0');
  }
}

std::u16string PathFromHost(std::string_view host_path) { return GetFullPathName(Utf8ToUtf16(host_path)); }

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) {
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
  }
  for (int i = 1; i < count; ++i) args.push_back(Utf16ToUtf8(FromWide(wide[i], std::wcslen(wide[i]))));
  ::LocalFree(wide);
  return args;
}

// ---- Temporary files ---------------------------------------------------------------------

std::u16string GetTempPath() {
  return win32::GrowingCall([](wchar_t* buffer, DWORD capacity) { return ::GetTempPathW(capacity, buffer); });
}

std::u16string GetTempFileName(std::u16string_view folder, std::u16string_view prefix, uint32_t unique) {
  if (unique == 0) win32::LookupsChanged();  // the name is made by creating the file
  const std::wstring path = Wide(folder);
  const std::wstring start = Wide(prefix);
  wchar_t buffer[MAX_PATH + 1] = {};
  // A free number makes the file, which the posix stand-in does through OpenFile.
  if (unique == 0 && fault::Fail(testing::FileOp::kCreate)) return {};
  if (::GetTempFileNameW(path.c_str(), start.c_str(), unique, buffer) == 0) return {};
  return FromWide(buffer, ::wcsnlen(buffer, MAX_PATH));
}

// ---- Known folders -----------------------------------------------------------------------

namespace {

// Written out here so the layer needs neither the Vista-only declarations nor the
// import library that defines them; the lookup below also runs on systems without it.
constexpr GUID kFolderIdProgramData = {0x62AB5D82, 0xFDC1, 0x4DC3, {0xA9, 0xDD, 0x07, 0x0D, 0x1D, 0x49, 0x5D, 0x97}};
constexpr GUID kFolderIdRoamingAppData = {0x3EB685DB, 0x65F9, 0x4CF6, {0xA0, 0x3A, 0xE3, 0xEF, 0x65, 0x72, 0x9F, 0x3D}};

using GetKnownFolderPathFunction = HRESULT(WINAPI*)(const GUID* folder, DWORD flags, HANDLE token, PWSTR* path);

std::u16string WithoutTrailingBackslash(std::u16string path) {
  // "X:\" keeps its backslash: without it the name means the drive's current folder.
  while (!path.empty() && (path.back() == u'\\' || path.back() == u'/') && !(path.size() == 3 && path[1] == u':')) {
    path.pop_back();
  }
  return path;
}

std::optional<std::u16string> FromKnownFolderPath(const GUID& folder) {
  HMODULE shell = ::LoadLibraryW(L"shell32.dll");
  if (shell == nullptr) return std::nullopt;
  std::optional<std::u16string> result;
  FARPROC entry = ::GetProcAddress(shell, "SHGetKnownFolderPath");
  if (entry != nullptr) {
    // Through the generic function type, which the compiler accepts as a cast target.
    auto get_path = reinterpret_cast<GetKnownFolderPathFunction>(reinterpret_cast<void (*)()>(entry));
    PWSTR path = nullptr;
    const HRESULT status = get_path(&folder, 0, nullptr, &path);
    if (SUCCEEDED(status) && path != nullptr && path[0] != L'\0') {
      result = FromWide(path, ::wcslen(path));
    }
    // Owed to the allocator even when the call failed.
    if (path != nullptr) ::CoTaskMemFree(path);
  }
  ::FreeLibrary(shell);
  return result;
}

std::optional<std::u16string> FromFolderPath(int csidl) {
  wchar_t buffer[MAX_PATH + 1] = {};
  const HRESULT status = ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
  // S_FALSE means the folder is known but does not exist: nothing to report then.
  if (status != S_OK || buffer[0] == L'\0') {
    ::SetLastError(HRESULT_FACILITY(status) == FACILITY_WIN32 ? HRESULT_CODE(status) : ERROR_NOT_FOUND);
    return std::nullopt;
  }
  return FromWide(buffer, ::wcsnlen(buffer, MAX_PATH));
}

}  // namespace

std::optional<std::u16string> GetKnownFolder(KnownFolder folder) {
  const bool common = folder == KnownFolder::kCommonAppData;
  std::optional<std::u16string> path = FromKnownFolderPath(common ? kFolderIdProgramData : kFolderIdRoamingAppData);
  if (!path) path = FromFolderPath(common ? CSIDL_COMMON_APPDATA : CSIDL_APPDATA);
  if (!path) return std::nullopt;
  return WithoutTrailingBackslash(std::move(*path));
}

}  // namespace plat
