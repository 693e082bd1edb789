// The remaining Windows services: last error, the registry read, system messages, the
// ANSI code page and case rules, the search path, time, the MD5 digest and the keyboard
// layout's characters.

#include "platform/win32/win32_common.h"

#include <io.h>

#include <cwchar>

#include <algorithm>
#include <climits>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/lookup_cache.h"

namespace plat {

// The interface's error numbers are the system's; callers compare them with values that
// came straight from the API.
static_assert(err::kSuccess == ERROR_SUCCESS && err::kInvalidFunction == ERROR_INVALID_FUNCTION &&
              err::kFileNotFound == ERROR_FILE_NOT_FOUND && err::kPathNotFound == ERROR_PATH_NOT_FOUND &&
              err::kTooManyOpenFiles == ERROR_TOO_MANY_OPEN_FILES && err::kAccessDenied == ERROR_ACCESS_DENIED &&
              err::kInvalidHandle == ERROR_INVALID_HANDLE && err::kNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY &&
              err::kInvalidDrive == ERROR_INVALID_DRIVE && err::kNotSameDevice == ERROR_NOT_SAME_DEVICE &&
              err::kNoMoreFiles == ERROR_NO_MORE_FILES && err::kWriteProtect == ERROR_WRITE_PROTECT &&
              err::kSharingViolation == ERROR_SHARING_VIOLATION && err::kHandleEof == ERROR_HANDLE_EOF &&
              err::kNotSupported == ERROR_NOT_SUPPORTED && err::kFileExists == ERROR_FILE_EXISTS &&
              err::kInvalidParameter == ERROR_INVALID_PARAMETER && err::kDiskFull == ERROR_DISK_FULL &&
              err::kInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER && err::kInvalidName == ERROR_INVALID_NAME &&
              err::kNegativeSeek == ERROR_NEGATIVE_SEEK && err::kDirNotEmpty == ERROR_DIR_NOT_EMPTY &&
              err::kBadPathName == ERROR_BAD_PATHNAME && err::kAlreadyExists == ERROR_ALREADY_EXISTS &&
              err::kFilenameTooLong == ERROR_FILENAME_EXCED_RANGE && err::kMoreData == ERROR_MORE_DATA &&
              err::kNoMoreItems == ERROR_NO_MORE_ITEMS && err::kDirectory == ERROR_DIRECTORY &&
              err::kMessageNotFound == ERROR_MR_MID_NOT_FOUND && err::kNotFound == ERROR_NOT_FOUND);

using win32::FromWide;
using win32::Wide;

uint32_t GetLastError() { return ::GetLastError(); }

void SetLastError(uint32_t code) { ::SetLastError(code); }

// ---- Registry ----------------------------------------------------------------------------

uint32_t RegOpenLocalMachineKey(std::u16string_view subkey, RegistryHandle* key) {
  HKEY opened = nullptr;
  const LONG status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(subkey).c_str(), 0, KEY_READ, &opened);
  if (key != nullptr) {
    *key = status == ERROR_SUCCESS ? reinterpret_cast<RegistryHandle>(opened) : nullptr;
  } else if (status == ERROR_SUCCESS) {
    ::RegCloseKey(opened);  // nowhere to hand it
  }
  return static_cast<uint32_t>(status);
}

uint32_t RegQueryDword(RegistryHandle key, std::u16string_view value, uint32_t* data, bool* type_ok) {
  if (type_ok != nullptr) *type_ok = false;
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  DWORD type = REG_NONE;
  DWORD number = 0;
  DWORD size = sizeof number;
  // Exactly the system's answer: a value of another type that does not fit in four bytes
  // gives ERROR_MORE_DATA, one that fits gives success with the type telling it apart.
  const LONG status = ::RegQueryValueExW(reinterpret_cast<HKEY>(key), Wide(value).c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE*>(&number), &size);
  const bool is_dword = status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof number;
  if (type_ok != nullptr) *type_ok = is_dword;
  if (is_dword && data != nullptr) *data = number;
  return static_cast<uint32_t>(status);
}

