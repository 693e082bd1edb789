// Shared by the Win32 platform sources only: pulls in the system headers with the
// settings the layer relies on, and the small conversions between the interface's
// char16_t strings and the W API's wchar_t strings.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif

// windows.h first: the other system headers build on its types.
#include <windows.h>

#include <bcrypt.h>
#include <shlobj.h>

// With UNICODE the headers turn these names into macros for their W forms, which would
// silently rename our own plat:: functions in the definitions below and break the link
// with code that never saw <windows.h>. The W functions are called by their full names.
#undef CopyFile
#undef CreateDirectory
#undef DeleteFile
#undef FindFirstFile
#undef FindNextFile
#undef FormatMessage
#undef GetCurrentDirectory
#undef GetFileAttributes
#undef GetFullPathName
#undef GetModuleFileName
#undef GetPrivateProfileInt
#undef GetPrivateProfileString
#undef GetTempFileName
#undef GetTempPath
#undef MoveFile
#undef RemoveDirectory
#undef SearchPath
#undef SetCurrentDirectory
#undef SetFileAttributes

#include <cstddef>
#include <string>
#include <string_view>

namespace plat::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the W API takes UTF-16 units");

// A terminated copy: the interface's views are not terminated and may be slices.
inline std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

inline std::u16string FromWide(const wchar_t* text, size_t length) { return std::u16string(text, text + length); }

inline std::u16string FromWide(const std::wstring& text) { return FromWide(text.data(), text.size()); }

// For the calls that answer like GetCurrentDirectoryW: the length on success, the size
// needed (terminator included) when the buffer is short, 0 on failure. The needed size
// can change between two calls (another thread moves the current folder), so it loops.
template <typename Fill>
std::u16string GrowingCall(Fill fill) {
  std::wstring buffer(MAX_PATH + 1, L'\0');
  for (;;) {
    const DWORD capacity = static_cast<DWORD>(buffer.size());
    const DWORD result = fill(buffer.data(), capacity);
    if (result == 0) return {};
    if (result < capacity) return FromWide(buffer.data(), result);
    buffer.assign(result, L'\0');
  }
}

}  // namespace plat::win32