void RegCloseKey(RegistryHandle key) {
  if (key != nullptr) ::RegCloseKey(reinterpret_cast<HKEY>(key));
}

// ---- Messages ----------------------------------------------------------------------------

namespace {

std::optional<std::u16string> SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) return std::nullopt;
  std::u16string message = FromWide(text, length);
  ::LocalFree(text);
  return message;
}

}  // namespace

std::optional<std::u16string> FormatSystemMessage(uint32_t code) {
  std::optional<std::u16string> message = SystemMessage(code);
  // Not every system's message table carries the HRESULT forms of the Win32 numbers
  // (some compatibility layers only know the plain numbers); the text is the same.
  if (!message && HRESULT_FACILITY(code) == FACILITY_WIN32 && (code & 0x80000000u) != 0) {
    message = SystemMessage(HRESULT_CODE(code));
  }
  return message;
}

// ---- ANSI code page ------------------------------------------------------------------------

uint32_t GetAnsiCodePage() { return ::GetACP(); }

std::u16string AnsiToWide(std::string_view text) {
  if (text.empty()) return {};
  if (text.size() > static_cast<size_t>(INT_MAX)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return {};
  }
  const int length = static_cast<int>(text.size());
  const int needed = ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  const int written = ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), needed);
  if (written <= 0) return {};
  return FromWide(wide.data(), static_cast<size_t>(written));
}

std::string WideToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  if (text.size() > static_cast<size_t>(INT_MAX)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return {};
  }
  const std::wstring wide = Wide(text);
  const int length = static_cast<int>(wide.size());
  // A system running UTF-8 as its ANSI code page refuses any default character; its own
  // replacement is used there.
  static const char kDefaultChar[] = "?";
  const char* default_char = ::GetACP() == CP_UTF8 ? nullptr : kDefaultChar;
  const int needed = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, default_char, nullptr);
  if (needed <= 0) return {};
  std::string ansi(static_cast<size_t>(needed), '\0');
  const int written = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), length, ansi.data(), needed, default_char, nullptr);
  if (written <= 0) return {};
  ansi.resize(static_cast<size_t>(written));
  return ansi;
}

std::u16string GetIconTitleFontFace() {
  LOGFONTW font{};
  if (!::SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof font, &font, 0)) return {};
  return FromWide(font.lfFaceName, std::wcslen(font.lfFaceName));
}

bool IsTextUnicode(const void* data, size_t size) {
  if (size < 2 || size > 0x7FFFFFFF) return false;
  return ::IsTextUnicode(data, static_cast<int>(size), nullptr) != FALSE;
}

std::u16string ToLower(std::u16string_view text) {
  std::wstring wide = Wide(text);
  // Done in slices so a length beyond a DWORD cannot wrap; the mapping is per unit.
  for (size_t start = 0; start < wide.size();) {
    const DWORD count = static_cast<DWORD>(std::min<size_t>(wide.size() - start, 0x40000000u));
    ::CharLowerBuffW(wide.data() + start, count);
    start += count;
  }
  return FromWide(wide);
}

std::u16string ToUpper(std::u16string_view text) {
  std::wstring wide = Wide(text);
  for (size_t start = 0; start < wide.size();) {
    const DWORD count = static_cast<DWORD>(std::min<size_t>(wide.size() - start, 0x40000000u));
    ::CharUpperBuffW(wide.data() + start, count);
    start += count;
  }
  return FromWide(wide);
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  if (a == b) return true;
  if (a.size() > static_cast<size_t>(INT_MAX) || b.size() > static_cast<size_t>(INT_MAX)) {
    return false;
  }
  // What lstrcmpiW does, with explicit lengths so a view is compared as the whole slice
  // it is rather than up to an embedded terminator. The texts are compared where they
  // are: list searches compare thousands of paths.
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  // An empty view may have no data at all, which the call refuses.
  const auto text = [](std::u16string_view view) {
    return view.empty() ? L"" : reinterpret_cast<const wchar_t*>(view.data());
  };
  return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, text(a), static_cast<int>(a.size()), text(b),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

// ---- Search path, time ---------------------------------------------------------------------

std::u16string SearchPath(std::u16string_view name) {
  if (win32::SurelyNotOnSearchPath(name)) return {};
  const std::wstring file = Wide(name);
  return win32::GrowingCall([&file](wchar_t* buffer, DWORD capacity) {
    return ::SearchPathW(nullptr, file.c_str(), nullptr, capacity, buffer, nullptr);
  });
}

uint32_t GetTickCount() { return ::GetTickCount(); }

void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

// ---- MD5 -----------------------------------------------------------------------------------

namespace {

// Opening a provider is slow and the handle may serve any number of hashes from any
// thread, so it is opened once and kept for the life of the process.
BCRYPT_ALG_HANDLE Md5Provider() {
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&opened, BCRYPT_MD5_ALGORITHM, nullptr, 0))) {
      return BCRYPT_ALG_HANDLE{nullptr};
    }
    return opened;
  }();
  return provider;
}

bool HashInto(BCRYPT_ALG_HANDLE provider, const uint8_t* bytes, size_t size, Md5Digest* digest) {
  DWORD object_size = 0;
  ULONG got = 0;
  if (!BCRYPT_SUCCESS(::BCryptGetProperty(provider, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&object_size),
                                          sizeof object_size, &got, 0))) {
    return false;
  }
  // The caller owns the hash object's memory; letting the system allocate it is only
  // possible on newer systems.
  std::vector<UCHAR> object(object_size);
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!BCRYPT_SUCCESS(::BCryptCreateHash(provider, &hash, object.data(), object_size, nullptr, 0, 0))) {
    return false;
  }
  bool ok = true;
  // The API counts in ULONGs; anything longer goes in pieces.
  while (ok && size > 0) {
    const ULONG piece = static_cast<ULONG>(std::min<size_t>(size, 0x40000000u));
    ok = BCRYPT_SUCCESS(::BCryptHashData(hash, const_cast<PUCHAR>(bytes), piece, 0));
    bytes += piece;
    size -= piece;
  }
  if (ok) {
    ok = BCRYPT_SUCCESS(::BCryptFinishHash(hash, digest->data(), static_cast<ULONG>(digest->size()), 0));
  }
  ::BCryptDestroyHash(hash);
  return ok;
}

}  // namespace

Md5Digest Md5(const void* data, size_t size) {
  Md5Digest digest{};
  // The interface has no failure path: a digest of zeros matches nothing real.
  if (data == nullptr && size != 0) return digest;
  BCRYPT_ALG_HANDLE provider = Md5Provider();
  if (provider == nullptr || !HashInto(provider, static_cast<const uint8_t*>(data), size, &digest)) {
    digest.fill(0);
  }
  return digest;
}

// ---- Keyboard ------------------------------------------------------------------------------

char16_t VirtualKeyToChar(uint32_t virtual_key) {
  if (virtual_key == 0 || virtual_key > 0xFE) return 0;
  HKL layout = ::GetKeyboardLayout(0);
  const UINT scan_code = ::MapVirtualKeyExW(virtual_key, MAPVK_VK_TO_VSC, layout);
  const BYTE no_keys_down[256] = {};
  WORD typed[2] = {0, 0};
  int count = ::ToAsciiEx(virtual_key, scan_code, no_keys_down, typed, 0, layout);
  if (count < 0) {
    // A dead key only arms the layout. Pressing it again yields its own character and
    // also disarms it, so the next real key the user types is not composed with it.
    typed[0] = typed[1] = 0;
    count = ::ToAsciiEx(virtual_key, scan_code, no_keys_down, typed, 0, layout);
  }
  if (count <= 0) return 0;
  // The character comes back in the ANSI code page.
  const char byte = static_cast<char>(typed[0] & 0xFF);
  if (static_cast<unsigned char>(byte) < 0x80) return static_cast<char16_t>(byte);
  wchar_t wide = 0;
  if (::MultiByteToWideChar(CP_ACP, 0, &byte, 1, &wide, 1) != 1) return 0;
  return static_cast<char16_t>(wide);
}

bool IsTerminal(std::FILE* stream) { return stream != nullptr && _isatty(_fileno(stream)) != 0; }

}  // namespace plat
